// The grid window on real database files: the four views, sorting by
// header, searching, editing the current row through the record pane,
// deleting, adding, the jump to the tree and the hand-over to the main
// window.

#include "mainwindowapp.h"

#include "grid/datacontrol.h"
#include "shell/recordsetmodel.h"
#include "grid/gridview.h"
#include "grid/gridwindow.h"
#include "records/notesave.h"
#include "records/recordeditor.h"
#include "shell/statuspanels.h"
#include "shell/tabstrip.h"
#include "shell/twips.h"
#include "store/database.h"
#include "store/recordset.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

using namespace zumilo;
using namespace Qt::StringLiterals;
using shell::Msg::Cancel;
using shell::Msg::Ok;

namespace {

const QString kChangeQuestion = QStringLiteral("内容が変更されました。更新しますか？");
const QString kDeleteQuestion = QStringLiteral("現在のレコードを削除します。よろしいですか？");
const int kQuestionStyle = shell::Msg::OkCancel + shell::Msg::Exclamation;

using Fields = QList<std::pair<QString, QVariant>>;

struct Env : test::TestApp {
    QString dbPath;
    std::shared_ptr<store::Database> db; // another connection, as another window holds
    std::unique_ptr<grid::GridWindow> window;
    // Fails the test when the grid's model breaks Qt's rules for models.
    std::unique_ptr<QAbstractItemModelTester> modelTester;
    QList<QRect> mainShown;
    QList<shell::JumpRequest> jumps;
    int endCalls = 0;

    Env() : dbPath(makeDatabase(QStringLiteral("data/notes.zmd")))
    {
        db = store::Database::open(dbPath);
        db->execute(QStringLiteral("DELETE FROM T_idea")); // the seed note would only be in the way
        state->DatabasePath = dbPath;
        state->DatabaseFileName = QStringLiteral("notes.zmd");
    }
    static void insert(store::Database& into, qint64 id, const Fields& fields)
    {
        QStringList columns{QStringLiteral("id")};
        QVariantList values{id};
        for (const auto& [column, value] : fields) {
            const qsizetype at = columns.indexOf(column);
            if (at >= 0) {
                values[at] = value; // the later value wins
            } else {
                columns << column;
                values << value;
            }
        }
        into.execute(QStringLiteral("INSERT INTO T_idea(%1) VALUES(%2)")
                         .arg(columns.join(QLatin1Char(',')),
                              QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(','))),
                     values);
    }
    void note(qint64 id, const QString& title, const Fields& more = {})
    {
        Fields fields{{QStringLiteral("title"), title.isNull() ? QVariant() : QVariant(title)},
                      {QStringLiteral("bunID"), 1},
                      {QStringLiteral("jyuyoCK"), 0},
                      {QStringLiteral("kanryoCK"), 0}};
        insert(*db, id, fields + more);
    }
    grid::GridWindow& show(const QString& tab)
    {
        state->CurrentTab = tab;
        if (!window) {
            grid::GridLinks links{[this](const QRect& r) { mainShown << r; },
                                  [this](const shell::JumpRequest& r) { jumps << r; }, [this] { ++endCalls; }};
            window = std::make_unique<grid::GridWindow>(*state, links);
            modelTester = std::make_unique<QAbstractItemModelTester>(window->data()->model());
        }
        window->showInPlaceOf(QRect(80, 80, 1000, 640));
        return *window;
    }
    shell::RecordsetModel& model() const { return *window->data()->model(); }
    records::RecordEditor& editor() const { return *window->editor(); }
    QStringList column(const QString& field) const
    {
        QStringList texts;
        const int c = model().columnOf(field);
        for (int r = 0; r < model().rowCount(); ++r)
            texts << model().text(r, c);
        return texts;
    }
    QList<qint64> ids() const
    {
        QList<qint64> list;
        for (const QString& t : column(QStringLiteral("id")))
            list << t.toLongLong();
        return list;
    }
    QVariant stored(const QString& column, qint64 id) const
    {
        return db->scalar(QStringLiteral("select %1 from T_idea where id=?").arg(column), {id});
    }
    int current() const { return window->data()->currentRow(); }
    void clickHeader(const QString& field)
    {
        grid::GridView* g = window->grid();
        const int c = model().columnOf(field);
        QVERIFY2(c >= 0, qPrintable(field));
        g->scrollTo(model().index(0, c));
        QHeaderView* h = g->horizontalHeader();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(c) + 5, h->height() / 2));
    }
    void clickRow(int row)
    {
        grid::GridView* g = window->grid();
        const QModelIndex at = model().index(row, 0);
        g->scrollTo(at);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(at).center());
    }
    void selectRowBySelector(int row)
    {
        QHeaderView* h = window->grid()->verticalHeader();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->width() / 2, h->sectionViewportPosition(row) + h->sectionSize(row) / 2));
    }
};

