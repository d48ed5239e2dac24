#include "snapshot.h"

#include "database.h"
#include "error.h"
#include "filestate.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sqlite3.h>

namespace zumilo::store::detail {

namespace {

// Pages a snapshot keeps at most; a write that changes more (a rebuild of
// the whole search index) breaks it rather than fill the memory.
constexpr qint64 MaxHeldBytes = qint64(256) << 20;
std::atomic<qint64> maxHeld{MaxHeldBytes};
constexpr char WriterName[] = "zumilo";
constexpr char ReaderName[] = "zumilo-snapshot";

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Snapshot>> byKey;
    std::atomic<int> count{0};
};

// Never destroyed: files may still be closed after the end of main().
Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

std::string realPath(const char* name)
{
    if (!name)
        return {};
    char* resolved = ::realpath(name, nullptr);
    std::string path = resolved ? resolved : name;
    std::free(resolved);
    return path;
}

std::shared_ptr<Snapshot> snapshotOf(const std::string& key)
{
    Registry& r = registry();
    if (r.count.load() == 0)
        return nullptr;
    std::lock_guard lock(r.mutex);
    const auto it = r.byKey.find(key);
    return it == r.byKey.end() ? nullptr : it->second;
}

quint32 counterIn(const unsigned char* b)
{
    return quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | b[3];
}

sqlite3_vfs* systemVfs = nullptr;
sqlite3_vfs writerVfs;
sqlite3_vfs readerVfs;

struct File {
    sqlite3_file base;
    sqlite3_file* real;
    std::string* key;                    // the writer's main database file
    std::shared_ptr<Snapshot>* snapshot; // the reader's
};

File* fileOf(sqlite3_file* f)
{
    return reinterpret_cast<File*>(f);
}

sqlite3_file* real(sqlite3_file* f)
{
    return fileOf(f)->real;
}

// Keeps the pages from `first` to before `end` as they are now.
void keepPages(Snapshot& s, sqlite3_file* file, qint64 first, qint64 end)
{
    for (qint64 page = first; page < end && !s.broken; ++page) {
        if (page * s.pageSize >= s.size)
            break;
        if (s.before.count(page))
            continue;
        std::string bytes(size_t(s.pageSize), '\0');
        const int rc = file->pMethods->xRead(file, bytes.data(), int(s.pageSize), page * s.pageSize);
        s.held += s.pageSize;
        if ((rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ) || s.held > maxHeld) {
            s.broken = true;
            s.before.clear();
            return;
        }
        s.before.emplace(page, std::move(bytes));
    }
}

int writerWrite(sqlite3_file* f, const void* data, int n, sqlite3_int64 at)
{
    sqlite3_file* file = real(f);
    const std::shared_ptr<Snapshot> s = fileOf(f)->key ? snapshotOf(*fileOf(f)->key) : nullptr;
    if (!s)
        return file->pMethods->xWrite(file, data, n, at);
    std::lock_guard lock(s->mutex);
    s->written = true;
    if (!s->broken && n > 0) {
        keepPages(*s, file, at / s->pageSize, (at + n - 1) / s->pageSize + 1);
        if (at <= 24 && at + n >= 28) {
            // Another program's commit since ours shows in the counter.
            unsigned char now[4] = {};
            file->pMethods->xRead(file, now, 4, 24);
            if (counterIn(now) != s->counter)
                s->broken = true;
            s->counter = counterIn(static_cast<const unsigned char*>(data) + (24 - at));
        }
    }
    return file->pMethods->xWrite(file, data, n, at);
}

int writerTruncate(sqlite3_file* f, sqlite3_int64 size)
{
    sqlite3_file* file = real(f);
    const std::shared_ptr<Snapshot> s = fileOf(f)->key ? snapshotOf(*fileOf(f)->key) : nullptr;
    if (!s)
        return file->pMethods->xTruncate(file, size);
    std::lock_guard lock(s->mutex);
    s->written = true;
    keepPages(*s, file, (size + s->pageSize - 1) / s->pageSize, (s->size + s->pageSize - 1) / s->pageSize);
    return file->pMethods->xTruncate(file, size);
}

int readerRead(sqlite3_file* f, void* data, int n, sqlite3_int64 at)
{
    Snapshot& s = **fileOf(f)->snapshot;
    std::lock_guard lock(s.mutex);
    if (s.broken)
        return SQLITE_IOERR_READ;
    auto* out = static_cast<char*>(data);
    const int available = int(std::clamp<qint64>(s.size - at, 0, n));
    std::memset(out + available, 0, size_t(n - available));
    if (available > 0) {
        sqlite3_file* file = real(f);
        const int rc = file->pMethods->xRead(file, out, available, at);
        if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ)
            return rc;
        for (qint64 page = at / s.pageSize; page * s.pageSize < at + available; ++page) {
            const auto it = s.before.find(page);
            if (it == s.before.end())
                continue;
            const qint64 from = std::max<qint64>(at, page * s.pageSize);
            const qint64 to = std::min<qint64>(at + available, (page + 1) * s.pageSize);
            std::memcpy(out + (from - at), it->second.data() + (from - page * s.pageSize), size_t(to - from));
        }
    }
    return available < n ? SQLITE_IOERR_SHORT_READ : SQLITE_OK;
}

