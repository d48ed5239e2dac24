#pragma once

#include "shell/requests.h"
#include "store/error.h"
#include "store/views.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

class QTreeWidgetItem;

namespace zumilo::shell {
struct AppState;
class StatusPanels;
} // namespace zumilo::shell

namespace zumilo::store {
class Recordset;
}

namespace zumilo::tree {
class CategoryTree;
}

namespace zumilo::records {
class RecordEditor;
class RecordList;
struct SaveOutcome;
} // namespace zumilo::records

namespace zumilo::app {

class MainPanes;
class OpenFileSession;

// The main window's tree, list and editor working together: choosing a
// category, listing its notes, showing, tracking and saving the chosen one,
// the jumps other windows ask for, and the list rebuilt when the user
// comes back from another window.
class CategoryBrowser : public QObject {
public:
    CategoryBrowser(shell::AppState& state, QWidget& window, OpenFileSession& session, MainPanes& panes,
                    shell::StatusPanels& panels);
    ~CategoryBrowser() override;

    // --- tree -------------------------------------------------------------
    void LoadCategoryTree();
    void NodeClick(QTreeWidgetItem* node);
    void mnuTreeRefresh_Click();
    void mnuTreeAllOpen_Click();
    void mnuTreeAllClose_Click();
    // Select the request's category (and, for Douki, its note). False, with
    // the tree unchanged, when the category is not in the tree.
    bool Douki_Bun(const shell::JumpRequest& request);
    bool Douki(const shell::JumpRequest& request);
    // Another window's jump: done now, and the note chosen again once the
    // window is rebuilt on becoming active (an empty category waits for it).
    void jumpTo(const shell::JumpRequest& request);
    // The category search's jump: false, with nothing left waiting, when the
    // category is not in the tree.
    bool jumpToCategory(const shell::JumpRequest& request);
    bool jumpPending() const { return pendingJump_.has_value(); }
    void dropPendingJump() { pendingJump_.reset(); }

    // --- the open file ------------------------------------------------------
    // The tree and list of a file just opened, at its root category; the
    // list is read once the caller has named the file.
    void showCategories();
    // Lets go of every recordset on the open file.
    void dropReaders();

    // --- list -------------------------------------------------------------
    void RefreshRecordList();
    // Fills the list from ListRecordset; the failure is the caller's to tell.
    store::StepResult FillRecordList();
    QList<qint64> shownNotes() const;
    void mnuMoveFirst_Click();
    void mnuMoveMae_Click();
    void mnuMoveNext_Click();
    void mnuMoveLast_Click();
    void mnuUpdateAs_Click();
    void mnuListDel_Click();

    // --- editor -------------------------------------------------------------
    void UpdateFields();
    void FieldsClear();
    void LvDataChange();
    // Writes the editor into the current row. False when nothing was stored.
    bool UpdateRecordSet();
    // Asks whether to save the changed note. False only when the user said
    // yes and the save failed: the caller must not leave the note then.
    bool CheckToSave();
    // False when the note is changed and the user stays on it.
    bool mayLeaveNote() { return !recordChanged() || CheckToSave(); }
    void mnuUpdate_Click();
    bool recordChanged() const;

    // --- coming back from another window ---------------------------------------
    // The list rebuilt, with the jump asked for or the note the user left
    // chosen again; false when the note to choose is not listed yet.
    bool rebuild(const QString& returned);
    // A single-record window closed, handing back its note.
    void singleWindowReturned(const std::optional<qint64>& note);
    void setCurrentIdeaId(const QString& id) { currentIdeaId_ = id; }

    void reportStoreError(const QString& what, const QString& detail);

    store::Recordset* listRecordset() const { return ListRecordset.get(); }
    store::NoteView view() const { return ListNotes; }
    int listPosition() const { return ListPosition; }
    const QString& currentIdeaId() const { return currentIdeaId_; }
    qint64 savedRecordId() const { return SavedRecordID; }

private:
    // Makes the note with this ID current in ListRecordset; false when the
    // recordset does not hold it.
    bool findRecord(const QString& id);
    // Tells `what` failed, once, naming the file and the cause.
    void tellReadFailure(const store::StepResult& read, const QString& what);
    // Shows the note with this ID from ListRecordset; false (and the editor
    // unchanged) when the list's recordset does not hold it.
    bool showRecord(const QString& id);
    // Selects and shows the list's first note, or empties the editor.
    void showFirstRecord();
    // After a save: the list read afresh, the saved note chosen and shown as
    // stored, with what the user typed into refused fields kept.
    void showSaved(const records::SaveOutcome& outcome);
    void setStatusCount();
    // The four moves: `step` picks the new position from the current one
    // and the count, or returns 0 to refuse with `notice`.
    void moveInList(const std::function<int(int position, int count)>& step, const QString& notice);

    shell::AppState& st_;
    QWidget& window_;
    OpenFileSession& session_;
    shell::StatusPanels& panels_;
    tree::CategoryTree* tree_;
    records::RecordList* list_;
    records::RecordEditor* editor_;

    std::unique_ptr<store::Recordset> CategoryRecordset;
    std::shared_ptr<store::Recordset> ListRecordset;
    store::NoteView ListNotes;
    qint64 SavedRecordID = 0;
    int ListPosition = 0;
    QString currentIdeaId_;
    std::optional<shell::JumpRequest> pendingJump_;
    bool singleWindowReturned_ = false; // a single-record window closed since the last rebuild
};

} // namespace zumilo::app
