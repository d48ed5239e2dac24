#include "openfilesession.h"

#include "recentfiles.h"

#include "shell/appstate.h"
#include "shell/clock.h"
#include "shell/prompts.h"
#include "shell/settingsstore.h"
#include "shell/statuspanels.h"

#include "store/backup.h"
#include "store/database.h"
#include "store/error.h"
#include "store/filestate.h"
#include "store/schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QPointer>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <atomic>

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

// A file by one name however it was reached (the name itself once the
// file is gone).
QString canonicalPath(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QString cannotOpenMessage(const QString& path, const StoreError& e)
{
    return QStringLiteral("データベースを開けませんでした。\n") + path + QStringLiteral("\n\n") + e.message();
}

} // namespace

OpenFileSession::OpenFileSession(AppState& state, QMainWindow& window, QAction* recentSeparator,
                                 const std::array<QAction*, 5>& recentItems, SessionLinks links)
    : st_(state), window_(window), links_(std::move(links))
{
    recent_ = std::make_unique<RecentFiles>(st_.settings(), recentSeparator, recentItems);
    indexNotice_ = new shell::IndexBuildNotice(window_.statusBar(),
                                               [this] { return db_ && db_->isOpen() && db_->searchIndexBuilding(); });
    backupNotice_ = new StatusNotice(QStringLiteral("⚠ バックアップを作れませんでした"));
    backupNotice_->setObjectName(QStringLiteral("BackupNotice"));
    backupNotice_->hide();
    window_.statusBar()->addPermanentWidget(backupNotice_);
    // Heard on the copy's thread, said on the window's.
    store::setBackupFailureNotice([session = QPointer<OpenFileSession>(this)](const store::BackupFailure& failure) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [session, failure] {
                if (session)
                    session->sayBackupFailed(failure);
            },
            Qt::QueuedConnection);
    });
}

OpenFileSession::~OpenFileSession()
{
    if (check_)
        check_->wait();
}

// --- start-up and shut-down ----------------------------------------------------

void OpenFileSession::readLastFile()
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
}

bool OpenFileSession::openLastFile()
{
    try {
        attachDatabase(openFile(st_.DatabasePath));
    } catch (const StoreError& e) {
        // Which file and why, rather than only "not the right database".
        st_.prompts().message(&window_,
                              cannotOpenMessage(st_.DatabasePath, e)
                                  + QStringLiteral(
                                      "\n\n「ﾌｧｲﾙ」メニューの「DBの変更」から、別のデータベースを開いてください。"),
                              Msg::Exclamation);
        return false;
    }
    if (!DBCheckOK()) {
        st_.prompts().message(&window_, kWrongDatabase, Msg::OkOnly);
        return false;
    }
    // The file dialogs start beside the open file, not in the program's
    // folder, which an installed program cannot write to.
    st_.DatabaseFolder = folderOf(st_.DatabasePath);
    showOpenedDatabase();
    return true;
}

void OpenFileSession::rememberLastFile()
{
    SettingsStore& settings = st_.settings();
    settings.write(Settings::DBName, QStringLiteral("LastNameFull"), st_.DatabasePath);
    settings.write(Settings::DBName, QStringLiteral("LastPath"), st_.AppFolder);
    settings.write(Settings::DBName, QStringLiteral("LastName"), st_.DatabaseFileName);
}

void OpenFileSession::closeFile()
{
    tryStep([&] {
        links_.dropReaders();
        if (db_)
            db_->close();
        db_.reset();
    }).ignoreFailure("the program is ending: nothing reads the file again");
}

// --- opening a database ----------------------------------------------------------

QString OpenFileSession::firstStartDatabasePath() const
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

bool OpenFileSession::DBCheckOK() const
{
    return db_ && store::hasZumiloTables(*db_);
}

std::shared_ptr<Database> OpenFileSession::openFile(const QString& path)
{
    // A file changed by another program has its search index catch up,
    // which may take a while: the user sees how far. A build afresh goes
    // on in the background (see the index notice).
    return Database::open(path, indexProgress(path));
}

std::function<void(qint64, qint64)> OpenFileSession::indexProgress(const QString& path)
{
    return shell::progressOfSlowWork(st_.prompts(), &window_,
                                     QStringLiteral("検索用の索引を作っています。しばらくお待ちください。\n") + path);
}

void OpenFileSession::checkOpenFile()
{
    if (check_ && check_->isRunning()) {
        checkAgain_ = true;
        return;
    }
    const QString path = st_.DatabasePath;
    auto health = std::make_shared<std::atomic<int>>(int(Database::Health::Sound));
    check_.reset(QThread::create([path, health] { *health = int(Database::checkThoroughly(path)); }));
    connect(check_.get(), &QThread::finished, this,
            [this, path, health, file = fileGeneration_] { onFileChecked(path, file, *health); });
    check_->start(QThread::LowPriority);
}

