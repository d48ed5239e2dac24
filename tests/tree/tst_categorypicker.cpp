// The category picker of an editor: a panel under the category button with
// the categories loaded level by level, writing the choice into the editor.

#include "support/fixtures.h"

#include "records/recordeditor.h"
#include "shell/statuspanels.h"
#include "shell/twips.h"
#include "store/database.h"
#include "tree/categorypicker.h"
#include "tree/categorytree.h"

#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

using namespace zumilo;

namespace {

struct Env : test::TestApp {
    QWidget canvas;
    QStatusBar bar;
    shell::StatusPanels panels{&bar};
    std::unique_ptr<records::RecordEditor> editor;
    std::shared_ptr<store::Database> db;
    store::Database* given = nullptr; // what the picker is handed
    std::unique_ptr<tree::CategoryPicker> picker;

    Env()
    {
        canvas.resize(800, 600);
        editor = std::make_unique<records::RecordEditor>(records::EditorKind::Main, &canvas, &panels, *state);
        placeButton(QPoint(300, 100));
        db = store::Database::open(makeDatabase(QStringLiteral("data/notes.zmd")));
        given = db.get();
        picker = std::make_unique<tree::CategoryPicker>(
            &canvas, *editor, [this] { return given; }, [] { return QStringLiteral("notes.zmd"); });
        canvas.show();
        canvas.activateWindow();
    }
    void placeButton(QPoint at)
    {
        editor->lineBox(3)->move(at.x() - editor->lineBox(3)->width(), at.y());
        editor->categoryButton()->move(at);
    }
    void category(int id, const QString& name, int parent)
    {
        db->execute(QStringLiteral("INSERT INTO T_bunrui(bunID,bunrui,oyabunID) VALUES(?,?,?)"), {id, name, parent});
    }
    tree::CategoryTree& tree() const { return *picker->tree(); }
    QFrame& panel() const { return *picker->panel(); }
    bool panelShown() const { return panel().isVisible(); }
    void pressCategoryButton() { QTest::mouseClick(editor->categoryButton(), Qt::LeftButton); }
    void pressDecide()
    {
        auto* decide = panel().findChild<QPushButton*>(QStringLiteral("cmdBunrui(0)"));
        QVERIFY(decide);
        QCOMPARE(decide->text(), QStringLiteral("決定"));
        QTest::mouseClick(decide, Qt::LeftButton);
    }
    void clickNode(const QString& key)
    {
        QTreeWidgetItem* node = tree().node(key);
        QVERIFY2(node, qPrintable(key));
        tree().scrollToItem(node);
        QTest::mouseClick(tree().viewport(), Qt::LeftButton, {}, tree().visualItemRect(node).center());
    }
};

QStringList childTexts(const QTreeWidgetItem* node)
{
    QStringList texts;
    for (int i = 0; node && i < node->childCount(); ++i)
        texts << node->child(i)->text(0);
    return texts;
}

enum class Closing { SecondPress, Escape };
enum class Broken { NoConnection, ClosedConnection, TableGone };

} // namespace

Q_DECLARE_METATYPE(Closing)
Q_DECLARE_METATYPE(Broken)

