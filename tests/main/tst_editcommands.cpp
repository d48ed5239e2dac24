// Changing the category tree and the commands on whole notes, through the
// main window.

#include "mainwindowapp.h"

#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "main/mainwindow.h"
#include "shell/statuspanels.h"
#include "store/database.h"
#include "tree/categorytree.h"

#include <QAction>
#include <QtTest>

using namespace zumilo;
using shell::Msg::No;
using shell::Msg::Yes;

namespace {

const QString kSaveQuestion = QStringLiteral("このデータは変更されています。保存しますか？");
const QString kDeleteNote = QStringLiteral("本当にこのデータを削除していいですか？ ");
constexpr int kStyle324 = 324;

struct Env : test::MainWindowApp {
    void note(qint64 id, const QString& title, qint64 bunID, const QString& bunrui = {})
    {
        MainWindowApp::note(id, title, bunID,
                            {{QStringLiteral("bunrui"), bunrui},
                             {QStringLiteral("sinkiDate"), QStringLiteral("2025-05-05")}});
    }
    QString editorTitle() const { return window->editor()->text(0); }
};

} // namespace

class TestEditCommands : public QObject {
    Q_OBJECT

private slots:
    void addingCategories()
    {
        Env env;
        auto& w = env.load();
        env.prompts.expectInput(QStringLiteral("新しい分類名は？"), QStringLiteral("O'Brien の \"棚\" [*]"));
        test::trigger(w, u"mnuBunTuika");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.scalar(QStringLiteral("select bunrui from T_bunrui where bunID=1")).toString(),
                 QStringLiteral("O'Brien の \"棚\" [*]"));
        QCOMPARE(env.scalar(QStringLiteral("select oyabunID from T_bunrui where bunID=1")).toInt(), 0);
        QCOMPARE(env.state->CurrentBunID, QStringLiteral("1"));
        QCOMPARE(env.tree().currentItem(), env.tree().node(QStringLiteral("1_id")));
        QCOMPARE(env.list().count(), 0);

        // Below the current category, numbered after the largest, past 32767.
        env.category(40000, QStringLiteral("大きな番号"), 0);
        env.prompts.expectInput({}, QStringLiteral("子"));
        test::trigger(w, u"mnuBunTuika");
        QCOMPARE(env.scalar(QStringLiteral("select oyabunID from T_bunrui where bunID=40001")).toInt(), 1);
        QCOMPARE(env.tree().node(QStringLiteral("40001_id"))->parent(), env.tree().node(QStringLiteral("1_id")));

