#include "mainwindow.h"

#include "recentfiles.h"

#include "shell/closesteps.h"
#include "shell/commands.h"
#include "shell/prompts.h"
#include "shell/settingsstore.h"
#include "shell/statuspanels.h"
#include "shell/tabstrip.h"

#include "grid/gridwindow.h"
#include "records/drafts.h"
#include "records/notesave.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "records/recordwindow.h"
#include "store/backup.h"
#include "tree/categorysearch.h"
#include "tree/categorytree.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QResizeEvent>
#include <QStatusBar>
#include <QTimer>

namespace zumilo::app {

using namespace zumilo::shell;

MainWindow::MainWindow(AppState& state, QWidget* parent) : QMainWindow(parent), st_(state)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Zumilo"));
    buildWindow();
    if (st_.commands)
        st_.commands->attach(*this);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildWindow()
{
    MenuHandlers handlers{
        {QStringLiteral("mnuUpdate"), [this] { browser_->mnuUpdate_Click(); }},
        {QStringLiteral("mnuUpdateAs"), [this] { browser_->mnuUpdateAs_Click(); }},
        {QStringLiteral("mnuMoveFirst"), [this] { browser_->mnuMoveFirst_Click(); }},
        {QStringLiteral("mnuMoveMae"), [this] { browser_->mnuMoveMae_Click(); }},
        {QStringLiteral("mnuMoveNext"), [this] { browser_->mnuMoveNext_Click(); }},
        {QStringLiteral("mnuMoveLast"), [this] { browser_->mnuMoveLast_Click(); }},
        {QStringLiteral("mnuBunTuika"), [this] { edits_->mnuBunTuika_Click(); }},
        {QStringLiteral("mnuBunDel"), [this] { edits_->mnuBunDel_Click(); }},
        {QStringLiteral("mnuBunRename"), [this] { edits_->mnuBunRename_Click(); }},
        {QStringLiteral("mnuListDateCopy"), [this] { browser_->mnuUpdateAs_Click(); }},
        {QStringLiteral("mnuListDel"), [this] { browser_->mnuListDel_Click(); }},
        {QStringLiteral("mnuListEdit"), [this] { ListView1_DblClick(); }},
        {QStringLiteral("mnuDataAdd"), [this] { mnuDataAdd_Click(); }},
        {QStringLiteral("mnuFileDataAdd"), [this] { mnuDataAdd_Click(); }},
        {QStringLiteral("mnuListDateAdd"), [this] { mnuDataAdd_Click(); }},
        {QStringLiteral("mnuOpenDB"), [this] { session_->mnuOpenDB_Click(); }},
        {QStringLiteral("mnuDBnew"), [this] { session_->mnuDBnew_Click(); }},
        {QStringLiteral("mnuDBnew2"), [this] { session_->mnuDBnew2_Click(); }},
        {QStringLiteral("mnuRestoreBackup"), [this] { session_->mnuRestoreBackup_Click(); }},
        {QStringLiteral("mnuEnd"), [this] { mnuEnd_Click(); }},
        {QStringLiteral("mnuTreeRefresh"), [this] { browser_->mnuTreeRefresh_Click(); }},
        {QStringLiteral("mnuTreeBunFind"), [this] { mnuTreeBunFind_Click(); }},
        {QStringLiteral("mnuTreeAllOpen"), [this] { browser_->mnuTreeAllOpen_Click(); }},
        {QStringLiteral("mnuTreeAllClose"), [this] { browser_->mnuTreeAllClose_Click(); }},
    };
    QSet<QString> placeholders{QStringLiteral("mnuRecentFile(0)")};
    for (int i = 1; i <= 5; ++i) {
        const QString name = QStringLiteral("mnuRecentFile(%1)").arg(i);
        handlers.insert(name, [this, i] { session_->mnuRecentFile_Click(i); });
        placeholders.insert(name);
    }
    canvas_ = new QWidget(this);
    canvas_->setObjectName(QStringLiteral("canvas"));
    setCentralWidget(canvas_);
    const CommandSet commands = buildCommands(this, WindowKind::Main, canvas_, handlers, st_.commands, placeholders);
    actions_ = commands.actions;
    toolBar_ = commands.toolBar;
    searchBox_ = commands.searchBox;
    treeMenu_ = menuBar()->findChild<QMenu*>(QStringLiteral("mnuTree"));
    listMenu_ = menuBar()->findChild<QMenu*>(QStringLiteral("mnuList"));

    // F1 opens the help database, as at the first start; not an entry of the menus.
    auto* help = new QAction(QStringLiteral("ヘルプ データベース"), this);
    help->setObjectName(QStringLiteral("HelpDatabase"));
    help->setShortcut(QKeySequence::HelpContents);
    connect(help, &QAction::triggered, this, [this] { session_->openHelpDatabase(); });
    addAction(help);

    std::array<QAction*, 5> items{};
    for (int i = 1; i <= 5; ++i)
        items[i - 1] = actions_.value(QStringLiteral("mnuRecentFile(%1)").arg(i));

    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    panels_ = std::make_unique<StatusPanels>(statusBar());
    SessionLinks links;
    links.mayLeaveNote = [this] { return browser_->mayLeaveNote(); };
    links.dropReaders = [this] { browser_->dropReaders(); };
    links.closeOtherWindows = [this] { return closeOtherWindows(); };
    links.showFile = [this] { showOpenedDatabase(); };
    session_ = std::make_unique<OpenFileSession>(st_, *this, actions_.value(QStringLiteral("mnuRecentFile(0)")), items,
                                                 std::move(links));
    panes_ = std::make_unique<MainPanes>(*this, canvas_, toolBar_, panels_.get(), st_,
                                         [this] { return session_->database(); });
    wirePieces();

    // Form_Activate runs when the user returns here from another of our
    // windows. Our own prompts and other programs do not count.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        QWidget* w = now ? now->window() : nullptr;
        if (w && w != this && !promptIsOpen())
            cameBack_ = true;
    });
}

