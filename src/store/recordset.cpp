#include "recordset.h"

#include "error.h"
#include "jetlike.h"
#include "jetsql.h"
#include "query.h"
#include "sqltokens.h"
#include "statement.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <list>
#include <sqlite3.h>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace zumilo::store {

using detail::Statement;

namespace {

// Rows kept after reading: several screenfuls of a grid.
constexpr size_t CacheCapacity = 1024;
// Rows read together when rows are asked for by position: each statement
// takes the file's read lock once, which costs far more than reading a row.
constexpr int BlockSize = 64;
// A search through the index pays for a second connection when its table
// has this many times Database::manyRows_ rows.
constexpr qint64 SplitSearchFactor = 20;

struct Row {
    bool deleted = false;
    std::vector<QVariant> values; // as stored
};

class RowCache {
public:
    const Row* find(qint64 key)
    {
        auto it = map_.find(key);
        if (it == map_.end())
            return nullptr;
        order_.splice(order_.begin(), order_, it->second.second);
        return &it->second.first;
    }

    const Row& insert(qint64 key, Row row)
    {
        forget(key);
        if (map_.size() >= CacheCapacity) {
            map_.erase(order_.back());
            order_.pop_back();
        }
        order_.push_front(key);
        auto [it, inserted] = map_.emplace(key, std::make_pair(std::move(row), order_.begin()));
        Q_UNUSED(inserted);
        return it->second.first;
    }

    void forget(qint64 key)
    {
        auto it = map_.find(key);
        if (it == map_.end())
            return;
        order_.erase(it->second.second);
        map_.erase(it);
    }

    void clear()
    {
        map_.clear();
        order_.clear();
    }

private:
    std::list<qint64> order_; // most recent first
    std::unordered_map<qint64, std::pair<Row, std::list<qint64>::iterator>> map_;
};

QString firstWord(const QString& sql)
{
    const auto tokens = detail::tokenize(sql);
    if (tokens.empty() || tokens.front().type != detail::TokenType::Word)
        return {};
    return detail::tokenText(sql, tokens.front()).toString().toLower();
}

[[noreturn]] void noCurrent()
{
    throw StoreError(ErrorKind::NoCurrentRecord, QStringLiteral("no current row"));
}

// Puts distinct rowids in ascending order; a dense run through a bitmap.
void sortRowids(std::vector<qint64>& keys)
{
    if (keys.size() < 2)
        return;
    const auto [lo, hi] = std::minmax_element(keys.begin(), keys.end());
    const qint64 low = *lo;
    const quint64 span = quint64(*hi) - quint64(low) + 1;
    if (span > quint64(keys.size()) * 16) {
        std::sort(keys.begin(), keys.end());
        return;
    }
    std::vector<bool> present(span);
    for (qint64 k : keys)
        present[size_t(quint64(k) - quint64(low))] = true;
    size_t n = 0;
    for (size_t i = 0; i < span; ++i) {
        if (present[i])
            keys[n++] = qint64(quint64(low) + i);
    }
}

std::function<void(detail::KeyReadStep)>& keyReadHook()
{
    static std::function<void(detail::KeyReadStep)> hook;
    return hook;
}

// Reads the keys of a set on a connection and a thread of their own. With
// `index`, the statement reads the search index, which must be in step.
class KeyReader {
public:
    KeyReader(sqlite3* db, QString sql, QVariantList params, bool sorted, bool index = false) : db_(db)
    {
        if (index)
            index_ = std::make_unique<detail::SearchIndex>(db);
        thread_ = std::thread([this, sql = std::move(sql), params = std::move(params), sorted] {
            try {
                read(sql, params, sorted);
            } catch (...) {
                result_.reset(); // out of memory: read again where waited for
            }
            if (keyReadHook())
                keyReadHook()(detail::KeyReadStep::Read);
        });
    }
    ~KeyReader()
    {
        stop_ = true;
        sqlite3_interrupt(db_);
        wait();
        index_.reset();
        sqlite3_close_v2(db_);
    }
    KeyReader(const KeyReader&) = delete;
    KeyReader& operator=(const KeyReader&) = delete;

    // Waits for the keys; nothing when they could not be read.
    std::optional<std::vector<qint64>> take()
    {
        if (thread_.joinable() && keyReadHook())
            keyReadHook()(detail::KeyReadStep::Wait);
        wait();
        return std::move(result_);
    }

private:
    void wait()
    {
        if (thread_.joinable())
            thread_.join();
    }

    void read(const QString& sql, const QVariantList& params, bool sorted)
    {
        detail::Statement st;
        try {
            st = detail::Statement(db_, sql);
            st.bindAll(params);
        } catch (const StoreError&) {
            return;
        }
        sqlite3_stmt* s = st.get();
        // The index is looked at in the same read as the rows.
        if (index_ && (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK || !index_->inStep()))
            return; // the destructor's close ends the read
        std::vector<qint64> keys;
        int rc = SQLITE_INTERRUPT;
        while (!stop_ && (rc = sqlite3_step(s)) == SQLITE_ROW)
            keys.push_back(sqlite3_column_int64(s, 0));
        st.finalize();
        if (index_)
            sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_DONE)
            return;
        if (sorted)
            sortRowids(keys);
        result_ = std::move(keys);
    }

    sqlite3* db_;
    std::unique_ptr<detail::SearchIndex> index_;
    std::atomic<bool> stop_ = false;
    std::thread thread_;
    std::optional<std::vector<qint64>> result_;
};

} // namespace

void detail::setKeyReadHook(std::function<void(KeyReadStep)> hook)
{
    keyReadHook() = std::move(hook);
}

struct Recordset::Impl {
    Database* db = nullptr;
    bool closed = false;
    bool keyset = false; // rowids with rows fetched on demand; else all rows read
    bool readOnly = false;

