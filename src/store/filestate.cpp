#include "filestate.h"

#include "database.h"
#include "error.h"
#include "statement.h"

#include <QFile>
#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
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

struct PageCheck {
    enum class State { Pending, Running, Passed, Damaged, Failed };
    std::mutex mutex;
    std::condition_variable finished;
    State state = State::Pending;
    QString path;
    FileIdentity file;
    std::function<void()> afterPass;
    std::thread thread;
    sqlite3* db = nullptr; // while it runs, to stop it
    std::atomic<bool> stopped{false};
    Patience patience;
    std::optional<StoreError> failure;
};

// Windows of the program open files from the GUI thread while backups run
// beside it: every access goes through the lock.
struct Registry {
    std::mutex mutex;
    QList<FileIdentity> damaged;
    QSet<QString> checked; // fileKey()
    QHash<QString, int> open;
    std::map<QString, std::shared_ptr<PageCheck>> pageChecks; // fileKey()
};

// Never destroyed: a backup still running at the program's end uses it.
Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

// Set by stopPageChecks() until a file is opened again: no check starts
// meanwhile, so none outlives the program's end.
std::atomic<bool> ending{false};

struct ThoroughChecks {
    std::mutex mutex;
    std::vector<ThoroughCheck*> running;
    QHash<QString, int> writesComing;

    // Call with the mutex held.
    void stop(const QString& canonicalPath)
    {
        for (ThoroughCheck* check : running) {
            if (canonicalPath.isEmpty() || check->path == canonicalPath) {
                check->stopped = true;
                sqlite3_interrupt(check->db);
            }
        }
    }
};

ThoroughChecks& thoroughChecks()
{
    static ThoroughChecks* t = new ThoroughChecks;
    return *t;
}

// A check told to stop ends at its next step, even one that had not begun
// when it was told (which sqlite3_interrupt() would miss).
int stopWhenTold(void* stopped)
{
    return static_cast<std::atomic<bool>*>(stopped)->load() ? 1 : 0;
}

int patient(void* patience, int count)
{
    auto& p = *static_cast<Patience*>(patience);
    if (p.stopped && p.stopped())
        return 0;
    const auto now = std::chrono::steady_clock::now();
    if (count == 0)
        p.since = now;
    else if (p.most.count() > 0 && now - p.since >= p.most)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return 1;
}

} // namespace

void waitPatiently(sqlite3* db, Patience& patience)
{
    sqlite3_busy_handler(db, patient, &patience);
}

bool pageChecksStopped()
{
    return ending;
}

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

namespace {
bool isDatabaseHeader(const QByteArray& h)
{
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
} // namespace

bool hasDatabaseHeader(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return isDatabaseHeader(f.read(100));
}

QByteArray fileStart(sqlite3* db, int size)
{
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file || !file->pMethods)
        return {};
    QByteArray bytes(size, '\0');
    sqlite3_int64 length = 0;
    if (file->pMethods->xFileSize(file, &length) != SQLITE_OK)
        return {};
    bytes.truncate(int(std::min<sqlite3_int64>(length, size)));
    if (bytes.isEmpty() || file->pMethods->xRead(file, bytes.data(), int(bytes.size()), 0) != SQLITE_OK)
        return {};
    return bytes;
}

