// The category search window: listing by name, literal matching of the
// typed text, the jump to the tree, and following the open database.

#include "support/fixtures.h"

#include "shell/twips.h"
#include "store/database.h"
#include "tree/categorysearch.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QtTest>

using namespace zumilo;
using namespace Qt::StringLiterals;

namespace {

// In bunID order, which is not name order.
const QStringList kNames{QStringLiteral("data 会議"), QStringLiteral("Apple"),        QStringLiteral("かなa"),
                         QStringLiteral("漢字"),      QStringLiteral("o'brien の棚"), QStringLiteral("5*3"),
                         QStringLiteral("53"),        QStringLiteral("java 入門"),    QStringLiteral("あさひ")};

struct Env : test::TestApp {
    QString dbPath = makeDatabase(QStringLiteral("data/notes.zmd"));
    std::shared_ptr<store::Database> db = store::Database::open(dbPath); // the main window's, as it were
    std::unique_ptr<tree::CategorySearchWindow> window;
    QStringList jumps;
    bool jumpFinds = true;

    Env()
    {
        for (int i = 0; i < kNames.size(); ++i)
            category(i + 1, kNames[i]);
        state->DatabasePath = dbPath;
        window = std::make_unique<tree::CategorySearchWindow>(*state, [this](const shell::JumpRequest& r) {
            jumps << QString::number(r.category) + (r.note ? QStringLiteral(" note") : QString());
            return jumpFinds;
        });
    }
    void category(int id, const QString& name, store::Database* into = nullptr)
    {
        (into ? into : db.get())
            ->execute(QStringLiteral("INSERT INTO T_bunrui(bunID,bunrui,oyabunID) VALUES(?,?,0)"), {id, name});
    }
    void open(const QString& text) { window->openSearch(text, QRect(320, 40, 460, 520)); }
    QTableView& grid() const { return *window->grid(); }
    QStringList column(int c) const
    {
        QStringList out;
        for (int r = 0; r < grid().model()->rowCount(); ++r)
            out << grid().model()->index(r, c).data().toString();
        return out;
    }
    QStringList names() const { return column(0); }
    void type(const QString& text)
    {
        window->searchBox()->clear();
        QTest::keyClicks(window->searchBox(), text);
    }
    // As the system sends it: a click, then the double click.
    void doubleClickRow(int row)
    {
        const QPoint at = grid().visualRect(grid().model()->index(row, 0)).center();
        QTest::mouseClick(grid().viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(grid().viewport(), Qt::LeftButton, {}, at);
    }
};

void activate(QWidget& w)
{
    QEvent event(QEvent::WindowActivate);
    QApplication::sendEvent(&w, &event);
}

} // namespace

class TestCategorySearch : public QObject {
    Q_OBJECT

private slots:
    void loadingListsEveryCategoryByNumber()
    {
        Env env;
        QVERIFY(!env.window->isVisible());
        QCOMPARE(env.names(), kNames);
        QCOMPARE(env.column(1).value(8), QStringLiteral("9"));
    }

    void searchListsNamesContainingTheText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty: all by name")
            << QString() << QStringList{u"5*3"_s,          u"53"_s,     u"Apple"_s, u"data 会議"_s, u"java 入門"_s,
                                        u"o'brien の棚"_s, u"あさひ"_s, u"かなa"_s, u"漢字"_s};
        QTest::newRow("a letter, either case")
            << u"a"_s << QStringList{u"Apple"_s, u"data 会議"_s, u"java 入門"_s, u"かなa"_s};
        QTest::newRow("quote") << u"o'"_s << QStringList{u"o'brien の棚"_s};
        QTest::newRow("star alone") << u"*"_s << QStringList{u"5*3"_s};
        QTest::newRow("star between") << u"5*3"_s << QStringList{u"5*3"_s};
        QTest::newRow("japanese") << u"会議"_s << QStringList{u"data 会議"_s};
        QTest::newRow("nothing") << u"zz"_s << QStringList{};
    }
    void searchListsNamesContainingTheText()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        Env env;
        env.open(QStringLiteral("q"));
        QCOMPARE(env.names(), QStringList{});
        if (text.contains(QStringLiteral("会")))
            env.window->searchBox()->setText(text);
        else
            env.type(text); // the list follows every keystroke
        QCOMPARE(env.names(), expected);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void theFindButtonReadsTheTableAgain()
    {
        Env env;
        env.open(QStringLiteral("会"));
        env.category(20, QStringLiteral("会計"));
        QTest::mouseClick(env.window->findButton(), Qt::LeftButton);
        QCOMPARE(env.names(), (QStringList{QStringLiteral("data 会議"), QStringLiteral("会計")}));

        env.category(21, QStringLiteral("会社"));
        QTRY_VERIFY(env.window->isActiveWindow());
        QTest::keyClick(env.window.get(), Qt::Key_A, Qt::AltModifier);
        QTRY_COMPARE(env.names().size(), 3);
    }