    QString table; // the base table, for writing
    QString from;
    QString where;
    QString orderBy;
    QString selectList;
    QString readAllSql;  // a materialized set's statement
    QVariantList params; // bound to the marks of the WHERE clause
    // The WHERE clause as the conditions of a view, which the search index
    // may answer; empty for a statement given as text.
    std::vector<detail::Query::Condition> conditions;
    QString keysetHead; // the keyset statement up to FROM
    int keyColumn = 0;
    bool byRowid = false; // ordered by the row number alone
    // Ordered by the sort key of one text column, then the row number: the
    // column, and whether descending.
    QString byTextKey;
    bool byTextKeyDescending = false;

    std::vector<qint64> keys; // rowids, or row numbers of a materialized set
    int pos = -1;             // -1 BOF, count() EOF
    // A large set over a whole table shows its first rows before the rest
    // of its keys are read: while pending, keys holds the first ones, total
    // says how many there are, and the reader reads them all.
    bool pending = false;
    int total = 0;
    std::unique_ptr<KeyReader> reader;
    bool gap = false; // just deleted: between keys[pos - 1] and keys[pos]

    QStringList names;
    QHash<QString, int> byName; // case-folded names
    std::vector<ColumnType> types;
    std::vector<QString> baseColumns; // empty for computed fields

    Statement fetch;
    Statement blockFetch; // rowid plus the fields, for BlockSize rowids at once
    RowCache cache;
    std::vector<Row> rows; // materialized

    std::vector<QVariant> buffer;
    std::vector<bool> changed;
    qint64 editKey = 0;
    std::optional<qint64> lastModified;

    sqlite3* handle() const
    {
        if (closed || !db->isOpen())
            throw StoreError(ErrorKind::Other, QStringLiteral("the database is closed"));
        return db->handle();
    }

    int count() const { return pending ? total : int(keys.size()); }

    qint64 key(int position)
    {
        if (pending && size_t(position) >= keys.size())
            finishKeys();
        return keys[size_t(position)];
    }

    std::vector<qint64>& allKeys()
    {
        finishKeys();
        return keys;
    }

    // Waits for the reader (or, with `read` false, lets it go unheard).
    // Should it fail, the keys are read here; should that fail too (a file
    // locked or unreadable meanwhile), it throws and leaves them to be read
    // at the next call: rows not read are not rows deleted.
    void finishKeys(bool read = true)
    {
        if (!pending)
            return;
        std::optional<std::vector<qint64>> rest = read && reader ? reader->take() : std::nullopt;
        reader.reset();
        if (read && !rest) {
            std::vector<qint64> first = std::move(keys);
            try {
                if (readKeys(keysSql(), params, byRowid))
                    rest = std::move(keys);
            } catch (const StoreError&) {
                keys = std::move(first);
                throw;
            }
            keys = std::move(first);
        }
        pending = false;
        // Rows another program added or deleted since the set was opened
        // move none of the rows shown, nor the set's end: rows it no longer
        // has read as deleted.
        if (rest && !(rest->size() >= keys.size() && std::equal(keys.begin(), keys.end(), rest->begin()))) {
            const std::unordered_set<qint64> shown(keys.begin(), keys.end());
            for (qint64 k : *rest) {
                if (!shown.count(k))
                    keys.push_back(k);
            }
            rest.reset();
        }
        if (rest)
            keys = std::move(*rest);
        keys.resize(size_t(total), std::numeric_limits<qint64>::min());
    }
    bool onRow() const { return !gap && pos >= 0 && pos < count(); }

    void addField(const QString& name, const char* declared, const QString& base)
    {
        const int index = int(names.size());
        names << name;
        if (!byName.contains(name.toCaseFolded()))
            byName.insert(name.toCaseFolded(), index);
        types.push_back(ColumnType::fromDeclared(QString::fromUtf8(declared)));
        baseColumns.push_back(base);
    }

    bool openKeyset()
    {
        sqlite3* h = handle();
        try {
            fetch = Statement(h, QStringLiteral("SELECT ") + selectList + QStringLiteral(" FROM ") + from
                                     + QStringLiteral(" WHERE rowid = ?"));
        } catch (const StoreError& e) {
            if (e.kind() == ErrorKind::Busy)
                throw;
            return false; // a view, or a table without rowids
        }
        keysetHead = QStringLiteral("SELECT rowid");
        keyColumn = 0;
        try {
            Statement probe(h, overRows(keysetHead, where));
        } catch (const StoreError& e) {
            if (e.kind() == ErrorKind::Busy)
                throw;
            // ORDER BY or WHERE naming a field of the list by its alias.
            // rowid goes last so that ORDER BY 2 still counts list fields.
            keysetHead = QStringLiteral("SELECT ") + selectList + QStringLiteral(", rowid");
            try {
                Statement probe(h, overRows(keysetHead, where));
                keyColumn = probe.columnCount() - 1;
            } catch (const StoreError& e2) {
                if (e2.kind() == ErrorKind::Busy)
                    throw;
                fetch.finalize();
                return false;
            }
        }
        if (!readKeys()) {
            fetch.finalize();
            return false;
        }

        sqlite3_stmt* s = fetch.get();
        for (int i = 0; i < sqlite3_column_count(s); ++i) {
            const char* origin = sqlite3_column_origin_name(s, i);
            const char* originTable = sqlite3_column_table_name(s, i);
            QString base;
            if (origin && originTable && QString::fromUtf8(originTable).compare(table, Qt::CaseInsensitive) == 0)
                base = QString::fromUtf8(origin);
            addField(QString::fromUtf8(sqlite3_column_name(s, i)), sqlite3_column_decltype(s, i), base);
        }
        keyset = true;
        return true;
    }

