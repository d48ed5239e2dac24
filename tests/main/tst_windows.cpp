// The main window with the windows it opens: single-record windows, the
// category search and the category picker.

#include "mainwindowapp.h"

#include "grid/datacontrol.h"
#include "grid/gridview.h"
#include "grid/gridwindow.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "records/recordwindow.h"
#include "main/mainwindow.h"
#include "main/startup.h"
#include "shell/tabstrip.h"
#include "shell/statuspanels.h"
#include "store/database.h"
#include "store/recordset.h"
#include "tree/categorypicker.h"
#include "tree/categorysearch.h"
#include "tree/categorytree.h"
#include "shell/recordsetmodel.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QScreen>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

using namespace zumilo;
using namespace Qt::StringLiterals;

namespace {

struct Env : test::MainWindowApp {
    Env()
    {
        category(1, QStringLiteral("仕事"), 0);
        category(2, QStringLiteral("会議"), 1);
        category(3, QStringLiteral("趣味"), 0);
        note(10, QStringLiteral("議事録"), 2, {{QStringLiteral("bunrui"), QStringLiteral("会議")}});
        note(11, QStringLiteral("準備"), 2, {{QStringLiteral("bunrui"), QStringLiteral("会議")}});
        load();
    }
    ~Env()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<records::RecordWindow*>(w))
                w->close();
        }
    }
};

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

