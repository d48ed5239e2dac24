#pragma once

#include "shell/commands.h"

class QAction;
class QComboBox;
#include <QMainWindow>

namespace zumilo::shell {
struct AppState;
class StatusPanels;
} // namespace zumilo::shell

namespace zumilo::records {

class RecordEditor;

// What the commands every window shares (text tools, export, printing)
// ask of the window they run in. The three windows implement it.
class CommandWindow {
public:
    virtual ~CommandWindow() = default;
    virtual shell::WindowKind windowKind() const = 0;
    virtual shell::AppState& state() const = 0;
    virtual RecordEditor* editor() const = 0;
    virtual shell::StatusPanels& statusPanels() const = 0;
    // Combo1, the search box on the tool bar.
    virtual QComboBox* searchBox() const = 0;
    virtual QAction* action(const QString& name) const = 0;
};

// The window a shared command runs in, as a CommandWindow.
inline CommandWindow* commandWindow(QMainWindow& window)
{
    return dynamic_cast<CommandWindow*>(&window);
}

} // namespace zumilo::records