void MainWindow::wirePieces()
{
    connect(panes_->tabStrip(), &TabStrip::tabClicked, this, &MainWindow::TabStrip1_Click);
    connect(panes_->tree(), &tree::CategoryTree::popupRequested, this, [this](const QPoint& at) {
        if (treeMenu_)
            treeMenu_->popup(at);
    });
    connect(panes_->list(), &records::RecordList::itemOpened, this, &MainWindow::ListView1_DblClick);
    connect(panes_->list(), &records::RecordList::popupRequested, this, [this](const QPoint& at) {
        if (listMenu_)
            listMenu_->popup(at);
    });
    records::RecordEditor* editor = panes_->editor();
    drafts_ = std::make_unique<records::DraftKeeper>(*editor, st_, this, QStringLiteral("main"), [this, editor] {
        return records::DraftNote{st_.DatabasePath, editor->stamps().id.toLongLong()};
    });
    browser_ = std::make_unique<CategoryBrowser>(st_, *this, *session_, *panes_, *panels_);
    edits_ = std::make_unique<CategoryEdits>(st_, *this, *session_, *browser_, *panes_);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (panes_)
        panes_->Form_Resize();
}

// --- start-up ----------------------------------------------------------------

void MainWindow::Form_Load()
{
    session_->readLastFile();
    panes_->restore();
    session_->recentFiles().load();
    applyTextSettings();
    loaded_ = true;
    if (session_->openLastFile())
        st_.CurrentTab = QStringLiteral("BunTab");
}

void MainWindow::showOpenedDatabase()
{
    browser_->showCategories();
    setWindowTitle(mainCaption(st_.DatabasePath));
    browser_->RefreshRecordList();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        onActivated();
}

void MainWindow::onActivated()
{
    if (loaded_ && cameBack_)
        Form_Activate();
}

void MainWindow::comeBack(const shell::ReturnRequest& request)
{
    browser_->singleWindowReturned(request.note);
    cameBack_ = true;
    // Once the closing window is gone; without a window manager no
    // activation may follow at all.
    QTimer::singleShot(0, this, [this] {
        if (cameBack_ && loaded_ && isVisible())
            Form_Activate();
    });
}

void MainWindow::watchSingleWindow(records::RecordWindow* window)
{
    connect(window, &records::RecordWindow::returned, this, &MainWindow::comeBack);
    connect(window, &records::RecordWindow::noteSaved, this,
            [this](qint64 id) { browser_->setCurrentIdeaId(QString::number(id)); });
}

void MainWindow::Form_Activate()
{
    cameBack_ = false;
    // The note a closing window hands back; saving our own edit below
    // makes the saved note the current one.
    const QString returned = browser_->currentIdeaId();
    // Never lose edits: rebuilding the list reloads the editor.
    if (!browser_->mayLeaveNote())
        return;
    panes_->tabStrip()->selectKey(QStringLiteral("BunTab"));
    if (browser_->rebuild(returned))
        applyTextSettings();
}

void MainWindow::applyTextSettings()
{
    records::applyScreenFont(*this, 10.5);
    records::ApplyWordWrapSetting(*this);
}

// --- shut-down ----------------------------------------------------------------

bool MainWindow::Form_QueryUnload()
{
    // A grid window hidden behind this one still holds its layout and
    // perhaps an edit; closing from the grid has asked it already.
    if (grid_ && !grid_->isVisible() && !grid_->Form_QueryUnload())
        return false;
    if (!browser_->mayLeaveNote() && !records::closeWithoutSaving(st_.prompts(), this, true))
        return false;
    SettingsStore& settings = st_.settings();
    panes_->save();
    session_->rememberLastFile();
    if (!settings.sync()) {
        st_.prompts().message(this,
                              QStringLiteral("設定を保存できませんでした。\n") + settings.fileName()
                                  + QStringLiteral(
                                      "\n\n画面の配置と開いていたデータベースは、次回の起動では元に戻りません。"),
                              Msg::Exclamation);
    }
    return true;
}

