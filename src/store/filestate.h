#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>

struct sqlite3;

namespace zumilo::store::detail {

// What this run of the program knows about the files it opens. A file is
// known by its path and, where the system has them, its device and inode,
// so that a file put in its place counts as another file.
struct FileIdentity {
    QString path; // canonical
    quint64 device = 0;
    quint64 inode = 0;
    qint64 modified = 0; // ms since the epoch; with size, the state of its contents
    qint64 size = 0;
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity identify(const QString& path);

// Whether the file begins like an SQLite database (its first 16 bytes may
// be gone when the rest of the header is there): such a file that cannot
// be read is damaged rather than something else.
bool hasDatabaseHeader(const QString& path);
// The same for the file a connection has open, read through that
// connection: a file of our own opened and closed beside it would drop the
// locks every connection of the process holds on it.
bool hasDatabaseHeader(sqlite3* db);
// The first `size` bytes of the connection's main file, read the same way.
QByteArray fileStart(sqlite3* db, int size);

// Files found damaged: neither opened nor written again in this run,
// unless something else changes them.
void noteDamaged(const QString& path);
bool isKnownDamaged(const QString& path);

// A file's contents are checked once per run, not for every window.
bool isChecked(const FileIdentity& file);
void noteChecked(const FileIdentity& file);

// Connections of this program open on a file, by canonical path.
void noteOpened(const QString& canonicalPath);
void noteClosed(const QString& canonicalPath);
int openConnections(const QString& canonicalPath);

// The page check of a file (PRAGMA quick_check of every page), once per
// run, on a thread and connection of its own, so that opening never waits
// for it. Until it has passed, the program writes nothing to the file.
// expectPageCheck() marks an unchecked file at open; `afterPass` runs on
// the check's thread once the pages are found sound, before any writer is
// let through.
void expectPageCheck(const FileIdentity& file, const QString& path, std::function<void()> afterPass);
// Waits for the check, starting it when nobody has, and throws what it
// found (Damaged) or what stopped it. `waiting` is called now and then
// while the caller waits (true) and once at the end (false).
void passPageCheck(const FileIdentity& file, const std::function<void(bool)>& waiting);
// Stops the checks under way, the thorough ones too, and starts no other
// until a file is opened again; the program calls it before it ends.
void stopPageChecks();

// A connection's wait for another connection's lock, a step at a time, up
// to `most` (as long as it takes when zero), and over at once when
// `stopped` says so: neither sqlite3_interrupt() nor a progress handler
// cuts a busy timeout short. Lives as long as the connection.
struct Patience {
    std::function<bool()> stopped;
    std::chrono::milliseconds most{0};
    std::chrono::steady_clock::time_point since;
};
void waitPatiently(sqlite3* db, Patience& patience);

// A thorough check (the search index's integrity check) running on a
// connection of its own: a write of this program stops it rather than
// wait behind it, and so does the program's end.
struct ThoroughCheck {
    QString path; // canonical
    sqlite3* db = nullptr;
    std::atomic<bool> stopped{false};
    Patience patience;
};
// False when the program is ending: the check is not to run.
bool beginThoroughCheck(ThoroughCheck& check);
void endThoroughCheck(ThoroughCheck& check);
// Of one file, or all when the path is empty.
void stopThoroughChecks(const QString& canonicalPath);
// A write of this program on its way: the file's thorough checks stop and
// none begins until the write holds the file's lock (or gave up), so that
// none takes that lock before it.
// Whether a write of this program waits for the file's lock: work that
// holds it in slices ends its slice.
bool writeComing(const QString& canonicalPath);
class WriteComing {
public:
    explicit WriteComing(const QString& canonicalPath);
    ~WriteComing();
    WriteComing(const WriteComing&) = delete;
    WriteComing& operator=(const WriteComing&) = delete;

private:
    QString path_;
};

// Whether stopPageChecks() was called since a file was last opened.
bool pageChecksStopped();

// PRAGMA quick_check. Returns whether it ran to the end (false when
// interrupted); throws Damaged when it found damage.
bool quickCheck(sqlite3* db, const QString& path);

} // namespace zumilo::store::detail
