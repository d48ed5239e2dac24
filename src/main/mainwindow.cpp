#include "mainwindow.h"

#include "shell/clock.h"
#include "shell/closesteps.h"
#include "shell/commands.h"
#include "shell/prompts.h"
#include "recentfiles.h"
#include "shell/settingsstore.h"
#include "shell/statuspanels.h"
#include "shell/tabstrip.h"
#include "shell/windowplacement.h"

#include "grid/gridwindow.h"
#include "records/drafts.h"
#include "records/notesave.h"
#include "records/recordeditor.h"
#include "records/recordwindow.h"
#include "records/recordlist.h"
#include "store/backup.h"
#include "store/database.h"
#include "store/error.h"
#include "store/recordset.h"
#include "store/schema.h"
#include "tree/categorypicker.h"
#include "tree/categorysearch.h"
#include "tree/categorytree.h"

#include <QAction>
#include <atomic>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>

using zumilo::store::Database;
using zumilo::store::StoreError;
using zumilo::store::tryStep;

namespace zumilo::app {

using namespace zumilo::shell;

namespace {

// How long after a save stopped the thorough check it runs again.
constexpr int kRecheckAfterMs = 30000;

const QString kWrongDatabase = QStringLiteral("このデータベースは違います。正しいデータベースを選択ください");

// Folder part of a path, up to and including its last separator.
QString folderOf(const QString& path)
{
    const int cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return cut < 0 ? QString() : path.left(cut + 1);
}

QString fileNameOf(const QString& path)
{
    return path.mid(folderOf(path).size());
}

QString cannotOpenMessage(const QString& path, const StoreError& e)
{
    return QStringLiteral("データベースを開けませんでした。\n") + path + QStringLiteral("\n\n") + e.message();
}

} // namespace

MainWindow::MainWindow(AppState& state, QWidget* parent) : QMainWindow(parent), st_(state)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Zumilo"));
    buildWindow();
    if (st_.commands)
        st_.commands->attach(*this);
}

MainWindow::~MainWindow()
{
    if (check_)
        check_->wait();
}

