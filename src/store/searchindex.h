#pragma once

#include "query.h"

#include <QString>
#include <functional>
#include <optional>
#include <vector>

struct sqlite3;

namespace zumilo::store {

// Told how far a rebuild of the search index has got: rows indexed so far
// and rows in all.
using IndexProgress = std::function<void(qint64 done, qint64 total)>;

namespace detail {

// A WHERE clause that finds its rows through the search index.
struct IndexedWhere {
    QString where;       // for statements over the table
    QVariantList params; // bound to its marks
    QString keys;        // rowids alone, in rowid order, when the index answers the whole clause
    QVariantList keyParams;
    bool oneLookup = false; // keys read through one lookup, which a range of rowids narrows
};

// The search index of one connection: index tables of our own beside
// the notes (zumilo_*), holding the folded characters and character pairs
// of the searched columns, so that "column like '*word*'" is answered from
// the index instead of by reading every row.
//
// The connection's own writes keep the index in step through temporary
// triggers. Any other writer (another program, an older build) leaves it
// behind; that shows as a file change counter other than the one stored
// with the index, and the index is then not used until it has caught up.
// Triggers in plain SQL, kept in the file, note for every writer which
// notes changed and what the index holds of them, so catching up costs as
// much as the change; without that record the index is rebuilt.
class SearchIndex {
public:
    struct Column; // a column of the notes and its index

    explicit SearchIndex(sqlite3* db);
    ~SearchIndex();
    SearchIndex(const SearchIndex&) = delete;
    SearchIndex& operator=(const SearchIndex&) = delete;

    // Finds the indexed tables and columns the file has; false when it has
    // none or the index's module could not be registered.
    bool findColumns();
    // Builds the index afresh; call inside a write transaction.
    void rebuild(const IndexProgress& progress);
    // A build a slice at a time, each in a write transaction of its own, so
    // that other writers get their turn: startBuild() empties the index,
    // buildSlice() indexes rows while `more` (told the rows done so far)
    // allows, and answers true once the index is complete (in step at the
    // commit). The rows' changes meanwhile, by any writer, are in the
    // file's log; a build stopped halfway is resumed at the next open.
    void startBuild();
    bool buildSlice(const std::function<bool(qint64 done)>& more);
    // A build is under way (started, not finished).
    bool building() const;
    // A finished build leaves the changes kept meanwhile to be written into
    // the index's blocks: mergeSlice() writes them while `more`
    // allows, inside a write transaction, and answers true once nothing is
    // left. The index is complete and used meanwhile.
    bool merging() const;
    bool mergeSlice(const std::function<bool()>& more);
    // A build under way that this build may finish: same layout, log intact.
    bool canResume();
    // Indexes the rows changed since the index was last in step, inside a
    // write transaction; false (having changed nothing) when the file does
    // not tell which rows those are, and only a rebuild will do. With
    // `more` (told the changes done so far) it stops once that says so,
    // answering false and leaving the rest for the next call: a catch-up a
    // slice at a time, each in a write transaction of its own.
    bool catchUp(const IndexProgress& progress, const std::function<bool(qint64 done)>& more = {});
    // The file tells which rows changed since the index was last in step.
    bool canCatchUp();
    // catchUp() a slice at a time without asking canCatchUp() again: the
    // caller asked it earlier in the run of slices, and followsChanges() in
    // this slice's transaction.
    bool catchUpSlice(const std::function<bool(qint64 done)>& more);
    // The file's triggers log every change of the indexed columns.
    bool followsChanges() const;
    // The changes the file has logged for the index, counted up to `atMost`
    // and one more.
    qint64 loggedChanges(qint64 atMost) const;
    // Uses the index from now on, and keeps it in step with this
    // connection's writes when it may write.
    void attach(bool writable);
    bool attached() const { return attached_; }

    // False when the engine's integrity check finds the index's own data
    // damaged (the notes may be sound: a rebuild repairs it). Takes the
    // file's write lock for the check, and writes nothing.
    // Stops early, answering true, once `stop` says so.
    bool intact(const std::function<bool()>& stop = {}) const;

    // True when the index holds exactly what the tables hold. The caller
    // holds the file's lock, so the answer stays true while it does.
    bool inStep() const;

    // Write transactions: beginWrite() right after BEGIN; endWrite() right
    // before COMMIT stamps the index as in step with the commit when it was
    // at the start; abandonWrite() on rollback.
    void beginWrite();
    void endWrite();
    void abandonWrite() { writing_ = live_ = false; }
    bool writing() const { return writing_; }
    // Bytes of text this write transaction's build slices gave the index.
    qint64 textFilled() const { return textFilled_; }
    // Whether this write transaction keeps the index in step.
    bool live() const { return writing_ && live_; }

    // The conditions (of a statement over `table` alone) with each "column
    // like pattern" on an indexed column narrowed through the index, or
    // nothing when none can be.
    std::optional<IndexedWhere> narrow(const QString& table, const std::vector<Query::Condition>& conditions) const;

    // The rows of `table` as the index counts them, without reading them;
    // nothing when it has no index. Only true while the index is in step.
    std::optional<qint64> rowCount(const QString& table) const;

private:
    struct Filled {
        qint64 last = 0;  // number of the last row filled
        bool end = false; // no row after it
    };
    std::optional<quint32> fileChangeCounter() const;
    // Whether an index keeps at least n changed rows beside its blocks.
    bool keptAtLeast(qint64 n) const;
    // No change in the log names a column this build does not index.
    bool logKnown() const;
    bool applyChanges(const IndexProgress& progress, const std::function<bool(qint64 done)>& more = {});
    Filled fill(const QString& table, const std::vector<const Column*>& columns, qint64 from, qint64& done,
                const std::function<bool(qint64 done)>& more);
    std::optional<qint64> stampedCounter() const;

    sqlite3* db_;
    std::vector<const Column*> columns_; // those the file has
    bool available_ = false;             // the index's module is registered
    bool attached_ = false;
    bool writing_ = false;
    bool live_ = false;
    quint32 counterAtBegin_ = 0;
    qint64 changesAtBegin_ = 0;
    qint64 textFilled_ = 0;
};

} // namespace detail
} // namespace zumilo::store
