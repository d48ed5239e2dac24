#include "filestate.h"

#include "database.h"
#include "error.h"
#include "statement.h"

#include <QFile>
#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <sqlite3.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace zumilo::store::detail {

namespace {

QString fileKey(const FileIdentity& f)
{
    return f.path + QStringLiteral("|%1:%2").arg(f.device).arg(f.inode);
}

// Windows of the program open files from the GUI thread while backups run
// beside it: every access goes through the lock.
struct Registry {
    std::mutex mutex;
    QList<FileIdentity> damaged;
    QSet<QString> checked; // fileKey()
    QHash<QString, int> open;
};

// Never destroyed: a backup still running at the program's end uses it.
Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

} // namespace

FileIdentity identify(const QString& path)
{
    FileIdentity id;
    const QFileInfo info(path);
    id.path = info.canonicalFilePath();
    if (id.path.isEmpty())
        id.path = info.absoluteFilePath();
    id.modified = info.lastModified().toMSecsSinceEpoch();
    id.size = info.size();
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(id.path).constData(), &st) == 0) {
        id.device = quint64(st.st_dev);
        id.inode = quint64(st.st_ino);
    }
#endif
    return id;
}

bool hasDatabaseHeader(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray h = f.read(100);
    if (h.startsWith(QByteArray("SQLite format 3\0", 16)))
        return true;
    if (h.size() < 100)
        return false;
    // Page size, file format versions and the payload fractions the
    // format fixes: together nothing else begins so by chance.
    auto byte = [&](int at) { return uchar(h[at]); };
    const int pageSize = byte(16) << 8 | byte(17);
    const bool powerOfTwo = pageSize == 1 || (pageSize >= 512 && (pageSize & (pageSize - 1)) == 0);
    return powerOfTwo && (byte(18) == 1 || byte(18) == 2) && (byte(19) == 1 || byte(19) == 2) && byte(21) == 64
           && byte(22) == 32 && byte(23) == 32;
}

void noteDamaged(const QString& path)
{
    if (path.isEmpty())
        return;
    const FileIdentity id = identify(path);
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (!r.damaged.contains(id))
        r.damaged.append(id);
    r.checked.remove(fileKey(id));
}

bool isKnownDamaged(const QString& path)
{
    Registry& r = registry();
    {
        std::lock_guard lock(r.mutex);
        if (r.damaged.isEmpty())
            return false;
    }
    const FileIdentity now = identify(path);
    std::lock_guard lock(r.mutex);
    return r.damaged.contains(now);
}

bool isChecked(const FileIdentity& file)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.checked.contains(fileKey(file));
}

void noteChecked(const FileIdentity& file)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.checked.insert(fileKey(file));
}

void noteOpened(const QString& canonicalPath)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    ++r.open[canonicalPath];
}

void noteClosed(const QString& canonicalPath)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (--r.open[canonicalPath] <= 0)
        r.open.remove(canonicalPath);
}

int openConnections(const QString& canonicalPath)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.open.value(canonicalPath);
}

bool quickCheck(sqlite3* db, const QString& path, int budgetMs)
{
    // The check runs as one step of the engine, which no progress handler
    // sees; an interrupt from beside it stops it between pages.
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread watchdog;
    if (budgetMs >= 0) {
        watchdog = std::thread([&] {
            std::unique_lock lock(mutex);
            if (!finished.wait_for(lock, std::chrono::milliseconds(budgetMs), [&] { return done; }))
                sqlite3_interrupt(db);
        });
    }
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &st, nullptr);
    QString verdict;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(st);
        if (rc == SQLITE_ROW)
            verdict = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        else
            rc = sqlite3_errcode(db);
    }
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    finished.notify_all();
    if (watchdog.joinable())
        watchdog.join();
    sqlite3_finalize(st);
    if (rc == SQLITE_INTERRUPT)
        return false;
    if (rc != SQLITE_ROW)
        throwSqliteError(db, rc, path);
    if (verdict != QLatin1String("ok")) {
        noteDamaged(path);
        throw StoreError(ErrorKind::Damaged, verdict, path);
    }
    return true;
}

} // namespace zumilo::store::detail
