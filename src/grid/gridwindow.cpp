#include "gridwindow.h"

#include "gridlayout.h"
#include "gridview.h"
#include "recordpane.h"

#include "records/notesave.h"
#include "records/recordeditor.h"
#include "shell/appstate.h"
#include "shell/clock.h"
#include "shell/closesteps.h"
#include "shell/commands.h"
#include "shell/prompts.h"
#include "shell/recordsetmodel.h"
#include "shell/statuspanels.h"
#include "shell/tabstrip.h"
#include "store/database.h"
#include "store/error.h"
#include "store/recordset.h"
#include "tree/categorypicker.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

using zumilo::store::StoreError;
using zumilo::store::tryStep;

namespace zumilo::grid {

namespace {

const QString kBunTab = QStringLiteral("BunTab");

// The rows before a view is chosen.
store::NoteView byNumber()
{
    store::NoteView v;
    v.sortFields = QStringList{QStringLiteral("id")};
    return v;
}

} // namespace

GridWindow::GridWindow(shell::AppState& state, GridLinks links, QWidget* parent)
    : QMainWindow(parent), st_(state), links_(std::move(links))
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Zumilo"));
    buildWindow();
    if (st_.commands)
        st_.commands->attach(*this);
}

GridWindow::~GridWindow()
{
    // The grid lets go of the rows before the data control frees them.
    if (grid_)
        grid_->setModel(nullptr);
}

void GridWindow::buildWindow()
{
    const shell::MenuHandlers handlers{
        {QStringLiteral("mnuFileDataAdd"), [this] { mnuFileDataAdd_Click(); }},
        {QStringLiteral("mnuUpdate"), [this] { mnuUpdate_Click(); }},
        {QStringLiteral("mnuDataDel"), [this] { mnuDataDel_Click(); }},
        {QStringLiteral("mnuDouki"), [this] { mnuDouki_Click(); }},
        {QStringLiteral("mnuMoveFirst"), [this] { mnuMoveFirst_Click(); }},
        {QStringLiteral("mnuMoveMae"), [this] { mnuMoveMae_Click(); }},
        {QStringLiteral("mnuMoveNext"), [this] { mnuMoveNext_Click(); }},
        {QStringLiteral("mnuMoveLast"), [this] { mnuMoveLast_Click(); }},
        // Closing this window ends the program, as its frame's close does.
        {QStringLiteral("mnuEnd"), [this] { close(); }},
    };
    canvas_ = new QWidget(this);
    canvas_->setObjectName(QStringLiteral("canvas"));
    setCentralWidget(canvas_);
    const shell::CommandSet commands = shell::buildCommands(this, shell::WindowKind::Grid, canvas_, handlers,
                                                            st_.commands);
    actions_ = commands.actions;
    toolBar_ = commands.toolBar;
    searchBox_ = commands.searchBox;
    gridPopup_ = new QMenu(this);
    gridPopup_->setObjectName(QStringLiteral("DBGrid1_Popup"));

    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    panels_ = std::make_unique<shell::StatusPanels>(statusBar());
    indexNotice_ = new shell::IndexBuildNotice(statusBar(), [this] {
        return GridDatabase && GridDatabase->isOpen() && GridDatabase->searchIndexBuilding();
    });
    // Created first, so that the grid and the search controls lie on it.
    tabStrip_ = new shell::TabStrip(canvas_);
    grid_ = new GridView(canvas_);
    const SearchBar searchBar = SearchBar::create(canvas_);
    editor_ = std::make_unique<records::RecordEditor>(records::EditorKind::Grid, canvas_, panels_.get(), st_);
    data_ = new DataControl(canvas_);
    layout_ = std::make_unique<GridLayout>(*this, toolBar_, tabStrip_, grid_, searchBar, *editor_, data_);
    pane_ = std::make_unique<RecordPane>(*editor_, *data_, *grid_, *panels_, st_, this,
                                         [this] { return GridDatabase.get(); });
    search_ = std::make_unique<GridSearch>(searchBar, *data_, *grid_, *pane_, st_, this);

    data_->setValidator([this](DataAction action) { return Data1_Validate(action); });
    connect(data_, &DataControl::repositioned, this, &GridWindow::Data1_Reposition);
    grid_->setModel(data_->model());
    connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { pane_->onGridRowChanged(current.isValid() ? current.row() : -1); });
    connect(grid_->horizontalHeader(), &QHeaderView::sectionClicked, this, &GridWindow::DBGrid1_HeadClick);
    connect(grid_, &GridView::popupRequested, this,
            [this](const QPoint& at) { DBGrid1_MouseDown(Qt::RightButton, at); });
    connect(grid_, &GridView::deleteRowRequested, this, &GridWindow::mnuDataDel_Click);
    connect(tabStrip_, &shell::TabStrip::tabClicked, this, &GridWindow::TabStrip1_Click);
    for (int i = 0; i < 3; ++i)
        connect(searchBar.buttons[size_t(i)], &QPushButton::clicked, this, [this, i] { cmdRCFind_Click(i); });
    for (QLineEdit* box : searchBar.boxes)
        connect(box, &QLineEdit::returnPressed, this, [this] { cmdRCFind_Click(0); });

    picker_ = std::make_unique<tree::CategoryPicker>(
        canvas_, *editor_, [this] { return GridDatabase.get(); }, [this] { return st_.DatabaseFileName; });
    drafts_ = std::make_unique<records::DraftKeeper>(*editor_, st_, this, QStringLiteral("grid"), [this] {
        return records::DraftNote{st_.DatabasePath, pane_->noteId()};
    });
}