void MainWindow::buildWindow()
{
    MenuHandlers handlers{
        {QStringLiteral("mnuUpdate"), [this] { mnuUpdate_Click(); }},
        {QStringLiteral("mnuUpdateAs"), [this] { mnuUpdateAs_Click(); }},
        {QStringLiteral("mnuMoveFirst"), [this] { mnuMoveFirst_Click(); }},
        {QStringLiteral("mnuMoveMae"), [this] { mnuMoveMae_Click(); }},
        {QStringLiteral("mnuMoveNext"), [this] { mnuMoveNext_Click(); }},
        {QStringLiteral("mnuMoveLast"), [this] { mnuMoveLast_Click(); }},
        {QStringLiteral("mnuBunTuika"), [this] { mnuBunTuika_Click(); }},
        {QStringLiteral("mnuBunDel"), [this] { mnuBunDel_Click(); }},
        {QStringLiteral("mnuBunRename"), [this] { mnuBunRename_Click(); }},
        {QStringLiteral("mnuListDateCopy"), [this] { mnuUpdateAs_Click(); }},
        {QStringLiteral("mnuListDel"), [this] { mnuListDel_Click(); }},
        {QStringLiteral("mnuListEdit"), [this] { ListView1_DblClick(); }},
        {QStringLiteral("mnuDataAdd"), [this] { mnuDataAdd_Click(); }},
        {QStringLiteral("mnuFileDataAdd"), [this] { mnuDataAdd_Click(); }},
        {QStringLiteral("mnuListDateAdd"), [this] { mnuDataAdd_Click(); }},
        {QStringLiteral("mnuOpenDB"), [this] { mnuOpenDB_Click(); }},
        {QStringLiteral("mnuDBnew"), [this] { mnuDBnew_Click(); }},
        {QStringLiteral("mnuDBnew2"), [this] { mnuDBnew2_Click(); }},
        {QStringLiteral("mnuRestoreBackup"), [this] { mnuRestoreBackup_Click(); }},
        {QStringLiteral("mnuEnd"), [this] { mnuEnd_Click(); }},
        {QStringLiteral("mnuTreeRefresh"), [this] { mnuTreeRefresh_Click(); }},
        {QStringLiteral("mnuTreeBunFind"), [this] { mnuTreeBunFind_Click(); }},
        {QStringLiteral("mnuTreeAllOpen"), [this] { mnuTreeAllOpen_Click(); }},
        {QStringLiteral("mnuTreeAllClose"), [this] { mnuTreeAllClose_Click(); }},
    };
    QSet<QString> placeholders{QStringLiteral("mnuRecentFile(0)")};
    for (int i = 1; i <= 5; ++i) {
        const QString name = QStringLiteral("mnuRecentFile(%1)").arg(i);
        handlers.insert(name, [this, i] { mnuRecentFile_Click(i); });
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
    connect(help, &QAction::triggered, this, &MainWindow::openHelpDatabase);
    addAction(help);

    std::array<QAction*, 5> items{};
    for (int i = 1; i <= 5; ++i)
        items[i - 1] = actions_.value(QStringLiteral("mnuRecentFile(%1)").arg(i));
    recent_ = std::make_unique<RecentFiles>(st_.settings(), actions_.value(QStringLiteral("mnuRecentFile(0)")), items);

    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    panels_ = std::make_unique<StatusPanels>(statusBar());
    indexNotice_ = new QLabel(QStringLiteral("検索用の索引を作り直しています（それまで検索に時間がかかります）"));
    indexNotice_->setObjectName(QStringLiteral("IndexNotice"));
    indexNotice_->hide();
    statusBar()->addPermanentWidget(indexNotice_);
    indexWatch_ = new QTimer(this);
    indexWatch_->setInterval(500);
    connect(indexWatch_, &QTimer::timeout, this, [this] { watchIndexBuild(); });
    buildLayout();

    // Form_Activate runs when the user returns here from another of our
    // windows. Our own prompts and other programs do not count.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        QWidget* w = now ? now->window() : nullptr;
        if (w && w != this && !promptIsOpen())
            cameBack_ = true;
    });
}

// --- start-up ----------------------------------------------------------------

QString MainWindow::firstStartDatabasePath() const
{
    // Beside the program in its build folder; installed, among its shared files.
    QString beside = st_.AppFolder + st_.DatabaseFileName;
    const QString installed = QDir::cleanPath(st_.AppFolder + QStringLiteral("../share/zumilo/")
                                              + st_.DatabaseFileName);
    if (!QFileInfo::exists(beside) && QFileInfo::exists(installed))
        beside = installed;
    if (QFileInfo(QFileInfo(beside).absolutePath()).isWritable() || !QFileInfo::exists(beside))
        return beside;
    // Installed where the user cannot write: work on a copy of one's own.
    const QString own = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (own.isEmpty() || !QDir().mkpath(own))
        return beside;
    const QString copy = QDir(own).filePath(st_.DatabaseFileName);
    if (!QFileInfo::exists(copy) && QFile::copy(beside, copy))
        QFile(copy).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return QFileInfo::exists(copy) ? copy : beside;
}