int close(sqlite3_file* f)
{
    File* file = fileOf(f);
    const int rc = file->real->pMethods ? file->real->pMethods->xClose(file->real) : SQLITE_OK;
    delete file->key;
    delete file->snapshot;
    file->key = nullptr;
    file->snapshot = nullptr;
    return rc;
}

// Everything else goes to the system's file as it is.
sqlite3_io_methods methods(bool reader)
{
    sqlite3_io_methods m{};
    m.iVersion = 3;
    m.xClose = close;
    m.xRead = reader ? readerRead : +[](sqlite3_file* f, void* d, int n, sqlite3_int64 at) {
        return real(f)->pMethods->xRead(real(f), d, n, at);
    };
    m.xWrite = reader ? +[](sqlite3_file*, const void*, int, sqlite3_int64) { return SQLITE_READONLY; } : writerWrite;
    m.xTruncate = reader ? +[](sqlite3_file*, sqlite3_int64) { return SQLITE_READONLY; } : writerTruncate;
    m.xSync = [](sqlite3_file* f, int flags) { return real(f)->pMethods->xSync(real(f), flags); };
    m.xFileSize = reader ? +[](sqlite3_file* f, sqlite3_int64* size) {
        Snapshot& s = **fileOf(f)->snapshot;
        std::lock_guard lock(s.mutex);
        *size = s.size;
        return SQLITE_OK;
    } : +[](sqlite3_file* f, sqlite3_int64* size) { return real(f)->pMethods->xFileSize(real(f), size); };
    if (reader) {
        // The moment read takes no lock: nothing changes it.
        m.xLock = [](sqlite3_file*, int) { return SQLITE_OK; };
        m.xUnlock = [](sqlite3_file*, int) { return SQLITE_OK; };
        m.xCheckReservedLock = [](sqlite3_file*, int* out) {
            *out = 0;
            return SQLITE_OK;
        };
    } else {
        m.xLock = [](sqlite3_file* f, int l) { return real(f)->pMethods->xLock(real(f), l); };
        m.xUnlock = [](sqlite3_file* f, int l) { return real(f)->pMethods->xUnlock(real(f), l); };
        m.xCheckReservedLock = [](sqlite3_file* f, int* out) {
            return real(f)->pMethods->xCheckReservedLock(real(f), out);
        };
    }
    m.xFileControl = [](sqlite3_file* f, int op, void* arg) {
        return real(f)->pMethods->xFileControl(real(f), op, arg);
    };
    m.xSectorSize = [](sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); };
    m.xDeviceCharacteristics = [](sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); };
    m.xShmMap = [](sqlite3_file* f, int region, int size, int extend, void volatile** p) {
        const auto* r = real(f)->pMethods;
        return r->iVersion >= 2 && r->xShmMap ? r->xShmMap(real(f), region, size, extend, p) : SQLITE_IOERR_SHMMAP;
    };
    m.xShmLock = [](sqlite3_file* f, int offset, int n, int flags) {
        const auto* r = real(f)->pMethods;
        return r->iVersion >= 2 && r->xShmLock ? r->xShmLock(real(f), offset, n, flags) : SQLITE_IOERR_SHMLOCK;
    };
    m.xShmBarrier = [](sqlite3_file* f) {
        const auto* r = real(f)->pMethods;
        if (r->iVersion >= 2 && r->xShmBarrier)
            r->xShmBarrier(real(f));
    };
    m.xShmUnmap = [](sqlite3_file* f, int del) {
        const auto* r = real(f)->pMethods;
        return r->iVersion >= 2 && r->xShmUnmap ? r->xShmUnmap(real(f), del) : SQLITE_OK;
    };
    // Pages are read through xRead alone, where the kept ones are laid over.
    m.xFetch = [](sqlite3_file*, sqlite3_int64, int, void** p) {
        *p = nullptr;
        return SQLITE_OK;
    };
    m.xUnfetch = [](sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; };
    return m;
}

const sqlite3_io_methods writerMethods = methods(false);
const sqlite3_io_methods readerMethods = methods(true);

