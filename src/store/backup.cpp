#include "backup.h"

#include "database.h"
#include "error.h"
#include "filestate.h"
#include "snapshot.h"
#include "statement.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <sqlite3.h>
#include <thread>

#ifdef Q_OS_UNIX
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <io.h>
#endif

namespace zumilo::store {

namespace {

constexpr char TimeFormat[] = "yyyyMMdd-HHmmsszzz";

struct Job {
    std::mutex mutex;
    std::condition_variable ended;
    bool running = true; // from its start to the end of its copy
    std::thread thread;
    std::shared_ptr<detail::Snapshot> snapshot; // the file as the run found it, until copied
    sqlite3* copying = nullptr;                 // while it copies, to stop it
    std::atomic<bool> cancel{false};

    void stop()
    {
        cancel = true;
        std::lock_guard lock(mutex);
        if (copying)
            sqlite3_interrupt(copying);
    }

    void finish()
    {
        {
            std::lock_guard lock(mutex);
            running = false;
        }
        ended.notify_all();
    }

    void wait()
    {
        std::unique_lock lock(mutex);
        ended.wait(lock, [this] { return !running; });
        std::thread done = std::move(thread);
        lock.unlock();
        if (done.joinable())
            done.join();
    }

    // Whether the copy of a file the run wrote to is still under way.
    bool owed()
    {
        std::lock_guard lock(mutex);
        return running && snapshot && detail::snapshotWritten(*snapshot);
    }
};

struct Jobs {
    std::mutex mutex;
    QString folder;
    int generations = 5;
    std::map<QString, std::shared_ptr<Job>> byPath; // one per file and run

    std::vector<std::shared_ptr<Job>> all()
    {
        std::lock_guard lock(mutex);
        std::vector<std::shared_ptr<Job>> list;
        for (auto& [path, job] : byPath)
            list.push_back(job);
        return list;
    }

    void joinAll()
    {
        for (auto& job : all())
            job->wait();
    }
};

std::mutex beforeCopyMutex;
std::function<void()> beforeCopy;

std::mutex failureNoticeMutex;
std::function<void(const BackupFailure&)> failureNotice;

const QString kFolderNotWritable = QStringLiteral("保存先のフォルダーに書き込めません");
const QString kNotWritten = QStringLiteral("写しを書けませんでした");

void tellFailure(const QString& path, const QString& reason)
{
    qWarning("no backup of %s: %s", qPrintable(path), qPrintable(reason));
    const std::lock_guard lock(failureNoticeMutex);
    if (failureNotice)
        failureNotice({path, reason});
}

QString reasonOf(const StoreError& e)
{
    switch (e.kind()) {
    case ErrorKind::DiskFull:
        return QStringLiteral("ディスクがいっぱいです");
    case ErrorKind::ReadOnly:
    case ErrorKind::CannotOpen:
        return kFolderNotWritable;
    case ErrorKind::Busy:
        return QStringLiteral("ほかのプログラムがファイルを使っていました");
    default:
        return kNotWritten;
    }
}

Jobs& jobs()
{
    // Never destroyed: the program stops its backups itself before it ends
    // (stopBackups), while everything they use is still there.
    static Jobs* j = new Jobs;
    return *j;
}

QString canonicalOf(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// FOLDER/notes-1a2b3c4d: the name for people, the hash for two files of one name.
QString folderFor(const QString& folder, const QString& databasePath)
{
    const QString canonical = canonicalOf(databasePath);
    const QByteArray hash = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
    return QDir(folder).filePath(QFileInfo(canonical).completeBaseName() + QLatin1Char('-')
                                 + QString::fromLatin1(hash));
}

// A backup's name ends in the time it was taken.
const QRegularExpression& backupName()
{
    static const QRegularExpression name(QStringLiteral("-(\\d{8}-\\d{9})\\.zmd$"));
    return name;
}

std::vector<Backup> backupsIn(const QString& dir)
{
    std::vector<Backup> list;
    for (const QFileInfo& info : QDir(dir).entryInfoList({QStringLiteral("*.zmd")}, QDir::Files)) {
        const QRegularExpressionMatch m = backupName().match(info.fileName());
        if (!m.hasMatch())
            continue;
        list.push_back({info.filePath(), info.lastModified(),
                        QDateTime::fromString(m.captured(1), QString::fromLatin1(TimeFormat)), info.size()});
    }
    std::sort(list.begin(), list.end(), [](const Backup& a, const Backup& b) {
        return a.takenAt != b.takenAt ? a.takenAt > b.takenAt : a.path > b.path;
    });
    return list;
}

void syncFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return;
#ifdef Q_OS_UNIX
    ::fsync(f.handle());
#elif defined(Q_OS_WIN)
    ::_commit(f.handle());
#endif
}

struct Connection {
    sqlite3* db = nullptr;
    ~Connection() { sqlite3_close_v2(db); }
};

void openConnection(Connection& c, const QString& path, int flags)
{
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &c.db, flags, nullptr);
    if (rc != SQLITE_OK)
        throwSqliteError(c.db, rc, path);
    sqlite3_extended_result_codes(c.db, 1);
    sqlite3_busy_timeout(c.db, 60000);
}

void run(sqlite3* db, const char* sql)
{
    if (const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr); rc != SQLITE_OK)
        throwSqliteError(db, rc);
}