void MainWindow::Form_Load()
{
    SettingsStore& settings = st_.settings();

    st_.AppFolder = st_.ProgramFolder;
    if (!st_.AppFolder.endsWith(QLatin1Char('/')))
        st_.AppFolder += QLatin1Char('/');
    st_.DatabaseFolder = st_.AppFolder;
    st_.DatabaseFileName = settings.read(Settings::DBName, QStringLiteral("LastName"), Settings::HelpDatabaseName);
    st_.DatabasePath = settings.read(Settings::DBName, QStringLiteral("LastNameFull"));
    if (st_.DatabasePath.isEmpty()) {
        st_.DatabasePath = firstStartDatabasePath();
        settings.write(Settings::RecentFiles, QStringLiteral("RecentFile1"), st_.DatabasePath);
    }

    restoreLayout();
    recent_->load();
    applyTextSettings();
    loaded_ = true;

    try {
        attachDatabase(openFile(st_.DatabasePath));
    } catch (const StoreError& e) {
        // Which file and why, rather than only "not the right database".
        st_.prompts().message(this,
                              cannotOpenMessage(st_.DatabasePath, e)
                                  + QStringLiteral(
                                      "\n\n「ﾌｧｲﾙ」メニューの「DBの変更」から、別のデータベースを開いてください。"),
                              Msg::Exclamation);
        return;
    }
    if (!DBCheckOK()) {
        st_.prompts().message(this, kWrongDatabase, Msg::OkOnly);
        return;
    }
    // The file dialogs start beside the open file, not in the program's
    // folder, which an installed program cannot write to.
    st_.DatabaseFolder = folderOf(st_.DatabasePath);
    showOpenedDatabase();
    st_.CurrentTab = QStringLiteral("BunTab");
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
    currentIdeaId_ = request.note ? QString::number(*request.note) : QString();
    singleWindowReturned_ = true;
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
            [this](qint64 id) { currentIdeaId_ = QString::number(id); });
}

