// The category picker of an editor: a panel under the category button with
// the categories loaded level by level, writing the choice into the editor.

#include "support/fixtures.h"

#include "records/recordeditor.h"
#include "shell/twips.h"
#include "store/database.h"
#include "tree/categorypicker.h"
#include "tree/categorytree.h"

#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

using namespace zumilo;
using namespace Qt::StringLiterals;

namespace {

struct Env : test::EditorApp {
    store::Database* given = db.get(); // what the picker is handed
    std::unique_ptr<tree::CategoryPicker> picker;

    Env() : EditorApp(records::EditorKind::Main)
    {
        placeButton(QPoint(300, 100));
        picker = std::make_unique<tree::CategoryPicker>(
            &canvas, *editor, [this] { return given; }, [] { return QStringLiteral("notes.zmd"); });
        // 仕事 > 会議 > {議事録, 予定}; bunID order is not name order.
        category(1, QStringLiteral("仕事"), 0);
        category(3, QStringLiteral("会議"), 1);
        category(5, QStringLiteral("議事録"), 3);
        category(6, QStringLiteral("予定"), 3);
        category(4, QStringLiteral("O'Brien の棚"), 0);
        category(2, QStringLiteral("a 趣味"), 0);
        editor->setText(3, QStringLiteral("元の分類"));
        editor->setText(7, QStringLiteral("77"));
        editor->setRecordChanged(false);
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
    bool panelShown() const { return picker->panel()->isVisible(); }
    void pressCategoryButton() { QTest::mouseClick(editor->categoryButton(), Qt::LeftButton); }
    void clickNode(const QString& key)
    {
        QTreeWidgetItem* node = tree().node(key);
        QVERIFY2(node, qPrintable(key));
        QTest::mouseClick(tree().viewport(), Qt::LeftButton, {}, tree().visualItemRect(node).center());
    }
    QStringList children(const QString& key) const
    {
        QStringList texts;
        const QTreeWidgetItem* node = tree().node(key);
        for (int i = 0; node && i < node->childCount(); ++i)
            texts << node->child(i)->text(0);
        return texts;
    }
};

enum class Broken { NoConnection, ClosedConnection, TableGone, TableGoneWhileOpen };

} // namespace

Q_DECLARE_METATYPE(Broken)

class TestCategoryPicker : public QObject {
    Q_OBJECT

private slots:
    void opensUnderTheButtonWithTheTopLevelAlone_data()
    {
        QTest::addColumn<QPoint>("button");
        QTest::addColumn<bool>("leftEdge");
        QTest::addColumn<bool>("bottomEdge");
        QTest::newRow("room enough") << QPoint(300, 100) << false << false;
        QTest::newRow("near the left edge") << QPoint(20, 100) << true << false;
        QTest::newRow("near the bottom") << QPoint(300, 570) << false << true;
    }
    void opensUnderTheButtonWithTheTopLevelAlone()
    {
        QFETCH(QPoint, button);
        QFETCH(bool, leftEdge);
        QFETCH(bool, bottomEdge);
        Env env;
        env.placeButton(button);
        QVERIFY(!env.panelShown());
        env.pressCategoryButton();

        QVERIFY(env.panelShown());
        const QFrame& panel = *env.picker->panel();
        QCOMPARE(panel.size(), QSize(shell::twipsToPixels(3615), shell::twipsToPixels(4095)));
        const QToolButton* b = env.editor->categoryButton();
        QCOMPARE(panel.pos(), QPoint(leftEdge ? 0 : b->x() - env.editor->lineBox(3)->width(),
                                     bottomEdge ? env.canvas.height() - panel.height() : b->y() + b->height()));

        QTreeWidgetItem* root = env.tree().rootNode();
        QCOMPARE(tree::CategoryTree::keyOf(root), QStringLiteral("0_id"));
        QCOMPARE(root->text(0), QStringLiteral("notes.zmd"));
        QVERIFY(root->isExpanded());
        QCOMPARE(env.tree().currentItem(), root);
        QCOMPARE(env.children(QStringLiteral("0_id")),
                 (QStringList{QStringLiteral("a 趣味"), QStringLiteral("O'Brien の棚"), QStringLiteral("仕事")}));
        QCOMPARE(env.children(QStringLiteral("1_id")), QStringList{});
        QCOMPARE(env.picker->pickedBunID(), QStringLiteral("0"));
        QCOMPARE(env.picker->pickedBunName(), QString());
        QTRY_VERIFY(env.tree().hasFocus());
    }