        // Cancel or an empty name adds nothing.
        env.prompts.expectInput({}, std::nullopt);
        env.prompts.expectInput({}, QString());
        test::trigger(w, u"mnuBunTuika");
        test::trigger(w, u"mnuBunTuika");
        QCOMPARE(env.scalar(QStringLiteral("select count(*) from T_bunrui")).toInt(), 3);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void renamingKeepsBothTablesInStep()
    {
        Env env;
        env.category(3, QStringLiteral("旧"), 0);
        env.note(10, QStringLiteral("a"), 3, QStringLiteral("旧"));
        env.note(11, QStringLiteral("b"), 3, QStringLiteral("旧"));
        env.load();
        env.choose(QStringLiteral("3_id"));
        QTreeWidgetItem* node = env.tree().node(QStringLiteral("3_id"));
        node->setText(0, QStringLiteral("新しい 'name'")); // as the in-place editor commits it
        QCOMPARE(env.scalar(QStringLiteral("select bunrui from T_bunrui where bunID=3")).toString(),
                 QStringLiteral("新しい 'name'"));
        QCOMPARE(env.scalar(QStringLiteral("select count(*) from T_idea where bunrui=?"),
                            {QStringLiteral("新しい 'name'")})
                     .toInt(),
                 2);
        QCOMPARE(env.state->CurrentBunName, QStringLiteral("新しい 'name'"));

        // When the notes cannot follow, neither table changes and the name comes back.
        env.db->execute(
            QStringLiteral("CREATE TRIGGER stop BEFORE UPDATE ON T_idea BEGIN SELECT RAISE(ABORT,'no'); END"));
        env.prompts.expectMessage({}, shell::Msg::Ok, shell::Msg::Exclamation);
        node->setText(0, QStringLiteral("失敗する名前"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(node->text(0), QStringLiteral("新しい 'name'"));
        QCOMPARE(env.scalar(QStringLiteral("select bunrui from T_bunrui where bunID=3")).toString(),
                 QStringLiteral("新しい 'name'"));
    }

    // A note being edited keeps its category's present name when saved,
    // however the rename came about.
    void renamingWhileANoteIsEdited()
    {
        Env env;
        env.category(3, QStringLiteral("旧"), 0);
        env.note(10, QStringLiteral("a"), 3, QStringLiteral("旧"));
        auto& w = env.load();
        env.choose(QStringLiteral("3_id"));
        env.window->editor()->setText(0, QStringLiteral("編集中"));
        env.tree().node(QStringLiteral("3_id"))->setText(0, QStringLiteral("新"));
        QCOMPARE(env.window->editor()->text(3), QStringLiteral("新"));
        QVERIFY(w.recordChanged());

        // Renamed behind the window's back, by another program.
        env.db->execute(QStringLiteral("UPDATE T_bunrui SET bunrui='最新' WHERE bunID=3"));
        test::trigger(w, u"mnuUpdate");
        QCOMPARE(env.scalar(QStringLiteral("select bunrui from T_idea where id=10")).toString(),
                 QStringLiteral("最新"));
        QCOMPARE(env.scalar(QStringLiteral("select title from T_idea where id=10")).toString(),
                 QStringLiteral("編集中"));
        QCOMPARE(env.window->editor()->text(3), QStringLiteral("最新"));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void deletingCategories()
    {
        Env env;
        env.category(1, QStringLiteral("親"), 0);
        env.category(2, QStringLiteral("子"), 1);
        env.category(3, QStringLiteral("メモあり"), 0);
        env.note(5, QStringLiteral("x"), 3);
        auto& w = env.load();
        const QString refused = QStringLiteral(
            "子分類があるか、登録済み情報の中でこの分類を使用していますので、削除できません");

        env.prompts.expectMessage(QStringLiteral("ルート （一番上の親分類） は、削除できません"));
        test::trigger(w, u"mnuBunDel");
        env.choose(QStringLiteral("1_id"));
        env.prompts.expectMessage(refused);
        test::trigger(w, u"mnuBunDel");
        env.choose(QStringLiteral("3_id"));
        env.prompts.expectMessage(refused);
        test::trigger(w, u"mnuBunDel");

        env.choose(QStringLiteral("2_id"));
        env.prompts.expectMessage(QStringLiteral("「子」 　本当にこの分類を削除していいですか？ "), No, kStyle324);
        test::trigger(w, u"mnuBunDel");
        QVERIFY(env.tree().node(QStringLiteral("2_id")));
        env.prompts.expectMessage({}, Yes, kStyle324);
        test::trigger(w, u"mnuBunDel");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QVERIFY(!env.tree().node(QStringLiteral("2_id")));
        QCOMPARE(env.scalar(QStringLiteral("select count(*) from T_bunrui where bunID=2")).toInt(), 0);
        QCOMPARE(env.state->CurrentBunID, QStringLiteral("1"));
        QCOMPARE(env.state->CurrentBunName, QStringLiteral("親"));
    }

    // Dragging a category node or a list row onto a node, with the mouse,
    // through the platform's own drag loop.
    void draggingOntoTheTree_data()
    {
        QTest::addColumn<int>("note");         // the list row dragged, or 0
        QTest::addColumn<QString>("category"); // else the node dragged
        QTest::addColumn<QString>("onto");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("check");
        QTest::addColumn<QVariant>("expected");
        const QString noteCategory = QStringLiteral("select bunID||bunrui from T_idea where id=7");
        const QString parentOf1 = QStringLiteral("select oyabunID from T_bunrui where bunID=1");
        const QString parentOf2 = QStringLiteral("select oyabunID from T_bunrui where bunID=2");
        QTest::newRow("note onto a category")
            << 7 << QString() << "6_id" << false << noteCategory << QVariant(QStringLiteral("6it's"));
        QTest::newRow("note onto the root")
            << 7 << QString() << "0_id" << false << noteCategory << QVariant(QStringLiteral("0notes.zmd"));
        QTest::newRow("category onto a category") << 0 << "2_id"
                                                  << "4_id" << false << parentOf2 << QVariant(4);
        QTest::newRow("category onto the root") << 0 << "2_id"
                                                << "0_id" << false << parentOf2 << QVariant(0);
        QTest::newRow("onto its own descendant") << 0 << "1_id"
                                                 << "3_id" << true << parentOf1 << QVariant(0);
        QTest::newRow("the root onto a category") << 0 << "0_id"
                                                  << "4_id" << true << parentOf1 << QVariant(0);
        QTest::newRow("onto a namesake") << 0 << "1_id"
                                         << "5_id" << false << parentOf1 << QVariant(0);
    }

    void draggingOntoTheTree()
    {
        if (QGuiApplication::platformName() != u"xcb")
            QSKIP("drags need a platform with a drag loop (xcb)");
        QFETCH(int, note);
        QFETCH(QString, category);
        QFETCH(QString, onto);
        QFETCH(bool, refused);
        QFETCH(QString, check);
        QFETCH(QVariant, expected);
        Env env;
        env.category(1, QStringLiteral("A"), 0);
        env.category(2, QStringLiteral("B"), 1);
        env.category(3, QStringLiteral("C"), 2);
        env.category(4, QStringLiteral("D"), 0);
        env.category(5, QStringLiteral("A"), 4);
        env.category(6, QStringLiteral("it's"), 0);
        env.note(7, QStringLiteral("動かす"), 1, QStringLiteral("A"));
        env.note(8, QStringLiteral("残る"), 1, QStringLiteral("A"));
        QVERIFY(QTest::qWaitForWindowExposed(&env.load()));
        env.tree().expandAll();
        env.choose(QStringLiteral("1_id"));

        auto at = [&](const QString& key) { return env.tree().visualItemRect(env.tree().node(key)).center(); };
        if (refused)
            env.prompts.expectMessage(QStringLiteral("このフォルダをその下のフォルダの下に移動できません。"),
                                      shell::Msg::Ok, shell::Msg::Exclamation);
        if (note) {
            QVERIFY(env.list().selectKey(QStringLiteral("%1_id").arg(note)));
            const QRect row = env.list().visualRect(env.list().currentIndex());
            QCOMPARE(test::dragAndDrop(env.list().viewport(), row.center(), env.tree().viewport(), at(onto)), 1);
            QCOMPARE(env.list().count(), 1); // the note left the category shown
        } else {
            QCOMPARE(test::dragAndDrop(env.tree().viewport(), at(category), env.tree().viewport(), at(onto)), 1);
        }
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.scalar(check), expected);
        if (!note && !refused && expected.toInt()) {
            QCOMPARE(env.tree().node(category)->parent(), env.tree().node(onto));
            QCOMPARE(env.tree().node(QStringLiteral("3_id"))->parent(), env.tree().node(QStringLiteral("2_id")));
        }
    }

    void movingThroughTheList()
    {
        Env env;
        env.category(1, QStringLiteral("A"), 0);
        for (int i = 1; i <= 5; ++i)
            env.note(i, QStringLiteral("メモ%1").arg(i), 1);
        auto& w = env.load();
        env.choose(QStringLiteral("1_id"));

        test::trigger(w, u"mnuMoveMae");
        QCOMPARE(w.statusPanels().text(1), QStringLiteral("ｱｲﾃﾞｱ数:  1 / 5    最初のデータです"));
        test::trigger(w, u"mnuMoveLast");
        QCOMPARE(env.editorTitle(), QStringLiteral("メモ5"));
        test::trigger(w, u"mnuMoveNext");
        QCOMPARE(w.statusPanels().text(1), QStringLiteral("ｱｲﾃﾞｱ数:  5 / 5    最後のデータです"));
        test::trigger(w, u"mnuMoveMae");
        QCOMPARE(env.editorTitle(), QStringLiteral("メモ4"));
        QCOMPARE(w.statusPanels().text(1), QStringLiteral("ｱｲﾃﾞｱ数:  4 / 5"));

        // A changed note: asked before the move, and once more after No.
        w.editor()->setText(0, QStringLiteral("捨てる変更"));
        env.prompts.expectMessage(kSaveQuestion, No);
        env.prompts.expectMessage(kSaveQuestion, No);
        test::trigger(w, u"mnuMoveFirst");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.editorTitle(), QStringLiteral("メモ1"));
        QCOMPARE(env.scalar(QStringLiteral("select title from T_idea where id=4")).toString(), QStringLiteral("メモ4"));
        QVERIFY(!w.recordChanged());
    }

    void copySave()
    {
        Env env;
        env.category(1, QStringLiteral("A"), 0);
        env.note(3, QStringLiteral("元"), 1, QStringLiteral("A"));
        env.note(41, QStringLiteral("別"), 2);
        env.db->execute(QStringLiteral("UPDATE T_idea SET oyaID=7 WHERE id=3"));
        auto& w = env.load();
        env.choose(QStringLiteral("1_id"));
        w.editor()->setText(0, QStringLiteral("写し"));

        test::trigger(w, u"mnuUpdateAs");
        QCOMPARE(env.scalar(QStringLiteral("select title from T_idea where id=42")).toString(), QStringLiteral("写し"));
        QCOMPARE(env.scalar(QStringLiteral("select sinkiDate from T_idea where id=42")).toString(),
                 QStringLiteral("2026-12-06"));
        QCOMPARE(env.scalar(QStringLiteral("select bunID from T_idea where id=42")).toInt(), 1);
        QCOMPARE(env.scalar(QStringLiteral("select oyaID from T_idea where id=42")).toInt(), 7);
        QCOMPARE(env.scalar(QStringLiteral("select title from T_idea where id=3")).toString(), QStringLiteral("元"));
        QCOMPARE(w.statusPanels().text(2), QStringLiteral("42"));
        QCOMPARE(env.list().selectedKey(), QStringLiteral("42_id"));
        QCOMPARE(env.editorTitle(), QStringLiteral("写し"));
        QVERIFY(!w.recordChanged());

        // Nothing to copy from in an empty category.
        env.category(9, QStringLiteral("空"), 0);
        w.LoadCategoryTree();
        env.choose(QStringLiteral("9_id"));
        env.prompts.expectMessage(
            QStringLiteral("新規データの登録は、「新規データ追加」アイコンをクリックしてから行ってください"));
        test::trigger(w, u"mnuUpdateAs");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.scalar(QStringLiteral("select count(*) from T_idea")).toInt(), 3);
    }

