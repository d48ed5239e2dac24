#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace zumilo::shell {

// One entry of a window's menu tree. Level 0 is a menu of the bar, 1 an
// entry of it, 2 an entry of a submenu. An empty caption is a separator.
struct MenuEntry {
    const char* name;
    const char* caption; // UTF-8, "&" marks the access key
    int level;
};

// The menu trees of the windows, in display order.
const QList<MenuEntry>& mainWindowMenus();
const QList<MenuEntry>& recordWindowMenus();
const QList<MenuEntry>& gridWindowMenus();

using MenuHandlers = QHash<QString, std::function<void()>>;

// Builds a menu bar from a tree. An entry appears when it has a handler or
// is a menu with such entries. Entries named in `placeholders` are created
// hidden (with their handler, if any), for entries filled at run time such
// as the recent files. A
// separator appears only between two shown entries. Every action and menu
// gets its entry's name as objectName. Returns the actions by name (menus
// by their menuAction()).
QHash<QString, QAction*> buildMenuBar(QMenuBar* bar, const QList<MenuEntry>& entries,
                                      const MenuHandlers& handlers,
                                      const QSet<QString>& placeholders = {});

// Finds a window's action by its entry name.
QAction* findAction(QWidget* window, const QString& name);

} // namespace zumilo::shell