bool hasDatabaseHeader(sqlite3* db)
{
    return isDatabaseHeader(fileStart(db, 100));
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
    ending = false;
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

namespace {

std::shared_ptr<PageCheck> pageCheckOf(const FileIdentity& file)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.pageChecks.find(fileKey(file));
    return it == r.pageChecks.end() ? nullptr : it->second;
}

void runPageCheck(PageCheck& check)
{
    sqlite3* db = nullptr;
    PageCheck::State outcome = PageCheck::State::Failed;
    std::optional<StoreError> failure;
    try {
        const int rc = sqlite3_open_v2(QFile::encodeName(check.path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        if (rc != SQLITE_OK)
            throwSqliteError(db, rc, check.path);
        sqlite3_extended_result_codes(db, 1);
        check.patience = {[&check] { return check.stopped.load(); }, std::chrono::seconds(60), {}};
        waitPatiently(db, check.patience);
        sqlite3_progress_handler(db, 1000, stopWhenTold, &check.stopped);
        {
            std::lock_guard lock(check.mutex);
            check.db = check.stopped ? nullptr : db;
        }
        if (!check.stopped && quickCheck(db, check.path)) {
            noteChecked(check.file);
            // Before any writer goes on: the backup must see the file as
            // the run found it.
            if (check.afterPass) {
                try {
                    check.afterPass();
                } catch (const std::exception& e) {
                    qWarning("no backup of %s: %s", qPrintable(check.path), e.what());
                } catch (...) {
                    qWarning("no backup of %s", qPrintable(check.path));
                }
            }
            outcome = PageCheck::State::Passed;
        } else {
            failure = StoreError(ErrorKind::Cancelled, QStringLiteral("page check stopped"), check.path);
        }
    } catch (const StoreError& e) {
        outcome = e.kind() == ErrorKind::Damaged ? PageCheck::State::Damaged : PageCheck::State::Failed;
        failure = e;
        // A wait for another program's lock given up at the end.
        if (outcome == PageCheck::State::Failed && check.stopped)
            failure = StoreError(ErrorKind::Cancelled, QStringLiteral("page check stopped"), check.path);
    } catch (const std::exception& e) {
        // Nothing may leave the thread: the writers waiting hear of it.
        failure = StoreError(ErrorKind::Other, QString::fromLocal8Bit(e.what()), check.path);
    }
    std::lock_guard lock(check.mutex);
    check.db = nullptr;
    sqlite3_close_v2(db);
    check.state = outcome;
    check.failure = failure;
    check.finished.notify_all();
}

// Call with the check's mutex held.
void startLocked(const std::shared_ptr<PageCheck>& check)
{
    if (check->state != PageCheck::State::Pending && check->state != PageCheck::State::Failed)
        return;
    if (ending)
        return;
    if (check->thread.joinable())
        check->thread.join(); // a failed run, finished
    // A check stopped at the end of a run starts again if need be.
    check->stopped = false;
    check->state = PageCheck::State::Running;
    check->failure.reset();
    check->thread = std::thread([check] { runPageCheck(*check); });
}

} // namespace

void expectPageCheck(const FileIdentity& file, const QString& path, std::function<void()> afterPass)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto& check = r.pageChecks[fileKey(file)];
    if (!check) {
        check = std::make_shared<PageCheck>();
        check->path = path;
        check->file = file;
    }
    std::lock_guard checkLock(check->mutex);
    // Not while it runs: its thread reads afterPass without the lock. A
    // failed check runs again, and takes it then.
    if (!check->afterPass && (check->state == PageCheck::State::Pending || check->state == PageCheck::State::Failed))
        check->afterPass = std::move(afterPass);
}

void passPageCheck(const FileIdentity& file, const std::function<void(bool)>& waiting)
{
    const auto check = pageCheckOf(file);
    if (!check)
        return;
    std::unique_lock lock(check->mutex);
    startLocked(check);
    auto over = [&] { return check->state != PageCheck::State::Running; };
    bool told = false;
    while (!check->finished.wait_for(lock, std::chrono::milliseconds(100), over)) {
        if (!waiting)
            continue;
        lock.unlock();
        waiting(true);
        told = true;
        lock.lock();
    }
    auto failure = check->failure;
    if (!failure && check->state != PageCheck::State::Passed)
        failure = StoreError(ErrorKind::Cancelled, QStringLiteral("the program is ending"), check->path);
    lock.unlock();
    if (told)
        waiting(false);
    if (failure)
        throw *failure;
}

void stopPageChecks()
{
    ending = true;
    stopThoroughChecks({});
    std::vector<std::shared_ptr<PageCheck>> all;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        for (auto& [key, check] : r.pageChecks)
            all.push_back(check);
    }
    for (auto& check : all) {
        std::thread running;
        {
            std::lock_guard lock(check->mutex);
            check->stopped = true;
            if (check->db)
                sqlite3_interrupt(check->db);
            running = std::move(check->thread);
        }
        if (running.joinable())
            running.join();
    }
}

bool beginThoroughCheck(ThoroughCheck& check)
{
    ThoroughChecks& t = thoroughChecks();
    std::lock_guard lock(t.mutex);
    if (ending || t.writesComing.value(check.path) > 0)
        return false;
    sqlite3_progress_handler(check.db, 1000, stopWhenTold, &check.stopped);
    check.patience = {[&check] { return check.stopped.load(); }, std::chrono::milliseconds(3000), {}};
    waitPatiently(check.db, check.patience);
    t.running.push_back(&check);
    return true;
}

void endThoroughCheck(ThoroughCheck& check)
{
    ThoroughChecks& t = thoroughChecks();
    std::lock_guard lock(t.mutex);
    std::erase(t.running, &check);
}

void stopThoroughChecks(const QString& canonicalPath)
{
    ThoroughChecks& t = thoroughChecks();
    std::lock_guard lock(t.mutex);
    t.stop(canonicalPath);
}

bool writeComing(const QString& canonicalPath)
{
    ThoroughChecks& t = thoroughChecks();
    std::lock_guard lock(t.mutex);
    return t.writesComing.contains(canonicalPath);
}

WriteComing::WriteComing(const QString& canonicalPath) : path_(canonicalPath)
{
    ThoroughChecks& t = thoroughChecks();
    std::lock_guard lock(t.mutex);
    ++t.writesComing[path_];
    t.stop(path_);
}

WriteComing::~WriteComing()
{
    ThoroughChecks& t = thoroughChecks();
    std::lock_guard lock(t.mutex);
    if (--t.writesComing[path_] <= 0)
        t.writesComing.remove(path_);
}

bool quickCheck(sqlite3* db, const QString& path)
{
    // A page the check could not read once (the disk failing a moment) is
    // read again before the file is called damaged.
    for (int attempt = 0;; ++attempt) {
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
        sqlite3_finalize(st);
        if (rc == SQLITE_INTERRUPT)
            return false;
        if (rc != SQLITE_ROW)
            throwSqliteError(db, rc, path);
        if (verdict == QLatin1String("ok"))
            return true;
        if (attempt == 0
            && (verdict.contains(QLatin1String("failed to get page"))
                || verdict.contains(QLatin1String("unable to get the page"))))
            continue;
        noteDamaged(path);
        throw StoreError(ErrorKind::Damaged, verdict, path);
    }
}

} // namespace zumilo::store::detail