    void openingPlacesTheWindowBesideTheMainWindow_data()
    {
        QTest::addColumn<QRect>("main");
        QTest::addColumn<QString>("side");
        QTest::newRow("room on the left") << QRect(320, 40, 460, 520) << u"left"_s;
        QTest::newRow("room only on the right") << QRect(60, 40, 460, 520) << u"right"_s;
        QTest::newRow("room on neither side") << QRect(20, 40, 760, 520) << u"screen's right edge"_s;
    }
    void openingPlacesTheWindowBesideTheMainWindow()
    {
        QFETCH(QRect, main);
        QFETCH(QString, side);
        Env env;
        env.window->openSearch(QStringLiteral("java"), main);
        QVERIFY(env.window->isVisible());
        const QRect frame = env.window->frameGeometry();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(screen.contains(frame));
        QCOMPARE(frame.top(), main.top() + shell::twipsToPixels(1100));
        if (side == u"left")
            QCOMPARE(frame.right(), main.left() - 1);
        else if (side == u"right")
            QCOMPARE(frame.left(), main.right() + 1);
        else
            QCOMPARE(frame.right(), screen.right());
        QCOMPARE(frame.height(), main.height() - shell::twipsToPixels(1100));
        QCOMPARE(env.window->searchBox()->text(), QStringLiteral("java"));
        QCOMPARE(env.names(), QStringList{QStringLiteral("java 入門")});
    }

    void doubleClickJumpsToTheCategory_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("jumps");
        QTest::newRow("a row") << u"a"_s << QStringList{u"1"_s};
        QTest::newRow("empty result") << u"zz"_s << QStringList{};
    }
    void doubleClickJumpsToTheCategory()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, jumps);
        Env env;
        env.open(text);
        env.doubleClickRow(1);
        QCOMPARE(env.jumps, jumps);
    }

    void aCategoryGoneFromTheTreeRefreshesTheList_data()
    {
        QTest::addColumn<bool>("deleted");
        QTest::newRow("deleted since the search") << true;       // so gone from the tree too
        QTest::newRow("in the table, not in the tree") << false; // its parent is missing
    }
    void aCategoryGoneFromTheTreeRefreshesTheList()
    {
        QFETCH(bool, deleted);
        Env env;
        env.open(QStringLiteral("a"));
        QCOMPARE(env.names().value(2), QStringLiteral("java 入門"));
        if (deleted)
            env.db->execute(QStringLiteral("DELETE FROM T_bunrui WHERE bunID=?"), QVariantList{8});
        env.jumpFinds = false;
        env.category(30, QStringLiteral("xa")); // shows only when the list is read again

        env.doubleClickRow(2);
        if (!deleted) // a deleted row may show empty and ask the tree nothing
            QCOMPARE(env.jumps, QStringList{QStringLiteral("8")});
        QCOMPARE(env.names().contains(QStringLiteral("java 入門")), !deleted);
        QVERIFY(env.names().contains(QStringLiteral("xa")));
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void followsTheMainWindowToAnotherDatabase_data()
    {
        QTest::addColumn<bool>("byOpening");
        QTest::newRow("activation") << false;
        QTest::newRow("opening a search") << true;
    }
    void followsTheMainWindowToAnotherDatabase()
    {
        QFETCH(bool, byOpening);
        Env env;
        env.open(QStringLiteral("a"));
        const QString other = env.makeDatabase(QStringLiteral("data/other.zmd"));
        {
            auto db = store::Database::open(other);
            env.category(2, QStringLiteral("b 二"), db.get());
            env.category(1, QStringLiteral("c 一"), db.get());
            env.category(3, QStringLiteral("a 三"), db.get());
        }
        env.state->DatabasePath = other;
        if (byOpening) {
            env.open(QStringLiteral("a"));
            QCOMPARE(env.names(), QStringList{QStringLiteral("a 三")});
        } else {
            activate(*env.window);
            QCOMPARE(env.names(),
                     (QStringList{QStringLiteral("c 一"), QStringLiteral("b 二"), QStringLiteral("a 三")}));
        }
        env.type(QStringLiteral("j")); // not the first file's "java 入門"
        QCOMPARE(env.names(), QStringList{});
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
    }

    void anUnreadableDatabaseIsReportedOnce()
    {
        Env env;
        env.open(QString());
        env.state->DatabasePath = env.writeFile(QStringLiteral("data/broken.zmd"), QByteArray("not a database"));
        env.prompts.expectMessage(QString());
        activate(*env.window);
        activate(*env.window);
        ZUMILO_VERIFY_PROMPTS_DONE(env.prompts);
        QVERIFY(env.prompts.messages().value(0).startsWith(QStringLiteral("分類を読み込めませんでした。")));
        QCOMPARE(env.names(), QStringList{});

        // Once the file is usable again, a search reads it.
        QFile::remove(env.state->DatabasePath);
        QVERIFY(QFile::copy(env.dbPath, env.state->DatabasePath));
        env.type(QStringLiteral("java"));
        QCOMPARE(env.names(), QStringList{QStringLiteral("java 入門")});
    }
};

QTEST_MAIN(TestCategorySearch)
#include "tst_categorysearch.moc"
