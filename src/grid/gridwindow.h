#pragma once

#include "datacontrol.h"
#include "gridsearch.h"

#include "shell/requests.h"
#include "shell/twipslayout.h"

#include <QHash>
#include <QMainWindow>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QToolBar;
class QLineEdit;
class QMenu;
class QPushButton;

namespace zumilo::shell {
struct AppState;
class IndexBuildNotice;
class StatusPanels;
class TabStrip;
} // namespace zumilo::shell

namespace zumilo::store {
class Database;
}

#include "records/commandwindow.h"
#include "records/drafts.h"
#include "records/recordeditor.h"

namespace zumilo::tree {
class CategoryPicker;
}

namespace zumilo::grid {

class GridLayout;
class GridView;
class RecordPane;

// What the grid window asks of the main window.
struct GridLinks {
    // The main window takes this place (QWidget::geometry()) and shows
    // itself; the grid window hides right after.
    std::function<void(const QRect& geometry)> showMainWindow;
    // The main window's jump to a note's category and the note.
    std::function<void(const shell::JumpRequest&)> jump;
    // Closing the grid window ends the program.
    std::function<void()> endProgram;
};

// The grid window (Form3): the four views of all notes (search, important,
// scheduled, recent) as a grid on the view tabs, the record pane that edits
// the grid's current row, and the data control between them. One instance
// lives for the run; it takes the main window's place when one of its four
// tabs is chosen, and gives it back for the category tab. The window makes
// the controls and wires them; GridLayout places them, GridSearch chooses
// and reads the rows, RecordPane edits the current one.
class GridWindow : public QMainWindow, public records::CommandWindow {
    Q_OBJECT
public:
    GridWindow(shell::AppState& state, GridLinks links, QWidget* parent = nullptr);
    ~GridWindow() override;

    // Takes the main window's place (its geometry()), loads the window the
    // first time, shows it and activates it on the view CurrentTab.
    void showInPlaceOf(const QRect& mainGeometry);

    // --- life of the window -----------------------------------------------
    void Form_Load();
    // Re-points to DatabasePath when the main window opened another file,
    // then selects the view CurrentTab.
    void Form_Activate();
    // False when the user chose to stay after a save that failed.
    bool Form_QueryUnload();
    void Form_Unload();
    // Lets go of the file (while it is restored); the next activation opens
    // the open database again.
    void releaseDatabase();
    void Form_Resize();
    void SizeControls(double x);
    void FindTabYes();
    void FindTabNo();

    // --- views and sorting ------------------------------------------------------
    void TabStrip1_Click(int index);
    void DBGrid1_HeadClick(int column);
    void DBGrid1_MouseDown(Qt::MouseButton button, const QPoint& globalPos);
    void cmdRCFind_Click(int index);

    // --- the data control ---------------------------------------------------------
    void Data1_Reposition();
    // The data control's question before its current row is left or
    // deleted (RecordPane::validate).
    bool Data1_Validate(DataAction action);

    // --- commands -------------------------------------------------------------------
    void mnuUpdate_Click();
    void mnuDataDel_Click();
    void mnuFileDataAdd_Click();
    void mnuDouki_Click();
    void mnuMoveFirst_Click();
    void mnuMoveMae_Click();
    void mnuMoveNext_Click();
    void mnuMoveLast_Click();

    // --- access for the other windows and tests ----------------------------------
    DataControl* data() const { return data_; }
    GridView* grid() const { return grid_; }
    records::RecordEditor* editor() const override { return editor_.get(); }
    shell::WindowKind windowKind() const override { return shell::WindowKind::Grid; }
    shell::AppState& state() const override { return st_; }
    QComboBox* searchBox() const override { return searchBox_; }
    store::Database* database() const override { return GridDatabase.get(); }
    store::NoteView view() const override { return data_->view(); }
    QList<qint64> shownNotes() const override;
    // Stays in this window: its own search view, searched for `term`.
    void findInAllNotes(const QString& term, bool inBodies) override;
    tree::CategoryPicker* picker() const { return picker_.get(); }
    shell::StatusPanels& statusPanels() const override { return *panels_; }
    shell::TabStrip* tabStrip() const { return tabStrip_; }
    QLineEdit* searchBox(int index) const;    // Text2(0), Text2(1)
    QPushButton* findButton(int index) const; // cmdRCFind(0..2)
    QMenu* gridPopupMenu();                   // the view menu less the font entries
    QAction* action(const QString& name) const override { return actions_.value(name); }
    shell::TwipsLayout& layout();
    store::Database* gridDatabase() const { return GridDatabase.get(); }
    const store::NoteView& searchTabView() const;
    const QString& gridSortField() const;
    const QString& gridSortOrder() const;
    // Edits in the record pane not yet written, or a new row.
    bool recordChanged() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildWindow();
    void applyTextSettings();
    // `read` false leaves the rows unread, for a view that follows at once.
    // Shows every note by number until a view is chosen.
    void openDatabase(bool read = true);

    shell::AppState& st_;
    GridLinks links_;
    QHash<QString, QAction*> actions_;
    std::unique_ptr<shell::StatusPanels> panels_;

    QWidget* canvas_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QComboBox* searchBox_ = nullptr;
    shell::TabStrip* tabStrip_ = nullptr;
    GridView* grid_ = nullptr;
    DataControl* data_ = nullptr;
    std::unique_ptr<records::RecordEditor> editor_;
    std::unique_ptr<GridLayout> layout_;
    std::unique_ptr<RecordPane> pane_;
    std::unique_ptr<GridSearch> search_;
    std::unique_ptr<tree::CategoryPicker> picker_;
    std::unique_ptr<records::DraftKeeper> drafts_;
    QMenu* gridPopup_ = nullptr;

    std::shared_ptr<store::Database> GridDatabase;
    shell::IndexBuildNotice* indexNotice_ = nullptr;

    QString shownTab_; // the view the grid shows
    bool loaded_ = false;
    bool unloaded_ = false;
};

} // namespace zumilo::grid
