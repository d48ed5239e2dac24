#pragma once

#include <QHash>
#include <QKeySequence>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>

class QAction;
class QComboBox;
class QIcon;
class QMainWindow;
class QToolBar;
class QWidget;

namespace zumilo::shell {

// The three windows that carry menus and a tool bar.
enum class WindowKind {
    Main,   // Form1
    Single, // Form2
    Grid,   // Form3
};

// One entry of a window's menu tree. Level 0 is a menu of the bar, 1 an
// entry of it, 2 an entry of a submenu. An empty caption is a separator.
struct MenuEntry {
    const char* name;
    const char* caption; // UTF-8, "&" marks the access key
    int level;
};

// A key of a window's tool bar, in display order. The key "tbCombo1" is
// where the search box lies; an empty key is a separator.
struct ToolKey {
    const char* key;
    const char* toolTip; // UTF-8
    const char* image;   // the picture's name ("Save", "Arw05up"...)
    const char* command; // the command it runs; "" when it runs nothing here
};

// The command map: the menu trees, the tool bars with the "Findpage"
// drop-down, and the shortcuts of each window.
const QList<MenuEntry>& menuTree(WindowKind kind);
const QList<ToolKey>& toolKeys(WindowKind kind);
const QList<ToolKey>& findDropDown(WindowKind kind);
QKeySequence shortcutFor(WindowKind kind, const QString& command);
// A picture of the desktop's icon theme, or the one the program brings.
QIcon toolIcon(const QString& image);
// The program's own icon.
QIcon programIcon();
// A picture the program brings, at the sizes of it there are; a null icon
// where there are none.
QIcon bundledIcon(const QString& picture, const QList<int>& sizes);
// Gives the application a style whose menu and tool bars read the picture
// of their overflow button only when it is drawn (it shows when a bar
// lacks room). Qt's style reads it as each bar is built, and loads every
// image plugin to ask which reads it.
void readOverflowIconsWhenDrawn();

// A window's own handlers, by command name.
using MenuHandlers = QHash<QString, std::function<void()>>;

// Commands every window runs the same way, whatever window it is: the
// text tools, export, printing, the about box. Added once at start-up; a
// handler is given the window it runs in.
class SharedCommands {
public:
    using Handler = std::function<void(QMainWindow& window)>;
    void add(const QString& name, Handler handler) { handlers_.insert(name, std::move(handler)); }
    Handler find(const QString& name) const { return handlers_.value(name); }

    // What a feature sets up in every window once it is built (following
    // the window's activation, its editor's signals...).
    void onAttach(Handler hook) { hooks_.append(std::move(hook)); }
    // Each window calls this at the end of its construction.
    void attach(QMainWindow& window) const
    {
        for (const Handler& hook : hooks_)
            hook(window);
    }

private:
    QHash<QString, Handler> handlers_;
    QList<Handler> hooks_;
};

// What a window's commands came to.
struct CommandSet {
    QHash<QString, QAction*> actions; // by name: commands, menus (their menuAction()) and separators
    QToolBar* toolBar = nullptr;      // Toolbar1, on `toolBarParent`
    QComboBox* searchBox = nullptr;   // Combo1, on the tool bar
};

// Builds a window's menu bar and tool bar from the map: one QAction per
// command, shared by its menu entry and tool button, with its caption,
// shortcut, tool tip and picture, running the window's own handler or else
// the shared one. A command with neither is shown disabled. Entries named
// in `placeholders` are created hidden, for entries filled at run time
// such as the recent files. Every action, menu and tool button gets its
// entry's name (or key) as objectName.
CommandSet buildCommands(QMainWindow* window, WindowKind kind, QWidget* toolBarParent, const MenuHandlers& own,
                         const SharedCommands* shared, const QSet<QString>& placeholders = {});

// The tool bar's height in twips: the windows' controls start below it.
inline constexpr double kToolBarHeight = 400;

} // namespace zumilo::shell