    // `head` over the rows of the recordset, in its order, selected by `condition`.
    QString overRows(const QString& head, const QString& condition) const
    {
        return head + QStringLiteral(" FROM ") + from
               + (condition.isEmpty() ? QString() : QStringLiteral(" WHERE ") + condition)
               + (orderBy.isEmpty() ? QString() : QStringLiteral(" ORDER BY ") + orderBy);
    }

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
            work(detail::IndexedWhere{where, params, {}, {}, false}, inStep);
        });
    }

    bool readKeys()
    {
        finishKeys(); // whole, should this read fail
        bool ok = false;
        withCondition([&](const detail::IndexedWhere& w, bool inStep) {
            // Straight from the index when it answers the whole condition.
            const bool direct = !w.keys.isEmpty() && keyColumn == 0 && orderBy.isEmpty();
            if (direct) {
                ok = w.oneLookup ? readKeysInHalves(w.keys, w.keyParams) : readKeys(w.keys, w.keyParams);
            } else if (!byTextKey.isEmpty() && keyColumn == 0 && readKeysByText(w.where, w.params)) {
                ok = true;
            } else if (w.where.isEmpty() && keyColumn == 0 && params.isEmpty()
                       && (byRowid || orderBy.isEmpty() || orderFromIndex())) {
                ok = readKeysAhead(inStep);
            } else {
                ok = readKeys(keysSql(w.where), w.params, byRowid && keyColumn == 0);
            }
        });
        return ok;
    }

    // The keys of every row. In row number order the engine walks the whole
    // table, bodies and all; unordered it reads the numbers from a small
    // index, and they are sorted here.
    QString keysSql(const QString& condition = {}) const
    {
        if (!byRowid || keyColumn != 0)
            return overRows(keysetHead, condition);
        return keysetHead + QStringLiteral(" FROM ") + from
               + (condition.isEmpty() ? QString() : QStringLiteral(" WHERE ") + condition);
    }

    // True when an index gives the set's order as it is walked (at most
    // rows of equal leading keys sorted among themselves): the first rows
    // then come without sorting every row.
    bool orderFromIndex()
    {
        Statement plan(handle(), QStringLiteral("EXPLAIN QUERY PLAN ") + keysSql());
        bool index = false, sortsAll = false;
        while (plan.step()) {
            const QString step = plan.column(3).toString();
            sortsAll = sortsAll || step.startsWith(QLatin1String("USE TEMP B-TREE FOR ORDER BY"));
            index = index || step.contains(QLatin1String(" INDEX "));
        }
        return index && !sortsAll;
    }

    // The keys of a set over a whole table: its first rows at once and, when
    // there are many, the rest on another thread.
    bool readKeysAhead(bool indexInStep)
    {
        constexpr int kFirstRows = 4 * BlockSize;
        sqlite3* h = handle();
        // Inside a write the other connection would not see the rows.
        if (db->transactionDepth_ > 0 || sqlite3_txn_state(h, nullptr) == SQLITE_TXN_WRITE)
            return readKeys(keysSql(), params, byRowid);
        Statement first(h, byRowid ? keysetHead + QStringLiteral(" FROM ") + from + QStringLiteral(" ORDER BY rowid")
                                   : keysSql());
        std::vector<qint64> head;
        while (int(head.size()) <= kFirstRows && first.step()) {
            if (sqlite3_column_type(first.get(), 0) == SQLITE_NULL)
                return false; // no real rowids behind this source
            head.push_back(first.columnInt(0));
        }
        if (int(head.size()) <= kFirstRows) {
            keys = std::move(head);
            return true;
        }
        // Counted while the first rows' statement still holds the read
        // lock: the same rows.
        std::optional<qint64> counted = indexInStep ? db->index_->rowCount(table) : std::nullopt;
        if (!counted) {
            Statement counting(h, QStringLiteral("SELECT count(*) FROM ") + from);
            counting.step();
            counted = counting.columnInt(0);
        }
        sqlite3* other = *counted > db->manyRows_ && *counted < std::numeric_limits<int>::max() ? db->openReader()
                                                                                                : nullptr;
        if (!other && !byRowid) {
            // Few enough to read here: on from where the first rows end.
            while (first.step()) {
                if (sqlite3_column_type(first.get(), 0) == SQLITE_NULL)
                    return false;
                head.push_back(first.columnInt(0));
            }
            keys = std::move(head);
            return true;
        }
        first.finalize();
        if (!other) // in number order the first rows' statement walks the table itself
            return readKeys(keysSql(), params, byRowid);
        head.pop_back();
        keys = std::move(head);
        total = int(*counted);
        pending = true;
        reader = std::make_unique<KeyReader>(other, keysSql(), params, byRowid);
        return true;
    }

    // Rowids found through one lookup of the search index, in rowid order:
    // in a large table the upper half of the rowids is read on another
    // thread meanwhile (a common word is found in most notes).
    bool readKeysInHalves(const QString& sql, const QVariantList& binds)
    {
        const std::optional<qint64> counted = db->index_->rowCount(table);
        if (!counted || *counted <= db->manyRows_ * SplitSearchFactor)
            return readKeys(sql, binds);
        // Each in a query of its own: the engine then looks up the ends.
        Statement span(handle(),
                       QStringLiteral("SELECT (SELECT min(rowid) FROM %1), (SELECT max(rowid) FROM %1)").arg(from));
        span.step();
        const qint64 middle = span.columnInt(0) + (span.columnInt(1) - span.columnInt(0)) / 2;
        span.finalize();
        auto half = [&](const char* comparison) {
            return QStringLiteral("SELECT rowid FROM (") + sql + QStringLiteral(") WHERE rowid ")
                   + QLatin1String(comparison) + QString::number(middle);
        };
        sqlite3* other = db->openReader();
        if (!other)
            return readKeys(sql, binds);
        KeyReader upper(other, half(" > "), binds, false, true);
        if (!readKeys(half(" <= "), binds))
            return false;
        std::optional<std::vector<qint64>> rest = upper.take();
        std::vector<qint64> lower = std::move(keys);
        if (!rest && readKeys(half(" > "), binds))
            rest = std::move(keys);
        if (!rest)
            return false;
        lower.insert(lower.end(), rest->begin(), rest->end());
        keys = std::move(lower);
        return true;
    }

    // The rows of a list by title come faster sorted here than by the
    // engine's sorter: the same keys, the same order. A set too large to
    // keep the keys of in memory goes back to the engine (false).
    bool readKeysByText(const QString& condition, const QVariantList& binds)
    {
        constexpr size_t kMostRows = 250000;
        Statement st(handle(), keysetHead + QStringLiteral(", ") + byTextKey + QStringLiteral(" FROM ") + from
                                   + (condition.isEmpty() ? QString() : QStringLiteral(" WHERE ") + condition));
        st.bindAll(binds);
        sqlite3_stmt* s = st.get();
        // Each key folded once, as the sort key function's big-endian units,
        // whose byte order is the units' order: the first eight units, packed
        // into two numbers, decide most comparisons, memcmp() the rest.
        constexpr quint32 kNull = std::numeric_limits<quint32>::max();
        struct Entry {
            quint64 head[2];
            qint64 rowid;
            quint32 begin, size; // in bytes; kNull for no value
        };
        std::vector<Entry> entries;
        entries.reserve(std::min(keys.size(), kMostRows)); // read again: as many as before
        std::string bytes;
        bytes.reserve(1 << 18);
        std::vector<char32_t> folded;
        while (st.step()) {
            if (entries.size() == kMostRows)
                return false;
            const qint64 rowid = sqlite3_column_int64(s, 0);
            if (sqlite3_column_type(s, 1) == SQLITE_NULL) {
                entries.push_back({{0, 0}, rowid, 0, kNull});
                continue;
            }
            const unsigned char* text = sqlite3_column_text(s, 1);
            const size_t n = text ? foldUtf8(text, size_t(sqlite3_column_bytes(s, 1)), folded) : 0;
            const size_t begin = bytes.size();
            if (begin + 4 * n >= kNull)
                return false;
            bytes.resize(begin + 4 * n); // two units a character at most
            auto* o = reinterpret_cast<unsigned char*>(bytes.data() + begin);
            for (size_t i = 0; i < n; ++i) {
                const char32_t c = folded[i];
                if (c >= 0x10000) {
                    const char16_t high = QChar::highSurrogate(c), low = QChar::lowSurrogate(c);
                    *o++ = uchar(high >> 8);
                    *o++ = uchar(high);
                    *o++ = uchar(low >> 8);
                    *o++ = uchar(low);
                } else {
                    *o++ = uchar(c >> 8);
                    *o++ = uchar(c);
                }
            }
            const auto* key = reinterpret_cast<const unsigned char*>(bytes.data() + begin);
            const size_t size = size_t(o - key);
            bytes.resize(begin + size);
            quint64 head[2] = {0, 0};
            for (size_t k = 0; k < std::min<size_t>(size, 16); ++k)
                head[k / 8] |= quint64(key[k]) << (56 - 8 * (k % 8));
            entries.push_back({{head[0], head[1]}, rowid, quint32(begin), quint32(size)});
        }
        const char* all = bytes.data();
        const bool down = byTextKeyDescending;
        std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
            // The engine puts no value before any value.
            const bool aNull = a.size == kNull, bNull = b.size == kNull;
            int c = aNull == bNull ? 0 : (aNull ? -1 : 1);
            if (c == 0 && !aNull) {
                if (a.head[0] != b.head[0])
                    c = a.head[0] < b.head[0] ? -1 : 1;
                else if (a.head[1] != b.head[1])
                    c = a.head[1] < b.head[1] ? -1 : 1;
                else {
                    const quint32 common = std::min(a.size, b.size);
                    if (common > 16)
                        c = std::memcmp(all + a.begin + 16, all + b.begin + 16, common - 16);
                    if (c == 0 && a.size != b.size)
                        c = a.size < b.size ? -1 : 1;
                }
            }
            if (c != 0)
                return down ? c > 0 : c < 0;
            return a.rowid < b.rowid;
        });
        keys.clear();
        keys.reserve(entries.size());
        for (const Entry& e : entries)
            keys.push_back(e.rowid);
        return true;
    }

    // True when `orderBy` names nothing but the row number, under any of its
    // names (rowid, oid, _rowid_, or an INTEGER PRIMARY KEY column), ascending.
    bool ordersByRowid()
    {
        if (orderBy.trimmed().isEmpty())
            return false;
        QStringList rowidNames = {QStringLiteral("rowid"), QStringLiteral("oid"), QStringLiteral("_rowid_")};
        if (const QString alias = detail::rowidColumn(handle(), table); !alias.isEmpty())
            rowidNames << alias;
        for (QString term : orderBy.split(QLatin1Char(','))) {
            term = term.trimmed();
            if (term.endsWith(QLatin1String(" asc"), Qt::CaseInsensitive))
                term = term.chopped(4).trimmed();
            if (term.size() > 2
                && ((term.startsWith(QLatin1Char('[')) && term.endsWith(QLatin1Char(']')))
                    || (term.startsWith(QLatin1Char('"')) && term.endsWith(QLatin1Char('"')))
                    || (term.startsWith(QLatin1Char('`')) && term.endsWith(QLatin1Char('`')))))
                term = term.mid(1, term.size() - 2);
            if (!rowidNames.contains(term.toCaseFolded()))
                return false;
        }
        return true;
    }

    bool readKeys(const QString& sql, const QVariantList& binds, bool sorted = false)
    {
        Statement st(handle(), sql);
        st.bindAll(binds);
        std::vector<qint64> fresh;
        fresh.reserve(keys.size());
        sqlite3_stmt* s = st.get();
        while (st.step()) {
            const qint64 key = sqlite3_column_int64(s, keyColumn);
            if (key == 0 && sqlite3_column_type(s, keyColumn) == SQLITE_NULL)
                return false; // no real rowids behind this source
            fresh.push_back(key);
        }
        if (sorted)
            sortRowids(fresh);
        keys = std::move(fresh);
        return true;
    }

    void readAll(bool withFields)
    {
        Statement st(handle(), readAllSql);
        st.bindAll(params);
        const int n = st.columnCount();
        if (withFields) {
            for (int i = 0; i < n; ++i)
                addField(QString::fromUtf8(sqlite3_column_name(st.get(), i)), sqlite3_column_decltype(st.get(), i),
                         QString());
        }
        std::vector<Row> fresh;
        while (st.step()) {
            Row row;
            row.values.reserve(size_t(n));
            for (int i = 0; i < n; ++i)
                row.values.push_back(st.column(i));
            fresh.push_back(std::move(row));
        }
        rows = std::move(fresh);
        keys.resize(rows.size());
        for (size_t i = 0; i < keys.size(); ++i)
            keys[i] = qint64(i);
    }

    const Row& row(qint64 key)
    {
        if (!keyset) {
            static const Row gone{true, {}};
            return key >= 0 && size_t(key) < rows.size() ? rows[size_t(key)] : gone;
        }
        handle();
        if (const Row* cached = cache.find(key))
            return *cached;
        Row r;
        sqlite3_bind_int64(fetch.get(), 1, key);
        try {
            if (fetch.step()) {
                const int n = fetch.columnCount();
                r.values.reserve(size_t(n));
                for (int i = 0; i < n; ++i)
                    r.values.push_back(fetch.column(i));
            } else {
                r.deleted = true; // by another window or connection
            }
        } catch (...) {
            fetch.reset();
            throw;
        }
        fetch.reset();
        return cache.insert(key, std::move(r));
    }

    // The row at a position, reading it with the rows after it when it is
    // not cached, so a pass over many rows stays fast.
    const Row& rowAt(int position)
    {
        if (!keyset)
            return row(keys[size_t(position)]);
        handle();
        const qint64 key = this->key(position);
        if (const Row* cached = cache.find(key))
            return *cached;
        if (!blockFetch.isValid()) {
            QString marks = QStringLiteral("?");
            for (int i = 1; i < BlockSize; ++i)
                marks += QStringLiteral(",?");
            try {
                blockFetch = Statement(handle(), QStringLiteral("SELECT rowid, ") + selectList
                                                     + QStringLiteral(" FROM ") + from
                                                     + QStringLiteral(" WHERE rowid IN (") + marks + QLatin1Char(')'));
            } catch (const StoreError& e) {
                if (e.kind() == ErrorKind::Busy)
                    throw;
                return row(key); // a list the block statement cannot carry
            }
        }
        std::unordered_set<qint64> wanted;
        for (int i = position; i < int(keys.size()) && int(wanted.size()) < BlockSize; ++i) {
            if (!cache.find(keys[size_t(i)]) || i == position)
                wanted.insert(keys[size_t(i)]);
            if (i - position > 4 * BlockSize)
                break;
        }
        int mark = 1;
        for (qint64 k : wanted)
            sqlite3_bind_int64(blockFetch.get(), mark++, k);
        for (; mark <= BlockSize; ++mark)
            sqlite3_bind_int64(blockFetch.get(), mark, key); // repeats change nothing
        std::unordered_map<qint64, Row> found;
        try {
            while (blockFetch.step()) {
                const int n = blockFetch.columnCount();
                Row r;
                r.values.reserve(size_t(n - 1));
                for (int i = 1; i < n; ++i)
                    r.values.push_back(blockFetch.column(i));
                found.emplace(blockFetch.columnInt(0), std::move(r));
            }
        } catch (...) {
            blockFetch.reset();
            throw;
        }
        blockFetch.reset();
        for (qint64 k : wanted) {
            if (k == key)
                continue;
            auto it = found.find(k);
            cache.insert(k, it != found.end() ? std::move(it->second) : Row{true, {}});
        }
        auto it = found.find(key);
        return cache.insert(key, it != found.end() ? std::move(it->second) : Row{true, {}});
    }

    const Row& currentRow()
    {
        handle();
        if (!onRow())
            noCurrent();
        const Row& r = row(key(pos));
        if (r.deleted)
            throw StoreError(ErrorKind::RowDeleted, QStringLiteral("rowid %1").arg(key(pos)));
        return r;
    }

    // The display texts of `columns` from `sql` (rowid, then those columns,
    // in recordset order), for Recordset::columnTexts().
    std::vector<QString> columnTexts(const QString& sql, const QVariantList& binds, const std::vector<int>& columns,
                                     std::vector<int>* rowIndexes)
    {
        // The rows normally come back exactly as the keys run; only rows
        // changed since the keys were read need looking up.
        finishKeys();
        Statement st(handle(), sql);
        st.bindAll(binds);
        std::vector<QString> out;
        if (rowIndexes)
            rowIndexes->clear();
        out.reserve(size_t(count()) * columns.size());
        auto addTexts = [&](const std::vector<QVariant>& values) {
            for (size_t k = 0; k < columns.size(); ++k)
                out.push_back(displayTextOfStored(types[size_t(columns[k])], values[k]));
        };
        std::unordered_map<qint64, std::vector<QVariant>> strays;
        int next = 0; // the next key expected
        std::vector<QVariant> values(columns.size());
        while (st.step()) {
            for (size_t k = 0; k < columns.size(); ++k)
                values[k] = st.column(int(k) + 1);
            const qint64 key = st.columnInt(0);
            if (strays.empty() && next < count() && keys[size_t(next)] == key) {
                addTexts(values);
                if (rowIndexes)
                    rowIndexes->push_back(next);
                ++next;
            } else {
                strays.emplace(key, values);
            }
        }
        for (int i = next; i < count(); ++i) {
            auto it = strays.find(keys[size_t(i)]);
            if (it == strays.end())
                continue; // deleted meanwhile, or changed so that it no longer belongs
            addTexts(it->second);
            if (rowIndexes)
                rowIndexes->push_back(i);
        }
        return out;
    }

    // Titles and names sort as every list of the program shows them, and
    // rows that sort alike keep one order, so that walking a set follows
    // the list it came from.
    void setOrder(const QString& written)
    {
        const detail::ListOrder order = detail::listOrder(handle(), table, written);
        orderBy = order.sql;
        byTextKey = order.textKey;
        byTextKeyDescending = order.descending;
    }

    // A table opened by name comes in primary key order, as Jet gives it.
    QString keyOrder()
    {
        Statement st(handle(), QStringLiteral("SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk"));
        st.bind(1, table);
        QStringList columns;
        while (st.step())
            columns << detail::quoteIdentifier(st.column(0).toString());
        return columns.isEmpty() ? QStringLiteral("rowid") : columns.join(QStringLiteral(", "));
    }

    int checkedIndex(int index) const
    {
        if (index < 0 || index >= names.size())
            throw StoreError(ErrorKind::UnknownField, QStringLiteral("field %1").arg(index));
        return index;
    }

    int checkedIndex(const QString& name) const
    {
        QString key = name.trimmed();
        if (key.startsWith(QLatin1Char('[')) && key.endsWith(QLatin1Char(']')))
            key = key.mid(1, key.size() - 2);
        const auto it = byName.constFind(key.toCaseFolded());
        if (it == byName.constEnd())
            throw StoreError(ErrorKind::UnknownField, name, name);
        return it.value();
    }
};