QString quoted(const QString& name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// Copies the notes, categories and options of the file as the snapshot
// holds it into a new file `target` (the search index stays behind: a
// restored file rebuilds it). Reads no lock of the file's, so saves go on
// meanwhile. Returns false when cancelled.
bool copyNotes(Job& job, const QString& target)
{
    Connection to;
    openConnection(to, target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI);
    {
        std::lock_guard lock(job.mutex);
        job.copying = to.db;
    }
    const auto done = qScopeGuard([&] {
        std::lock_guard lock(job.mutex);
        job.copying = nullptr;
    });
    run(to.db, "PRAGMA journal_mode=OFF");
    run(to.db, "PRAGMA synchronous=OFF");
    {
        detail::Statement attach(to.db, QStringLiteral("ATTACH ? AS src"));
        attach.bindAll({detail::snapshotUri(*job.snapshot)});
        attach.step();
    }
    auto pragma = [&](const char* name) {
        detail::Statement st(to.db, QStringLiteral("PRAGMA src.%1").arg(QLatin1String(name)));
        return st.step() ? st.columnInt(0) : 0;
    };
    run(to.db, QStringLiteral("PRAGMA main.page_size = %1").arg(pragma("page_size")).toUtf8().constData());
    // Tables first and filled, their indexes after: each index is then
    // built once, in order.
    std::vector<std::pair<QString, QString>> tables, others;
    {
        detail::Statement schema(to.db, QStringLiteral(
                                            "SELECT type, name, sql FROM src.sqlite_master WHERE sql IS NOT NULL "
                                            "AND name NOT LIKE 'zumilo%' AND name NOT LIKE 'sqlite%' ORDER BY rowid"));
        while (schema.step())
            (schema.column(0).toString() == QLatin1String("table") ? tables : others)
                .emplace_back(schema.column(1).toString(), schema.column(2).toString());
    }
    run(to.db, "BEGIN");
    for (const auto& [name, sql] : tables) {
        if (job.cancel)
            return false;
        run(to.db, sql.toUtf8().constData());
        run(to.db, QStringLiteral("INSERT INTO main.%1 SELECT * FROM src.%1").arg(quoted(name)).toUtf8().constData());
    }
    for (const auto& [name, sql] : others)
        run(to.db, sql.toUtf8().constData());
    {
        detail::Statement sequence(to.db,
                                   QStringLiteral("SELECT 1 FROM main.sqlite_master WHERE name = 'sqlite_sequence'"));
        if (sequence.step())
            run(to.db,
                "DELETE FROM main.sqlite_sequence; INSERT INTO main.sqlite_sequence SELECT * FROM src.sqlite_sequence");
    }
    run(to.db, QStringLiteral("PRAGMA main.application_id = %1").arg(pragma("application_id")).toUtf8().constData());
    run(to.db, QStringLiteral("PRAGMA main.user_version = %1").arg(pragma("user_version")).toUtf8().constData());
    run(to.db, "COMMIT");
    run(to.db, "DETACH src");
    return !job.cancel;
}

// Copies `source` page by page into a new file `target`, holding the
// source's read lock from the first page to the last so that the copy is
// one moment of the file. With `sync` the copy is on the disk when this
// returns.
bool copyPages(const QString& source, const QString& target, bool sync)
{
    Connection from, to;
    openConnection(from, source, SQLITE_OPEN_READONLY);
    openConnection(to, target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    run(to.db, "PRAGMA journal_mode=OFF");
    run(to.db, sync ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
    run(from.db, "BEGIN");
    run(from.db, "SELECT count(*) FROM sqlite_master");
    sqlite3_backup* backup = sqlite3_backup_init(to.db, "main", from.db, "main");
    if (!backup)
        throwSqliteError(to.db, sqlite3_errcode(to.db), target);
    const int rc = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    sqlite3_exec(from.db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_DONE)
        throwSqliteError(to.db, rc, target);
    return true;
}

// A backup fit to take the file's place: a sound database holding the
// tables of a notes file. Anything else would leave no notes at all.
void checkBackup(const QString& path)
{
    try {
        if (QFileInfo(path).size() == 0 || !detail::hasDatabaseHeader(path))
            throw StoreError(ErrorKind::NotADatabase, path);
        Connection c;
        openConnection(c, path, SQLITE_OPEN_READONLY);
        detail::quickCheck(c.db, path);
        detail::Statement st(c.db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' "
                                                  "AND name IN ('T_idea', 'T_bunrui', 'T_option')"));
        if (!st.step() || st.columnInt(0) != 3)
            throw StoreError(ErrorKind::MissingColumn, QStringLiteral("no notes tables"));
    } catch (const StoreError& e) {
        throw StoreError(ErrorKind::UnusableBackup, QStringLiteral("%1: %2").arg(path, e.detail()));
    }
}

// Whether a copy is sound; a damaged copy means a damaged original.
bool soundCopy(const QString& copy, const QString& original)
{
    Connection c;
    try {
        openConnection(c, copy, SQLITE_OPEN_READONLY);
        detail::quickCheck(c.db, copy);
        return true;
    } catch (const StoreError& e) {
        if (e.kind() == ErrorKind::Damaged)
            detail::noteDamaged(original);
        return false;
    }
}

// Why the copy could not be made; nothing when it was, or was given up.
std::optional<QString> backUp(Job& job, const QString& source, const QString& dir, int generations)
{
    if (!QDir().mkpath(dir))
        return kFolderNotWritable;
    // Left by a run that ended in the middle of a copy.
    for (const QString& stale : QDir(dir).entryList({QStringLiteral("*.part")}, QDir::Files))
        QFile::remove(QDir(dir).filePath(stale));
    const QString target = QDir(dir).filePath(QFileInfo(source).completeBaseName() + QLatin1Char('-')
                                              + QDateTime::currentDateTime().toString(QString::fromLatin1(TimeFormat))
                                              + QStringLiteral(".zmd"));
    const QString part = target + QStringLiteral(".part");
    QFile::remove(part);
    std::optional<QString> failure;
    try {
        if (!copyNotes(job, part))
            failure = QString(); // given up
    } catch (const StoreError& e) {
        failure = job.cancel ? QString() : reasonOf(e);
    }
    // Another program's write meanwhile makes the moment unreadable.
    if (!failure && !detail::snapshotIntact(*job.snapshot))
        failure = QStringLiteral("写している間にファイルが変更されました");
    const QDateTime modified = job.snapshot->modified;
    detail::dropSnapshot(job.snapshot);
    if (!failure && !soundCopy(part, source))
        failure = QStringLiteral("写しの点検で誤りが見つかりました");
    if (failure) {
        QFile::remove(part);
        if (failure->isEmpty())
            return std::nullopt;
        return failure;
    }
    syncFile(part);
    {
        QFile f(part);
        if (f.open(QIODevice::ReadWrite))
            f.setFileTime(modified, QFileDevice::FileModificationTime);
    }
    if (!QFile::rename(part, target)) {
        QFile::remove(part);
        return kFolderNotWritable;
    }
    const std::vector<Backup> all = backupsIn(dir);
    for (size_t i = size_t(std::max(generations, 1)); i < all.size(); ++i)
        QFile::remove(all[i].path);
    return std::nullopt;
}

std::shared_ptr<Job> jobFor(const QString& canonicalPath)
{
    Jobs& j = jobs();
    std::lock_guard lock(j.mutex);
    const auto it = j.byPath.find(canonicalPath);
    return it == j.byPath.end() ? nullptr : it->second;
}

// Where to put a file that is being replaced: renamed when it can be,
// copied otherwise (the folders may lie on different disks).
void keepAside(const QString& from, const QString& to)
{
    if (!QFileInfo::exists(from))
        return;
    if (QFile::copy(from, to))
        return;
    throw StoreError(QFileInfo(QFileInfo(to).absolutePath()).isWritable() ? ErrorKind::Io : ErrorKind::ReadOnly,
                     QStringLiteral("cannot keep %1 as %2").arg(from, to));
}

} // namespace

void setBackupFailureNotice(std::function<void(const BackupFailure&)> notice)
{
    const std::lock_guard lock(failureNoticeMutex);
    failureNotice = std::move(notice);
}

void setBackupFolder(const QString& folder, int generations)
{
    Jobs& j = jobs();
    std::lock_guard lock(j.mutex);
    j.folder = folder;
    j.generations = generations;
}

QString backupFolder()
{
    Jobs& j = jobs();
    std::lock_guard lock(j.mutex);
    return j.folder;
}

std::vector<Backup> listBackups(const QString& databasePath)
{
    const QString folder = backupFolder();
    if (folder.isEmpty())
        return {};
    return backupsIn(folderFor(folder, databasePath));
}

void finishBackups()
{
    jobs().joinAll();
}

bool finishingBackups()
{
    for (auto& job : jobs().all())
        if (job->owed())
            return true;
    return false;
}

void stopBackups()
{
    detail::stopPageChecks();
    Jobs& j = jobs();
    // A file the run wrote to keeps the copy of how it found it.
    for (auto& job : j.all())
        if (!job->owed())
            job->stop();
    j.joinAll();
}

void restoreBackup(const Backup& backup, const QString& databasePath)
{
    const QString canonical = canonicalOf(databasePath);
    if (detail::openConnections(canonical) > 0)
        throw StoreError(ErrorKind::InUse, QStringLiteral("connections still open"), databasePath);
    if (auto job = jobFor(canonical)) {
        job->stop();
        job->wait();
    }
    checkBackup(backup.path);

    const QFileInfo target(databasePath);
    const QString temp = target.dir().filePath(QLatin1Char('.') + target.fileName() + QStringLiteral(".restoring"));
    QFile::remove(temp);
    try {
        copyPages(backup.path, temp, true);
        QFile f(temp);
        if (f.open(QIODevice::ReadWrite))
            f.setFileTime(backup.savedAt, QFileDevice::FileModificationTime);
    } catch (...) {
        QFile::remove(temp);
        throw;
    }

    // The file being replaced stays at hand, with a journal a crash left
    // beside it: that journal belongs to it and would spoil the restored file.
    const QString dir = folderFor(backupFolder().isEmpty() ? target.absolutePath() : backupFolder(), databasePath);
    const QString aside = QDir(dir).filePath(target.completeBaseName() + QLatin1Char('-')
                                             + QDateTime::currentDateTime().toString(QString::fromLatin1(TimeFormat))
                                             + QStringLiteral("-replaced.zmd"));
    const QString journal = databasePath + QStringLiteral("-journal");
    try {
        QDir().mkpath(dir);
        keepAside(databasePath, aside);
        if (QFileInfo::exists(journal) && !QFile::rename(journal, aside + QStringLiteral("-journal")))
            throw StoreError(ErrorKind::Io, QStringLiteral("cannot move %1").arg(journal));
    } catch (...) {
        QFile::remove(temp);
        throw;
    }
    std::error_code error;
    std::filesystem::rename(QFile::encodeName(temp).toStdString(), QFile::encodeName(databasePath).toStdString(),
                            error);
    if (error) {
        QFile::rename(aside + QStringLiteral("-journal"), journal);
        QFile::remove(temp);
        throw StoreError(ErrorKind::Io, QStringLiteral("cannot put %1 in place: %2")
                                            .arg(databasePath, QString::fromLocal8Bit(error.message())));
    }
}

namespace detail {

void startBackup(const QString& canonicalPath)
{
    Jobs& j = jobs();
    auto job = std::make_shared<Job>();
    QString dir;
    int generations = 0;
    {
        std::lock_guard lock(j.mutex);
        if (j.folder.isEmpty() || j.byPath.count(canonicalPath))
            return;
        j.byPath[canonicalPath] = job;
        dir = folderFor(j.folder, canonicalPath);
        generations = j.generations;
    }
    // Taking the snapshot may wait for another program's write: the other
    // files' backups do not wait with it.
    std::shared_ptr<detail::Snapshot> snapshot;
    // Whatever stops it before its thread takes it over, the job ends here:
    // a job left running would hold up the program's end.
    auto ended = qScopeGuard([&] {
        detail::dropSnapshot(snapshot);
        job->finish();
    });
    const std::vector<Backup> existing = backupsIn(dir);
    if (existing.empty() || existing.front().savedAt != QFileInfo(canonicalPath).lastModified()) {
        try {
            snapshot = takeSnapshot(canonicalPath,
                                    [&job] { return job->cancel.load() || detail::pageChecksStopped(); });
        } catch (const StoreError& e) {
            if (!job->cancel && !detail::pageChecksStopped())
                tellFailure(canonicalPath, reasonOf(e));
        }
    }
    std::lock_guard lock(job->mutex);
    if (!snapshot || job->cancel)
        return; // nothing changed since the newest backup, or no copy to be had
    job->snapshot = snapshot;
    job->thread = std::thread([job, canonicalPath, dir, generations] {
        std::unique_lock hookLock(beforeCopyMutex);
        const auto hook = beforeCopy;
        hookLock.unlock();
        if (hook)
            hook();
        std::optional<QString> failure;
        try {
            failure = backUp(*job, canonicalPath, dir, generations);
        } catch (const StoreError& e) {
            failure = reasonOf(e);
        } catch (...) {
            failure = kNotWritten;
        }
        // The file stays as it was; the user hears that it has no copy.
        if (failure && !job->cancel)
            tellFailure(canonicalPath, *failure);
        detail::dropSnapshot(job->snapshot);
        job->finish();
    });
    ended.dismiss();
}

void waitForBackup(const QString& canonicalPath)
{
    if (const auto job = jobFor(canonicalPath))
        job->wait();
}

void setBeforeCopy(std::function<void()> hook)
{
    std::lock_guard lock(beforeCopyMutex);
    beforeCopy = std::move(hook);
}

bool backupCopying(const QString& canonicalPath)
{
    const auto job = jobFor(canonicalPath);
    if (!job)
        return false;
    std::lock_guard lock(job->mutex);
    return job->running;
}

bool isBackupFile(const QString& path)
{
    const QString folder = backupFolder();
    return !folder.isEmpty() && canonicalOf(path).startsWith(canonicalOf(folder) + QLatin1Char('/'))
           && backupName().match(path).hasMatch();
}

} // namespace detail

} // namespace zumilo::store