void OpenFileSession::onFileChecked(const QString& path, quint64 file, int health)
{
    if (std::exchange(checkAgain_, false))
        QTimer::singleShot(0, this, [this] { checkOpenFile(); });
    if (path != st_.DatabasePath || file != fileGeneration_ || !db_)
        return;
    if (health == int(Database::Health::IndexDamaged)) {
        // Searches through it would miss notes; they read every row while
        // it is built again in the background.
        const store::StepResult rebuilt = tryStep([&] { db_->repairSearchIndex(); });
        indexNotice_->watch();
        if (!rebuilt) {
            shell::showFailure(st_.prompts(), &window_, QStringLiteral("検索用の索引を作り直せませんでした。"), path,
                               *rebuilt.error());
        }
    } else if (health == int(Database::Health::Damaged)) {
        st_.prompts().message(&window_, store::japaneseMessage(store::ErrorKind::Damaged, st_.DatabaseFileName),
                              Msg::Exclamation);
    } else if (health == int(Database::Health::Unchecked)) {
        // A save stopped it; once the user pauses, it runs again.
        QTimer::singleShot(kRecheckAfterMs, this, [this, path] {
            if (path == st_.DatabasePath)
                checkOpenFile();
        });
    }
}

void OpenFileSession::attachDatabase(std::shared_ptr<Database> db)
{
    links_.dropReaders();
    if (db_ && db_ != db)
        tryStep([&] { db_->close(); }).ignoreFailure("given up for the file opened now");
    db_ = std::move(db);
    if (db_)
        db_->setTodayProvider([this] { return st_.clock().today(); });
    indexNotice_->watch();
    showBackupNotice();
}

void OpenFileSession::sayBackupFailed(const store::BackupFailure& failure)
{
    // The whole sentence would not fit beside the panels of a window of
    // the usual size: the bar shows the fact, pointing at it the rest.
    const QString told = QStringLiteral("「%1」のバックアップを作れませんでした（%2）。データは保存されています。")
                             .arg(QFileInfo(failure.path).fileName(), failure.reason);
    backupFailures_.insert(canonicalPath(failure.path), told);
    showBackupNotice();
}

void OpenFileSession::showBackupNotice()
{
    const QString told = db_ ? backupFailures_.value(canonicalPath(db_->path())) : QString();
    backupNotice_->setNoticeTip(told);
    backupNotice_->setAccessibleName(told);
    backupNotice_->setVisible(!told.isEmpty());
}

void OpenFileSession::mnuOpenDB_Click()
{
    const auto chosen = st_.prompts().openFile(&window_, st_.DatabaseFolder, QStringLiteral("*.zmd"));
    if (!chosen)
        return;
    const QString name = fileNameOf(*chosen);
    if (!name.toUpper().contains(QLatin1String(".ZMD"))) {
        st_.prompts().message(&window_, QStringLiteral("そのファイルを開くことは出来ません"), Msg::Exclamation);
        return;
    }
    // The editor is emptied for the other file: its note is not left unasked.
    if (!links_.mayLeaveNote())
        return;
    st_.PreviousDatabasePath = st_.DatabasePath;
    st_.PreviousDatabaseFileName = st_.DatabaseFileName;
    st_.DatabasePath = *chosen;
    st_.DatabaseFileName = name;
    OpenDatabaseFile();
}

void OpenFileSession::mnuRecentFile_Click(int index)
{
    if (recent_->path(index).isEmpty() || (!links_.mayLeaveNote()))
        return;
    switchTo(recent_->path(index));
}

void OpenFileSession::openHelpDatabase()
{
    const QString saved = st_.DatabaseFileName;
    st_.DatabaseFileName = Settings::HelpDatabaseName;
    const QString help = firstStartDatabasePath();
    st_.DatabaseFileName = saved;
    if (!links_.mayLeaveNote())
        return;
    switchTo(help);
}

void OpenFileSession::switchTo(const QString& path)
{
    if (path.isEmpty())
        return;
    st_.PreviousDatabasePath = st_.DatabasePath;
    st_.PreviousDatabaseFileName = st_.DatabaseFileName;
    st_.DatabasePath = path;
    st_.DatabaseFileName = fileNameOf(path);
    OpenDatabaseFile();
}

