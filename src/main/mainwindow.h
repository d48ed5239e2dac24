#pragma once

#include "records/commandwindow.h"
#include "shell/appstate.h"
#include "shell/requests.h"
#include "shell/twipslayout.h"
#include "store/error.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QThread>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QTimer;
class QComboBox;
class QToolBar;
class QMenu;
class QTabBar;
class QTreeWidgetItem;

namespace zumilo::store {
class Database;
class Recordset;
} // namespace zumilo::store

namespace zumilo::grid {
class GridWindow;
}

namespace zumilo::tree {
class CategoryPicker;
class CategorySearchWindow;
class CategoryTree;
} // namespace zumilo::tree

namespace zumilo::records {
class DraftKeeper;
class RecordEditor;
class RecordList;
class RecordWindow;
struct SaveOutcome;
} // namespace zumilo::records

namespace zumilo::shell {
class SplitterBar;
class SplitterHandle;
class StatusPanels;
class TabStrip;
} // namespace zumilo::shell

namespace zumilo::app {

using shell::AppState;
using shell::SplitterBar;
using shell::SplitterHandle;
using shell::StatusPanels;
using shell::TabStrip;
using shell::TwipsLayout;

class RecentFiles;

// The main window (Form1): lives for the whole run and works on one
// database file at a time: the category tree on the left, the notes of the
// current category at the top right, the editor below. It also owns the
// start-up and shut-down steps of the program.
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
    bool DBCheckOK() const;
    void mnuOpenDB_Click();
    void mnuRecentFile_Click(int index);
    // Opens another file by its path, as the recent-file entries do.
    void switchTo(const QString& path);
    // F1: the help database beside the program (or the user's copy of it).
    void openHelpDatabase();
    // Opens DatabasePath and switches the window to it; the caller has set
    // the Previous* names and the new ones.
    void OpenDatabaseFile();
    void mnuDBnew_Click();
    void mnuDBnew2_Click();
    // Puts one of the open file's backups in its place, after asking.
    void mnuRestoreBackup_Click();

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
    // Another window's jump: done now, and the note chosen again once this
    // window is rebuilt on becoming active (an empty category waits for it).
    void jumpTo(const shell::JumpRequest& request);
    bool jumpPending() const { return pendingJump_.has_value(); }
    void mnuTreeBunFind_Click();
    void OpenCategorySearch(const QString& text);
    tree::CategorySearchWindow* categorySearch() const { return search_.get(); }

    // --- editing the tree ----------------------------------------------------
    void mnuBunTuika_Click();
    void mnuBunRename_Click();
    void TreeView1_AfterLabelEdit(QTreeWidgetItem* node, const QString& oldText);
    void mnuBunDel_Click();
    void TreeView1_DropCategory(const QString& draggedKey, QTreeWidgetItem* target);
    void TreeView1_DropRecord(const QString& recordKey, QTreeWidgetItem* target);

    // --- record commands ----------------------------------------------------
    // Opens the selected note in a single-record window (double click,
    // Enter, "データ更新").
    void ListView1_DblClick();
    void mnuDataAdd_Click();
    void mnuMoveFirst_Click();
    void mnuMoveMae_Click();
    void mnuMoveNext_Click();
    void mnuMoveLast_Click();
    void mnuUpdateAs_Click();
    void mnuListDel_Click();

    // --- list -------------------------------------------------------------
    void RefreshRecordList();
    // Fills the list from ListRecordset; the failure is the caller's to tell.
    store::StepResult FillRecordList();
    void ColumnClick(int column);
    void TabStrip1_Click(int index);
    // Hands over to the grid window, on the view CurrentTab.
    void ShowGridWindow();
    grid::GridWindow* gridWindow() const { return grid_.get(); }

    // --- editor -------------------------------------------------------------
    void UpdateFields();
    void FieldsClear();
    void LvDataChange();
    // Writes the editor into the current row. False when nothing was stored.
    bool UpdateRecordSet();
    // Asks whether to save the changed note. False only when the user said
    // yes and the save failed: the caller must not leave the note then.
    bool CheckToSave();
    void mnuUpdate_Click();

    // --- layout -------------------------------------------------------------
    void Form_Resize();
    void SizeControls(double x);
    void SizeControls2(double y);

