#pragma once

#include "categorybrowser.h"
#include "categoryedits.h"
#include "mainpanes.h"
#include "openfilesession.h"
#include "records/commandwindow.h"
#include "shell/appstate.h"
#include "shell/requests.h"

#include <QEventLoopLocker>
#include <QHash>
#include <QMainWindow>
#include <memory>

class QAction;
class QComboBox;
class QToolBar;
class QMenu;

namespace zumilo::grid {
class GridWindow;
}

namespace zumilo::tree {
class CategorySearchWindow;
}

namespace zumilo::records {
class DraftKeeper;
class RecordWindow;
} // namespace zumilo::records

namespace zumilo::shell {
class StatusPanels;
}

namespace zumilo::app {

using shell::AppState;
using shell::StatusPanels;
using shell::TwipsLayout;

// The main window (Form1): lives for the whole run and works on one
// database file at a time: the category tree on the left, the notes of the
// current category at the top right, the editor below. It also owns the
// start-up and shut-down steps of the program, and wires its pieces: the
// open file's session, the panes, the category browser and its edits.
class MainWindow : public QMainWindow, public records::CommandWindow {
    Q_OBJECT
public:
    explicit MainWindow(AppState& state, QWidget* parent = nullptr);
    ~MainWindow() override;

    // --- start-up and shut-down ---------------------------------------
    void Form_Load();
    // Runs when the user comes back to this window from another window of
    // the program (not from its message boxes, not from another program).
    void Form_Activate();
    // Returns false only when the user chose to stay after a failed save.
    bool Form_QueryUnload();
    void Form_Unload();
    void mnuEnd_Click();
    // Offers what a run that ended without its shut-down left unsaved,
    // and comes back here from the windows it is restored into.
    void offerDrafts();

    // --- database files -------------------------------------------------
    bool DBCheckOK() const { return session_->DBCheckOK(); }
    void mnuOpenDB_Click() { session_->mnuOpenDB_Click(); }
    void switchTo(const QString& path) { session_->switchTo(path); }
    void mnuDBnew_Click() { session_->mnuDBnew_Click(); }
    void mnuDBnew2_Click() { session_->mnuDBnew2_Click(); }

    // --- tree -------------------------------------------------------------
    void LoadCategoryTree() { browser_->LoadCategoryTree(); }
    void NodeClick(QTreeWidgetItem* node) { browser_->NodeClick(node); }
    void jumpTo(const shell::JumpRequest& request) { browser_->jumpTo(request); }
    bool jumpPending() const { return browser_->jumpPending(); }
    void OpenCategorySearch(const QString& text);
    tree::CategorySearchWindow* categorySearch() const { return search_.get(); }
    void mnuBunTuika_Click() { edits_->mnuBunTuika_Click(); }
    void mnuBunDel_Click() { edits_->mnuBunDel_Click(); }
    void TreeView1_DropCategory(const QString& draggedKey, QTreeWidgetItem* target)
    {
        edits_->TreeView1_DropCategory(draggedKey, target);
    }
    void TreeView1_DropRecord(const QString& recordKey, QTreeWidgetItem* target)
    {
        edits_->TreeView1_DropRecord(recordKey, target);
    }

    // --- list and editor ----------------------------------------------------
    void RefreshRecordList() { browser_->RefreshRecordList(); }
    void LvDataChange() { browser_->LvDataChange(); }
    void mnuUpdate_Click() { browser_->mnuUpdate_Click(); }
    void mnuUpdateAs_Click() { browser_->mnuUpdateAs_Click(); }
    void mnuListDel_Click() { browser_->mnuListDel_Click(); }
    void TabStrip1_Click(int index);
    // Hands over to the grid window, on the view CurrentTab.
    void ShowGridWindow();
    grid::GridWindow* gridWindow() const { return grid_.get(); }

    // --- layout -------------------------------------------------------------
    void SizeControls(double x) { panes_->SizeControls(x); }
    void SizeControls2(double y) { panes_->SizeControls2(y); }

    // --- access for other windows and tests ------------------------------------
    RecentFiles& recentFiles() const { return session_->recentFiles(); }
    StatusPanels& statusPanels() const override { return *panels_; }
    store::Database* currentDatabase() const { return session_->database(); }
    store::Recordset* listRecordset() const { return browser_->listRecordset(); }
    QAction* action(const QString& name) const override { return actions_.value(name); }
    AppState& state() const override { return st_; }
    tree::CategoryTree* categoryTree() const { return panes_->tree(); }
    records::RecordList* recordList() const { return panes_->list(); }
    records::RecordEditor* editor() const override { return panes_->editor(); }
    shell::WindowKind windowKind() const override { return shell::WindowKind::Main; }
    QComboBox* searchBox() const override { return searchBox_; }
    store::Database* database() const override { return session_->database(); }
    store::NoteView view() const override { return browser_->view(); }
    QList<qint64> shownNotes() const override { return browser_->shownNotes(); }
    // The grid window's search view and the category search, for `term`.
    void findInAllNotes(const QString& term, bool inBodies) override;
    QToolBar* toolBar() const { return toolBar_; }
    TwipsLayout& layout() { return panes_->layout(); }
    bool recordChanged() const { return browser_->recordChanged(); }
    int listPosition() const { return browser_->listPosition(); }
    // The note chosen last, here or saved in a single-record window.
    const QString& currentIdeaId() const { return browser_->currentIdeaId(); }
    qint64 savedRecordId() const { return browser_->savedRecordId(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildWindow();
    void wirePieces();
    // The steps every switch to another file shares: editor, tree, current
    // category, caption, list.
    void showOpenedDatabase();
    // The other windows let go of the open file; false when a single-record
    // window stays open (its note could not be saved).
    bool closeOtherWindows();
    void mnuTreeBunFind_Click();
    // Opens the selected note in a single-record window (double click,
    // Enter, "データ更新").
    void ListView1_DblClick();
    void mnuDataAdd_Click();
    // A single-record window opened from here; its closing brings the user
    // back to this window.
    void watchSingleWindow(records::RecordWindow* window);
    // The user comes back here from another window of ours: the window is
    // rebuilt once it is shown, whatever activation events arrive.
    void comeBack(const shell::ReturnRequest& request);
    void applyTextSettings();
    void onActivated();

    AppState& st_;
    QHash<QString, QAction*> actions_;
    std::unique_ptr<StatusPanels> panels_;
    QTimer* backupWatch_ = nullptr; // at the end, until the backups are finished
    std::unique_ptr<QEventLoopLocker> backupWait_;

    QWidget* canvas_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QComboBox* searchBox_ = nullptr;
    QMenu* treeMenu_ = nullptr;
    QMenu* listMenu_ = nullptr;

    // Declared in the order they rely on one another: the open file
    // outlives every reader of it.
    std::unique_ptr<OpenFileSession> session_;
    std::unique_ptr<MainPanes> panes_;
    std::unique_ptr<records::DraftKeeper> drafts_;
    std::unique_ptr<CategoryBrowser> browser_;
    std::unique_ptr<CategoryEdits> edits_;
    std::unique_ptr<tree::CategorySearchWindow> search_;
    std::unique_ptr<grid::GridWindow> grid_;
    bool unloaded_ = false;
    bool loaded_ = false;
    bool cameBack_ = false; // another window of ours was in use since the last rebuild
};

} // namespace zumilo::app