Recordset::Recordset(std::shared_ptr<Database> db, QString source, const QVariantList& params, RecordsetType type)
    : d_(std::make_unique<Impl>()), db_(std::move(db)), source_(std::move(source))
{
    Impl& d = *d_;
    d.db = db_.get();
    d.params = params;
    const QString s = detail::withoutTerminator(source_).trimmed();
    bool simple = false;
    const QString verb = firstWord(s);
    if (verb == QLatin1String("with") || verb == QLatin1String("values") || s.startsWith(QLatin1Char('('))) {
        d.readAllSql = s; // read whole, like any statement not over one table
    } else if (verb == QLatin1String("select")) {
        const auto parts = parseSelect(s);
        if (!parts || !parts->into.isEmpty())
            throw StoreError(ErrorKind::Syntax, s);
        d.table = singleTableName(parts->from);
        d.from = parts->from;
        d.where = parts->where;
        d.selectList = parts->selectList;
        simple = !d.table.isEmpty() && !parts->distinct && parts->groupBy.isEmpty() && parts->having.isEmpty()
                 && !parts->compound && !parts->hasAggregate;
        if (simple)
            d.setOrder(parts->orderBy);
        else
            d.orderBy = parts->orderBy;
        d.readAllSql = s;
    } else {
        const auto tokens = detail::tokenize(s);
        d.table = tokens.size() == 1 ? detail::identifierName(s, tokens.front()) : s;
        d.from = detail::quoteIdentifier(d.table);
        d.selectList = QStringLiteral("*");
        d.orderBy = d.keyOrder();
        d.readAllSql = QStringLiteral("SELECT * FROM ") + d.from;
        simple = true;
    }
    open(simple, type);
}