class TestCategoryPicker : public QObject {
    Q_OBJECT

private slots:
    void opensUnderTheButtonWithTheTopLevelAlone_data()
    {
        QTest::addColumn<QPoint>("button");
        QTest::addColumn<QPoint>("expected"); // (-1, y): against the left edge; (x, -1): against the bottom

        QTest::newRow("under the button") << QPoint(300, 100) << QPoint(0, 0);
        QTest::newRow("at the left edge") << QPoint(20, 100) << QPoint(-1, 0);
        QTest::newRow("at the bottom") << QPoint(300, 570) << QPoint(0, -1);
    }
    void opensUnderTheButtonWithTheTopLevelAlone()
    {
        QFETCH(QPoint, button);
        QFETCH(QPoint, expected);
        Env env;
        env.category(1, QStringLiteral("b 仕事"), 0);
        env.category(2, QStringLiteral("a 趣味"), 0);
        env.category(3, QStringLiteral("会議"), 1);
        env.category(4, QStringLiteral("O'Brien の棚"), 0);
        env.placeButton(button);
        QVERIFY(!env.panelShown());

        env.pressCategoryButton();
        QVERIFY(env.panelShown());
        QCOMPARE(env.panel().size(), QSize(shell::twipsToPixels(3615), shell::twipsToPixels(4095)));
        QToolButton* b = env.editor->categoryButton();
        const int left = expected.x() < 0 ? 0 : b->x() - env.editor->lineBox(3)->width();
        const int top = expected.y() < 0 ? env.canvas.height() - env.panel().height() : b->y() + b->height();
        QCOMPARE(env.panel().pos(), QPoint(left, top));

        QTreeWidgetItem* root = env.tree().rootNode();
        QVERIFY(root);
        QCOMPARE(tree::CategoryTree::keyOf(root), QStringLiteral("0_id"));
        QCOMPARE(root->text(0), QStringLiteral("notes.zmd"));
        QVERIFY(root->isExpanded());
        QCOMPARE(env.tree().currentItem(), root);
        QCOMPARE(childTexts(root),
                 (QStringList{QStringLiteral("a 趣味"), QStringLiteral("b 仕事"), QStringLiteral("O'Brien の棚")}));
        QCOMPARE(env.tree().node(QStringLiteral("1_id"))->childCount(), 0);
        QVERIFY(!env.tree().node(QStringLiteral("3_id")));
        QCOMPARE(env.picker->pickedBunID(), QStringLiteral("0"));
        QCOMPARE(env.picker->pickedBunName(), QString());
        QTRY_VERIFY(env.tree().hasFocus());
        QCOMPARE(env.tree().objectName(), QStringLiteral("TreeView2"));
    }

    void levelsLoadOnceWhenClicked()
    {
        Env env;
        env.category(1, QStringLiteral("仕事"), 0);
        env.category(3, QStringLiteral("会議"), 1);
        env.category(5, QStringLiteral("議事録"), 3);
        env.category(6, QStringLiteral("予定"), 3);
        env.category(7, QStringLiteral("趣味"), 0);
        env.pressCategoryButton();

        env.clickNode(QStringLiteral("1_id"));
        QCOMPARE(env.picker->pickedBunID(), QStringLiteral("1"));
        QCOMPARE(env.picker->pickedBunName(), QStringLiteral("仕事"));
        QTreeWidgetItem* work = env.tree().node(QStringLiteral("1_id"));
        QVERIFY(work->isExpanded());
        QCOMPARE(childTexts(work), QStringList{QStringLiteral("会議")});

        env.clickNode(QStringLiteral("3_id"));
        QTreeWidgetItem* meetings = env.tree().node(QStringLiteral("3_id"));
        QVERIFY(meetings->isExpanded());
        QCOMPARE(childTexts(meetings), (QStringList{QStringLiteral("予定"), QStringLiteral("議事録")}));
        QCOMPARE(env.picker->pickedBunName(), QStringLiteral("会議"));

        // Clicking again reads nothing more: no doubles, and later rows wait
        // for the next opening.
        env.category(8, QStringLiteral("後から"), 3);
        env.clickNode(QStringLiteral("3_id"));
        env.clickNode(QStringLiteral("1_id"));
        QCOMPARE(childTexts(meetings), (QStringList{QStringLiteral("予定"), QStringLiteral("議事録")}));
        QCOMPARE(childTexts(work), QStringList{QStringLiteral("会議")});
        QCOMPARE(env.tree().topLevelItemCount(), 1);

        // A category with nothing below is asked again at every click.
        env.clickNode(QStringLiteral("5_id"));
        QCOMPARE(env.tree().node(QStringLiteral("5_id"))->childCount(), 0);
        env.category(9, QStringLiteral("第一回"), 5);
        env.clickNode(QStringLiteral("5_id"));
        QCOMPARE(childTexts(env.tree().node(QStringLiteral("5_id"))), QStringList{QStringLiteral("第一回")});

        // Every opening starts afresh from the top level.
        env.pressCategoryButton();
        env.pressCategoryButton();
        QVERIFY(env.panelShown());
        QCOMPARE(env.picker->pickedBunID(), QStringLiteral("0"));
        QCOMPARE(env.tree().node(QStringLiteral("1_id"))->childCount(), 0);
        env.clickNode(QStringLiteral("1_id"));
        env.clickNode(QStringLiteral("3_id"));
        QCOMPARE(env.tree().node(QStringLiteral("3_id"))->childCount(), 3);
    }