QList<qint64> sorted(QList<qint64> list)
{
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

class TestGridWindow : public QObject {
    Q_OBJECT

private slots:
    void viewsShowTheirNotesWithTheStatementsColumns_data()
    {
        QTest::addColumn<QString>("tab");
        QTest::addColumn<QString>("firstField");
        QTest::addColumn<QList<qint64>>("ids");
        QTest::newRow("search") << "FindTab"
                                << "title" << QList<qint64>{1, 2, 3, 4};
        QTest::newRow("important") << "JyuyoTab"
                                   << "jyuyoCK" << QList<qint64>{2};
        QTest::newRow("scheduled") << "KijituTab"
                                   << "kijituDate" << QList<qint64>{3};
        QTest::newRow("recent, newest first") << "SaikinTab"
                                              << "kousinDate" << QList<qint64>{4, 3, 1, 2};
    }
    void viewsShowTheirNotesWithTheStatementsColumns()
    {
        QFETCH(QString, tab);
        QFETCH(QString, firstField);
        QFETCH(QList<qint64>, ids);
        Env env;
        const QString date = QStringLiteral("kousinDate"), time = QStringLiteral("kousinTime");
        env.note(1, QStringLiteral("a"), {{date, QStringLiteral("2026-11-01")}, {time, QStringLiteral("09:00:00")}});
        env.note(2, QStringLiteral("b"), {{QStringLiteral("jyuyoCK"), -1}, {date, QStringLiteral("2026-10-01")}});
        env.note(3, QStringLiteral("c"),
                 {{QStringLiteral("kijituDate"), QStringLiteral("2027-01-05")},
                  {date, QStringLiteral("2026-11-01")},
                  {time, QStringLiteral("10:00:00")}});
        env.note(4, QStringLiteral("d"),
                 {{QStringLiteral("kijituDate"), QStringLiteral("2027-01-06")},
                  {QStringLiteral("kanryoCK"), -1},
                  {date, QStringLiteral("2026-12-01")}});
        auto& w = env.show(tab);

        QCOMPARE(env.state->CurrentTab, tab);
        QCOMPARE(w.tabStrip()->selectedKey(), tab);
        QCOMPARE(env.model().headerData(0, Qt::Horizontal).toString(), firstField);
        QCOMPARE(env.model().columnCount(), 13);
        QCOMPARE(tab == QLatin1String("SaikinTab") ? env.ids() : sorted(env.ids()), ids);
        QCOMPARE(w.searchBox(0)->isVisible(), tab == QLatin1String("FindTab"));
        QCOMPARE(w.findButton(2)->isVisible(), tab == QLatin1String("FindTab"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Zumilo  ") + env.dbPath);
        // The current row is the first, shown in the pane and the data control.
        QCOMPARE(env.current(), 0);
        QCOMPARE(w.data()->caption(), QStringLiteral("1 / %1").arg(ids.size()));
        QCOMPARE(w.statusPanels().text(2), QString::number(env.ids().first()));
        if (tab == QLatin1String("JyuyoTab")) // yes/no as a check mark
            QCOMPARE(env.model().data(env.model().index(0, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void headerClicksSortAndTabsForgetTheSort()
    {
        Env env;
        env.note(1, QStringLiteral("い"), {{QStringLiteral("kijituDate"), QStringLiteral("2027-03-01")}});
        env.note(2, QStringLiteral("あ"), {{QStringLiteral("kijituDate"), QStringLiteral("2027-01-01")}});
        env.note(3, QStringLiteral("う"), {{QStringLiteral("kijituDate"), QStringLiteral("2027-02-01")}});
        auto& w = env.show(QStringLiteral("FindTab"));

        // "title" is the sort field at load: its first click sorts descending.
        env.clickHeader(QStringLiteral("title"));
        QCOMPARE(env.column(QStringLiteral("title")), (QStringList{u"う"_s, u"い"_s, u"あ"_s}));
        QCOMPARE(w.gridSortOrder(), QStringLiteral("desc"));
        env.clickHeader(QStringLiteral("title"));
        QCOMPARE(env.column(QStringLiteral("title")), (QStringList{u"あ"_s, u"い"_s, u"う"_s}));
        QCOMPARE(w.gridSortOrder(), QString());
        // Another field starts ascending.
        env.clickHeader(QStringLiteral("kijitudate"));
        QCOMPARE(env.column(QStringLiteral("title")), (QStringList{u"あ"_s, u"う"_s, u"い"_s}));
        env.clickHeader(QStringLiteral("kijitudate"));
        QCOMPARE(env.column(QStringLiteral("title")), (QStringList{u"い"_s, u"う"_s, u"あ"_s}));

        // Back from another tab, the view has its stored order again.
        test::clickTab(w, u"JyuyoTab");
        test::clickTab(w, u"FindTab");
        QCOMPARE(w.view(), grid::findTabView());
        QCOMPARE(w.gridSortField(), QStringLiteral("kijituDate")); // the field's own name
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    // One click on a column that shows only in part sorts at once.
    void aPartlyHiddenColumnSortsAtTheFirstClick()
    {
        Env env;
        env.note(1, QStringLiteral("い"), {{QStringLiteral("bunrui"), QStringLiteral("b")}});
        env.note(2, QStringLiteral("あ"), {{QStringLiteral("bunrui"), QStringLiteral("a")}});
        auto& w = env.show(QStringLiteral("FindTab"));
        grid::GridView* g = w.grid();
        QHeaderView* h = g->horizontalHeader();
        const int c = env.model().columnOf(QStringLiteral("bunrui"));
        g->setColumnWidth(0, 20);
        g->setColumnWidth(1, 20);
        g->setColumnWidth(c, h->viewport()->width() * 2);
        QVERIFY(h->sectionViewportPosition(c) + h->sectionSize(c) > h->viewport()->width());
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(c) + 5, h->height() / 2));
        QCOMPARE(env.column(QStringLiteral("title")), (QStringList{u"あ"_s, u"い"_s}));
        QCOMPARE(w.gridSortField(), QStringLiteral("bunrui"));
    }

    void theSortKeepsTheLastSearch()
    {
        Env env;
        env.note(1, QStringLiteral("会議 一"));
        env.note(2, QStringLiteral("買い物"));
        env.note(3, QStringLiteral("会議 三"));
        auto& w = env.show(QStringLiteral("FindTab"));
        w.searchBox(0)->setText(QStringLiteral("会議"));
        QTest::mouseClick(w.findButton(0), Qt::LeftButton);
        QCOMPARE(sorted(env.ids()), (QList<qint64>{1, 3}));

        env.clickHeader(QStringLiteral("title"));
        QCOMPARE(env.ids(), (QList<qint64>{3, 1}));
        QCOMPARE(w.searchBox(0)->text(), QStringLiteral("会議"));
    }

    void sortingRefusals_data()
    {
        QTest::addColumn<QString>("tab");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("message");
        QTest::newRow("body") << "FindTab"
                              << "naiyo"
                              << "sorry  この項目は並べ替え対象外です（ソートできません）";
        QTest::newRow("recent tab") << "SaikinTab"
                                    << "title"
                                    << "「最近」タブではソートできません";
    }
    void sortingRefusals()
    {
        QFETCH(QString, tab);
        QFETCH(QString, field);
        QFETCH(QString, message);
        Env env;
        env.note(1, QStringLiteral("c"),
                 {{QStringLiteral("naiyo"), QStringLiteral("x")},
                  {QStringLiteral("kousinDate"), QStringLiteral("2026-12-03")}});
        env.note(2, QStringLiteral("a"),
                 {{QStringLiteral("naiyo"), QStringLiteral("z")},
                  {QStringLiteral("kousinDate"), QStringLiteral("2026-12-05")}});
        env.note(3, QStringLiteral("b"),
                 {{QStringLiteral("naiyo"), QStringLiteral("y")},
                  {QStringLiteral("kousinDate"), QStringLiteral("2026-12-04")}});
        auto& w = env.show(tab);
        const QList<qint64> before = env.ids();
        const store::NoteView view = w.view();

        // Each click is refused again, and the rows keep their order.
        env.prompts.expectMessage(message, Ok, shell::Msg::Information);
        env.prompts.expectMessage(message, Ok, shell::Msg::Information);
        env.clickHeader(field);
        env.clickHeader(field);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.ids(), before);
        QCOMPARE(w.view(), view);
        if (tab == QLatin1String("SaikinTab"))
            QCOMPARE(before, (QList<qint64>{2, 3, 1}));
    }

    void leavingAChangedRowAsks_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("rowAfter");
        for (int answer : {int(Ok), int(Cancel)}) {
            const QString a = answer == Ok ? u"OK"_s : u"Cancel"_s;
            QTest::newRow(qPrintable(QStringLiteral("next command, %1").arg(a))) << "next" << answer << 1;
            QTest::newRow(qPrintable(QStringLiteral("grid click, %1").arg(a))) << "click" << answer << 2;
            QTest::newRow(qPrintable(QStringLiteral("data control, %1").arg(a))) << "last button" << answer << 2;
            QTest::newRow(qPrintable(QStringLiteral("save, %1").arg(a))) << "save" << answer << 0;
            QTest::newRow(qPrintable(QStringLiteral("tab, %1").arg(a))) << "tab" << answer << 0;
        }
    }
    void leavingAChangedRowAsks()
    {
        QFETCH(QString, how);
        QFETCH(int, answer);
        QFETCH(int, rowAfter);
        Env env;
        // Never saved here before: no update date, no category, no oyaID.
        // All important, so that the important view shows them too.
        const Fields common{{QStringLiteral("jyuyoCK"), -1}, {QStringLiteral("bunID"), 4}};
        env.note(1, QStringLiteral("a 元"),
                 common + Fields{{QStringLiteral("sinkiDate"), QStringLiteral("2020-01-01")}});
        env.note(2, QStringLiteral("b"), common);
        env.note(3, QStringLiteral("c"), common);
        auto& w = env.show(QStringLiteral("FindTab"));
        env.editor().setText(0, QStringLiteral("a 新"));
        QVERIFY(w.recordChanged());

        env.prompts.expectMessage(kChangeQuestion, answer, kQuestionStyle);
        if (how == QLatin1String("next"))
            test::trigger(w, u"mnuMoveNext");
        else if (how == QLatin1String("click"))
            env.clickRow(2);
        else if (how == QLatin1String("last button"))
            QTest::mouseClick(w.data()->findChild<QToolButton*>(QStringLiteral("Data1_Last")), Qt::LeftButton);
        else if (how == QLatin1String("save"))
            test::trigger(w, u"mnuUpdate");
        else
            test::clickTab(w, u"JyuyoTab");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);

        QVERIFY(!w.recordChanged());
        QCOMPARE(env.current(), rowAfter);
        QCOMPARE(w.grid()->currentIndex().row(), rowAfter);
        if (answer == Ok) {
            QCOMPARE(env.stored(QStringLiteral("title"), 1).toString(), QStringLiteral("a 新"));
            QCOMPARE(env.stored(QStringLiteral("kousinDate"), 1).toString(), QStringLiteral("2026-12-06"));
            QCOMPARE(env.stored(QStringLiteral("kousinTime"), 1).toString(), QStringLiteral("10:30:15"));
            QCOMPARE(env.stored(QStringLiteral("sinkiDate"), 1).toString(), QStringLiteral("2026-12-06"));
            QCOMPARE(env.stored(QStringLiteral("bunID"), 1).toInt(), 0);
            QCOMPARE(env.stored(QStringLiteral("oyaID"), 1).toInt(), 0);
            QCOMPARE(w.statusPanels().text(1), QStringLiteral("登録完了"));
        } else {
            QCOMPARE(env.stored(QStringLiteral("title"), 1).toString(), QStringLiteral("a 元"));
            QVERIFY(env.stored(QStringLiteral("kousinDate"), 1).isNull());
            QCOMPARE(env.stored(QStringLiteral("bunID"), 1).toInt(), 4);
        }
        if (how == QLatin1String("tab"))
            return;
        // The grid and the pane show the row as stored.
        test::trigger(w, u"mnuMoveFirst");
        QCOMPARE(env.model().text(0, env.model().columnOf(QStringLiteral("title"))),
                 answer == Ok ? QStringLiteral("a 新") : QStringLiteral("a 元"));
        QCOMPARE(env.editor().text(0), answer == Ok ? QStringLiteral("a 新") : QStringLiteral("a 元"));
        if (answer == Ok) {
            QCOMPARE(w.statusPanels().text(4), QStringLiteral("2026/12/06"));
            QCOMPARE(w.statusPanels().text(5), QStringLiteral("10:30:15"));
        }
    }

    void aSaveTheStoreRefusesIsReportedAndTheEditsStay()
    {
        Env env;
        env.note(1, QStringLiteral("a"));
        env.note(2, QStringLiteral("b"));
        auto& w = env.show(QStringLiteral("FindTab"));
        env.editor().setText(0, QStringLiteral("大事な変更"));
        env.db->execute(QStringLiteral("DELETE FROM T_idea WHERE id=1")); // another window deleted it

        env.prompts.expectMessage(kChangeQuestion, Ok);
        env.prompts.expectMessage({});
        test::trigger(w, u"mnuMoveNext");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.prompts.messages().constLast(),
                 records::notSavedMessage(
                     QStringLiteral("ファイル「notes.zmd」: このデータは他の画面で削除されています。")));
        QCOMPARE(env.current(), 0);
        QCOMPARE(w.grid()->currentIndex().row(), 0);
        QVERIFY(w.recordChanged());
        QCOMPARE(env.editor().text(0), QStringLiteral("大事な変更"));
        QVERIFY(w.statusPanels().text(1) != QStringLiteral("登録完了"));

        // Closing asks again, and may stay.
        env.prompts.expectMessage(kChangeQuestion, Ok);
        env.prompts.expectMessage({});
        env.prompts.expectMessage(QStringLiteral("変更した内容を保存できませんでした。保存せずに終了しますか？"),
                                  shell::Msg::No);
        QVERIFY(!w.close());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.endCalls, 0);
        QVERIFY(w.recordChanged());
    }

    void aFileThatCannotBeWrittenIsReported_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("save") << "save";
        QTest::newRow("add") << "add";
        QTest::newRow("delete") << "delete";
    }
    void aFileThatCannotBeWrittenIsReported()
    {
        QFETCH(QString, command);
        Env env;
        env.note(1, QStringLiteral("a"));
        env.note(2, QStringLiteral("b"));
        QFile::setPermissions(env.dbPath, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        auto& w = env.show(QStringLiteral("FindTab"));

        QString report;
        if (command == QLatin1String("delete")) {
            env.prompts.expectMessage(kDeleteQuestion, Ok);
            env.prompts.expectMessage({});
            test::trigger(w, u"mnuDataDel");
            report = QStringLiteral("データを削除できませんでした。");
        } else {
            if (command == QLatin1String("add"))
                test::trigger(w, u"mnuFileDataAdd");
            env.editor().setText(0, QStringLiteral("書けない"));
            env.prompts.expectMessage(kChangeQuestion, Ok);
            env.prompts.expectMessage({});
            test::trigger(w, u"mnuUpdate");
            report = QStringLiteral("このデータを保存できませんでした。");
            QVERIFY(w.recordChanged());
            QCOMPARE(env.editor().text(0), QStringLiteral("書けない"));
            QCOMPARE(w.data()->isAdding(), command == QLatin1String("add"));
        }
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QVERIFY2(env.prompts.messages().constLast().startsWith(report), qPrintable(env.prompts.messages().constLast()));
        QVERIFY(w.statusPanels().text(1) != QStringLiteral("登録完了"));
        QCOMPARE(env.ids(), (QList<qint64>{1, 2}));
        QCOMPARE(env.stored(QStringLiteral("title"), 1).toString(), QStringLiteral("a"));
        QCOMPARE(env.db->scalar(QStringLiteral("select count(*) from T_idea")).toInt(), 2);
    }

    void deletingAsksFirst_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("byKey");
        QTest::addColumn<QList<qint64>>("left");
        QTest::addColumn<int>("currentAfter");
        QTest::newRow("cancel keeps the row") << 1 << int(Cancel) << false << QList<qint64>{1, 2, 3} << 1;
        QTest::newRow("middle row") << 1 << int(Ok) << false << QList<qint64>{1, 3} << 1;
        QTest::newRow("last row: the new last is current") << 2 << int(Ok) << false << QList<qint64>{1, 2} << 1;
        QTest::newRow("Delete key on a selected row") << 0 << int(Ok) << true << QList<qint64>{2, 3} << 0;
        QTest::newRow("Delete key, cancel") << 0 << int(Cancel) << true << QList<qint64>{1, 2, 3} << 0;
    }
    void deletingAsksFirst()
    {
        QFETCH(int, row);
        QFETCH(int, answer);
        QFETCH(bool, byKey);
        QFETCH(QList<qint64>, left);
        QFETCH(int, currentAfter);
        Env env;
        env.note(1, QStringLiteral("a"));
        env.note(2, QStringLiteral("b"));
        env.note(3, QStringLiteral("c"));
        auto& w = env.show(QStringLiteral("FindTab"));
        env.clickRow(row);
        env.editor().setText(0, QStringLiteral("消える編集")); // goes with the row, without a question

        env.prompts.expectMessage(kDeleteQuestion, answer, kQuestionStyle);
        if (byKey) {
            env.selectRowBySelector(row);
            QTest::keyClick(w.grid(), Qt::Key_Delete);
        } else {
            test::trigger(w, u"mnuDataDel");
        }
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.ids(), left);
        QCOMPARE(env.db->scalar(QStringLiteral("select count(*) from T_idea")).toInt(), left.size());
        QCOMPARE(env.current(), currentAfter);
        QCOMPARE(w.data()->caption(), QStringLiteral("%1 / %2").arg(currentAfter + 1).arg(left.size()));
        if (answer == Ok) {
            QVERIFY(!w.recordChanged());
            QCOMPARE(w.statusPanels().text(2), QString::number(left[currentAfter]));
        }
    }

    void addingGivesTheNextNumber_data()
    {
        QTest::addColumn<QList<qint64>>("existing");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("empty table") << QList<qint64>{} << qint64(1);
        QTest::newRow("largest plus one, gaps stay") << QList<qint64>{3, 41} << qint64(42);
        QTest::newRow("beyond 16 bits") << QList<qint64>{5, 40000} << qint64(40001);
        QTest::newRow("at the 16-bit limit") << QList<qint64>{32767} << qint64(32768);
    }
    void addingGivesTheNextNumber()
    {
        QFETCH(QList<qint64>, existing);
        QFETCH(qint64, expected);
        Env env;
        for (qint64 id : existing)
            env.note(id, QStringLiteral("既存%1").arg(id));
        auto& w = env.show(QStringLiteral("FindTab"));

        test::trigger(w, u"mnuFileDataAdd");
        QVERIFY(w.recordChanged());
        QCOMPARE(w.statusPanels().text(2), QString::number(expected));
        QCOMPARE(w.statusPanels().text(4), QStringLiteral("2026/12/06"));
        QCOMPARE(w.statusPanels().text(5), QStringLiteral("10:30:15"));
        QCOMPARE(w.statusPanels().text(6), QStringLiteral("2026/12/06"));
        QCOMPARE(env.editor().text(0), QString());
        QCOMPARE(env.current(), -1);
        QCOMPARE(w.data()->caption(), QStringLiteral("0 / %1").arg(existing.size()));
        env.editor().setText(0, QStringLiteral("新しいメモ"));

        env.prompts.expectMessage(kChangeQuestion, Ok);
        test::trigger(w, u"mnuUpdate");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.stored(QStringLiteral("title"), expected).toString(), QStringLiteral("新しいメモ"));
        QCOMPARE(env.stored(QStringLiteral("sinkiDate"), expected).toString(), QStringLiteral("2026-12-06"));
        QCOMPARE(env.stored(QStringLiteral("kousinTime"), expected).toString(), QStringLiteral("10:30:15"));
        QCOMPARE(env.stored(QStringLiteral("bunID"), expected).toInt(), 0);
        QCOMPARE(env.stored(QStringLiteral("oyaID"), expected).toInt(), 0);
        // The new row is the grid's last, and current.
        QCOMPARE(env.ids().constLast(), expected);
        QCOMPARE(env.current(), int(existing.size()));
        QCOMPARE(w.data()->caption(), QStringLiteral("%1 / %1").arg(existing.size() + 1));
        QVERIFY(!w.recordChanged());
    }

    void aDeclinedNewRowIsNotStored()
    {
        Env env;
        env.note(7, QStringLiteral("既存"));
        auto& w = env.show(QStringLiteral("JyuyoTab"));
        QCOMPARE(w.data()->recordCount(), 0);
        test::trigger(w, u"mnuFileDataAdd");
        env.editor().setText(0, QStringLiteral("やめる"));
        env.prompts.expectMessage(kChangeQuestion, Cancel);
        test::clickTab(w, u"FindTab");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.db->scalar(QStringLiteral("select count(*) from T_idea")).toInt(), 1);
        QCOMPARE(env.ids(), (QList<qint64>{7}));
        QCOMPARE(env.editor().text(0), QStringLiteral("既存"));
    }

    void searching_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QList<qint64>>("found");
        QTest::newRow("both empty: all") << ""
                                         << "" << QList<qint64>{1, 2, 3, 4, 5};
        QTest::newRow("title") << "会議"
                               << "" << QList<qint64>{1, 2};
        QTest::newRow("title with a quote") << "O'Brien"
                                            << "" << QList<qint64>{1};
        QTest::newRow("title with a wildcard") << "?"
                                               << "" << QList<qint64>{5};
        QTest::newRow("body with a quote") << ""
                                           << "it's" << QList<qint64>{4};
        QTest::newRow("body with a star") << ""
                                          << "*" << QList<qint64>{1, 4};
        QTest::newRow("body with brackets") << ""
                                            << "[1]" << QList<qint64>{2};
        QTest::newRow("body only finds untitled notes") << ""
                                                        << "会議" << QList<qint64>{3};
        QTest::newRow("title and body") << "会議"
                                        << "議事" << QList<qint64>{1};
        QTest::newRow("nothing") << "'; drop table T_idea --"
                                 << "" << QList<qint64>{};
    }
    void searching()
    {
        QFETCH(QString, title);
        QFETCH(QString, body);
        QFETCH(QList<qint64>, found);
        Env env;
        const QString n = QStringLiteral("naiyo");
        env.note(1, QStringLiteral("O'Brien の会議"), {{n, QStringLiteral("議事 50%*off")}});
        env.note(2, QStringLiteral("会議メモ"), {{n, QStringLiteral("案[1]")}});
        env.note(3, QString(), {{n, QStringLiteral("タイトルなしの会議")}});
        env.note(4, QStringLiteral("買い物"), {{n, QStringLiteral("it's *star*")}});
        env.note(5, QStringLiteral("なぜ?"), {{n, QStringLiteral("理由")}});
        auto& w = env.show(QStringLiteral("FindTab"));
        w.searchBox(0)->setText(title);
        w.searchBox(1)->setText(body);
        QTest::mouseClick(w.findButton(0), Qt::LeftButton);
        QCOMPARE(sorted(env.ids()), found);
        QCOMPARE(env.db->scalar(QStringLiteral("select count(*) from T_idea")).toInt(), 5);
        if (title.isEmpty() && body.isEmpty()) {
            QCOMPARE(env.model().headerData(9, Qt::Horizontal).toString(), QStringLiteral("sinkiDate"));
        }
    }

    void clearingAndShowingAll()
    {
        Env env;
        env.note(1, QStringLiteral("会議"));
        env.note(2, QStringLiteral("買い物"));
        auto& w = env.show(QStringLiteral("FindTab"));
        w.searchBox(0)->setText(QStringLiteral("会議"));
        QTest::mouseClick(w.findButton(0), Qt::LeftButton);
        QCOMPARE(env.ids(), (QList<qint64>{1}));

        QTest::mouseClick(w.findButton(1), Qt::LeftButton);
        QCOMPARE(w.searchBox(0)->text(), QString());
        QCOMPARE(env.ids(), (QList<qint64>{1})); // the last result stays

        // The last search comes back with the tab.
        test::clickTab(w, u"KijituTab");
        test::clickTab(w, u"FindTab");
        QCOMPARE(env.ids(), (QList<qint64>{1}));

        QTest::mouseClick(w.findButton(2), Qt::LeftButton);
        QCOMPARE(sorted(env.ids()), (QList<qint64>{1, 2}));
        QCOMPARE(env.model().headerData(7, Qt::Horizontal).toString(), QStringLiteral("sinkiDate"));
    }

    void theCategoryTabGivesThePlaceBack()
    {
        Env env;
        env.note(1, QStringLiteral("a"));
        auto& w = env.show(QStringLiteral("KijituTab"));
        const QRect place = w.geometry();
        test::clickTab(w, u"BunTab");
        QCOMPARE(env.state->CurrentTab, QStringLiteral("BunTab"));
        QCOMPARE(env.mainShown, (QList<QRect>{place}));
        QVERIFY(w.isHidden());
        QVERIFY(env.jumps.isEmpty());
    }

    void anotherFileOpenedMeanwhileIsShown()
    {
        Env env;
        env.note(1, QStringLiteral("A のメモ"));
        auto& w = env.show(QStringLiteral("FindTab"));
        test::trigger(w, u"mnuDouki"); // leaves the grid on its view tab

        const QString other = env.makeDatabase(QStringLiteral("data/other.zmd"));
        auto otherDb = store::Database::open(other);
        otherDb->execute(QStringLiteral("DELETE FROM T_idea"));
        Env::insert(*otherDb, 5, {{QStringLiteral("title"), QStringLiteral("B のメモ")}});
        Env::insert(*otherDb, 6,
                    {{QStringLiteral("title"), QStringLiteral("B の二")}, {QStringLiteral("jyuyoCK"), -1}});
        env.state->DatabasePath = other;

        env.show(QStringLiteral("FindTab"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Zumilo  ") + other);
        QCOMPARE(w.data()->databaseName(), other);
        QCOMPARE(w.gridDatabase()->scalar(QStringLiteral("select count(*) from T_idea")).toInt(), 2);
        QCOMPARE(w.view(), w.searchTabView());
        QCOMPARE(sorted(env.ids()), (QList<qint64>{5, 6}));
        QCOMPARE(env.editor().text(0), env.model().text(0, 0));

        // And the next view comes from the new file too.
        test::clickTab(w, u"JyuyoTab");
        QCOMPARE(env.ids(), (QList<qint64>{6}));
    }

    void theJumpToTheTree()
    {
        Env env;
        env.note(56, QStringLiteral("a"),
                 {{QStringLiteral("bunID"), 3}, {QStringLiteral("bunrui"), QStringLiteral("家")}});
        env.note(57, QStringLiteral("b"),
                 {{QStringLiteral("bunID"), 7}, {QStringLiteral("bunrui"), QStringLiteral("仕事")}});
        auto& w = env.show(QStringLiteral("FindTab"));
        env.clickRow(1);
        env.editor().setText(0, QStringLiteral("b 変更"));
        const QRect place = w.geometry();

        env.prompts.expectMessage(kChangeQuestion, Ok);
        test::trigger(w, u"mnuDouki");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.stored(QStringLiteral("title"), 57).toString(), QStringLiteral("b 変更"));
        QCOMPARE(env.jumps.size(), 1);
        QCOMPARE(env.jumps.first().category, 7);
        QCOMPARE(env.jumps.first().note, std::optional<qint64>(57));
        QCOMPARE(env.mainShown, (QList<QRect>{place}));
        QVERIFY(w.isHidden());
    }

    void movesStopAtTheEnds()
    {
        Env env;
        for (int i = 1; i <= 3; ++i)
            env.note(i, QStringLiteral("m%1").arg(i));
        auto& w = env.show(QStringLiteral("FindTab"));
        test::trigger(w, u"mnuMoveMae");
        QCOMPARE(env.current(), 0);
        test::trigger(w, u"mnuMoveLast");
        QCOMPARE(env.current(), 2);
        test::trigger(w, u"mnuMoveNext");
        QCOMPARE(env.current(), 2);
        QCOMPARE(w.data()->caption(), QStringLiteral("3 / 3"));
        QCOMPARE(env.editor().text(0), QStringLiteral("m3"));
        QCOMPARE(env.model().headerData(2, Qt::Vertical).toString(), QStringLiteral("▶"));
        test::trigger(w, u"mnuMoveMae");
        QCOMPARE(w.grid()->currentIndex().row(), 1);

        // The arrow keys run on from the end of a row into the next.
        const int last = env.model().columnCount() - 1;
        w.grid()->setCurrentIndex(env.model().index(1, last));
        QTest::keyClick(w.grid(), Qt::Key_Right);
        QCOMPARE(w.grid()->currentIndex(), env.model().index(2, 0));
        QCOMPARE(env.current(), 2);
        QTest::keyClick(w.grid(), Qt::Key_Left);
        QCOMPARE(w.grid()->currentIndex(), env.model().index(1, last));
        QCOMPARE(env.editor().text(0), QStringLiteral("m2"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void thePopupIsTheViewMenuWithoutFonts()
    {
        Env env;
        auto& w = env.show(QStringLiteral("FindTab"));
        QStringList names;
        for (QAction* a : w.gridPopupMenu()->actions())
            names << a->objectName();
        QVERIFY(names.contains(QStringLiteral("mnuDouki")));
        QVERIFY(names.contains(QStringLiteral("mnuMoveLast")));
        QVERIFY(!names.contains(QStringLiteral("mnuFontAdd")));
        QVERIFY(!names.contains(QStringLiteral("mnuHyoji_1")));
    }

    void closingSavesTheLayoutAndEndsTheProgram()
    {
        Env env;
        env.settings->write(shell::Settings::F3Position, QStringLiteral("imgSplitter_Left"), QStringLiteral("4000"));
        env.settings->write(shell::Settings::F3Position, QStringLiteral("DBGrid1_RowHeight"), QStringLiteral("300"));
        env.note(1, QStringLiteral("a"));
        auto& w = env.show(QStringLiteral("FindTab"));
        QCOMPARE(w.layout()[QStringLiteral("imgSplitter")].left, 4000.0);
        QCOMPARE(w.layout()[QStringLiteral("Text1(0)")].left, 4000.0); // missing keys take their defaults
        QCOMPARE(w.grid()->rowHeight(), shell::twipsToPixels(300));
        w.SizeControls(100);
        QCOMPARE(w.layout()[QStringLiteral("imgSplitter")].left, 3250.0);
        QCOMPARE(w.layout()[QStringLiteral("Text1(0)")].left, 3250.0);
        // Far to the right it stops where the record pane still shows whole.
        w.SizeControls(1e6);
        QVERIFY(w.layout()[QStringLiteral("imgSplitter")].left
                <= shell::pixelsToTwips(w.frameGeometry().width()) - 900);
        QVERIFY(w.editor()->calendarButton(1)->geometry().right() < w.centralWidget()->width());
        w.SizeControls(5000);
        // The data control stays just above the status bar.
        QCOMPARE(w.data()->geometry().bottom() + 1, w.centralWidget()->height());
        // A row dragged to another height gives it to every row.
        QHeaderView* rows = w.grid()->verticalHeader();
        rows->resizeSection(0, 30);
        QTest::mouseRelease(rows->viewport(), Qt::LeftButton, {}, QPoint(2, 29));
        QCOMPARE(w.grid()->rowHeight(), 30);
        env.editor().setText(0, QStringLiteral("閉じる前に"));

        env.prompts.expectMessage(kChangeQuestion, Ok);
        QVERIFY(w.close());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.stored(QStringLiteral("title"), 1).toString(), QStringLiteral("閉じる前に"));
        QCOMPARE(env.endCalls, 1);
        auto saved = env.reopenSettings();
        QCOMPARE(saved->readNumber(shell::Settings::F3Position, QStringLiteral("imgSplitter_Left"), 0), 5000.0);
        QCOMPARE(saved->readNumber(shell::Settings::F3Position, QStringLiteral("DBGrid1_RowHeight"), 0),
                 shell::pixelsToTwips(30));
        QCOMPARE(saved->readNumber(shell::Settings::F3Position, QStringLiteral("Data1_Left"), 0), 3360.0 + 1000);
    }
};

QTEST_MAIN(TestGridWindow)
#include "tst_gridwindow.moc"