Recordset::Recordset(std::shared_ptr<Database> db, const detail::Query& query, RecordsetType type)
    : d_(std::make_unique<Impl>()), db_(std::move(db)), source_(query.select())
{
    Impl& d = *d_;
    d.db = db_.get();
    d.params = query.params();
    d.conditions = query.conditions;
    d.table = query.table;
    d.from = query.from();
    d.where = query.where();
    d.selectList = query.fieldList();
    d.setOrder(query.orderBy);
    d.readAllSql = source_;
    open(true, type);
}

void Recordset::open(bool simple, RecordsetType type)
{
    Impl& d = *d_;
    d.readOnly = type == RecordsetType::Snapshot;
    d.byRowid = simple && d.ordersByRowid();
    if (!simple || !d.openKeyset()) {
        d.readOnly = true;
        d.readAll(true);
    }
    d.pos = d.count() == 0 ? -1 : 0;
    db_->recordsets_.push_back(this);
}

Recordset::~Recordset()
{
    if (db_) {
        auto& list = db_->recordsets_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        db_->forgetRollback(this);
    }
}

void Recordset::keepForRollback()
{
    Impl& d = *d_;
    if (db_->transactionDepth_ == 0)
        return;
    d.finishKeys();
    for (const auto& action : db_->rollbackActions_) {
        if (action.first == this)
            return;
    }
    db_->onRollback(this, [this, keys = d.keys, pos = d.pos, gap = d.gap, lastModified = d.lastModified,
                           mode = editMode_, buffer = d.buffer, changed = d.changed, editKey = d.editKey] {
        Impl& r = *d_;
        r.keys = keys;
        r.pos = pos;
        r.gap = gap;
        r.lastModified = lastModified;
        r.buffer = buffer;
        r.changed = changed;
        r.editKey = editKey;
        r.cache.clear();
        editMode_ = mode;
    });
}

