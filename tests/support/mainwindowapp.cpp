#include "mainwindowapp.h"

#include "main/mainwindow.h"
#include "records/commandwindow.h"
#include "records/recordlist.h"
#include "records/recordwindow.h"
#include "shell/tabstrip.h"
#include "store/database.h"
#include "tree/categorytree.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTabBar>
#include <QTimer>
#include <QtTest>

namespace zumilo::test {

void trigger(QMainWindow& window, QAnyStringView command)
{
    records::CommandWindow* commands = records::commandWindow(window);
    QAction* action = commands ? commands->action(command.toString()) : nullptr;
    QVERIFY2(action && action->isEnabled(), qPrintable(command.toString()));
    action->trigger();
}

void clickTab(QWidget& window, QAnyStringView key)
{
    auto* strip = window.findChild<shell::TabStrip*>(QStringLiteral("TabStrip1"));
    const int index = int(shell::TabStrip::keys().indexOf(key.toString()));
    QVERIFY2(strip && index >= 0, qPrintable(key.toString()));
    QTest::mouseClick(strip->bar(), Qt::LeftButton, {}, strip->bar()->tabRect(index).center());
}

namespace {

class DropCounter : public QObject {
public:
    int drops = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        drops += event->type() == QEvent::Drop;
        return false;
    }
};

} // namespace

int dragAndDrop(QWidget* from, QPoint start, QWidget* to, QPoint end)
{
    DropCounter counter;
    to->installEventFilter(&counter);
    const auto uninstall = qScopeGuard([&] { to->removeEventFilter(&counter); });
    // The drag loop runs inside the move that starts it and ends on the
    // release it sees: queued now, the rest of the gesture runs in that loop.
    bool released = false;
    QTimer::singleShot(0, to, [&] {
        QTest::mouseMove(to, end - QPoint(1, 1));
        QTest::mouseMove(to, end);
        QTest::mouseRelease(to, Qt::LeftButton, {}, end);
        released = true;
    });
    QTest::mousePress(from, Qt::LeftButton, {}, start);
    const QPoint step(QApplication::startDragDistance() + 1, 0);
    QTest::mouseMove(from, start + step);
    QTest::mouseMove(from, start + 2 * step);
    [&] { QTRY_VERIFY(released); }();
    return counter.drops;
}

MainWindowApp::MainWindowApp()
{
    dbPath = makeDatabase(QStringLiteral("data/notes.zmd"));
    db = store::Database::open(dbPath);
    db->execute(QStringLiteral("DELETE FROM T_idea")); // the seed note would only be in the way
    settings->write(shell::Settings::DBName, QStringLiteral("LastNameFull"), dbPath);
    settings->write(shell::Settings::DBName, QStringLiteral("LastName"), QStringLiteral("notes.zmd"));
}

MainWindowApp::~MainWindowApp() = default;

void MainWindowApp::category(qint64 id, const QString& name, qint64 parent)
{
    db->execute(QStringLiteral("INSERT INTO T_bunrui(bunID,bunrui,oyabunID) VALUES(?,?,?)"), {id, name, parent});
}

void MainWindowApp::note(qint64 id, const QString& title, qint64 bunID, const QVariantMap& columns)
{
    QStringList names{QStringLiteral("id"), QStringLiteral("title"), QStringLiteral("bunID"), QStringLiteral("jyuyoCK"),
                      QStringLiteral("kanryoCK")};
    QVariantList values{id, title.isNull() ? QVariant() : QVariant(title), bunID, 0, 0};
    for (auto it = columns.cbegin(); it != columns.cend(); ++it) {
        names << it.key();
        values << it.value();
    }
    const QStringList marks(names.size(), QStringLiteral("?"));
    db->execute(QStringLiteral("INSERT INTO T_idea(%1) VALUES(%2)")
                    .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
                values);
}

QVariant MainWindowApp::scalar(const QString& sql, const QVariantList& params) const
{
    return db->scalar(sql, params);
}

app::MainWindow& MainWindowApp::load()
{
    listTester.reset();
    window = std::make_unique<app::MainWindow>(*state);
    listTester = std::make_unique<QAbstractItemModelTester>(window->recordList()->listModel());
    window->Form_Load();
    window->show();
    return *window;
}

void MainWindowApp::choose(const QString& nodeKey)
{
    QTreeWidgetItem* node = tree().node(nodeKey);
    QVERIFY2(node, qPrintable(nodeKey));
    tree().scrollToItem(node);
    QTest::mouseClick(tree().viewport(), Qt::LeftButton, {}, tree().visualItemRect(node).center());
}

void MainWindowApp::returnToMainWindow()
{
    QLineEdit other;
    other.show();
    other.activateWindow();
    other.setFocus();
    QTRY_VERIFY(other.hasFocus());
    window->activateWindow();
    QTRY_VERIFY(window->isActiveWindow());
}

tree::CategoryTree& MainWindowApp::tree() const
{
    return *window->categoryTree();
}

records::RecordList& MainWindowApp::list() const
{
    return *window->recordList();
}

records::RecordEditor& MainWindowApp::editor() const
{
    return *window->editor();
}

QList<records::RecordWindow*> MainWindowApp::recordWindows() const
{
    QList<records::RecordWindow*> list;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* r = qobject_cast<records::RecordWindow*>(w); r && r->isVisible())
            list << r;
    }
    return list;
}

} // namespace zumilo::test
