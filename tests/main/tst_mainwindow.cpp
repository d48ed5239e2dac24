// The main window at work: tree, list and editor together, saving, and the
// layout of the panes.

#include "mainwindowapp.h"

#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "main/mainwindow.h"
#include "shell/settingsstore.h"
#include "shell/statuspanels.h"
#include "shell/twips.h"
#include "shell/twipslayout.h"
#include "store/database.h"
#include "store/recordset.h"
#include "tree/categorytree.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QLabel>
#include <QDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>
#include <sqlite3.h>

using namespace zumilo;
using shell::Msg::No;
using shell::Msg::Yes;

namespace {

const QString kSaveQuestion = QStringLiteral("このデータは変更されています。保存しますか？");

struct Env : test::MainWindowApp {
    // A note with, optionally, its body, due date and creation date.
    void note(qint64 id, const QString& title, qint64 bunID, const QVariantList& more = {})
    {
        static const char* const columns[] = {"naiyo", "kijituDate", "sinkiDate"};
        QVariantMap extra;
        for (qsizetype i = 0; i < more.size() && i < 3; ++i)
            extra.insert(QString::fromLatin1(columns[i]), more[i]);
        MainWindowApp::note(id, title, bunID, extra);
    }
    void clickRow(int position)
    {
        const QModelIndex index = list().model()->index(position - 1, 0);
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, list().visualRect(index).center());
    }
    QStringList listTitles() const
    {
        QStringList titles;
        for (int i = 0; i < list().count(); ++i)
            titles << list().listModel()->textAt(i, 0);
        return titles;
    }
    QVariant stored(const QString& column, int id) const
    {
        return scalar(QStringLiteral("select %1 from T_idea where id=?").arg(column), {id});
    }
};

