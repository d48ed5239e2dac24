#pragma once

#include <QString>
#include <functional>

namespace zumilo::store {

// Stops the builds of the search index under way; the program calls it
// before it ends.
void stopIndexBuilds();

namespace detail {

// A file's search index built in the background: a thread and connection
// of its own index the notes a slice at a time, each slice a short write
// transaction, so that the windows go on reading and saving meanwhile
// (their searches read every row until the index is complete). Each file
// has at most one build running; stopping it (the file's last connection
// closing, the program ending) rolls back the slice under way, and the
// next open goes on from there. The segments of a finished build are
// merged the same way, a slice at a time; `indexing` is false when only
// that is left. An index out of step catches up the same way with the
// notes other programs changed. A slice waits while the file's backup is
// being copied. Asked for while its thread runs, even in its last slice,
// the thread makes one more pass.
void startIndexBuild(const QString& canonicalPath, bool indexing);
// Starts merging the file's kept changes, as an open does, unless its build
// or merge runs already (which merges them before it ends); false then.
bool startIndexMerge(const QString& canonicalPath);
// While its thread runs, indexing or merging.
bool indexBuildBusy(const QString& canonicalPath);
// While it indexes (searches meanwhile read every row), not while it merges.
bool indexBuildRunning(const QString& canonicalPath);
// While it waits for the file's backup to be copied.
bool indexBuildWaiting(const QString& canonicalPath);
void stopIndexBuild(const QString& canonicalPath);

// Rows a slice indexes at most (the first, which the open does, no more
// than a second's worth).
qint64 indexSliceRows(bool atOpen);

// Rows a slice indexes at most, a call inside each slice's transaction
// (told the rows of the slice) and how long a slice may hold the lock: for
// tests, which make slices small or long and stop a build halfway by
// throwing. 0 for the usual.
void setIndexBuildSlice(qint64 rows, std::function<void(qint64 rows)> inSlice = {}, qint64 ms = 0);

} // namespace detail
} // namespace zumilo::store
