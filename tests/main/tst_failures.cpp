// A file another program holds locked: each window's search, read and save
// fails, and says so once, and the screen stays honest.

#include "mainwindowapp.h"

#include "grid/datacontrol.h"
#include "grid/gridwindow.h"
#include "main/mainwindow.h"
#include "records/commandwindow.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "records/recordwindow.h"
#include "shell/recordsetmodel.h"
#include "shell/statuspanels.h"
#include "store/database.h"
#include "tree/categorytree.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>
#include <sqlite3.h>

using namespace zumilo;

namespace {

// Another program's exclusive lock on the file, for as long as it lives.
class Locker {
public:
    explicit Locker(const QString& path) : db_(store::Database::open(path))
    {
        QCOMPARE(sqlite3_exec(db_->handle(), "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ~Locker() { sqlite3_exec(db_->handle(), "ROLLBACK", nullptr, nullptr, nullptr); }

private:
    std::shared_ptr<store::Database> db_;
};

struct Env : test::MainWindowApp {
    Env()
    {
        category(1, QStringLiteral("A"), 0);
        category(2, QStringLiteral("B"), 0);
        note(1, QStringLiteral("一"), 1);
        note(2, QStringLiteral("二"), 1);
        note(3, QStringLiteral("三"), 2);
        load();
        window->currentDatabase()->setBusyTimeout(1);
    }
    ~Env()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<records::RecordWindow*>(w))
                w->close();
        }
    }

    grid::GridWindow& showGrid()
    {
        test::clickTab(*window, u"FindTab");
        grid::GridWindow* grid = window->gridWindow();
        grid->data()->database()->setBusyTimeout(1);
        grid->database()->setBusyTimeout(1);
        return *grid;
    }
    records::RecordWindow& openNote()
    {
        choose(QStringLiteral("1_id"));
        QTest::keyClick(window->recordList(), Qt::Key_Return);
        records::RecordWindow* single = recordWindows().value(0);
        single->windowDatabase()->setBusyTimeout(1);
        return *single;
    }
    static void search(QMainWindow& w)
    {
        records::commandWindow(w)->searchBox()->setEditText(QStringLiteral("一"));
        test::trigger(w, u"mnuFindtitle");
    }
    static void typeAndSave(QMainWindow& w, records::RecordEditor& editor)
    {
        QTest::keyClicks(editor.titleBox(), QStringLiteral("x"));
        test::trigger(w, u"mnuUpdate");
    }
};

} // namespace

class TestFailures : public QObject {
    Q_OBJECT

private slots:
    void eachFailureIsToldOnce_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("gesture");
        // A single-record window searches only inside its note.
        for (const char* window : {"main", "grid", "single"}) {
            for (const char* gesture : {"search", "read", "save"}) {
                if (qstrcmp(window, "single") != 0 || qstrcmp(gesture, "search") != 0)
                    QTest::addRow("%s %s", window, gesture)
                        << QString::fromLatin1(window) << QString::fromLatin1(gesture);
            }
        }
    }
    void eachFailureIsToldOnce()
    {
        QFETCH(QString, window);
        QFETCH(QString, gesture);
        Env env;
        QMainWindow* w = env.window.get();
        records::RecordEditor* editor = &env.editor();
        grid::GridWindow* grid = nullptr;
        records::RecordWindow* single = nullptr;
        if (window == QLatin1String("grid")) {
            grid = &env.showGrid();
            w = grid;
            editor = grid->editor();
        } else if (window == QLatin1String("single")) {
            single = &env.openNote();
            w = single;
            editor = single->editor();
        } else {
            env.choose(QStringLiteral("1_id"));
        }
        const QString before = editor->text(0);
        QVERIFY(!before.isEmpty());

        // Exactly one box; the scripted prompts fail the test on a second.
        if (grid && gesture == QLatin1String("save"))
            env.prompts.expectMessage(QStringLiteral("内容が変更されました。更新しますか？"), shell::Msg::Ok);
        env.prompts.expectMessage({}, shell::Msg::Ok, shell::Msg::Exclamation);
        {
            Locker locker(env.dbPath);
            if (gesture == QLatin1String("search"))
                Env::search(*w);
            else if (gesture == QLatin1String("save"))
                Env::typeAndSave(*w, *editor);
            else if (grid)
                test::clickTab(*grid, u"JyuyoTab");
            else if (single)
                test::trigger(*single, u"mnuMoveNext");
            else
                env.choose(QStringLiteral("2_id"));
            ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        }
        QCoreApplication::processEvents();
        const QString told = env.prompts.messages().constLast();
        QVERIFY2(told.contains(store::japaneseMessage(store::ErrorKind::Busy)), qPrintable(told));

        if (gesture == QLatin1String("save")) {
            // Nothing typed is lost, and it is still to be saved.
            QVERIFY2(told.startsWith(QStringLiteral("このデータを保存できませんでした。")), qPrintable(told));
            QCOMPARE(editor->text(0), QStringLiteral("x") + before);
            QVERIFY(editor->RecordChanged());
            QCOMPARE(env.scalar(QStringLiteral("select title from T_idea where id=1")).toString(), before);
            editor->setRecordChanged(false); // closing would ask about it
        } else if (gesture == QLatin1String("search") && (grid || window == QLatin1String("main"))) {
            // No rows of before are shown as the search's answer.
            grid::GridWindow* shown = env.window->gridWindow();
            QVERIFY(shown && shown->isVisible());
            QCOMPARE(shown->data()->model()->rowCount(), 0);
        } else if (gesture == QLatin1String("read")) {
            QVERIFY(editor->text(0) != before); // no note of before as the one read
            if (!grid && !single) {
                QCOMPARE(told,
                         QStringLiteral("一覧を読み込めませんでした。\n\nファイル「%1」: %2")
                             .arg(QFileInfo(env.dbPath).fileName(), store::japaneseMessage(store::ErrorKind::Busy)));
                QCOMPARE(env.list().count(), 0);
                QCOMPARE(env.window->statusPanels().text(1), QStringLiteral("一覧を読み込めませんでした。"));
            }
            if (grid)
                QCOMPARE(grid->data()->model()->rowCount(), 0);
        }
    }
};

QTEST_MAIN(TestFailures)
#include "tst_failures.moc"