QLineEdit* GridWindow::searchBox(int index) const
{
    return index == 0 || index == 1 ? search_->bar().boxes[size_t(index)] : nullptr;
}

QPushButton* GridWindow::findButton(int index) const
{
    return index >= 0 && index < 3 ? search_->bar().buttons[size_t(index)] : nullptr;
}

// --- life of the window ---------------------------------------------------------

void GridWindow::showInPlaceOf(const QRect& mainGeometry)
{
    Form_Load();
    if (mainGeometry.isValid())
        setGeometry(mainGeometry);
    show();
    raise();
    activateWindow();
    Form_Activate();
}

void GridWindow::Form_Load()
{
    if (loaded_)
        return;
    loaded_ = true;
    search_->reset();
    // A view about to be shown (Form_Activate) replaces these rows at once:
    // reading every note's number for them would be wasted.
    const QString view = st_.CurrentTab;
    openDatabase(shell::TabStrip::keys().indexOf(view) <= 0 || tabStrip_->selectedKey() == view);
    layout_->restore(st_.settings());
    applyTextSettings();
}

void GridWindow::Form_Activate()
{
    bool repointed = false;
    const QString key = st_.CurrentTab;
    const int index = int(shell::TabStrip::keys().indexOf(key));
    if (data_->databaseName() != st_.DatabasePath) {
        // Edits of a note belong to the file it came from.
        if (recordChanged())
            pane_->settleRow(DataAction::Close);
        openDatabase(index <= 0); // a view replaces the rows below
        repointed = true;
    }
    if (index > 0) {
        const bool changed = tabStrip_->selectedKey() != key;
        tabStrip_->selectKey(key);
        // A new file shows the chosen view, not the rows by number.
        if (changed || repointed)
            TabStrip1_Click(index);
        if (key == kFindTab)
            FindTabYes();
        else
            FindTabNo();
    }
    applyTextSettings();
}

void GridWindow::applyTextSettings()
{
    records::applyScreenFont(*this, 10);
    records::ApplyWordWrapSetting(*this);
}

void GridWindow::openDatabase(bool read)
{
    const QString path = st_.DatabasePath;
    data_->closeConnection();
    if (GridDatabase)
        tryStep([&] { GridDatabase->close(); }).ignoreFailure("given up for the new connection");
    GridDatabase.reset();

    auto open = [this](const QString& file) {
        auto db = store::Database::open(file);
        db->setTodayProvider([this] { return st_.clock().today(); });
        return db;
    };
    std::shared_ptr<store::Database> db;
    try {
        db = open(path);
        GridDatabase = open(path);
    } catch (const StoreError& e) {
        shell::showFailure(st_.prompts(), this, QStringLiteral("データベースを開けませんでした。"), path, e);
    }
    data_->setConnection(db, path);
    data_->setView(byNumber());
    if (!db || (read && !search_->refresh()))
        data_->setCurrentRow(-1); // an empty grid and pane rather than the old file's note
    setWindowTitle(shell::mainCaption(path));
    indexNotice_->watch();
}

bool GridWindow::Form_QueryUnload()
{
    if (recordChanged() && !pane_->settleRow(DataAction::Unload)
        && !records::closeWithoutSaving(st_.prompts(), this, true))
        return false;
    layout_->save(st_.settings());
    return true;
}

void GridWindow::Form_Unload()
{
    releaseDatabase();
    if (links_.endProgram)
        links_.endProgram();
}

void GridWindow::releaseDatabase()
{
    data_->closeConnection();
    if (GridDatabase)
        tryStep([&] { GridDatabase->close(); }).ignoreFailure("the window lets go of the file");
    GridDatabase.reset();
}

void GridWindow::closeEvent(QCloseEvent* event)
{
    shell::runCloseSteps(
        event, unloaded_, [this] { return Form_QueryUnload(); }, [this] { Form_Unload(); });
}

void GridWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // A build may have begun while the main window stood in its place.
    indexNotice_->watch();
}

void GridWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void GridWindow::Form_Resize()
{
    if (layout_)
        layout_->resize();
}

void GridWindow::SizeControls(double x)
{
    layout_->moveSplitter(x);
}

void GridWindow::FindTabYes()
{
    layout_->showSearchBar(true);
}

void GridWindow::FindTabNo()
{
    layout_->showSearchBar(false);
}

shell::TwipsLayout& GridWindow::layout()
{
    return layout_->twips();
}

// --- views -------------------------------------------------------------------------

void GridWindow::TabStrip1_Click(int index)
{
    const QString key = shell::TabStrip::keys().value(index);
    if (key.isEmpty())
        return;
    if (!pane_->settleRow(DataAction::Close)) {
        // The note could not be saved: stay on it, in its view.
        tabStrip_->selectKey(shownTab_);
        return;
    }
    st_.CurrentTab = key;
    if (key == kBunTab) {
        shownTab_ = key;
        if (links_.showMainWindow)
            links_.showMainWindow(geometry());
        hide();
        return;
    }
    search_->showView(key);
    shownTab_ = key;
    if (key == kFindTab) {
        FindTabYes();
        search_->bar().boxes[0]->setFocus();
    } else {
        FindTabNo();
    }
}

void GridWindow::DBGrid1_HeadClick(int column)
{
    search_->sortBy(column);
}

QMenu* GridWindow::gridPopupMenu()
{
    gridPopup_->clear();
    if (auto* view = menuBar()->findChild<QMenu*>(QStringLiteral("mnuHyoji"))) {
        for (QAction* a : view->actions()) {
            const QString name = a->objectName();
            if (name == QLatin1String("mnuFontAdd") || name == QLatin1String("mnuFontSub")
                || name == QLatin1String("mnuHyoji_1"))
                continue;
            gridPopup_->addAction(a);
        }
    }
    return gridPopup_;
}

void GridWindow::DBGrid1_MouseDown(Qt::MouseButton button, const QPoint& globalPos)
{
    if (button == Qt::RightButton)
        gridPopupMenu()->popup(globalPos);
}

// --- search --------------------------------------------------------------------------

void GridWindow::findInAllNotes(const QString& term, bool inBodies)
{
    st_.CurrentTab = kFindTab;
    const int index = int(shell::TabStrip::keys().indexOf(kFindTab));
    if (tabStrip_->selectedKey() != kFindTab) {
        tabStrip_->selectKey(kFindTab);
        TabStrip1_Click(index);
        if (shownTab_ != kFindTab)
            return; // the note shown could not be left
    }
    FindTabYes();
    search_->searchFor(term, inBodies);
}

QList<qint64> GridWindow::shownNotes() const
{
    return search_->shownNotes();
}

void GridWindow::cmdRCFind_Click(int index)
{
    search_->find(index);
}

const store::NoteView& GridWindow::searchTabView() const
{
    return search_->searchTabView();
}

const QString& GridWindow::gridSortField() const
{
    return search_->sortField();
}

const QString& GridWindow::gridSortOrder() const
{
    return search_->sortOrder();
}

// --- the rows -------------------------------------------------------------------------

bool GridWindow::recordChanged() const
{
    return pane_->recordChanged();
}

void GridWindow::Data1_Reposition()
{
    pane_->reposition();
}

bool GridWindow::Data1_Validate(DataAction action)
{
    return pane_->validate(action);
}

void GridWindow::mnuUpdate_Click()
{
    pane_->update();
}

void GridWindow::mnuDataDel_Click()
{
    pane_->deleteCurrent();
}

void GridWindow::mnuFileDataAdd_Click()
{
    pane_->add();
}

void GridWindow::mnuDouki_Click()
{
    if (!pane_->settleRow(DataAction::Bookmark))
        return;
    store::Recordset* rs = data_->recordset();
    if (!rs || data_->currentRow() < 0)
        return;
    QString bunID;
    qint64 id = 0;
    const store::StepResult read = tryStep([&] {
        const QVariant category = rs->value(QStringLiteral("bunID"));
        bunID = category.isNull() ? QStringLiteral("0") : QString::number(category.toLongLong());
        id = pane_->currentId();
    });
    if (!read) {
        pane_->tellUnread(*read.error());
        return;
    }
    const shell::JumpRequest request{bunID.toLongLong(), id};
    if (links_.showMainWindow)
        links_.showMainWindow(geometry());
    hide();
    if (links_.jump)
        links_.jump(request);
}

void GridWindow::mnuMoveFirst_Click()
{
    data_->moveFirst();
}

void GridWindow::mnuMoveMae_Click()
{
    data_->movePrevious();
}

void GridWindow::mnuMoveNext_Click()
{
    data_->moveNext();
}

void GridWindow::mnuMoveLast_Click()
{
    data_->moveLast();
}

} // namespace zumilo::grid
