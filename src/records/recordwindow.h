#pragma once

#include "commandwindow.h"

#include "shell/requests.h"
#include "shell/twipslayout.h"
#include "store/error.h"

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <memory>
#include <optional>

class QAction;
class QComboBox;
class QToolBar;

namespace zumilo::shell {
struct AppState;
class StatusPanels;
} // namespace zumilo::shell

namespace zumilo::store {
class Database;
class Recordset;
} // namespace zumilo::store

namespace zumilo::tree {
class CategoryPicker;
}

namespace zumilo::records {

class DraftKeeper;
struct NoteFields;
class RecordEditor;
enum class SaveMode;

// The notes of a category in the order the main list was last sorted:
// columns 0 to 4 are title, due date, updated, created and number; order 1
// is descending. Any other column sorts nothing.
store::NoteView categoryNotes(qint64 category, int sortColumn, int sortOrder);

// A window of its own for one note at a time (Form2), beside the main
// window; any number may be open. Each holds its own connection to the
// database and walks the notes of the category it was opened on, in the
// order the main list was sorted in. When it closes it hands back the note
// it showed (returned()), so that the main window selects that note again.
class RecordWindow : public QMainWindow, public CommandWindow {
    Q_OBJECT
public:
    // Opens a window without blocking on the note `request` names, or on a
    // new note of the current category. Counts the window in
    // SingleWindowCount; the window deletes itself when it closes.
    static RecordWindow* open(shell::AppState& state, const shell::OpenRequest& request);

    // open() is the way in; a window made directly is not counted, loaded
    // or shown.
    explicit RecordWindow(shell::AppState& state, QWidget* parent = nullptr);
    ~RecordWindow() override;

    // --- life of the window -----------------------------------------------
    void Form_Load(const shell::OpenRequest& request);
    // Runs whenever the window becomes the active one.
    void Form_Activate();
    void Form_Resize();
    // False when the user chose to stay after a save that failed.
    bool Form_QueryUnload();
    void Form_Unload();

    // --- the note -------------------------------------------------------------
    void FieldsClear();
    // Shows the recordset's current row; nothing without one.
    void UpdateFields();
    // Starts a new note of the current category; edits shown before are dropped.
    void DataAdd();
    // Writes the editor into the note shown (or stores the new note). False
    // when nothing was stored: the edits then stay, still marked changed.
    bool UpdateRecordSet();
    // Asks whether to save; false only when the user said yes and the save
    // failed, so the caller must not leave the note.
    bool CheckToSave();

    // --- commands ---------------------------------------------------------------
    void mnuAddNew_Click();
    void mnuUpdate_Click();
    void mnuUpdateAs_Click();
    void mnuEnd_Click();
    void mnuMoveFirst_Click();
    void mnuMoveMae_Click();
    void mnuMoveNext_Click();
    void mnuMoveLast_Click();

    // --- access for the other windows and tests ---------------------------------
    RecordEditor* editor() const override { return editor_.get(); }
    shell::StatusPanels& statusPanels() const override { return *panels_; }
    shell::WindowKind windowKind() const override { return shell::WindowKind::Single; }
    shell::AppState& state() const override { return st_; }
    QComboBox* searchBox() const override { return searchBox_; }
    store::Database* database() const override { return WindowDatabase.get(); }
    store::NoteView view() const override { return WindowView; }
    QList<qint64> shownNotes() const override;
    // Not from this window: it has no search of all notes.
    void findInAllNotes(const QString&, bool) override {}
    tree::CategoryPicker* picker() const { return picker_.get(); }
    DraftKeeper* draftKeeper() const { return drafts_.get(); }
    // Shows a draft left by a run that did not end properly, as the user's
    // unsaved change; the caption says so until it is saved or dropped.
    void showRestoredDraft(const NoteFields& fields);
    store::Database* windowDatabase() const { return WindowDatabase.get(); }
    store::Recordset* windowRecordset() const { return WindowRecordset.get(); }
    const QString& windowCategoryName() const { return WindowCategoryName; }
    bool recordChanged() const;
    bool newRecordMode() const { return NewRecordMode; }
    // The note this window stands on was deleted, here or elsewhere.
    bool noteGone() const { return noteGone_; }
    QAction* action(const QString& name) const override { return actions_.value(name); }
    shell::TwipsLayout& layout() { return layout_; }

signals:
    // The window closed; emitted once, before the window goes.
    void returned(const shell::ReturnRequest& request);
    // A note was stored from this window: the one the main window selects
    // when the user comes back to it.
    void noteSaved(qint64 id);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildLayout();
    void applyWrapSetting();
    void updateCaption();
    bool restoredDraft_ = false;
    void fillCategory();
    // Shows the current row, or says that it is gone or unreadable; then
    // the count. The failure is for the caller to tell, once.
    store::StepResult showCurrent();
    void showCount();
    void markGone();
    // The note shown could not be read: saves say so rather than write.
    void markUnread(const store::StoreError& e);
    void tellReadFailure(const store::StepResult& read);
    void move(void (*step)(store::Recordset&));
    // False, after telling the user, when the window has no connection.
    bool connected();
    // Saves the note shown, a new note or a copy, then shows it as stored.
    bool save(SaveMode mode);

    shell::AppState& st_;
    QHash<QString, QAction*> actions_;
    std::unique_ptr<shell::StatusPanels> panels_;
    QWidget* canvas_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QComboBox* searchBox_ = nullptr;
    std::unique_ptr<RecordEditor> editor_;
    std::unique_ptr<tree::CategoryPicker> picker_;
    std::unique_ptr<DraftKeeper> drafts_;
    QString windowPath_; // the file this window opened
    shell::TwipsLayout layout_;
    double bodyTop_ = 1500;

    std::shared_ptr<store::Database> WindowDatabase;
    std::unique_ptr<store::Recordset> WindowRecordset;
    store::NoteView WindowView;
    QString WindowCategoryName;
    bool NewRecordMode = false;
    bool noteGone_ = false;
    QString loadError_;
    std::optional<store::StoreError> readFailure_;
    bool loaded_ = false;
    bool unloaded_ = false;
};

} // namespace zumilo::records