void Recordset::databaseClosed()
{
    d_->closed = true;
    d_->finishKeys(false);
    d_->fetch.finalize();
    d_->blockFetch.finalize();
    d_->cache.clear();
    editMode_ = EditMode::None;
}

void Recordset::finishReading()
{
    d_->finishKeys();
}

// --- position -----------------------------------------------------------------

bool Recordset::isBOF() const
{
    return d_->count() == 0 || (!d_->gap && d_->pos < 0);
}

bool Recordset::isEOF() const
{
    return d_->count() == 0 || (!d_->gap && d_->pos >= d_->count());
}

bool Recordset::hasCurrent() const
{
    if (d_->closed || !d_->onRow())
        return false;
    // A row that cannot be read throws: it is neither there nor gone.
    return !d_->row(d_->key(d_->pos)).deleted;
}

void Recordset::moveTo(int position)
{
    // As with DAO, moving away gives up a pending edit.
    if (editMode_ != EditMode::None)
        cancelUpdate();
    Impl& d = *d_;
    d.gap = false;
    d.pos = std::clamp(position, -1, d.count());
    // The row that becomes current is read afresh, not from the cache.
    if (d.onRow() && d.keyset)
        d.cache.forget(d.key(d.pos));
}

void Recordset::moveFirst()
{
    moveTo(d_->count() == 0 ? -1 : 0);
}

void Recordset::moveLast()
{
    moveTo(d_->count() - 1);
}

void Recordset::moveNext()
{
    if (d_->gap)
        moveTo(d_->pos);
    else if (d_->pos < d_->count())
        moveTo(d_->pos + 1);
}

void Recordset::movePrevious()
{
    if (d_->gap || d_->pos >= 0)
        moveTo(d_->pos - 1);
}

int Recordset::recordCount() const
{
    return d_->count();
}

int Recordset::absolutePosition() const
{
    return d_->onRow() ? d_->pos : -1;
}

void Recordset::setAbsolutePosition(int position)
{
    moveTo(position);
}