int open(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags)
{
    const bool reader = vfs == &readerVfs;
    File* file = fileOf(f);
    file->base.pMethods = nullptr;
    file->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(f) + ((sizeof(File) + 7) & ~size_t(7)));
    file->key = nullptr;
    file->snapshot = nullptr;
    const bool mainFile = (flags & SQLITE_OPEN_MAIN_DB) && name;
    std::shared_ptr<Snapshot> snapshot;
    if (reader && mainFile) {
        snapshot = snapshotOf(realPath(name));
        if (!snapshot)
            return SQLITE_CANTOPEN;
    }
    const int rc = systemVfs->xOpen(systemVfs, name, file->real, flags, outFlags);
    if (rc != SQLITE_OK) {
        if (file->real->pMethods)
            file->real->pMethods->xClose(file->real);
        return rc;
    }
    if (snapshot)
        file->snapshot = new std::shared_ptr<Snapshot>(std::move(snapshot));
    else if (mainFile && !reader)
        file->key = new std::string(realPath(name));
    file->base.pMethods = file->snapshot ? &readerMethods : &writerMethods;
    return SQLITE_OK;
}

void registerLayer()
{
    static std::once_flag once;
    std::call_once(once, [] {
        systemVfs = sqlite3_vfs_find(nullptr);
        for (sqlite3_vfs* vfs : {&writerVfs, &readerVfs}) {
            *vfs = *systemVfs;
            vfs->szOsFile = int((sizeof(File) + 7) & ~size_t(7)) + systemVfs->szOsFile;
            vfs->xOpen = open;
            vfs->pNext = nullptr;
        }
        writerVfs.zName = WriterName;
        readerVfs.zName = ReaderName;
        sqlite3_vfs_register(&writerVfs, 0);
        sqlite3_vfs_register(&readerVfs, 0);
    });
}

// Reads the file's first bytes under a read lock of the engine's.
template <class F>
void underReadLock(const QString& path, std::function<bool()> stopped, F&& work)
{
    Patience patience{std::move(stopped), std::chrono::seconds(10), {}};
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, WriterName);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close_v2);
    if (rc == SQLITE_OK) {
        sqlite3_extended_result_codes(db, 1);
        waitPatiently(db, patience);
        rc = sqlite3_exec(db, "BEGIN; SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK)
        throwSqliteError(db, rc, path);
    // Through the connection: opening and closing the file beside it would
    // drop the locks every connection of the process holds on it.
    work(fileStart(db, 100));
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
}

} // namespace

void setSnapshotLimit(qint64 bytes)
{
    maxHeld = bytes > 0 ? bytes : MaxHeldBytes;
}

const char* writingVfs()
{
    registerLayer();
    return WriterName;
}

std::shared_ptr<Snapshot> takeSnapshot(const QString& canonicalPath, std::function<bool()> stopped)
{
    registerLayer();
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->path = canonicalPath;
    snapshot->key = realPath(QFile::encodeName(canonicalPath).constData());
    underReadLock(canonicalPath, std::move(stopped), [&](const QByteArray& h) {
        const auto* b = reinterpret_cast<const unsigned char*>(h.constData());
        // A write-ahead log keeps writes beside the file, where the layer
        // does not look.
        if (h.size() < 100 || b[18] != 1 || b[19] != 1)
            throw StoreError(ErrorKind::Other, QStringLiteral("no snapshot of a file with a write-ahead log"),
                             canonicalPath);
        const int pageSize = b[16] << 8 | b[17];
        snapshot->pageSize = pageSize == 1 ? 65536 : pageSize;
        snapshot->counter = counterIn(b + 24);
        snapshot->size = QFileInfo(canonicalPath).size();
        snapshot->modified = QFileInfo(canonicalPath).lastModified();
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        if (r.byKey.count(snapshot->key))
            throw StoreError(ErrorKind::InUse, QStringLiteral("snapshot taken already"), canonicalPath);
        r.byKey[snapshot->key] = snapshot;
        ++r.count;
    });
    return snapshot;
}

QString snapshotUri(const Snapshot& snapshot)
{
    return QUrl::fromLocalFile(snapshot.path).toString(QUrl::FullyEncoded)
           + QStringLiteral("?vfs=%1&immutable=1").arg(QLatin1String(ReaderName));
}

bool snapshotWritten(const Snapshot& snapshot)
{
    std::lock_guard lock(snapshot.mutex);
    return snapshot.written;
}

bool snapshotIntact(const Snapshot& snapshot)
{
    bool intact = false;
    try {
        underReadLock(snapshot.path, {}, [&](const QByteArray& h) {
            std::lock_guard lock(snapshot.mutex);
            intact = !snapshot.broken && h.size() >= 28
                     && counterIn(reinterpret_cast<const unsigned char*>(h.constData()) + 24) == snapshot.counter;
        });
    } catch (const StoreError&) {
    }
    return intact;
}

void dropSnapshot(const std::shared_ptr<Snapshot>& snapshot)
{
    if (!snapshot)
        return;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.byKey.find(snapshot->key);
    if (it != r.byKey.end() && it->second == snapshot) {
        r.byKey.erase(it);
        --r.count;
    }
}

} // namespace zumilo::store::detail