    void deletingNotesSelectsTheOneBefore_data()
    {
        QTest::addColumn<int>("notes");
        QTest::addColumn<int>("deleted");
        QTest::addColumn<QString>("shownAfter");
        QTest::newRow("3rd of 5") << 5 << 3 << QStringLiteral("メモ2");
        QTest::newRow("1st of 5") << 5 << 1 << QStringLiteral("メモ2");
        QTest::newRow("the only one") << 1 << 1 << records::emptyTitleNotice();
    }
    void deletingNotesSelectsTheOneBefore()
    {
        QFETCH(int, notes);
        QFETCH(int, deleted);
        QFETCH(QString, shownAfter);
        Env env;
        env.category(1, QStringLiteral("A"), 0);
        for (int i = 1; i <= notes; ++i)
            env.note(i, QStringLiteral("メモ%1").arg(i), 1);
        auto& w = env.load();
        env.choose(QStringLiteral("1_id"));
        env.list().selectPosition(deleted);
        w.LvDataChange();

        env.prompts.expectMessage(kDeleteNote, No, kStyle324);
        QTest::keyClick(&env.list(), Qt::Key_Delete);
        QCOMPARE(env.list().count(), notes);
        env.prompts.expectMessage(kDeleteNote, Yes, kStyle324);
        test::trigger(w, u"mnuListDel");
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QCOMPARE(env.list().count(), notes - 1);
        QCOMPARE(env.scalar(QStringLiteral("select count(*) from T_idea where id=?"), {deleted}).toInt(), 0);
        QCOMPARE(env.editorTitle(), shownAfter);
        if (notes > 1)
            QCOMPARE(env.list().selectedPosition(), deleted > 1 ? deleted - 1 : 1);
    }
};

QTEST_MAIN(TestEditCommands)
#include "tst_editcommands.moc"