bool Recordset::findFirst(const QString& criterion)
{
    Impl& d = *d_;
    sqlite3* h = d.handle();
    if (!d.keyset)
        throw StoreError(ErrorKind::Other, QStringLiteral("find needs a recordset over one table"));
    Statement st(h, QStringLiteral("SELECT rowid FROM ") + d.from + QStringLiteral(" WHERE (") + criterion
                        + QStringLiteral(")"));
    std::unordered_set<qint64> hits;
    while (st.step())
        hits.insert(st.columnInt(0));
    if (!hits.empty()) {
        const std::vector<qint64>& keys = d.allKeys();
        for (size_t i = 0; i < keys.size(); ++i) {
            if (hits.count(keys[i])) {
                moveTo(int(i));
                noMatch_ = false;
                return true;
            }
        }
    }
    noMatch_ = true;
    return false;
}

Bookmark Recordset::bookmark() const
{
    if (!d_->onRow())
        noCurrent();
    return d_->key(d_->pos);
}

void Recordset::setBookmark(Bookmark bookmark)
{
    Impl& d = *d_;
    d.handle();
    const std::vector<qint64>& keys = d.allKeys();
    const auto it = std::find(keys.begin(), keys.end(), bookmark);
    if (it == keys.end())
        throw StoreError(ErrorKind::RowDeleted, QStringLiteral("no row %1 here").arg(bookmark));
    if (d.keyset)
        d.cache.forget(bookmark);
    if (d.row(bookmark).deleted)
        throw StoreError(ErrorKind::RowDeleted, QStringLiteral("rowid %1").arg(bookmark));
    moveTo(int(it - keys.begin()));
}

Bookmark Recordset::lastModified() const
{
    if (!d_->lastModified)
        noCurrent();
    return *d_->lastModified;
}

// --- fields ---------------------------------------------------------------------

int Recordset::fieldCount() const
{
    return int(d_->names.size());
}

QString Recordset::fieldName(int index) const
{
    return d_->names.at(d_->checkedIndex(index));
}

int Recordset::fieldIndex(const QString& name) const
{
    try {
        return d_->checkedIndex(name);
    } catch (const StoreError&) {
        return -1;
    }
}

ColumnType Recordset::fieldType(int index) const
{
    return d_->types[size_t(d_->checkedIndex(index))];
}

QVariant Recordset::value(const QString& name) const
{
    return value(d_->checkedIndex(name));
}

QVariant Recordset::value(int index) const
{
    Impl& d = *d_;
    const size_t i = size_t(d.checkedIndex(index));
    if (editMode_ != EditMode::None)
        return fromStorage(d.types[i], d.buffer[i]);
    return fromStorage(d.types[i], d.currentRow().values.at(i));
}

QString Recordset::text(const QString& name) const
{
    return displayText(value(name));
}

std::optional<qint64> Recordset::integer(const QString& name) const
{
    const QVariant v = value(name);
    if (v.isNull())
        return std::nullopt;
    if (isIntegerType(v.typeId()) || v.typeId() == QMetaType::Bool)
        return v.typeId() == QMetaType::Bool ? (v.toBool() ? -1 : 0) : v.toLongLong();
    throw StoreError(ErrorKind::TypeMismatch, QStringLiteral("not a whole number: %1").arg(v.toString()),
                     fieldName(d_->checkedIndex(name)));
}

QVariant Recordset::valueAt(int row, int index) const
{
    Impl& d = *d_;
    const size_t i = size_t(d.checkedIndex(index));
    if (row < 0 || row >= d.count())
        return {};
    const Row& r = d.rowAt(row);
    if (r.deleted || i >= r.values.size())
        return {};
    return fromStorage(d.types[i], r.values[i]);
}

QString Recordset::textAt(int row, int index) const
{
    return displayText(valueAt(row, index));
}

std::vector<QString> Recordset::columnTexts(const QStringList& fields, std::vector<int>* rowIndexes) const
{
    Impl& d = *d_;
    std::vector<int> columns;
    for (const QString& f : fields)
        columns.push_back(d.checkedIndex(f));
    if (rowIndexes)
        rowIndexes->clear();
    if (!d.keyset)
        return fallbackColumnTexts(columns, rowIndexes);
    // Only the wanted fields, in one statement: far less to read than whole rows.
    QStringList list;
    for (int c : columns) {
        const QString& base = d.baseColumns[size_t(c)];
        if (base.isEmpty())
            return fallbackColumnTexts(columns, rowIndexes);
        list << detail::quoteIdentifier(base);
    }
    std::vector<QString> out;
    d.withCondition([&](const detail::IndexedWhere& w, bool) {
        out = d.columnTexts(d.overRows(QStringLiteral("SELECT rowid, ") + list.join(QStringLiteral(", ")), w.where),
                            w.params, columns, rowIndexes);
    });
    return out;
}

std::vector<QString> Recordset::fallbackColumnTexts(const std::vector<int>& columns, std::vector<int>* rowIndexes) const
{
    std::vector<QString> out;
    for (int i = 0; i < d_->count(); ++i) {
        if (isRowDeleted(i))
            continue;
        for (int c : columns)
            out.push_back(textAt(i, c));
        if (rowIndexes)
            rowIndexes->push_back(i);
    }
    return out;
}

bool Recordset::isRowDeleted(int row) const
{
    Impl& d = *d_;
    if (row < 0 || row >= d.count())
        return true;
    return d.rowAt(row).deleted;
}

Bookmark Recordset::bookmarkAt(int row) const
{
    Impl& d = *d_;
    return row >= 0 && row < d.count() ? d.key(row) : 0;
}

QString Recordset::textOf(Bookmark bookmark, int index) const
{
    Impl& d = *d_;
    const size_t i = size_t(d.checkedIndex(index));
    const Row& r = d.row(bookmark);
    if (r.deleted || i >= r.values.size())
        return {};
    return displayText(fromStorage(d.types[i], r.values[i]));
}

bool Recordset::isRowidField(const QString& name) const
{
    Impl& d = *d_;
    const int i = fieldIndex(name);
    if (!d.keyset || i < 0 || d.baseColumns[size_t(i)].isEmpty())
        return false;
    return d.baseColumns[size_t(i)].toCaseFolded() == detail::rowidColumn(d.handle(), d.table);
}

