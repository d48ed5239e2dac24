#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace zumilo::store::detail {

// A file as it was at one moment, readable while the program goes on
// writing to it: every connection of the program writes through a layer
// over the system's file access ("zumilo") that, while a snapshot of the
// file is held, keeps each page's first contents before it overwrites
// them. A connection opened through snapshotUri() reads the file as it
// was, taking no lock on it, so a long read (a backup's copy) never holds
// up a save. Writes by other programs are not seen by the layer; they
// show as a change counter other than the one this program left, and the
// snapshot then counts as broken.
class Snapshot {
public:
    QString path;
    QDateTime modified; // the file's time at the moment

    // Kept by the layer, under the mutex.
    mutable std::mutex mutex;
    std::string key; // the file's real path
    qint64 pageSize = 0;
    qint64 size = 0;                                // bytes at the moment
    std::unordered_map<qint64, std::string> before; // page number: its bytes at the moment
    qint64 held = 0;                                // bytes kept
    quint32 counter = 0;                            // the change counter this program last left in the file
    bool written = false;
    bool broken = false;
};

// The name of the layer the program's own connections open files with.
const char* writingVfs();

// Takes a snapshot of the file now (briefly holding its read lock, so the
// moment lies between two writes; waiting for another program's write no
// longer than `stopped` allows). Throws StoreError.
std::shared_ptr<Snapshot> takeSnapshot(const QString& canonicalPath, std::function<bool()> stopped = {});
// "file:...": opens the snapshot, read-only, through the layer's reader.
QString snapshotUri(const Snapshot& snapshot);
// Whether the program wrote to the file since the snapshot was taken.
bool snapshotWritten(const Snapshot& snapshot);
// Whether it still holds the file as it was: false once another program
// wrote to the file, or the pages kept grew too many.
bool snapshotIntact(const Snapshot& snapshot);
// Stops keeping pages for it; readers opened on it must be closed first.
void dropSnapshot(const std::shared_ptr<Snapshot>& snapshot);
// Bytes of pages a snapshot keeps before it counts as broken (256 MB; 0
// sets that again): for tests.
void setSnapshotLimit(qint64 bytes);

} // namespace zumilo::store::detail