    void levelsLoadOnceWhenClicked()
    {
        Env env;
        env.pressCategoryButton();
        env.clickNode(QStringLiteral("1_id"));
        env.clickNode(QStringLiteral("3_id"));
        QCOMPARE(env.picker->pickedBunID(), QStringLiteral("3"));
        QCOMPARE(env.picker->pickedBunName(), QStringLiteral("会議"));
        QVERIFY(env.tree().node(QStringLiteral("3_id"))->isExpanded());
        const QStringList meetings{QStringLiteral("予定"), QStringLiteral("議事録")};
        QCOMPARE(env.children(QStringLiteral("3_id")), meetings);

        // Clicking again reads nothing more: no doubles, later rows wait.
        env.category(8, QStringLiteral("後から"), 3);
        env.clickNode(QStringLiteral("3_id"));
        env.clickNode(QStringLiteral("1_id"));
        QCOMPARE(env.children(QStringLiteral("3_id")), meetings);
        QCOMPARE(env.children(QStringLiteral("1_id")), QStringList{QStringLiteral("会議")});

        // A category with nothing below is asked again at every click.
        env.clickNode(QStringLiteral("5_id"));
        env.category(9, QStringLiteral("第一回"), 5);
        env.clickNode(QStringLiteral("5_id"));
        QCOMPARE(env.children(QStringLiteral("5_id")), QStringList{QStringLiteral("第一回")});

        // Closed and opened again: the top level afresh.
        env.pressCategoryButton();
        env.pressCategoryButton();
        QCOMPARE(env.children(QStringLiteral("1_id")), QStringList{});
        QCOMPARE(env.picker->pickedBunID(), QStringLiteral("0"));
    }

    // "決定" writes the category clicked last into the editor; the button
    // pressed again or Escape closes the panel and leaves the editor alone.
    void closingWritesOnlyTheDecidedChoice_data()
    {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QString>("closedBy"); // "decide", "button", "escape"
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("number");
        QTest::newRow("root") << QStringList{u"1_id"_s, u"0_id"_s} << u"decide"_s << u"."_s << u"0"_s;
        QTest::newRow("quote in the name") << QStringList{u"4_id"_s} << u"decide"_s << u"O'Brien の棚"_s << u"4"_s;
        QTest::newRow("deep") << QStringList{u"1_id"_s, u"3_id"_s} << u"decide"_s << u"会議"_s << u"3"_s;
        QTest::newRow("second press") << QStringList{u"1_id"_s} << u"button"_s << u"元の分類"_s << u"77"_s;
        QTest::newRow("escape") << QStringList{u"1_id"_s} << u"escape"_s << u"元の分類"_s << u"77"_s;
    }
    void closingWritesOnlyTheDecidedChoice()
    {
        QFETCH(QStringList, clicks);
        QFETCH(QString, closedBy);
        QFETCH(QString, name);
        QFETCH(QString, number);
        Env env;
        env.pressCategoryButton();
        for (const QString& key : clicks)
            env.clickNode(key);
        if (closedBy == u"decide")
            QTest::mouseClick(env.picker->panel()->findChild<QPushButton*>(QStringLiteral("cmdBunrui(0)")),
                              Qt::LeftButton);
        else if (closedBy == u"escape")
            QTest::keyClick(&env.tree(), Qt::Key_Escape);
        else
            env.pressCategoryButton();

        QVERIFY(!env.panelShown());
        QCOMPARE(env.editor->text(3), name);
        QCOMPARE(env.editor->text(7), number);
        QCOMPARE(env.editor->RecordChanged(), closedBy == u"decide");
    }

    void anUnreadableDatabaseClosesThePanel_data()
    {
        QTest::addColumn<Broken>("broken");
        QTest::newRow("no connection") << Broken::NoConnection;
        QTest::newRow("closed connection") << Broken::ClosedConnection;
        QTest::newRow("table gone") << Broken::TableGone;
        QTest::newRow("table gone while open") << Broken::TableGoneWhileOpen;
    }
    void anUnreadableDatabaseClosesThePanel()
    {
        QFETCH(Broken, broken);
        Env env;
        if (broken == Broken::NoConnection)
            env.given = nullptr;
        else if (broken == Broken::ClosedConnection)
            env.db->close();
        else if (broken == Broken::TableGone)
            env.db->execute(QStringLiteral("DROP TABLE T_bunrui"));
        env.pressCategoryButton();
        if (broken == Broken::TableGoneWhileOpen) {
            env.db->execute(QStringLiteral("DROP TABLE T_bunrui"));
            env.clickNode(QStringLiteral("1_id"));
        }
        QVERIFY(!env.panelShown());
        QVERIFY(!env.editor->RecordChanged());
    }
};

QTEST_MAIN(TestCategoryPicker)
#include "tst_categorypicker.moc"
