#pragma once

#include "shell/commands.h"
#include "store/views.h"

#include <QList>

class QAction;
class QComboBox;
#include <QMainWindow>

namespace zumilo::shell {
struct AppState;
class StatusPanels;
} // namespace zumilo::shell

namespace zumilo::store {
class Database;
}

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

    // The window's own connection to the open database (nullptr when none).
    virtual store::Database* database() const = 0;
    // The notes the window shows: the main window's list, the grid's
    // current view (with its search and sort), the single-record window's
    // walk.
    virtual store::NoteView view() const = 0;
    // The numbers of the notes the window shows, in the order it shows them.
    // Throws StoreError when they cannot be read (a skipped note would be
    // missing from an export without a word).
    virtual QList<qint64> shownNotes() const = 0;
    // Searches all notes for `term` in their titles or bodies, showing the
    // result the way this window does (the main and grid windows).
    virtual void findInAllNotes(const QString& term, bool inBodies) = 0;
};

// The screen font of the note's text boxes as stored ("Position":
// "FontName", "FontSize"; `defaultSize` when not stored).
void applyScreenFont(CommandWindow& window, double defaultSize);
// The stored wrapping ("Position"/"orikae") into WrapState: the body box
// that wraps or the one that does not, the menu's check mark, the tool
// button's pressed state.
void ApplyWordWrapSetting(CommandWindow& window);

// The window a shared command runs in, as a CommandWindow.
inline CommandWindow* commandWindow(QMainWindow& window)
{
    return dynamic_cast<CommandWindow*>(&window);
}

} // namespace zumilo::records
