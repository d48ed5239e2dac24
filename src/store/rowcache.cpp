#include "rowcache.h"

#include "error.h"
#include "keyset.h"

#include <sqlite3.h>
#include <unordered_set>

namespace zumilo::store::detail {

void RowCache::open(sqlite3* db, const QString& selectList, const QString& from)
{
    fetch_ = Statement(db, QStringLiteral("SELECT ") + selectList + QStringLiteral(" FROM ") + from
                               + QStringLiteral(" WHERE rowid = ?"));
    selectList_ = selectList;
}

void RowCache::close()
{
    fetch_.finalize();
    blockFetch_.finalize();
    clear();
}

const Row& RowCache::row(const Keyset& set, qint64 key)
{
    set.handle();
    if (const Row* cached = find(key))
        return *cached;
    Row r;
    sqlite3_bind_int64(fetch_.get(), 1, key);
    try {
        if (fetch_.step()) {
            const int n = fetch_.columnCount();
            r.values.reserve(size_t(n));
            for (int i = 0; i < n; ++i)
                r.values.push_back(fetch_.column(i));
        } else {
            r.deleted = true; // by another window or connection
        }
    } catch (...) {
        fetch_.reset();
        throw;
    }
    fetch_.reset();
    return insert(key, std::move(r));
}

// The row at a position, reading it with the rows after it when it is
// not cached, so a pass over many rows stays fast.
const Row& RowCache::rowAt(Keyset& set, int position)
{
    set.handle();
    const qint64 key = set.key(position);
    if (const Row* cached = find(key))
        return *cached;
    if (!blockFetch_.isValid()) {
        QString marks = QStringLiteral("?");
        for (int i = 1; i < BlockSize; ++i)
            marks += QStringLiteral(",?");
        try {
            blockFetch_ = Statement(set.handle(), QStringLiteral("SELECT rowid, ") + selectList_
                                                      + QStringLiteral(" FROM ") + set.from
                                                      + QStringLiteral(" WHERE rowid IN (") + marks + QLatin1Char(')'));
        } catch (const StoreError& e) {
            if (e.kind() == ErrorKind::Busy)
                throw;
            return row(set, key); // a list the block statement cannot carry
        }
    }
    std::unordered_set<qint64> wanted;
    for (int i = position; i < int(set.keys.size()) && int(wanted.size()) < BlockSize; ++i) {
        if (!find(set.keys[size_t(i)]) || i == position)
            wanted.insert(set.keys[size_t(i)]);
        if (i - position > 4 * BlockSize)
            break;
    }
    int mark = 1;
    for (qint64 k : wanted)
        sqlite3_bind_int64(blockFetch_.get(), mark++, k);
    for (; mark <= BlockSize; ++mark)
        sqlite3_bind_int64(blockFetch_.get(), mark, key); // repeats change nothing
    std::unordered_map<qint64, Row> found;
    try {
        while (blockFetch_.step()) {
            const int n = blockFetch_.columnCount();
            Row r;
            r.values.reserve(size_t(n - 1));
            for (int i = 1; i < n; ++i)
                r.values.push_back(blockFetch_.column(i));
            found.emplace(blockFetch_.columnInt(0), std::move(r));
        }
    } catch (...) {
        blockFetch_.reset();
        throw;
    }
    blockFetch_.reset();
    for (qint64 k : wanted) {
        if (k == key)
            continue;
        auto it = found.find(k);
        insert(k, it != found.end() ? std::move(it->second) : Row{true, {}});
    }
    auto it = found.find(key);
    return insert(key, it != found.end() ? std::move(it->second) : Row{true, {}});
}

} // namespace zumilo::store::detail
