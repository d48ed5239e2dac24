#pragma once

#include "fixtures.h"

#include <QAnyStringView>
#include <QVariantMap>
#include <memory>

class QAbstractItemModelTester;
class QMainWindow;

namespace zumilo::store {
class Database;
}
namespace zumilo::app {
class MainWindow;
}
namespace zumilo::tree {
class CategoryTree;
}
namespace zumilo::records {
class RecordEditor;
class RecordList;
class RecordWindow;
} // namespace zumilo::records

namespace zumilo::test {

// Runs one of the window's commands ("mnuPrint1"), as its menu item does;
// fails the test when the window has no such command or it is disabled.
void trigger(QMainWindow& window, QAnyStringView command);
// Clicks one of the window's view tabs ("FindTab") with the mouse.
void clickTab(QWidget& window, QAnyStringView key);
// Drags with the left button from `start` in `from` to `end` in `to` and lets
// go there, through the platform's own drag loop (a platform that drags: xcb).
// Returns once the drag has ended, with how many drops `to` was given.
int dragAndDrop(QWidget* from, QPoint start, QWidget* to, QPoint end);

// A TestApp whose settings name a fresh database (data/notes.zmd, without
// the seed note), with a second connection to fill it and check it, and the
// main window on it.
class MainWindowApp : public TestApp {
public:
    MainWindowApp();
    ~MainWindowApp();

    void category(qint64 id, const QString& name, qint64 parent);
    // A note; `columns` sets further columns by name (naiyo, kijituDate...).
    void note(qint64 id, const QString& title, qint64 bunID, const QVariantMap& columns = {});
    QVariant scalar(const QString& sql, const QVariantList& params = {}) const;

    // Creates the main window, loads and shows it.
    app::MainWindow& load();
    // Clicks a category's node with the mouse.
    void choose(const QString& nodeKey);
    // Activates another window of the program, then the main window again,
    // as the user does coming back to it.
    void returnToMainWindow();

    tree::CategoryTree& tree() const;
    records::RecordList& list() const;
    records::RecordEditor& editor() const;
    // The single-record windows shown.
    QList<records::RecordWindow*> recordWindows() const;

    QString dbPath;
    std::shared_ptr<store::Database> db;
    std::unique_ptr<app::MainWindow> window;
    // Fails the test when the record list's model breaks Qt's rules for models.
    std::unique_ptr<QAbstractItemModelTester> listTester;
};

} // namespace zumilo::test