// --- editing --------------------------------------------------------------------

void Recordset::requireUpdatable(bool onRow) const
{
    d_->handle();
    if (!isUpdatable())
        throw StoreError(ErrorKind::NotUpdatable, source_);
    if (onRow && !d_->onRow())
        noCurrent();
}

bool Recordset::isUpdatable() const
{
    return d_->keyset && !d_->readOnly && !d_->closed;
}

void Recordset::addNew()
{
    Impl& d = *d_;
    requireUpdatable(false);
    d.buffer.assign(d.names.size(), QVariant());
    d.changed.assign(d.names.size(), false);
    editMode_ = EditMode::AddNew;
}

void Recordset::edit()
{
    Impl& d = *d_;
    requireUpdatable(true);
    // Start from what is stored now, not from what this window last saw.
    d.cache.forget(d.key(d.pos));
    const Row& r = d.currentRow();
    d.buffer = r.values;
    d.changed.assign(d.names.size(), false);
    d.editKey = d.key(d.pos);
    editMode_ = EditMode::Edit;
}

void Recordset::setValue(const QString& name, const QVariant& value)
{
    Impl& d = *d_;
    d.handle();
    if (editMode_ == EditMode::None)
        throw StoreError(ErrorKind::Other, QStringLiteral("no edit or new row pending"), name);
    const size_t i = size_t(d.checkedIndex(name));
    if (d.baseColumns[i].isEmpty())
        throw StoreError(ErrorKind::NotUpdatable, QStringLiteral("computed field"), d.names.at(qsizetype(i)));
    // Converted now, so that a bad value fails here and not at update().
    QVariant stored = toStorage(d.types[i], value, d.names.at(qsizetype(i)), d.db->today());
    d.buffer[i] = std::move(stored);
    d.changed[i] = true;
}

void Recordset::setText(const QString& name, const QString& text)
{
    setValue(name, valueFromText(text));
}

void Recordset::update()
{
    Impl& d = *d_;
    d.handle();
    if (editMode_ == EditMode::None)
        throw StoreError(ErrorKind::Other, QStringLiteral("no edit or new row pending"));
    d.finishKeys();

    // One assignment per column, the field set last winning.
    QStringList columns;
    QVariantList values;
    for (size_t i = 0; i < d.changed.size(); ++i) {
        if (!d.changed[i])
            continue;
        const QString column = d.baseColumns[i];
        const qsizetype at = columns.indexOf(column, 0);
        if (at >= 0) {
            values[at] = d.buffer[i];
        } else {
            columns << column;
            values << d.buffer[i];
        }
    }
    const QString table = detail::quoteIdentifier(d.table);
    keepForRollback();

    if (editMode_ == EditMode::Edit) {
        if (!columns.isEmpty()) {
            QStringList sets;
            for (const QString& c : columns)
                sets << detail::quoteIdentifier(c) + QStringLiteral(" = ?");
            values << d.editKey;
            qint64 newKey = d.editKey;
            // The key may change with the field behind the rowid (id of T_idea).
            const int n = d.db->run(QStringLiteral("UPDATE ") + table + QStringLiteral(" SET ")
                                        + sets.join(QStringLiteral(", "))
                                        + QStringLiteral(" WHERE rowid = ? RETURNING rowid"),
                                    values, &newKey);
            if (n == 0) {
                d.cache.forget(d.editKey);
                throw StoreError(ErrorKind::RowDeleted, QStringLiteral("rowid %1").arg(d.editKey));
            }
            d.cache.forget(d.editKey);
            if (newKey != d.editKey)
                std::replace(d.keys.begin(), d.keys.end(), d.editKey, newKey);
            d.editKey = newKey;
        }
        d.lastModified = d.editKey;
    } else {
        QString sql;
        if (columns.isEmpty()) {
            sql = QStringLiteral("INSERT INTO ") + table + QStringLiteral(" DEFAULT VALUES");
        } else {
            QStringList quoted;
            for (const QString& c : columns)
                quoted << detail::quoteIdentifier(c);
            sql = QStringLiteral("INSERT INTO ") + table + QLatin1Char('(') + quoted.join(QLatin1Char(','))
                  + QStringLiteral(") VALUES(")
                  + QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(',')) + QLatin1Char(')');
        }
        qint64 rowid = 0;
        d.db->run(sql, values, &rowid);
        const bool atEnd = !d.gap && d.pos >= d.count();
        d.keys.push_back(rowid);
        if (atEnd)
            d.pos = d.count();
        d.lastModified = rowid;
    }
    editMode_ = EditMode::None;
    d.buffer.clear();
    d.changed.clear();
}

void Recordset::cancelUpdate()
{
    editMode_ = EditMode::None;
    d_->buffer.clear();
    d_->changed.clear();
}

void Recordset::deleteCurrent()
{
    Impl& d = *d_;
    requireUpdatable(true);
    keepForRollback();
    cancelUpdate();
    d.finishKeys();
    const qint64 key = d.keys[size_t(d.pos)];
    // A row another window deleted first is just as gone.
    d.db->run(QStringLiteral("DELETE FROM ") + detail::quoteIdentifier(d.table) + QStringLiteral(" WHERE rowid = ?"),
              {key});
    d.cache.forget(key);
    d.keys.erase(d.keys.begin() + d.pos);
    d.gap = true;
}

void Recordset::include(Bookmark rowid)
{
    Impl& d = *d_;
    requireUpdatable(false);
    d.finishKeys();
    if (std::find(d.keys.begin(), d.keys.end(), rowid) != d.keys.end())
        return;
    const bool atEnd = !d.gap && d.pos >= d.count();
    d.keys.push_back(rowid);
    if (atEnd)
        d.pos = d.count();
}

void Recordset::requery()
{
    Impl& d = *d_;
    d.handle();
    cancelUpdate();
    d.cache.clear();
    if (d.keyset)
        d.readKeys();
    else
        d.readAll(false);
    d.gap = false;
    d.pos = d.count() == 0 ? -1 : 0;
}

} // namespace zumilo::store