void MainWindow::Form_Unload()
{
    session_->closeFile();
    // The program ends with its main window: every other window goes too.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != this && w->isWindow() && w->isVisible())
            w->close();
    }
}

void MainWindow::offerDrafts()
{
    QWidget* shown = grid_ && grid_->isVisible() ? static_cast<QWidget*>(grid_.get()) : this;
    for (records::RecordWindow* window : records::restoreDrafts(st_, shown))
        watchSingleWindow(window);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Ending from the grid closes the grid after this window's close.
    const QRect gridPlace = grid_ && grid_->isVisible() ? grid_->geometry() : QRect();
    runCloseSteps(
        event, unloaded_, [this] { return Form_QueryUnload(); }, [this] { Form_Unload(); });
    // The copy of a file as the run found it is finished before the program
    // ends when the run changed the file: on a large file after a save that
    // takes seconds, which the window shows rather than vanish.
    if (event->isAccepted() && unloaded_ && store::finishingBackups()) {
        event->ignore();
        if (!isVisible()) {
            // Hidden behind the grid: without a window in view the event
            // loop would end and the program wait on unseen.
            if (gridPlace.isValid())
                setGeometry(gridPlace);
            show();
            raise();
        }
        if (!backupWait_)
            backupWait_ = std::make_unique<QEventLoopLocker>();
        setEnabled(false);
        statusBar()->showMessage(QStringLiteral("バックアップを仕上げています…"));
        if (!backupWatch_) {
            backupWatch_ = new QTimer(this);
            backupWatch_->setInterval(100);
            connect(backupWatch_, &QTimer::timeout, this, [this] {
                if (store::finishingBackups())
                    return;
                backupWatch_->stop();
                backupWait_.reset();
                close();
            });
        }
        backupWatch_->start();
    }
}

void MainWindow::mnuEnd_Click()
{
    close();
}

bool MainWindow::closeOtherWindows()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* single = qobject_cast<records::RecordWindow*>(w); single && single->isVisible() && !single->close())
            return false;
    }
    if (grid_)
        grid_->releaseDatabase();
    if (search_)
        search_->releaseDatabase();
    return true;
}

// --- other windows ------------------------------------------------------------

void MainWindow::mnuTreeBunFind_Click()
{
    const auto text = st_.prompts().input(this, QStringLiteral("検索する分類名は？"));
    if (!text || text->isEmpty())
        return;
    OpenCategorySearch(*text);
}

void MainWindow::OpenCategorySearch(const QString& text)
{
    if (!search_) {
        search_ = std::make_unique<tree::CategorySearchWindow>(st_, [this](const shell::JumpRequest& request) {
            if (!panes_->tree()->node(tree::nodeKeyFor(QString::number(request.category))))
                return false;
            // The jump may come while the grid stands in this window's place.
            if (grid_ && grid_->isVisible()) {
                setGeometry(grid_->geometry());
                grid_->hide();
            }
            show();
            raise();
            activateWindow();
            return browser_->jumpToCategory(request);
        });
    }
    // Beside the window in view: the grid may have moved since it took this
    // window's place.
    search_->openSearch(text, grid_ && grid_->isVisible() ? grid_->frameGeometry() : frameGeometry());
}

void MainWindow::findInAllNotes(const QString& term, bool inBodies)
{
    st_.CurrentTab = QStringLiteral("FindTab");
    ShowGridWindow();
    grid_->findInAllNotes(term, inBodies);
    OpenCategorySearch(term);
}

void MainWindow::TabStrip1_Click(int index)
{
    const QString key = TabStrip::keys().value(index);
    if (key.isEmpty() || key == QLatin1String("BunTab"))
        return;
    st_.CurrentTab = key;
    ShowGridWindow();
}

void MainWindow::ShowGridWindow()
{
    if (!grid_) {
        grid::GridLinks links;
        links.showMainWindow = [this](const QRect& place) {
            panes_->tabStrip()->selectKey(QStringLiteral("BunTab"));
            setGeometry(place);
            show();
            raise();
            activateWindow();
        };
        links.jump = [this](const shell::JumpRequest& request) { browser_->jumpTo(request); };
        links.endProgram = [this] { close(); };
        grid_ = std::make_unique<grid::GridWindow>(st_, std::move(links));
    }
    // The grid takes over: a jump not yet completed here is given up.
    browser_->dropPendingJump();
    grid_->showInPlaceOf(geometry());
    hide();
}

void MainWindow::ListView1_DblClick()
{
    if (panes_->list()->count() == 0) {
        st_.prompts().message(this, QStringLiteral("現在、変更できるデータはありません）"));
        return;
    }
    const QString key = panes_->list()->selectedKey();
    if (key.isEmpty())
        return;
    browser_->setCurrentIdeaId(tree::numberOfKey(key));
    watchSingleWindow(records::RecordWindow::open(st_, {browser_->currentIdeaId().toLongLong()}));
}

void MainWindow::mnuDataAdd_Click()
{
    watchSingleWindow(records::RecordWindow::open(st_, {}));
}

} // namespace zumilo::app