QStringList childTexts(const QTreeWidgetItem* node)
{
    QStringList texts;
    for (int i = 0; i < node->childCount(); ++i)
        texts << node->child(i)->text(0);
    return texts;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void treeShowsReachableCategoriesInJapaneseOrder()
    {
        Env env;
        env.category(5, QStringLiteral("2 仕事"), 0);
        env.category(3, QStringLiteral("1 目標"), 0);
        env.category(7, QStringLiteral("さくら"), 5);
        env.category(8, QStringLiteral("アサガオ"), 5);
        env.category(9, QStringLiteral("いちょう"), 5);
        env.category(10, QStringLiteral("迷子"), 99); // parent missing
        env.category(11, QStringLiteral("輪A"), 12);  // a cycle apart from the root
        env.category(12, QStringLiteral("輪B"), 11);
        env.category(13, QStringLiteral("O'Brien の棚"), 3);
        for (int i = 0; i < 150; ++i)
            env.category(100 + i, QStringLiteral("子%1").arg(i, 3, 10, QLatin1Char('0')), 3);
        auto& w = env.load();

        QTreeWidgetItem* root = env.tree().rootNode();
        QCOMPARE(tree::CategoryTree::keyOf(root), QStringLiteral("0_id"));
        QCOMPARE(root->text(0), QStringLiteral("notes.zmd"));
        QVERIFY(root->isExpanded());
        QCOMPARE(childTexts(root), (QStringList{QStringLiteral("1 目標"), QStringLiteral("2 仕事")}));
        QTreeWidgetItem* work = env.tree().node(QStringLiteral("5_id"));
        QCOMPARE(childTexts(work),
                 (QStringList{QStringLiteral("アサガオ"), QStringLiteral("いちょう"), QStringLiteral("さくら")}));
        QCOMPARE(env.tree().node(QStringLiteral("3_id"))->childCount(), 151); // no limit on children
        QVERIFY(!env.tree().node(QStringLiteral("10_id")));
        QVERIFY(!env.tree().node(QStringLiteral("11_id")));
        QVERIFY(!(root->flags() & Qt::ItemIsEditable));
        QVERIFY(work->flags() & Qt::ItemIsEditable);
        QCOMPARE(tree::numberOfKey(QStringLiteral("12_id")), QStringLiteral("12"));
        Q_UNUSED(w);
    }

    void choosingACategoryListsItsNotes()
    {
        Env env;
        env.category(1, QStringLiteral("会議"), 0);
        env.note(40000, QStringLiteral("ぶどう"), 1, {QStringLiteral("行1\r\n行2"), QStringLiteral("2027-01-05")});
        env.note(41, QStringLiteral("あんず"), 1, {QStringLiteral("本文"), {}, QStringLiteral("2026-11-30")});
        env.note(42, QString(), 1);
        env.note(43, QStringLiteral("ルートのメモ"), 0);
        auto& w = env.load();
        QCOMPARE(env.list().count(), 1); // the root's own note
        QCOMPARE(env.editor().text(0), QStringLiteral("ルートのメモ"));

        env.choose(QStringLiteral("1_id"));
        QCOMPARE(env.state->CurrentBunID, QStringLiteral("1"));
        QCOMPARE(env.state->CurrentBunName, QStringLiteral("会議"));
        QCOMPARE(env.listTitles(), (QStringList{QString(), QStringLiteral("あんず"), QStringLiteral("ぶどう")}));
        QCOMPARE(env.list().keyAt(3), QStringLiteral("40000_id"));
        QCOMPARE(w.statusPanels().text(1), QStringLiteral("3  つのｱｲﾃﾞｱ"));
        QCOMPARE(env.list().selectedPosition(), 1);

        env.clickRow(3);
        QCOMPARE(w.currentIdeaId(), QStringLiteral("40000"));
        QCOMPARE(env.editor().text(0), QStringLiteral("ぶどう"));
        QCOMPARE(env.editor().text(1), QStringLiteral("行1\n行2"));
        QCOMPARE(env.editor().text(5), QStringLiteral("2027/01/05"));
        QCOMPARE(w.statusPanels().text(1), QStringLiteral("ｱｲﾃﾞｱ数:  3 / 3"));
        QCOMPARE(w.statusPanels().text(2), QStringLiteral("40000"));
        QCOMPARE(w.listPosition(), 3);

        // An empty category: empty list, notice texts in the editor.
        env.category(2, QStringLiteral("空"), 0);
        w.LoadCategoryTree();
        env.choose(QStringLiteral("2_id"));
        QCOMPARE(env.list().count(), 0);
        QCOMPARE(w.statusPanels().text(1), QStringLiteral("0  つのｱｲﾃﾞｱ"));
        QCOMPARE(env.editor().text(0), records::emptyTitleNotice());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void editingAndSavingANote()
    {
        Env env;
        env.category(1, QStringLiteral("仕事"), 0);
        env.note(1, QStringLiteral("b 議事録"), 1, {QStringLiteral("本文"), {}, QStringLiteral("2026-01-02")});
        env.note(2, QStringLiteral("a 予定"), 1);
        auto& w = env.load();
        env.choose(QStringLiteral("1_id"));
        env.clickRow(2);
        QCOMPARE(env.editor().text(0), QStringLiteral("b 議事録"));
        QVERIFY(!w.recordChanged());

        env.editor().titleBox()->setFocus();
        env.editor().titleBox()->selectAll();
        QTest::keyClicks(env.editor().titleBox(), QStringLiteral("0 minutes"));
        QVERIFY(w.recordChanged());
        QCOMPARE(w.statusPanels().text(1), QString());

        test::trigger(w, u"mnuUpdate");
        QVERIFY(!w.recordChanged());
        QCOMPARE(env.stored(QStringLiteral("title"), 1).toString(), QStringLiteral("0 minutes"));
        QCOMPARE(env.stored(QStringLiteral("kousinDate"), 1).toString(), QStringLiteral("2026-12-06"));
        QCOMPARE(env.stored(QStringLiteral("kousinTime"), 1).toString(), QStringLiteral("10:30:15"));
        QCOMPARE(env.stored(QStringLiteral("sinkiDate"), 1).toString(), QStringLiteral("2026-01-02"));
        // The list was refilled in its order and the saved note is selected again.
        QCOMPARE(env.listTitles(), (QStringList{QStringLiteral("0 minutes"), QStringLiteral("a 予定")}));
        QCOMPARE(env.list().selectedKey(), QStringLiteral("1_id"));
        QCOMPARE(env.editor().text(0), QStringLiteral("0 minutes"));
        QCOMPARE(w.statusPanels().text(4), QStringLiteral("2026/12/06"));
        QCOMPARE(w.statusPanels().text(5), QStringLiteral("10:30:15"));
        QCOMPARE(w.statusPanels().text(6), QStringLiteral("2026/01/02"));

        // A note without a creation date gets today's on its first save.
        env.clickRow(2);
        test::trigger(w, u"mnuUpdate");
        QCOMPARE(env.stored(QStringLiteral("sinkiDate"), 2).toString(), QStringLiteral("2026-12-06"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void leavingAChangedNoteAsks_data()
    {
        QTest::addColumn<bool>("byTree");
        QTest::addColumn<int>("answer");
        QTest::newRow("tree, yes") << true << int(Yes);
        QTest::newRow("tree, no") << true << int(No);
        QTest::newRow("list, yes") << false << int(Yes);
        QTest::newRow("list, no") << false << int(No);
    }
    void leavingAChangedNoteAsks()
    {
        QFETCH(bool, byTree);
        QFETCH(int, answer);
        Env env;
        env.category(1, QStringLiteral("A"), 0);
        env.category(2, QStringLiteral("B"), 0);
        env.note(1, QStringLiteral("一"), 1);
        env.note(2, QStringLiteral("二"), 1);
        auto& w = env.load();
        env.choose(QStringLiteral("1_id"));
        env.editor().setText(0, QStringLiteral("変更後"));

        env.prompts.expectMessage(kSaveQuestion, answer);
        if (byTree)
            env.choose(QStringLiteral("2_id"));
        else
            env.clickRow(2);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.stored(QStringLiteral("title"), 1).toString(),
                 answer == Yes ? QStringLiteral("変更後") : QStringLiteral("一"));
        QCOMPARE(env.state->CurrentBunID, byTree ? QStringLiteral("2") : QStringLiteral("1"));
        QVERIFY(!w.recordChanged());
    }

    void aSaveThatFailsKeepsTheEdits()
    {
        Env env;
        env.category(1, QStringLiteral("A"), 0);
        env.category(2, QStringLiteral("B"), 0);
        env.note(1, QStringLiteral("一"), 1);
        auto& w = env.load();
        env.choose(QStringLiteral("1_id"));
        env.editor().setText(0, QStringLiteral("大事な変更"));
        env.db->execute(QStringLiteral("DELETE FROM T_idea WHERE id=1")); // another window deleted it
        const QStringList stamps{w.statusPanels().text(4), w.statusPanels().text(5), w.statusPanels().text(6)};

        env.prompts.expectMessage(kSaveQuestion, Yes);
        env.prompts.expectMessage({}); // not saved, and why
        env.choose(QStringLiteral("2_id"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QVERIFY(env.prompts.messages().constLast().startsWith(QStringLiteral("このデータを保存できませんでした。")));
        QVERIFY(w.recordChanged());
        QCOMPARE(env.editor().text(0), QStringLiteral("大事な変更"));
        QCOMPARE(env.state->CurrentBunID, QStringLiteral("1"));
        QVERIFY(w.statusPanels().text(1) != QStringLiteral("登録完了"));
        QCOMPARE((QStringList{w.statusPanels().text(4), w.statusPanels().text(5), w.statusPanels().text(6)}), stamps);
    }

    // Settings that cannot be kept are said, not passed over in silence.
    void settingsThatCannotBeKeptAreSaid()
    {
        Env env;
        auto& w = env.load();
        env.writeFile(QStringLiteral("blocked"), "a file where a folder should be");
        auto unwritable = shell::SettingsStore::atFile(env.path(QStringLiteral("blocked/zumilo.ini")));
        env.state->services.settings = unwritable.get();
        env.prompts.expectMessage({}, shell::Msg::Ok, shell::Msg::Exclamation);
        QVERIFY(w.close());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QVERIFY(env.prompts.messages().constLast().startsWith(QStringLiteral("設定を保存できませんでした。")));
    }

    void aReadOnlyFileOpensButCannotBeSavedTo()
    {
        Env env;
        env.category(1, QStringLiteral("A"), 0);
        env.note(5, QStringLiteral("元の題"), 1);
        env.db->close();
        QFile(env.dbPath).setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        auto& w = env.load();
        QVERIFY(w.DBCheckOK());
        env.choose(QStringLiteral("1_id"));
        env.editor().setText(0, QStringLiteral("書けない変更"));

        env.prompts.expectMessage({}, shell::Msg::Ok, shell::Msg::Exclamation);
        test::trigger(w, u"mnuUpdate");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QVERIFY(env.prompts.messages().constLast().contains(QStringLiteral("読み取り専用")));
        QVERIFY(w.recordChanged());
        QCOMPARE(env.editor().text(0), QStringLiteral("書けない変更"));
        auto check = store::Database::open(env.dbPath);
        QCOMPARE(check->scalar(QStringLiteral("select title from T_idea where id=5")).toString(),
                 QStringLiteral("元の題"));

        // Closing offers to save, says it failed, and stays open on No.
        env.prompts.expectMessage(kSaveQuestion, Yes);
        env.prompts.expectMessage({}, shell::Msg::Ok, shell::Msg::Exclamation);
        env.prompts.expectMessage(QStringLiteral("変更した内容を保存できませんでした。保存せずに終了しますか？"), No);
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QFile(env.dbPath).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }

    void aRefusedFieldIsNamedAndTheRestIsSaved()
    {
        Env env;
        env.category(1, QStringLiteral("A"), 0);
        env.note(1, QStringLiteral("一"), 1);
        env.db->execute(QStringLiteral("UPDATE T_idea SET kanryoDate='2026-10-01' WHERE id=1"));
        auto& w = env.load();
        env.choose(QStringLiteral("1_id"));
        env.editor().setText(0, QStringLiteral("新しい題"));
        env.editor().setText(4, QStringLiteral("2026/13/45"));
        env.editor().setText(5, QStringLiteral("12/24"));

        env.prompts.expectMessage({});
        test::trigger(w, u"mnuUpdate");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QVERIFY(env.prompts.messages().constLast().contains(QStringLiteral("「完了日」")));
        QCOMPARE(env.stored(QStringLiteral("title"), 1).toString(), QStringLiteral("新しい題"));
        QCOMPARE(env.stored(QStringLiteral("kanryoDate"), 1).toString(), QStringLiteral("2026-10-01"));
        QCOMPARE(env.stored(QStringLiteral("kijituDate"), 1).toString(), QStringLiteral("2026-12-24"));
        // What the user typed stays, still to be saved.
        QCOMPARE(env.editor().text(4), QStringLiteral("2026/13/45"));
        QCOMPARE(env.editor().text(5), QStringLiteral("2026/12/24"));
        QVERIFY(w.recordChanged());
    }

    void saveOnAnEmptyCategoryRefuses()
    {
        Env env;
        auto& w = env.load();
        env.prompts.expectMessage(
            QStringLiteral("新規データの登録は、「新規データ追加」アイコンをクリックしてから行ってください"));
        test::trigger(w, u"mnuUpdate");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.editor().text(0), records::emptyTitleNotice());
        QCOMPARE(env.db->scalar(QStringLiteral("select count(*) from T_idea")).toInt(), 0);
    }

    void headerClicksSortTheList()
    {
        Env env;
        env.category(1, QStringLiteral("A"), 0);
        env.note(1, QStringLiteral("い"), 1, {{}, QStringLiteral("2027-03-01")});
        env.note(2, QStringLiteral("あ"), 1, {{}, QStringLiteral("2027-01-01")});
        env.note(3, QStringLiteral("う"), 1, {{}, QStringLiteral("2027-02-01")});
        auto& w = env.load();
        env.choose(QStringLiteral("1_id"));
        QCOMPARE(env.listTitles(), (QStringList{QStringLiteral("あ"), QStringLiteral("い"), QStringLiteral("う")}));

        auto clickHeader = [&](int column) {
            QHeaderView* h = env.list().header();
            QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                              QPoint(h->sectionViewportPosition(column) + 5, h->height() / 2));
        };
        clickHeader(0); // the title column starts ascending: the first click turns it round
        QCOMPARE(env.listTitles(), (QStringList{QStringLiteral("う"), QStringLiteral("い"), QStringLiteral("あ")}));
        QCOMPARE(env.state->LastSortOrder, 1);
        clickHeader(1);
        QCOMPARE(env.listTitles(), (QStringList{QStringLiteral("あ"), QStringLiteral("う"), QStringLiteral("い")}));
        QCOMPARE(env.state->LastSortColumn, 1);
        QCOMPARE(env.state->LastSortOrder, 0);
        clickHeader(1);
        QCOMPARE(env.listTitles(), (QStringList{QStringLiteral("い"), QStringLiteral("う"), QStringLiteral("あ")}));
        // A refill keeps the list's order.
        w.RefreshRecordList();
        QCOMPARE(env.listTitles(), (QStringList{QStringLiteral("い"), QStringLiteral("う"), QStringLiteral("あ")}));

        // A deleted note leaves the list; the others keep their texts in
        // either order.
        env.list().selectPosition(1);
        env.prompts.expectMessage(QStringLiteral("本当にこのデータを削除していいですか？ "), Yes);
        QTest::keyClick(&env.list(), Qt::Key_Delete);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.listTitles(), (QStringList{QStringLiteral("う"), QStringLiteral("あ")}));
        clickHeader(0);
        QCOMPARE(env.listTitles(), (QStringList{QStringLiteral("あ"), QStringLiteral("う")}));
        clickHeader(0);
        QCOMPARE(env.listTitles(), (QStringList{QStringLiteral("う"), QStringLiteral("あ")}));
        QCOMPARE(env.list().keyAt(2), QStringLiteral("2_id"));
    }

    void aJumpIntoAnEmptyCategoryWaits()
    {
        Env env;
        env.category(1, QStringLiteral("A"), 0);
        auto& w = env.load();
        env.choose(QStringLiteral("1_id"));
        w.jumpTo({1, 9});
        env.returnToMainWindow();
        QVERIFY(w.jumpPending());
        env.note(9, QStringLiteral("x"), 1);
        env.returnToMainWindow();
        QVERIFY(!w.jumpPending());
        QCOMPARE(env.list().selectedKey(), QStringLiteral("9_id"));
    }

    void splittersKeepTheirLimitsAndComeBack()
    {
        Env env;
        auto& w = env.load();
        w.resize(900, 600);
        QCoreApplication::processEvents();
        w.SizeControls(100);
        QCOMPARE(w.layout()[QStringLiteral("imgSplitter")].left, 1000.0);
        QCOMPARE(w.layout()[QStringLiteral("ListView1")].left, 1050.0);
        const double outerHeight = shell::pixelsToTwips(w.frameGeometry().height());
        w.SizeControls2(100000);
        QCOMPARE(w.layout()[QStringLiteral("imgSplitter2")].top, outerHeight - 1500);
        w.SizeControls(2400);
        w.SizeControls2(3000);
        const double listHeight = w.layout()[QStringLiteral("ListView1")].height;
        const double titleTop = w.layout()[QStringLiteral("Text1(0)")].top;
        QCOMPARE(w.layout()[QStringLiteral("Text1(0)")].left, 4000.0 - 850);
        w.close();

        test::TestApp next;
        next.settings = env.reopenSettings();
        next.state->services.settings = next.settings.get();
        app::MainWindow again(*next.state);
        again.Form_Load();
        QCOMPARE(again.layout()[QStringLiteral("imgSplitter")].left, 2400.0);
        QCOMPARE(again.layout()[QStringLiteral("ListView1")].height, listHeight);
        QCOMPARE(again.layout()[QStringLiteral("Text1(0)")].top, titleTop);
        QCOMPARE(again.layout()[QStringLiteral("Text1(2)")].left, again.layout()[QStringLiteral("Text1(1)")].left);
    }

    // However narrow the user makes it, the editor's controls and the
    // status panels stay whole.
    void theWindowKeepsItsControlsWhole()
    {
        Env env;
        auto& w = env.load();
        w.resize(200, 150);
        QTRY_COMPARE(w.size(), w.minimumSize());
        QVERIFY(env.editor().calendarButton(1)->geometry().right() < w.centralWidget()->width());
        QVERIFY(env.editor().lineBox(5)->isVisible());
        for (QLabel* panel : w.statusBar()->findChildren<QLabel*>())
            QVERIFY2(panel->width() >= panel->minimumSizeHint().width(), qPrintable(panel->objectName()));
        // Nor does the splitter push them out.
        w.SizeControls(1e6);
        QVERIFY(env.editor().calendarButton(1)->geometry().right() < w.centralWidget()->width());
    }

    // Return in the about box means OK, also once the system-information
    // button has been used and kept the focus.
    void theAboutBoxClosesOnReturnAfterSystemInformation()
    {
        Env env;
        auto& w = env.load();
        env.desktop.accept = false;
        env.prompts.expectDialog(QStringLiteral("frmAbout"), [&env](QDialog& box) {
            QVERIFY(QTest::qWaitForWindowActive(&box));
            QTest::mouseClick(box.findChild<QPushButton*>(QStringLiteral("cmdSysInfo")), Qt::LeftButton);
            QVERIFY(env.prompts.allUsed());
            QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Return); // to the focused button
            QCOMPARE(box.result(), int(QDialog::Accepted));
        });
        env.prompts.expectMessage(QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"));
        test::trigger(w, u"mnuHelpAbout");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
