#include "indexbuild.h"

#include "backup.h"
#include "database.h"
#include "error.h"
#include "filestate.h"
#include "searchindex.h"
#include "snapshot.h"

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <sqlite3.h>
#include <thread>

namespace zumilo::store {
namespace detail {

namespace {

// A slice holds the write lock this long at most; the pause after it lets
// a waiting save take its turn, and another program's (which polls the
// lock every 100 ms: with slices of a second, most of its writes gave up
// after a second's wait).
constexpr qint64 kSliceMs = 150;
constexpr auto kPause = std::chrono::milliseconds(60);
constexpr auto kYieldStep = std::chrono::milliseconds(2);
constexpr int kYieldSteps = 1000;
constexpr qint64 kSliceRows = 20000;
constexpr qint64 kOpenSliceRows = 2000;

struct Build {
    QString path;
    std::atomic<bool> stop{false};
    std::atomic<bool> running{true};  // set false under buildsMutex
    bool again = false;               // asked for again while running; under buildsMutex
    std::atomic<bool> indexing{true}; // not merging yet
    std::atomic<bool> waiting{false}; // for the file's backup
    std::atomic<bool> failed{false};  // a commit starts no merge after it
    std::mutex dbMutex;
    sqlite3* db = nullptr; // while open, for an interrupt
    std::thread thread;
};

std::mutex buildsMutex;
std::map<QString, std::unique_ptr<Build>> builds;
std::atomic<qint64> sliceRows{kSliceRows};
std::atomic<qint64> sliceMs{kSliceMs};
std::function<void(qint64)> inSliceHook;

void exec(sqlite3* db, const char* sql)
{
    if (const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr); rc != SQLITE_OK)
        throwSqliteError(db, rc, QStringLiteral("search index"));
}

void buildOnce(Build& b)
{
    sqlite3* db = nullptr;
    // Waits for other writers as long as the build is wanted.
    Patience patience{[&b] { return b.stop.load(); }, {}, {}};
    try {
        // Nothing is written before the file's pages are found sound.
        passPageCheck(identify(b.path), [&b](bool) {
            if (b.stop)
                throw StoreError(ErrorKind::Cancelled, QStringLiteral("search index build stopped"), b.path);
        });
    } catch (const StoreError& e) {
        if (!b.stop) {
            qWarning("search index of %s not built: %s", qPrintable(b.path), e.what());
            b.failed = true;
        }
        return;
    }
    // Through the program's own layer, so a backup copying the file as it
    // was keeps the pages the build overwrites.
    if (sqlite3_open_v2(QFile::encodeName(b.path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                        writingVfs())
        != SQLITE_OK) {
        sqlite3_close_v2(db);
        return;
    }
    {
        const std::lock_guard lock(b.dbMutex);
        b.db = db;
    }
    try {
        sqlite3_extended_result_codes(db, 1);
        waitPatiently(db, patience);
        exec(db, "PRAGMA synchronous=FULL");
        // A slice's pages stay in memory until its commit: spilled, they
        // were written and synced several times a slice, and the spill's
        // exclusive lock kept every reader out for the rest of the slice.
        exec(db, "PRAGMA cache_size=-65536");
        SearchIndex index(db);
        const std::function<void(qint64)> hook = inSliceHook;
        const qint64 most = sliceRows;
        const qint64 longest = sliceMs;
        // Whether the log is whole is asked once a pass; its triggers, which
        // another program may drop between slices, every slice.
        bool asked = false, catchable = false;
        for (bool finished = false; !finished && !b.stop;) {
            // A save waiting for the file goes first: it would otherwise
            // have to catch the pause between two slices.
            for (int i = 0; i < kYieldSteps && writeComing(b.path) && !b.stop; ++i)
                std::this_thread::sleep_for(kYieldStep);
            // The pages a slice overwrites are kept for a backup copying
            // the file meanwhile; the whole index would outgrow that room
            // and lose the run's backup.
            b.waiting = backupCopying(b.path);
            if (b.waiting) {
                std::this_thread::sleep_for(kPause);
                continue;
            }
            exec(db, "BEGIN IMMEDIATE");
            try {
                index.beginWrite();
                QElapsedTimer clock;
                clock.start();
                qint64 rows = 0;
                const auto more = [&](qint64 done) {
                    rows = done;
                    return done < most && !clock.hasExpired(longest) && !b.stop && !writeComing(b.path);
                };
                const bool wasBuilding = index.building();
                finished = index.buildSlice(more);
                // Changes by other programs since the index was last in
                // step, too many for the open to index them.
                if (!wasBuilding && index.findColumns() && !index.inStep()) {
                    if (!asked)
                        catchable = index.canCatchUp();
                    asked = catchable && index.followsChanges();
                    if (asked) {
                        finished = index.catchUpSlice(more);
                    } else {
                        index.startBuild();
                        b.indexing = true;
                        finished = false;
                    }
                }
                const bool indexed = finished;
                if (indexed)
                    finished = index.mergeSlice(
                        [&] { return !clock.hasExpired(longest) && !b.stop && !writeComing(b.path); });
                if (hook)
                    hook(rows);
                index.endWrite();
                exec(db, "COMMIT");
                // Searches go through the index once it is committed.
                if (indexed) {
                    const std::lock_guard lock(buildsMutex);
                    if (!b.again)
                        b.indexing = false;
                }
            } catch (...) {
                index.abandonWrite();
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
            if (!finished)
                std::this_thread::sleep_for(kPause);
        }
    } catch (const std::exception& e) {
        // The next open goes on from the last slice committed.
        if (!b.stop) {
            qWarning("search index of %s not built: %s", qPrintable(b.path), e.what());
            b.failed = true;
        }
    }
    {
        const std::lock_guard lock(b.dbMutex);
        b.db = nullptr;
    }
    sqlite3_close_v2(db);
}

void run(Build& b)
{
    for (;;) {
        buildOnce(b);
        // Asked for after its last slice was under way: the file may have
        // changed since, and the request gets a pass of its own.
        const std::lock_guard lock(buildsMutex);
        if (!b.again || b.stop) {
            b.running = false;
            return;
        }
        b.again = false;
    }
}

void stop(std::unique_ptr<Build> b)
{
    b->stop = true;
    {
        const std::lock_guard lock(b->dbMutex);
        if (b->db)
            sqlite3_interrupt(b->db);
    }
    b->thread.join();
}

} // namespace

namespace {

// Under buildsMutex, where `b` is not running.
void startThread(std::unique_ptr<Build>& b, const QString& canonicalPath, bool indexing)
{
    const std::unique_ptr<Build> done = std::move(b); // finished: joins at once
    if (done)
        done->thread.join();
    b = std::make_unique<Build>();
    b->path = canonicalPath;
    b->indexing = indexing;
    b->thread = std::thread(run, std::ref(*b));
}

} // namespace

void startIndexBuild(const QString& canonicalPath, bool indexing)
{
    const std::lock_guard lock(buildsMutex);
    auto& b = builds[canonicalPath];
    if (b && b->running) {
        // A merge under way goes on to index what changed since: searches
        // read every row meanwhile.
        if (indexing)
            b->indexing = true;
        b->again = true;
        return;
    }
    startThread(b, canonicalPath, indexing);
}

bool startIndexMerge(const QString& canonicalPath)
{
    const std::lock_guard lock(buildsMutex);
    auto& b = builds[canonicalPath];
    // A merge that failed (a damaged block, say) waits for the next open
    // and its check rather than fail again at every few saves.
    if (b && (b->running || b->failed))
        return false;
    startThread(b, canonicalPath, false);
    return true;
}

bool indexBuildRunning(const QString& canonicalPath)
{
    const std::lock_guard lock(buildsMutex);
    const auto b = builds.find(canonicalPath);
    return b != builds.end() && b->second->running && b->second->indexing;
}

bool indexBuildBusy(const QString& canonicalPath)
{
    const std::lock_guard lock(buildsMutex);
    const auto b = builds.find(canonicalPath);
    return b != builds.end() && b->second->running;
}

void stopIndexBuild(const QString& canonicalPath)
{
    std::unique_ptr<Build> b;
    {
        const std::lock_guard lock(buildsMutex);
        const auto found = builds.find(canonicalPath);
        if (found == builds.end())
            return;
        b = std::move(found->second);
        builds.erase(found);
    }
    stop(std::move(b));
}

bool indexBuildWaiting(const QString& canonicalPath)
{
    const std::lock_guard lock(buildsMutex);
    const auto b = builds.find(canonicalPath);
    return b != builds.end() && b->second->running && b->second->waiting;
}

qint64 indexSliceRows(bool atOpen)
{
    return atOpen ? std::min(qint64(sliceRows), kOpenSliceRows) : qint64(sliceRows);
}

void setIndexBuildSlice(qint64 rows, std::function<void(qint64)> inSlice, qint64 ms)
{
    sliceRows = rows > 0 ? rows : kSliceRows;
    sliceMs = ms > 0 ? ms : kSliceMs;
    inSliceHook = std::move(inSlice);
}

} // namespace detail

void stopIndexBuilds()
{
    std::map<QString, std::unique_ptr<detail::Build>> all;
    {
        const std::lock_guard lock(detail::buildsMutex);
        all.swap(detail::builds);
    }
    for (auto& [path, b] : all)
        detail::stop(std::move(b));
}

} // namespace zumilo::store