    // --- access for other windows and tests ------------------------------------
    RecentFiles& recentFiles() const { return *recent_; }
    StatusPanels& statusPanels() const override { return *panels_; }
    store::Database* currentDatabase() const { return CurrentDatabase.get(); }
    store::Recordset* listRecordset() const { return ListRecordset.get(); }
    QAction* action(const QString& name) const override { return actions_.value(name); }
    AppState& state() const override { return st_; }
    tree::CategoryTree* categoryTree() const { return tree_; }
    records::RecordList* recordList() const { return list_; }
    records::RecordEditor* editor() const override { return editor_.get(); }
    shell::WindowKind windowKind() const override { return shell::WindowKind::Main; }
    QComboBox* searchBox() const override { return searchBox_; }
    store::Database* database() const override { return CurrentDatabase.get(); }
    store::NoteView view() const override { return ListNotes; }
    QList<qint64> shownNotes() const override;
    // The grid window's search view and the category search, for `term`.
    void findInAllNotes(const QString& term, bool inBodies) override;
    QToolBar* toolBar() const { return toolBar_; }
    TwipsLayout& layout() { return layout_; }
    bool recordChanged() const;
    int listPosition() const { return ListPosition; }
    // The note chosen last, here or saved in a single-record window.
    const QString& currentIdeaId() const { return currentIdeaId_; }
    qint64 savedRecordId() const { return SavedRecordID; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildWindow();
    void buildLayout();
    void restoreLayout();
    void fitMinimumSize();
    void saveLayout();
    void createDatabaseFile(bool withStarterCategories);
    // Every window of ours lets go of the open file; false when a
    // single-record window stays open (its note could not be saved).
    bool releaseFile();
    // The steps every switch to another file shares: recordsets, editor,
    // tree, current category, caption, list.
    void showOpenedDatabase();
    void attachDatabase(std::shared_ptr<store::Database> db);
    // Says in the status bar while the open file's search index is being
    // built in the background.
    void watchIndexBuild();
    // Opens a file, showing how far the search index's catch-up has got.
    std::shared_ptr<store::Database> openFile(const QString& path);
    // Shows how far a rebuild of the search index has got.
    std::function<void(qint64, qint64)> indexProgress(const QString& path);
    // Looks the open file over on a thread of its own once it is shown
    // (see Database::checkThoroughly): a damaged search index is rebuilt,
    // damaged pages are named.
    void checkOpenFile();
    void onFileChecked(const QString& path, int health);
    QString firstStartDatabasePath() const;
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
    // A single-record window opened from here; its closing brings the user
    // back to this window.
    void watchSingleWindow(records::RecordWindow* window);
    // The user comes back here from another window of ours: the window is
    // rebuilt once it is shown, whatever activation events arrive.
    void comeBack(const shell::ReturnRequest& request);
    void applyTextSettings();
    void setStatusCount();
    // The four moves: `step` picks the new position from the current one
    // and the count, or returns 0 to refuse with `notice`.
    void moveInList(const std::function<int(int position, int count)>& step, const QString& notice);
    void reportStoreError(const QString& what, const QString& detail);
    void onActivated();

    AppState& st_;
    QHash<QString, QAction*> actions_;
    std::unique_ptr<RecentFiles> recent_;
    std::unique_ptr<StatusPanels> panels_;
    QLabel* indexNotice_ = nullptr;
    QTimer* indexWatch_ = nullptr;
    QTimer* backupWatch_ = nullptr; // at the end, until the backups are finished

    QWidget* canvas_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QComboBox* searchBox_ = nullptr;
    TabStrip* tabStrip_ = nullptr;
    tree::CategoryTree* tree_ = nullptr;
    records::RecordList* list_ = nullptr;
    std::unique_ptr<records::RecordEditor> editor_;
    std::unique_ptr<tree::CategoryPicker> picker_;
    std::unique_ptr<records::DraftKeeper> drafts_;
    std::unique_ptr<tree::CategorySearchWindow> search_;
    std::unique_ptr<grid::GridWindow> grid_;
    std::unique_ptr<QThread> check_;
    bool checkAgain_ = false; // another file was opened while one was looked at
    SplitterHandle* splitter_ = nullptr;
    SplitterBar* splitterBar_ = nullptr;
    SplitterHandle* splitter2_ = nullptr;
    SplitterBar* splitterBar2_ = nullptr;
    QMenu* treeMenu_ = nullptr;
    QMenu* listMenu_ = nullptr;
    TwipsLayout layout_;
    bool SplitterMoving = false;
    bool Splitter2Moving = false;

    std::shared_ptr<store::Database> CurrentDatabase;
    std::unique_ptr<store::Recordset> CategoryRecordset;
    std::shared_ptr<store::Recordset> ListRecordset;
    store::NoteView ListNotes;
    qint64 SavedRecordID = 0;
    int ListPosition = 0;
    bool unloaded_ = false;
    bool loaded_ = false;
    bool cameBack_ = false; // another window of ours was in use since the last rebuild
    QString currentIdeaId_;
    std::optional<shell::JumpRequest> pendingJump_;
    bool singleWindowReturned_ = false; // a single-record window closed since the last rebuild
};

} // namespace zumilo::app