private slots:
    void openingNotesInTheirOwnWindows()
    {
        Env env;
        auto& w = env.window;
        env.choose(QStringLiteral("2_id"));
        env.window->recordList()->selectPosition(2); // 議事録 after 準備? order by folded title
        const QString key = env.window->recordList()->selectedKey();
        QTest::keyClick(env.window->recordList(), Qt::Key_Return);
        QCOMPARE(env.recordWindows().size(), 1);
        QCOMPARE(env.window->currentIdeaId() + QStringLiteral("_id"), key);
        QCOMPARE(env.state->SingleWindowCount, 1);
        QCOMPARE(env.recordWindows().first()->editor()->text(0), env.window->recordList()->listModel()->textAt(1, 0));

        // A new note in the current category, saved, then the window closes.
        test::trigger(*w, u"mnuDataAdd");
        QCOMPARE(env.recordWindows().size(), 2);
        QCOMPARE(env.state->SingleWindowCount, 2);
        records::RecordWindow* fresh = nullptr;
        for (auto* r : env.recordWindows())
            if (r->newRecordMode())
                fresh = r;
        QVERIFY(fresh);
        QCOMPARE(fresh->editor()->text(7), QStringLiteral("2"));
        fresh->editor()->setText(0, QStringLiteral("新しいメモ"));
        test::trigger(*fresh, u"mnuUpdate");
        const QString id = fresh->statusPanels().text(2);
        QCOMPARE(id, QStringLiteral("12"));
        // The main window's own edit is offered for saving before it rebuilds.
        const QString edited = env.window->statusPanels().text(2);
        env.window->editor()->setText(0, QStringLiteral("途中"));
        env.prompts.expectMessage(QStringLiteral("このデータは変更されています。保存しますか？"), shell::Msg::Yes);
        fresh->close();

        // Back in the main window, the new note is listed and selected,
        // whether or not the window system says the main window is active.
        QTRY_COMPARE(env.window->recordList()->selectedKey(), QStringLiteral("12_id"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.db->scalar(QStringLiteral("select title from T_idea where id=") + edited).toString(),
                 QStringLiteral("途中"));
        QCOMPARE(env.window->recordList()->count(), 3);
        QCOMPARE(env.window->recordList()->selectedKey(), QStringLiteral("12_id"));
        QCOMPARE(env.window->editor()->text(0), QStringLiteral("新しいメモ"));
        QCOMPARE(env.window->statusPanels().text(1), QStringLiteral("ｱｲﾃﾞｱ数:  1 / 3")); // 新 before 議 and 途
    }

    // What the user types first, with the keyboard only, goes into the
    // note's title and, after Tab, its body; the search box stays empty.
    void aNoteWindowTakesTheTypingInItsTitle_data()
    {
        QTest::addColumn<bool>("newNote");
        QTest::newRow("new note (Ctrl+N)") << true;
        QTest::newRow("listed note (Return)") << false;
    }
    void aNoteWindowTakesTheTypingInItsTitle()
    {
        QFETCH(bool, newNote);
        Env env;
        env.choose(QStringLiteral("2_id"));
        env.window->activateWindow();
        QTRY_VERIFY(env.window->isActiveWindow());
        QWidget* const focused = nullptr; // keys go where the window system sends them
        if (newNote)
            QTest::keyClick(focused, Qt::Key_N, Qt::ControlModifier);
        else
            QTest::keyClick(env.window->recordList(), Qt::Key_Return);
        QCOMPARE(env.recordWindows().size(), 1);
        records::RecordWindow* w = env.recordWindows().first();
        QTRY_VERIFY(w->isActiveWindow());
        QTest::keyClicks(focused, QStringLiteral("Plan"));
        QTest::keyClick(focused, Qt::Key_Tab);
        QTest::keyClicks(focused, QStringLiteral("Body"));
        QTest::keyClick(focused, Qt::Key_S, Qt::ControlModifier);

        QCOMPARE(w->searchBox()->currentText(), QString());
        const QString id = w->statusPanels().text(2);
        QVERIFY(env.scalar(QStringLiteral("select title from T_idea where id=") + id).toString().startsWith(u"Plan"));
        QVERIFY(env.scalar(QStringLiteral("select naiyo from T_idea where id=") + id).toString().contains(u"Body"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    // An edit saved in a single-record window is what the main window
    // shows and saves afterwards.
    void anEditSavedElsewhereIsNotWrittenOver()
    {
        Env env;
        env.choose(QStringLiteral("2_id"));
        env.window->recordList()->selectKey(QStringLiteral("10_id"));
        QTest::keyClick(env.window->recordList(), Qt::Key_Return);
        records::RecordWindow* other = env.recordWindows().value(0);
        QVERIFY(other);
        other->editor()->setText(0, QStringLiteral("議事録（改）"));
        test::trigger(*other, u"mnuUpdate");
        test::trigger(*other, u"mnuEnd");
        QTRY_COMPARE(env.window->editor()->text(0), QStringLiteral("議事録（改）"));
        QCOMPARE(env.window->recordList()->selectedKey(), QStringLiteral("10_id"));

        env.window->editor()->setText(1, QStringLiteral("本文だけ直す"));
        test::trigger(*env.window, u"mnuUpdate");
        QCOMPARE(env.scalar(QStringLiteral("select title from T_idea where id=10")).toString(),
                 QStringLiteral("議事録（改）"));
        QCOMPARE(env.scalar(QStringLiteral("select naiyo from T_idea where id=10")).toString(),
                 QStringLiteral("本文だけ直す"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    // Titles and names come in one order everywhere: the list, the walk of
    // a single-record window, the grid's title sort and the category search.
    void oneOrderForTitlesAndNames()
    {
        Env env;
        const QStringList titles = {QStringLiteral("ﾃｽﾄ"),  QStringLiteral("漢字"),    QStringLiteral("あさ"),
                                    QStringLiteral("Ｂ案"), QStringLiteral("テスト2"), QStringLiteral("a案")};
        for (int i = 0; i < titles.size(); ++i)
            env.note(30 + i, titles[i], 3);
        for (int i = 0; i < titles.size(); ++i)
            env.category(40 + i, titles[i], 3);
        env.window->LoadCategoryTree();
        env.choose(QStringLiteral("3_id"));
        QStringList listed;
        for (int i = 0; i < env.window->recordList()->count(); ++i)
            listed << env.window->recordList()->listModel()->textAt(i, 0);
        QCOMPARE(listed, (QStringList{u"a案"_s, u"Ｂ案"_s, u"あさ"_s, u"ﾃｽﾄ"_s, u"テスト2"_s, u"漢字"_s}));

        env.window->recordList()->selectPosition(1);
        QTest::keyClick(env.window->recordList(), Qt::Key_Return);
        records::RecordWindow* walk = env.recordWindows().value(0);
        QStringList walked{walk->editor()->text(0)};
        for (int i = 1; i < titles.size(); ++i) {
            test::trigger(*walk, u"mnuMoveNext");
            walked << walk->editor()->text(0);
        }
        QCOMPARE(walked, listed);

        QTreeWidgetItem* parent = env.window->categoryTree()->node(QStringLiteral("3_id"));
        QStringList branches;
        for (int i = 0; i < parent->childCount(); ++i)
            branches << parent->child(i)->text(0);
        QCOMPARE(branches, listed);
        env.window->OpenCategorySearch(QString());
        QStringList found;
        for (int row = 0; row < env.window->categorySearch()->model()->rowCount(); ++row) {
            const QString name = env.window->categorySearch()->model()->index(row, 0).data().toString();
            if (titles.contains(name))
                found << name;
        }
        QCOMPARE(found, listed);

        test::clickTab(*env.window, u"FindTab");
        grid::GridWindow* grid = env.window->gridWindow();
        const int titleColumn = grid->data()->model()->columnOf(QStringLiteral("title"));
        QHeaderView* head = grid->grid()->horizontalHeader();
        const QPoint at(head->sectionViewportPosition(titleColumn) + 5, head->height() / 2);
        QTest::mouseClick(head->viewport(), Qt::LeftButton, {}, at); // descending first
        QTest::mouseClick(head->viewport(), Qt::LeftButton, {}, at);
        QStringList sorted;
        for (int row = 0; row < grid->data()->recordCount(); ++row) {
            const QString t = grid->data()->model()->text(row, titleColumn);
            if (titles.contains(t))
                sorted << t;
        }
        QCOMPARE(sorted, listed);
    }

    void returningFromAnotherWindowRebuildsTheList()
    {
        Env env;
        env.choose(QStringLiteral("2_id"));
        env.window->activateWindow();
        QTRY_VERIFY(env.window->isActiveWindow());
        // The user is on the list's second note when they leave.
        records::RecordList* list = env.window->recordList();
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->selectedPosition(), 2);
        const QString chosen = list->selectedKey();
        const QString chosenTitle = env.window->editor()->titleBox()->toPlainText();

        records::RecordWindow* other = records::RecordWindow::open(*env.state, {});
        other->activateWindow();
        QTRY_VERIFY(other->isActiveWindow());
        other->editor()->titleBox()->setFocus();
        QTRY_VERIFY(other->editor()->titleBox()->hasFocus());

        env.db->execute(
            QStringLiteral("INSERT INTO T_idea(id,title,bunID,jyuyoCK,kanryoCK) VALUES(20,'別の窓から',2,0,0)"));
        env.window->activateWindow();
        QTRY_VERIFY(env.window->isActiveWindow());
        QTRY_COMPARE(env.window->recordList()->count(), 3);
        // Rebuilt, and still on the note the user left.
        QCOMPARE(list->selectedKey(), chosen);
        QCOMPARE(env.window->editor()->titleBox()->toPlainText(), chosenTitle);

        // Coming back from another program (no window of ours between) does not rebuild.
        env.db->execute(
            QStringLiteral("INSERT INTO T_idea(id,title,bunID,jyuyoCK,kanryoCK) VALUES(21,'外で追加',2,0,0)"));
        QApplication::setActiveWindow(nullptr);
        QApplication::setActiveWindow(env.window.get());
        QTRY_VERIFY(env.window->isActiveWindow());
        QCoreApplication::processEvents();
        QCOMPARE(env.window->recordList()->count(), 3);
    }

    void theGridTakesTheMainWindowsPlace()
    {
        Env env;
        env.window->setGeometry(40, 50, 900, 600);
        env.choose(QStringLiteral("2_id"));
        test::clickTab(*env.window, u"SaikinTab");
        grid::GridWindow* grid = env.window->gridWindow();
        QVERIFY(grid && grid->isVisible());
        QVERIFY(!env.window->isVisible());
        QCOMPARE(env.state->CurrentTab, QStringLiteral("SaikinTab"));
        QCOMPARE(grid->geometry(), QRect(40, 50, 900, 600));
        QCOMPARE(grid->data()->recordCount(), 2);

        // The jump back: the note's category and the note itself.
        grid->data()->moveLast();
        const QString id = grid->data()->recordset()->text(QStringLiteral("id"));
        test::trigger(*grid, u"mnuDouki");
        QVERIFY(env.window->isVisible());
        QVERIFY(!grid->isVisible());
        QCOMPARE(env.state->CurrentBunID, QStringLiteral("2"));
        QCOMPARE(env.window->recordList()->selectedKey(), id + QStringLiteral("_id"));
        QCOMPARE(env.window->editor()->text(0),
                 env.scalar(QStringLiteral("select title from T_idea where id=?"), {id}).toString());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    // Each window saves what was typed from a copy of its note taken before
    // the file is locked: its controls are neither read nor written
    // meanwhile (the check itself is shown to catch a control set then).
    void aSaveLeavesTheControlsAloneWhileTheFileIsLocked_data()
    {
        QTest::addColumn<QString>("window");
        QTest::newRow("main") << QStringLiteral("main");
        QTest::newRow("grid") << QStringLiteral("grid");
        QTest::newRow("single") << QStringLiteral("single");
    }
    void aSaveLeavesTheControlsAloneWhileTheFileIsLocked()
    {
        QFETCH(QString, window);
        Env env;
        env.choose(QStringLiteral("2_id"));
        QWidget* w = env.window.get();
        records::RecordEditor* editor = env.window->editor();
        if (window == QLatin1String("grid")) {
            test::clickTab(*env.window, u"SaikinTab");
            w = env.window->gridWindow();
            editor = env.window->gridWindow()->editor();
            env.prompts.expectMessage(QStringLiteral("内容が変更されました。更新しますか？"), shell::Msg::Ok);
        } else if (window == QLatin1String("single")) {
            QTest::keyClick(env.window->recordList(), Qt::Key_Return);
            w = env.recordWindows().first();
            editor = env.recordWindows().first()->editor();
        }
        w->activateWindow();
        QTRY_VERIFY(w->isActiveWindow());
        const QString id = editor->stamps().id;
        const int touched = records::RecordEditor::controlsTouchedWhileWriting();
        editor->titleBox()->setFocus();
        editor->titleBox()->moveCursor(QTextCursor::End);
        QWidget* const focused = nullptr; // keys go where the window system sends them
        QTest::keyClicks(focused, QStringLiteral(" more"));
        QTest::keyClick(focused, Qt::Key_Tab);
        QTest::keyClicks(focused, QStringLiteral("typed"));
        QTest::keyClick(focused, Qt::Key_S, Qt::ControlModifier);

        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QVERIFY(!editor->RecordChanged());
        QVERIFY(env.scalar(QStringLiteral("select title from T_idea where id=") + id).toString().endsWith(u" more"));
        QVERIFY(env.scalar(QStringLiteral("select naiyo from T_idea where id=") + id).toString().contains(u"typed"));
        QCOMPARE(records::RecordEditor::controlsTouchedWhileWriting(), touched);

        for (int written : {0, 1}) { // the box set, then read back into the note
            Q_UNUSED(written);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("locked for writing")));
        }
        env.db->transaction([&] { editor->setText(0, QStringLiteral("書き込み中")); });
        QVERIFY(records::RecordEditor::controlsTouchedWhileWriting() > touched);
        editor->setRecordChanged(false);
    }

    void theStartViewCanBeAGridView()
    {
        test::MainWindowApp env;
        env.settings->write(shell::Settings::Position, QStringLiteral("OpenTab"), QStringLiteral("SaikinTab"));
        auto main = app::Main(*env.state);
        QVERIFY(!main->isVisible());
        QVERIFY(main->gridWindow() && main->gridWindow()->isVisible());
        QCOMPARE(main->gridWindow()->tabStrip()->selectedKey(), QStringLiteral("SaikinTab"));

        // An unknown start view shows the main window.
        test::MainWindowApp other;
        other.settings->write(shell::Settings::Position, QStringLiteral("OpenTab"), QStringLiteral("NoSuchTab"));
        auto main2 = app::Main(*other.state);
        QVERIFY(main2->isVisible());
        QVERIFY(!main2->gridWindow());
        main->close();
        main2->close();
    }

    void anEmptyListHasNothingToOpen()
    {
        Env env;
        env.choose(QStringLiteral("3_id"));
        env.prompts.expectMessage(QStringLiteral("現在、変更できるデータはありません）"));
        test::trigger(*env.window, u"mnuListEdit");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QVERIFY(env.recordWindows().isEmpty());
    }

    void categorySearchJumpsIntoTheTree()
    {
        Env env;
        env.prompts.expectInput(QStringLiteral("検索する分類名は？"), QStringLiteral("会"));
        test::trigger(*env.window, u"mnuTreeBunFind");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        tree::CategorySearchWindow* search = env.window->categorySearch();
        QVERIFY(search && search->isVisible());
        QCOMPARE(search->model()->rowCount(), 1);
        const QPoint at = search->grid()->visualRect(search->model()->index(0, 0)).center();
        QTest::mouseClick(search->grid()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(search->grid()->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(env.state->CurrentBunID, QStringLiteral("2"));
        QCOMPARE(env.window->categoryTree()->currentItem(), env.window->categoryTree()->node(QStringLiteral("2_id")));
        QCOMPARE(env.window->recordList()->count(), 2);
    }

    // A search of all notes shows the grid and the category search beside
    // it, wherever the window stands: the grid's own buttons and search
    // boxes stay in view.
    void theCategorySearchLeavesTheGridsControlsInView_data()
    {
        QTest::addColumn<double>("left"); // parts of the screen's width
        QTest::addColumn<double>("width");
        QTest::newRow("at the screen's left edge") << 0.0 << 0.5;
        QTest::newRow("in the middle") << 0.4 << 0.5;
        QTest::newRow("as wide as the screen") << 0.0 << 1.0;
    }
    void theCategorySearchLeavesTheGridsControlsInView()
    {
        QFETCH(double, left);
        QFETCH(double, width);
        Env env;
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        env.window->setGeometry(screen.left() + int(screen.width() * left), screen.top() + 30,
                                int(screen.width() * width), screen.height() * 3 / 4);
        env.window->searchBox()->setEditText(QStringLiteral("会"));
        QTest::mouseClick(env.window->findChild<QToolButton*>(QStringLiteral("Findtitle2")), Qt::LeftButton);
        grid::GridWindow* grid = env.window->gridWindow();
        tree::CategorySearchWindow* search = env.window->categorySearch();
        QVERIFY(grid && grid->isVisible() && search && search->isVisible());
        QVERIFY(screen.contains(search->frameGeometry()));
        for (const char* name : {"開く", "同期", "新規作成", "上書き保存", "Text2(0)", "Text2(1)"}) {
            auto* control = grid->findChild<QWidget*>(QString::fromUtf8(name));
            QVERIFY2(control && control->isVisible(), name);
            const QRect onScreen(control->mapToGlobal(QPoint(0, 0)), control->size());
            QVERIFY2(!search->frameGeometry().intersects(onScreen), name);
        }
    }

    void thePickerChoosesTheCategory()
    {
        Env env;
        env.choose(QStringLiteral("2_id"));
        records::RecordEditor& editor = *env.window->editor();
        QTest::mouseClick(editor.categoryButton(), Qt::LeftButton);
        auto* panel = env.window->findChild<QWidget*>(QStringLiteral("Frame92"));
        QVERIFY(panel && panel->isVisible());
        auto* picked = env.window->findChild<tree::CategoryTree*>(QStringLiteral("TreeView2"));
        QVERIFY(picked);
        QTreeWidgetItem* hobby = picked->node(QStringLiteral("3_id"));
        QVERIFY(hobby);
        picked->setCurrentItem(hobby);
        emit picked->nodePressed(hobby);
        QTest::mouseClick(env.window->findChild<QWidget*>(QStringLiteral("cmdBunrui(0)")), Qt::LeftButton);
        QVERIFY(!panel->isVisible());
        QCOMPARE(editor.text(3), QStringLiteral("趣味"));
        QCOMPARE(editor.text(7), QStringLiteral("3"));
        QVERIFY(env.window->recordChanged());

        env.prompts.expectMessage(QStringLiteral("このデータは変更されています。保存しますか？"), shell::Msg::Yes);
        env.choose(QStringLiteral("3_id"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.window->recordList()->count(), 1);
        QCOMPARE(env.db->scalar(QStringLiteral("select count(*) from T_idea where bunID=3 and bunrui='趣味'")).toInt(),
                 1);
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