void OpenFileSession::OpenDatabaseFile()
{
    st_.DatabaseFolder = folderOf(st_.DatabasePath);

    std::shared_ptr<Database> opened;
    try {
        opened = openFile(st_.DatabasePath);
    } catch (const StoreError& e) {
        // Nothing changes: the open database stays, and so do its names.
        st_.prompts().message(&window_, cannotOpenMessage(st_.DatabasePath, e), Msg::Exclamation);
        st_.DatabasePath = st_.PreviousDatabasePath;
        st_.DatabaseFileName = st_.PreviousDatabaseFileName;
        return;
    }

    if (!store::hasZumiloTables(*opened)) {
        opened->close();
        st_.prompts().message(&window_, kWrongDatabase, Msg::OkOnly);
        st_.DatabasePath = st_.PreviousDatabasePath;
        st_.DatabaseFileName = st_.PreviousDatabaseFileName;
        if (!db_ && !st_.DatabasePath.isEmpty())
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

void OpenFileSession::showOpenedDatabase()
{
    links_.showFile();
    QTimer::singleShot(0, this, [this] { checkOpenFile(); });
}

// --- creating a database -----------------------------------------------------------

void OpenFileSession::mnuDBnew_Click()
{
    createDatabaseFile(false);
}

void OpenFileSession::mnuDBnew2_Click()
{
    createDatabaseFile(true);
}

void OpenFileSession::createDatabaseFile(bool withStarterCategories)
{
    auto chosen = st_.prompts().saveFile(&window_, st_.DatabaseFolder, QStringLiteral("*.zmd"));
    if (!chosen)
        return;
    QString path = *chosen;
    QString name = fileNameOf(path);
    if (name.isEmpty() || name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'))) {
        st_.prompts().message(&window_,
                              QStringLiteral("ファイル名が正しくありません。別のファイル名をつけてください。"),
                              Msg::Exclamation);
        return;
    }
    if (!name.toUpper().contains(QLatin1String(".ZMD"))) {
        path += QStringLiteral(".zmd");
        name += QStringLiteral(".zmd");
    }
    if (QFileInfo::exists(path)) {
        st_.prompts().message(&window_,
                              QStringLiteral("このファイル名は既に存在します。他のファイル名をつけてください。"));
        return;
    }

    if (!links_.mayLeaveNote())
        return;
    std::shared_ptr<Database> created;
    try {
        store::createZumiloDatabase(path, withStarterCategories);
        created = Database::open(path);
    } catch (const StoreError& e) {
        // Say so, and keep working on the database that is open.
        st_.prompts().message(&window_,
                              QStringLiteral("データベースを作成できませんでした。\n") + path + QStringLiteral("\n\n")
                                  + e.message(),
                              Msg::Exclamation);
        return;
    }
    st_.prompts().message(&window_, QStringLiteral("データベースを作成しました"));

    st_.DatabasePath = path;
    st_.DatabaseFileName = name;
    attachDatabase(created);
    showOpenedDatabase();
}

// --- backups -------------------------------------------------------------------------

void OpenFileSession::mnuRestoreBackup_Click()
{
    const QString name = st_.DatabaseFileName;
    const std::vector<store::Backup> backups = store::listBackups(st_.DatabasePath);
    if (st_.DatabasePath.isEmpty() || backups.empty()) {
        st_.prompts().message(&window_, QStringLiteral("「%1」のバックアップはありません。").arg(name),
                              Msg::Information);
        return;
    }
    // When each was taken, as its name records it (the file's own time
    // changes when the folder is copied), and its place in the list, so
    // that two taken in one second differ too.
    auto taken = [](const store::Backup& b) { return b.takenAt.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")); };
    QStringList items;
    for (const store::Backup& b : backups)
        items << QStringLiteral("%1. %2").arg(items.size() + 1).arg(taken(b));
    const auto chosen = st_.prompts().choose(&window_, QStringLiteral("「%1」をいつの状態に戻しますか？").arg(name),
                                             items, QStringLiteral("バックアップから復元"));
    if (!chosen || *chosen < 0 || size_t(*chosen) >= backups.size())
        return;
    const store::Backup& backup = backups[size_t(*chosen)];
    const QString when = taken(backup);
    const int answer = st_.prompts().message(
        &window_,
        QStringLiteral("「%1」を %2 の状態に戻しますか？\n今の内容は、バックアップの保存先に残ります。")
            .arg(name, when),
        Msg::YesNo + Msg::Exclamation + Msg::DefaultButton2, QStringLiteral("バックアップから復元"));
    if (answer != Msg::Yes)
        return;
    if (!links_.mayLeaveNote())
        return;
    if (!releaseFile()) {
        st_.prompts().message(&window_, QStringLiteral("開いている画面を閉じてから、もう一度お試しください。"),
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
        st_.prompts().message(&window_,
                              QStringLiteral("バックアップから戻せませんでした。「%1」は元のままです。\n\n").arg(name)
                                  + failure,
                              Msg::Exclamation);
        return;
    }
    st_.prompts().message(&window_, QStringLiteral("「%1」を %2 の状態に戻しました。").arg(name, when),
                          Msg::Information);
}

bool OpenFileSession::releaseFile()
{
    if (!links_.closeOtherWindows())
        return false;
    links_.dropReaders();
    if (db_)
        tryStep([&] { db_->close(); }).ignoreFailure("the file is let go of");
    db_.reset();
    // A check still reading the file would judge the one put in its place.
    if (check_ && check_->isRunning()) {
        store::detail::stopThoroughChecks(store::detail::identify(st_.DatabasePath).path);
        check_->wait();
    }
    ++fileGeneration_;
    return true;
}

} // namespace zumilo::app
