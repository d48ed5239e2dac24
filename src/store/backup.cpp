#include "backup.h"

#include "database.h"
#include "error.h"
#include "filestate.h"
#include "statement.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <sqlite3.h>
#include <thread>

#ifdef Q_OS_UNIX
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <io.h>
#endif

namespace zumilo::store {

namespace {

// Pages copied between looks at the cancel flag (4 MB of 4 KB pages).
constexpr int StepPages = 1024;
// A write waits this long for a backup still reading a slow disk, then
// goes ahead without it rather than keep the user waiting.
constexpr auto WriterPatience = std::chrono::seconds(10);
constexpr char TimeFormat[] = "yyyyMMdd-HHmmsszzz";

struct Job {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable released;
    bool fileReleased = false; // the backup no longer reads the file
    std::atomic<bool> cancel{false};

    void release()
    {
        std::lock_guard lock(mutex);
        fileReleased = true;
        released.notify_all();
    }
};

struct Jobs {
    std::mutex mutex;
    QString folder;
    int generations = 5;
    std::map<QString, std::shared_ptr<Job>> byPath; // one per file and run

    void joinAll()
    {
        std::vector<std::shared_ptr<Job>> all;
        {
            std::lock_guard lock(mutex);
            for (auto& [path, job] : byPath)
                all.push_back(job);
        }
        for (auto& job : all) {
            if (job->thread.joinable())
                job->thread.join();
        }
    }
};

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
    return QDir(folder).filePath(QFileInfo(canonical).completeBaseName() + QLatin1Char('-') + QString::fromLatin1(hash));
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

// Copies `source` page by page into a new file `target`, holding the
// source's read lock from the first page to the last so that the copy is
// one moment of the file. With `sync` the copy is on the disk when this
// returns. Returns false when cancelled.
bool copyPages(const QString& source, const QString& target, bool sync, const std::atomic<bool>* cancel)
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
    int rc = SQLITE_OK;
    while (rc == SQLITE_OK && !(cancel && *cancel))
        rc = sqlite3_backup_step(backup, StepPages);
    sqlite3_backup_finish(backup);
    sqlite3_exec(from.db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        return false;
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
        detail::quickCheck(c.db, path, -1);
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
        detail::quickCheck(c.db, copy, -1);
        return true;
    } catch (const StoreError& e) {
        if (e.kind() == ErrorKind::Damaged)
            detail::noteDamaged(original);
        return false;
    }
}

void backUp(Job& job, const QString& source, const QString& dir, int generations)
{
    const QFileInfo info(source);
    const QDateTime modified = info.lastModified();
    const std::vector<Backup> existing = backupsIn(dir);
    if (!existing.empty() && existing.front().savedAt == modified && existing.front().size == info.size())
        return; // nothing changed since
    if (!QDir().mkpath(dir))
        return;
    // Left by a run that ended in the middle of a copy.
    for (const QString& stale : QDir(dir).entryList({QStringLiteral("*.part")}, QDir::Files))
        QFile::remove(QDir(dir).filePath(stale));
    const QString target = QDir(dir).filePath(info.completeBaseName() + QLatin1Char('-')
                                              + QDateTime::currentDateTime().toString(QString::fromLatin1(TimeFormat))
                                              + QStringLiteral(".zmd"));
    const QString part = target + QStringLiteral(".part");
    QFile::remove(part);
    bool copied = false;
    try {
        copied = copyPages(source, part, false, &job.cancel);
    } catch (const StoreError& e) {
        qWarning("backup of %s failed: %s", qPrintable(source), e.what());
    }
    job.release();
    if (!copied || !soundCopy(part, source)) {
        QFile::remove(part);
        return;
    }
    syncFile(part);
    {
        QFile f(part);
        if (f.open(QIODevice::ReadWrite))
            f.setFileTime(modified, QFileDevice::FileModificationTime);
    }
    if (!QFile::rename(part, target)) {
        QFile::remove(part);
        return;
    }
    const std::vector<Backup> all = backupsIn(dir);
    for (size_t i = size_t(std::max(generations, 1)); i < all.size(); ++i)
        QFile::remove(all[i].path);
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

void stopBackups()
{
    Jobs& j = jobs();
    {
        std::lock_guard lock(j.mutex);
        for (auto& [path, job] : j.byPath)
            job->cancel = true;
    }
    j.joinAll();
}

void restoreBackup(const Backup& backup, const QString& databasePath)
{
    const QString canonical = canonicalOf(databasePath);
    if (detail::openConnections(canonical) > 0)
        throw StoreError(ErrorKind::InUse, QStringLiteral("connections still open"), databasePath);
    if (auto job = jobFor(canonical)) {
        job->cancel = true;
        if (job->thread.joinable())
            job->thread.join();
    }
    checkBackup(backup.path);

    const QFileInfo target(databasePath);
    const QString temp = target.dir().filePath(QLatin1Char('.') + target.fileName() + QStringLiteral(".restoring"));
    QFile::remove(temp);
    try {
        copyPages(backup.path, temp, true, nullptr);
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
    std::filesystem::rename(QFile::encodeName(temp).toStdString(), QFile::encodeName(databasePath).toStdString(), error);
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
    std::lock_guard lock(j.mutex);
    if (j.folder.isEmpty() || j.byPath.count(canonicalPath))
        return;
    auto job = std::make_shared<Job>();
    j.byPath[canonicalPath] = job;
    const QString dir = folderFor(j.folder, canonicalPath);
    const int generations = j.generations;
    job->thread = std::thread([job, canonicalPath, dir, generations] {
        try {
            backUp(*job, canonicalPath, dir, generations);
        } catch (...) {
            // A backup that could not be made leaves the file as it was.
        }
        job->release();
    });
}

bool isBackupFile(const QString& path)
{
    const QString folder = backupFolder();
    return !folder.isEmpty() && canonicalOf(path).startsWith(canonicalOf(folder) + QLatin1Char('/'))
           && backupName().match(path).hasMatch();
}

void waitForBackup(const QString& canonicalPath)
{
    const std::shared_ptr<Job> job = jobFor(canonicalPath);
    if (!job)
        return;
    std::unique_lock lock(job->mutex);
    if (!job->released.wait_for(lock, WriterPatience, [&] { return job->fileReleased; })) {
        job->cancel = true;
        job->released.wait(lock, [&] { return job->fileReleased; });
    }
}

} // namespace detail

} // namespace zumilo::store