    void decideWritesTheChoiceIntoTheEditor_data()
    {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("number");

        QTest::newRow("root") << QStringList{QStringLiteral("1_id"), QStringLiteral("0_id")} << QStringLiteral(".")
                              << QStringLiteral("0");
        QTest::newRow("quote in the name") << QStringList{QStringLiteral("4_id")} << QStringLiteral("O'Brien の棚")
                                           << QStringLiteral("4");
        QTest::newRow("deep category") << QStringList{QStringLiteral("1_id"), QStringLiteral("3_id")}
                                       << QStringLiteral("会議") << QStringLiteral("3");
    }
    void decideWritesTheChoiceIntoTheEditor()
    {
        QFETCH(QStringList, clicks);
        QFETCH(QString, name);
        QFETCH(QString, number);
        Env env;
        env.category(1, QStringLiteral("仕事"), 0);
        env.category(3, QStringLiteral("会議"), 1);
        env.category(4, QStringLiteral("O'Brien の棚"), 0);
        env.editor->setText(3, QStringLiteral("元の分類"));
        env.editor->setText(7, QStringLiteral("77"));
        env.editor->setRecordChanged(false);

        env.pressCategoryButton();
        for (const QString& key : clicks)
            env.clickNode(key);
        env.pressDecide();

        QVERIFY(!env.panelShown());
        QCOMPARE(env.editor->text(3), name);
        QCOMPARE(env.editor->text(7), number);
        QVERIFY(env.editor->RecordChanged());
    }

    void closingLeavesTheEditorAlone_data()
    {
        QTest::addColumn<Closing>("closing");
        QTest::newRow("second press") << Closing::SecondPress;
        QTest::newRow("escape") << Closing::Escape;
    }
    void closingLeavesTheEditorAlone()
    {
        QFETCH(Closing, closing);
        Env env;
        env.category(1, QStringLiteral("仕事"), 0);
        env.editor->setText(3, QStringLiteral("元の分類"));
        env.editor->setText(7, QStringLiteral("77"));
        env.editor->setRecordChanged(false);

        env.pressCategoryButton();
        QVERIFY(env.panelShown());
        env.clickNode(QStringLiteral("1_id"));
        if (closing == Closing::SecondPress)
            env.pressCategoryButton();
        else
            QTest::keyClick(&env.tree(), Qt::Key_Escape);

        QVERIFY(!env.panelShown());
        QCOMPARE(env.editor->text(3), QStringLiteral("元の分類"));
        QCOMPARE(env.editor->text(7), QStringLiteral("77"));
        QVERIFY(!env.editor->RecordChanged());
    }

    void anUnreadableDatabaseKeepsThePanelClosed_data()
    {
        QTest::addColumn<Broken>("broken");
        QTest::newRow("no connection") << Broken::NoConnection;
        QTest::newRow("closed connection") << Broken::ClosedConnection;
        QTest::newRow("category table gone") << Broken::TableGone;
    }
    void anUnreadableDatabaseKeepsThePanelClosed()
    {
        QFETCH(Broken, broken);
        Env env;
        env.category(1, QStringLiteral("仕事"), 0);
        switch (broken) {
        case Broken::NoConnection:
            env.given = nullptr;
            break;
        case Broken::ClosedConnection:
            env.db->close();
            break;
        case Broken::TableGone:
            env.db->execute(QStringLiteral("DROP TABLE T_bunrui"));
            break;
        }
        env.pressCategoryButton();
        QVERIFY(!env.panelShown());
        QCOMPARE(env.editor->text(3), QString());
    }

    void aTableLostWhileOpenClosesThePanel()
    {
        Env env;
        env.category(1, QStringLiteral("仕事"), 0);
        env.pressCategoryButton();
        env.db->execute(QStringLiteral("DROP TABLE T_bunrui"));
        env.clickNode(QStringLiteral("1_id"));
        QVERIFY(!env.panelShown());
        QVERIFY(!env.editor->RecordChanged());
    }
};

QTEST_MAIN(TestCategoryPicker)
#include "tst_categorypicker.moc"