void MainWindow::Form_Activate()
{
    cameBack_ = false;
    // The note a closing window hands back; saving our own edit below
    // makes the saved note the current one.
    const QString returned = currentIdeaId_;
    // Never lose edits: rebuilding the list reloads the editor.
    if (recordChanged() && !CheckToSave())
        return;
    tabStrip_->selectKey(QStringLiteral("BunTab"));
    RefreshRecordList();

    auto completeJump = [&](const QString& key) {
        list_->selectKey(key);
        showRecord(tree::numberOfKey(key));
        ListPosition = list_->selectedPosition();
        return list_->count() > 0;
    };
    const bool jumped = pendingJump_.has_value();
    if (pendingJump_) {
        const std::optional<qint64> note = pendingJump_->note;
        if (!completeJump(note ? records::itemKeyFor(QString::number(*note)) : QString()))
            return;
        setStatusCount();
        pendingJump_.reset();
    }
    if (singleWindowReturned_) {
        currentIdeaId_ = returned;
        if (!completeJump(records::itemKeyFor(returned)))
            return;
        setStatusCount();
        singleWindowReturned_ = false;
    } else if (!jumped && !returned.isEmpty() && list_->selectKey(records::itemKeyFor(returned))) {
        // Back from another of our windows, the user is still on the note
        // they left; the rebuild must not move what they type next to the
        // list's first note.
        currentIdeaId_ = returned;
        completeJump(records::itemKeyFor(returned));
        setStatusCount();
    }
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
    if (recordChanged() && !CheckToSave() && !records::closeWithoutSaving(st_.prompts(), this, true))
        return false;
    SettingsStore& settings = st_.settings();
    saveLayout();
    settings.write(Settings::DBName, QStringLiteral("LastNameFull"), st_.DatabasePath);
    settings.write(Settings::DBName, QStringLiteral("LastPath"), st_.AppFolder);
    settings.write(Settings::DBName, QStringLiteral("LastName"), st_.DatabaseFileName);
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
    tryStep([&] {
        CategoryRecordset.reset();
        ListRecordset.reset();
        if (CurrentDatabase)
            CurrentDatabase->close();
        CurrentDatabase.reset();
    }).ignoreFailure("the program is ending: nothing reads the file again");
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
    runCloseSteps(
        event, unloaded_, [this] { return Form_QueryUnload(); }, [this] { Form_Unload(); });
    // The copy of a file as the run found it is finished before the program
    // ends when the run changed the file: on a large file after a save that
    // takes seconds, which the window shows rather than vanish.
    if (event->isAccepted() && unloaded_ && store::finishingBackups()) {
        event->ignore();
        setEnabled(false);
        statusBar()->showMessage(QStringLiteral("バックアップを仕上げています…"));
        if (!backupWatch_) {
            backupWatch_ = new QTimer(this);
            backupWatch_->setInterval(100);
            connect(backupWatch_, &QTimer::timeout, this, [this] {
                if (store::finishingBackups())
                    return;
                backupWatch_->stop();
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

// --- opening a database ----------------------------------------------------------

bool MainWindow::DBCheckOK() const
{
    return CurrentDatabase && store::hasZumiloTables(*CurrentDatabase);
}

std::shared_ptr<Database> MainWindow::openFile(const QString& path)
{
    // A file changed by another program has its search index catch up,
    // which may take a while: the user sees how far. A build afresh goes
    // on in the background (see watchIndexBuild()).
    return Database::open(path, indexProgress(path));
}

std::function<void(qint64, qint64)> MainWindow::indexProgress(const QString& path)
{
    return shell::progressOfSlowWork(st_.prompts(), this,
                                     QStringLiteral("検索用の索引を作っています。しばらくお待ちください。\n") + path);
}

void MainWindow::checkOpenFile()
{
    if (check_ && check_->isRunning()) {
        checkAgain_ = true;
        return;
    }
    const QString path = st_.DatabasePath;
    auto health = std::make_shared<std::atomic<int>>(int(Database::Health::Sound));
    check_.reset(QThread::create([path, health] { *health = int(Database::checkThoroughly(path)); }));
    connect(check_.get(), &QThread::finished, this, [this, path, health] { onFileChecked(path, *health); });
    check_->start(QThread::LowPriority);
}

void MainWindow::onFileChecked(const QString& path, int health)
{
    if (std::exchange(checkAgain_, false))
        QTimer::singleShot(0, this, [this] { checkOpenFile(); });
    if (path != st_.DatabasePath || !CurrentDatabase)
        return;
    if (health == int(Database::Health::IndexDamaged)) {
        // Searches through it would miss notes; reading every row meanwhile
        // would not, but the repair is quick next to that.
        const store::StepResult rebuilt = tryStep([&] { CurrentDatabase->rebuildSearchIndex(indexProgress(path)); });
        if (!rebuilt) {
            shell::showFailure(st_.prompts(), this, QStringLiteral("検索用の索引を作り直せませんでした。"), path,
                               *rebuilt.error());
        }
    } else if (health == int(Database::Health::Damaged)) {
        st_.prompts().message(this, store::japaneseMessage(store::ErrorKind::Damaged, st_.DatabaseFileName),
                              Msg::Exclamation);
    } else if (health == int(Database::Health::Unchecked)) {
        // A save stopped it; once the user pauses, it runs again.
        QTimer::singleShot(kRecheckAfterMs, this, [this, path] {
            if (path == st_.DatabasePath)
                checkOpenFile();
        });
    }
}

void MainWindow::attachDatabase(std::shared_ptr<Database> db)
{
    CategoryRecordset.reset();
    list_->listModel()->setSource(nullptr);
    ListRecordset.reset();
    if (CurrentDatabase && CurrentDatabase != db)
        tryStep([&] { CurrentDatabase->close(); }).ignoreFailure("given up for the file opened now");
    CurrentDatabase = std::move(db);
    if (CurrentDatabase)
        CurrentDatabase->setTodayProvider([this] { return st_.clock().today(); });
    watchIndexBuild();
}

void MainWindow::watchIndexBuild()
{
    const bool building = CurrentDatabase && CurrentDatabase->isOpen() && CurrentDatabase->searchIndexBuilding();
    indexNotice_->setVisible(building);
    if (building)
        indexWatch_->start();
    else
        indexWatch_->stop();
}

void MainWindow::mnuOpenDB_Click()
{
    const auto chosen = st_.prompts().openFile(this, st_.DatabaseFolder, QStringLiteral("*.zmd"));
    if (!chosen)
        return;
    const QString name = fileNameOf(*chosen);
    if (!name.toUpper().contains(QLatin1String(".ZMD"))) {
        st_.prompts().message(this, QStringLiteral("そのファイルを開くことは出来ません"), Msg::Exclamation);
        return;
    }
    // The editor is emptied for the other file: its note is not left unasked.
    if (recordChanged() && !CheckToSave())
        return;
    st_.PreviousDatabasePath = st_.DatabasePath;
    st_.PreviousDatabaseFileName = st_.DatabaseFileName;
    st_.DatabasePath = *chosen;
    st_.DatabaseFileName = name;
    OpenDatabaseFile();
}

void MainWindow::mnuRecentFile_Click(int index)
{
    if (recent_->path(index).isEmpty() || (recordChanged() && !CheckToSave()))
        return;
    switchTo(recent_->path(index));
}

void MainWindow::openHelpDatabase()
{
    const QString saved = st_.DatabaseFileName;
    st_.DatabaseFileName = Settings::HelpDatabaseName;
    const QString help = firstStartDatabasePath();
    st_.DatabaseFileName = saved;
    if (recordChanged() && !CheckToSave())
        return;
    switchTo(help);
}

void MainWindow::switchTo(const QString& path)
{
    if (path.isEmpty())
        return;
    st_.PreviousDatabasePath = st_.DatabasePath;
    st_.PreviousDatabaseFileName = st_.DatabaseFileName;
    st_.DatabasePath = path;
    st_.DatabaseFileName = fileNameOf(path);
    OpenDatabaseFile();
}

void MainWindow::OpenDatabaseFile()
{
    st_.DatabaseFolder = folderOf(st_.DatabasePath);

    std::shared_ptr<Database> opened;
    try {
        opened = openFile(st_.DatabasePath);
    } catch (const StoreError& e) {
        // Nothing changes: the open database stays, and so do its names.
        st_.prompts().message(this, cannotOpenMessage(st_.DatabasePath, e), Msg::Exclamation);
        st_.DatabasePath = st_.PreviousDatabasePath;
        st_.DatabaseFileName = st_.PreviousDatabaseFileName;
        return;
    }

    if (!store::hasZumiloTables(*opened)) {
        opened->close();
        st_.prompts().message(this, kWrongDatabase, Msg::OkOnly);
        st_.DatabasePath = st_.PreviousDatabasePath;
        st_.DatabaseFileName = st_.PreviousDatabaseFileName;
        if (!CurrentDatabase && !st_.DatabasePath.isEmpty())
            tryStep([&] {
                attachDatabase(openFile(st_.DatabasePath));
            }).ignoreFailure("DBCheckOK below tells whether the file before is open again");
        if (!DBCheckOK())
            return; // nothing usable was open before either
    } else {
        attachDatabase(opened);
    }

    showOpenedDatabase();
    recent_->add(st_.DatabasePath);
}

void MainWindow::showOpenedDatabase()
{
    const store::StepResult read = tryStep([&] {
        CategoryRecordset = CurrentDatabase->openRecordset(QStringLiteral("T_bunrui"), store::RecordsetType::Dynaset);
        LoadCategoryTree();
    });
    FieldsClear();
    tellReadFailure(read, QStringLiteral("分類を読み込めませんでした。"));
    tree_->setCurrentItem(tree_->rootNode());
    st_.CurrentBunID = QStringLiteral("0");
    st_.CurrentBunName.clear();
    setWindowTitle(mainCaption(st_.DatabasePath));
    RefreshRecordList();
    QTimer::singleShot(0, this, [this] { checkOpenFile(); });
}

// --- creating a database -----------------------------------------------------------

void MainWindow::mnuDBnew_Click()
{
    createDatabaseFile(false);
}

void MainWindow::mnuDBnew2_Click()
{
    createDatabaseFile(true);
}

void MainWindow::createDatabaseFile(bool withStarterCategories)
{
    auto chosen = st_.prompts().saveFile(this, st_.DatabaseFolder, QStringLiteral("*.zmd"));
    if (!chosen)
        return;
    QString path = *chosen;
    QString name = fileNameOf(path);
    if (name.isEmpty() || name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'))) {
        st_.prompts().message(this, QStringLiteral("ファイル名が正しくありません。別のファイル名をつけてください。"),
                              Msg::Exclamation);
        return;
    }
    if (!name.toUpper().contains(QLatin1String(".ZMD"))) {
        path += QStringLiteral(".zmd");
        name += QStringLiteral(".zmd");
    }
    if (QFileInfo::exists(path)) {
        st_.prompts().message(this, QStringLiteral("このファイル名は既に存在します。他のファイル名をつけてください。"));
        return;
    }

    if (recordChanged() && !CheckToSave())
        return;
    std::shared_ptr<Database> created;
    try {
        store::createZumiloDatabase(path, withStarterCategories);
        created = Database::open(path);
    } catch (const StoreError& e) {
        // Say so, and keep working on the database that is open.
        st_.prompts().message(this,
                              QStringLiteral("データベースを作成できませんでした。\n") + path + QStringLiteral("\n\n")
                                  + e.message(),
                              Msg::Exclamation);
        return;
    }
    st_.prompts().message(this, QStringLiteral("データベースを作成しました"));

    st_.DatabasePath = path;
    st_.DatabaseFileName = name;
    attachDatabase(created);
    showOpenedDatabase();
}

// --- backups -------------------------------------------------------------------------

void MainWindow::mnuRestoreBackup_Click()
{
    const QString name = st_.DatabaseFileName;
    const std::vector<store::Backup> backups = store::listBackups(st_.DatabasePath);
    if (st_.DatabasePath.isEmpty() || backups.empty()) {
        st_.prompts().message(this, QStringLiteral("「%1」のバックアップはありません。").arg(name), Msg::Information);
        return;
    }
    // When each was taken, as its name records it (the file's own time
    // changes when the folder is copied), and its place in the list, so
    // that two taken in one second differ too.
    auto taken = [](const store::Backup& b) { return b.takenAt.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")); };
    QStringList items;
    for (const store::Backup& b : backups)
        items << QStringLiteral("%1. %2").arg(items.size() + 1).arg(taken(b));
    const auto chosen = st_.prompts().choose(this, QStringLiteral("「%1」をいつの状態に戻しますか？").arg(name), items,
                                             QStringLiteral("バックアップから復元"));
    if (!chosen || *chosen < 0 || size_t(*chosen) >= backups.size())
        return;
    const store::Backup& backup = backups[size_t(*chosen)];
    const QString when = taken(backup);
    const int answer = st_.prompts().message(
        this,
        QStringLiteral("「%1」を %2 の状態に戻しますか？\n今の内容は、バックアップの保存先に残ります。")
            .arg(name, when),
        Msg::YesNo + Msg::Exclamation + Msg::DefaultButton2, QStringLiteral("バックアップから復元"));
    if (answer != Msg::Yes)
        return;
    if (recordChanged() && !CheckToSave())
        return;
    if (!releaseFile()) {
        st_.prompts().message(this, QStringLiteral("開いている画面を閉じてから、もう一度お試しください。"),
                              Msg::Exclamation);
        switchTo(st_.DatabasePath);
        return;
    }
    QString failure;
    try {
        store::restoreBackup(backup, st_.DatabasePath);
    } catch (const StoreError& e) {
        failure = e.message();
    }
    switchTo(st_.DatabasePath);
    if (!failure.isEmpty()) {
        st_.prompts().message(this,
                              QStringLiteral("バックアップから戻せませんでした。「%1」は元のままです。\n\n").arg(name)
                                  + failure,
                              Msg::Exclamation);
        return;
    }
    st_.prompts().message(this, QStringLiteral("「%1」を %2 の状態に戻しました。").arg(name, when), Msg::Information);
}

bool MainWindow::releaseFile()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* single = qobject_cast<records::RecordWindow*>(w); single && single->isVisible() && !single->close())
            return false;
    }
    if (grid_)
        grid_->releaseDatabase();
    if (search_)
        search_->releaseDatabase();
    CategoryRecordset.reset();
    list_->listModel()->setSource(nullptr);
    ListRecordset.reset();
    if (CurrentDatabase)
        tryStep([&] { CurrentDatabase->close(); }).ignoreFailure("the file is let go of");
    CurrentDatabase.reset();
    return true;
}

} // namespace zumilo::app
