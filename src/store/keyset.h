#pragma once

#include "database.h"
#include "error.h"
#include "query.h"

#include <QString>
#include <QVariantList>
#include <memory>
#include <vector>

struct sqlite3;

namespace zumilo::store::detail {

class KeyReader;

// How a set's keys are read. A set over one table holds its rows' keys
// (rowids) in its order and reads each row only when asked for it; the
// recordset fills in what it is over, and readKeys() alone chooses how,
// every time the keys are read (at open and at requery):
//  - a view the search index answers whole: straight from the index, with
//    a large table's upper half read on another thread meanwhile;
//  - ordered by a title or a name: with their sort keys, sorted here;
//  - a whole table unordered, by rowid or in an index's order: its first
//    rows at once and, in a large table, the rest on a connection and
//    thread of their own, awaited when a row past them is wanted;
//  - anything else: the engine's statement (in rowid order, sorted here).
// The rows themselves are the row cache's to read, and edits the recordset's.
class Keyset {
public:
    Keyset();
    ~Keyset();
    Keyset(const Keyset&) = delete;
    Keyset& operator=(const Keyset&) = delete;

    // What the set is over: the parts of its statement.
    Database* db = nullptr;
    bool closed = false; // the connection closed under the set: nothing is read
    QString table;       // the base table, for writing
    QString from;
    QString where;
    QString orderBy;
    QVariantList params; // bound to the marks of the WHERE clause
    // The WHERE clause as the conditions of a view, which the search index
    // may answer; empty for a statement given as text.
    std::vector<Query::Condition> conditions;
    bool byRowid = false; // ordered by the row number alone

    // Rowids, or row numbers of a materialized set. A large set over a
    // whole table shows its first rows before the rest of its keys are
    // read: while pending, keys holds the first ones, count() says how
    // many there are, and a reader reads them all.
    std::vector<qint64> keys;

    sqlite3* handle() const;
    int count() const { return pending_ ? total_ : int(keys.size()); }
    qint64 key(int position);
    std::vector<qint64>& allKeys();
    // Waits for the reader (or, with `read` false, lets it go unheard).
    // Should it fail, the keys are read here; should that fail too (a file
    // locked or unreadable meanwhile), it throws and leaves them to be read
    // at the next call: rows not read are not rows deleted.
    void finishKeys(bool read = true);

    // Finds a statement that reads the keys, the fields of `selectList`
    // beside them should the order or the condition name one, and reads
    // them; false when there is none or the rows have no real rowids.
    bool open(const QString& selectList);
    bool readKeys();

    // `head` over the rows of the recordset, in its order, selected by `condition`.
    QString overRows(const QString& head, const QString& condition) const;

    // Runs `work` with the WHERE clause to read the rows by: a view's
    // narrowed through the search index while that is in step with the
    // file. Should the narrowed statement fail, the rows are read as written.
    template <class Work>
    void withCondition(Work work)
    {
        db->withSearchIndex([&](bool inStep) {
            const auto narrowed = inStep && !conditions.empty() ? db->index_->narrow(table, conditions) : std::nullopt;
            if (narrowed) {
                try {
                    work(*narrowed, inStep);
                    return;
                } catch (const StoreError& e) {
                    if (e.kind() == ErrorKind::Busy)
                        throw;
                }
            }
            work(IndexedWhere{where, params, {}, {}, false}, inStep);
        });
    }

    // Titles and names sort as every list of the program shows them, and
    // rows that sort alike keep one order, so that walking a set follows
    // the list it came from.
    void setOrder(const QString& written);
    // A table opened by name comes in primary key order, as Jet gives it.
    QString keyOrder();
    // True when `orderBy` names nothing but the row number, under any of its
    // names (rowid, oid, _rowid_, or an INTEGER PRIMARY KEY column), ascending.
    bool ordersByRowid();

private:
    QString keysSql(const QString& condition = {}) const;
    bool orderFromIndex();
    bool readKeysAhead(bool indexInStep);
    bool readKeysInHalves(const QString& sql, const QVariantList& binds);
    bool readKeysByText(const QString& condition, const QVariantList& binds);
    bool readKeys(const QString& sql, const QVariantList& binds, bool sorted = false);

    QString head_; // the keys' statement up to FROM
    int keyColumn_ = 0;
    // Ordered by the sort key of one text column, then the row number: the
    // column, and whether descending.
    QString byTextKey_;
    bool byTextKeyDescending_ = false;
    bool pending_ = false;
    int total_ = 0;
    std::unique_ptr<KeyReader> reader_;
    struct TextKeys;
    std::unique_ptr<TextKeys> textKeys_; // the last read's, by title
};

} // namespace zumilo::store::detail
