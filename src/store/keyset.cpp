#include "keyset.h"

#include "jetlike.h"
#include "keyreader.h"
#include "rowcache.h"
#include "sqltokens.h"
#include "statement.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>
#include <sqlite3.h>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace zumilo::store::detail {

namespace {

// A search through the index pays for a second connection when its table
// has this many times Database::manyRows_ rows.
constexpr qint64 SplitSearchFactor = 20;

} // namespace

// A set's sort keys by title as last read: each row's folded title,
// whose big-endian units' byte order is the units' order, with its first
// sixteen bytes packed into two numbers that decide most comparisons, and
// the title as stored, so that a read again refolds only the titles that
// changed and keeps the others' order without sorting them again.
struct Keyset::TextKeys {
    static constexpr quint32 Null = std::numeric_limits<quint32>::max();
    struct Entry {
        quint64 head[2];
        qint64 rowid;
        quint32 begin;     // of the key in bytes, the title following it
        quint32 size;      // of the key; Null for no value
        quint32 titleSize; // of the title as stored; Null when too long to keep
        quint32 serial;    // the row's place in the read
    };
    bool descending = false;
    std::vector<Entry> sorted;
    std::string bytes;
    std::vector<std::pair<qint64, quint32>> read; // rowids as read, their positions in sorted

    // Values longer than this are not kept, nor reused: a list ordered by
    // the notes' bodies would otherwise hold every body while it is open.
    static constexpr size_t kKeptValue = 256;
    // Nor is a set's whole when its keys take more than this.
    static constexpr size_t kKeptBytes = size_t(16) << 20;

    bool less(const Entry& a, const Entry& b) const
    {
        // The engine puts no value before any value.
        const bool aNull = a.size == Null, bNull = b.size == Null;
        int c = aNull == bNull ? 0 : (aNull ? -1 : 1);
        if (c == 0 && !aNull) {
            if (a.head[0] != b.head[0])
                c = a.head[0] < b.head[0] ? -1 : 1;
            else if (a.head[1] != b.head[1])
                c = a.head[1] < b.head[1] ? -1 : 1;
            else {
                const quint32 common = std::min(a.size, b.size);
                if (common > 16)
                    c = std::memcmp(bytes.data() + a.begin + 16, bytes.data() + b.begin + 16, common - 16);
                if (c == 0 && a.size != b.size)
                    c = a.size < b.size ? -1 : 1;
            }
        }
        if (c != 0)
            return descending ? c > 0 : c < 0;
        return a.rowid < b.rowid;
    }

    struct Slot {
        quint64 key;
        quint32 at;
    };

    // The buffers of a read, kept emptied on its thread for the next one:
    // ten thousand titles take some 3 MB, and pages fresh from the system
    // cost the kernel a zeroed page at each first touch, about as long as
    // the read itself. A buffer larger than this goes back to the system.
    static constexpr size_t kSpareBytes = size_t(4) << 20;
    struct Buffers {
        std::vector<Entry> sorted, added, ordered, kept;
        std::string bytes;
        std::vector<std::pair<qint64, quint32>> read;
        std::vector<qint64> readOrder;
        std::vector<quint32> position;
        std::vector<Slot> order, other;

        // Keeps the larger of each pair of buffers, emptied.
        void keep(Buffers&& b)
        {
            keepOne(sorted, b.sorted);
            keepOne(added, b.added);
            keepOne(ordered, b.ordered);
            keepOne(kept, b.kept);
            keepOne(bytes, b.bytes);
            keepOne(read, b.read);
            keepOne(readOrder, b.readOrder);
            keepOne(position, b.position);
            keepOne(order, b.order);
            keepOne(other, b.other);
        }
        template <class T>
        static void keepOne(T& mine, T& theirs)
        {
            if (theirs.capacity() > mine.capacity() && theirs.capacity() * sizeof(theirs[0]) <= kSpareBytes) {
                mine = std::move(theirs);
                mine.clear();
            }
        }
        // A set keeps buffers near its own size: a small one gives a large
        // buffer back, for the next large read, and keeps a copy.
        template <class T>
        static void fit(T& used, T& spareOne)
        {
            if (used.size() > used.capacity() / 4 || (used.capacity() - used.size()) * sizeof(used[0]) <= kSlackBytes)
                return;
            T own(used.begin(), used.end());
            std::swap(used, own);
            keepOne(spareOne, own);
        }
        static constexpr size_t kSlackBytes = size_t(64) << 10;
    };
    // The thread's spare buffers; none once the thread is ending, when a
    // set that outlives them may still be destroyed.
    static Buffers* spare()
    {
        struct Owner {
            Owner() { current() = new Buffers; }
            ~Owner() { delete std::exchange(current(), nullptr); }
        };
        thread_local Owner owner;
        return current();
    }
    static Buffers*& current()
    {
        thread_local Buffers* buffers = nullptr; // nothing to destroy: readable to the thread's end
        return buffers;
    }
    static Buffers takeSpare()
    {
        Buffers* buffers = spare();
        return buffers ? std::exchange(*buffers, Buffers{}) : Buffers{};
    }
    static void giveBack(Buffers&& b)
    {
        if (Buffers* buffers = spare())
            buffers->keep(std::move(b));
    }

    ~TextKeys()
    {
        Buffers b;
        b.sorted = std::move(sorted);
        b.bytes = std::move(bytes);
        b.read = std::move(read);
        giveBack(std::move(b));
    }

    // Sorts `entries` into `out` by the first four units with a radix
    // sort, which takes no branch it could mispredict, then each run of
    // equal ones by the rest.
    void sort(const std::vector<Entry>& entries, std::vector<Entry>& out, Buffers& b) const
    {
        const size_t n = entries.size();
        std::vector<Slot>& order = b.order;
        std::vector<Slot>& other = b.other;
        order.resize(n);
        other.resize(n);
        for (size_t i = 0; i < n; ++i)
            order[i] = {descending ? ~entries[i].head[0] : entries[i].head[0], quint32(i)};
        for (int shift = 0; shift < 64; shift += 8) {
            size_t counts[257] = {};
            for (const Slot& slot : order)
                ++counts[((slot.key >> shift) & 0xFF) + 1];
            if (std::count(std::begin(counts), std::end(counts), n) == 1)
                continue; // every key has this byte alike
            for (size_t k = 1; k < 257; ++k)
                counts[k] += counts[k - 1];
            for (const Slot& slot : order)
                other[counts[(slot.key >> shift) & 0xFF]++] = slot;
            order.swap(other);
        }
        // No value has the head of an empty key: both go to less().
        for (size_t begin = 0; begin < n;) {
            size_t end = begin + 1;
            while (end < n && order[end].key == order[begin].key)
                ++end;
            if (end - begin > 1) {
                std::sort(order.begin() + ptrdiff_t(begin), order.begin() + ptrdiff_t(end),
                          [&](const Slot& x, const Slot& y) { return less(entries[x.at], entries[y.at]); });
            }
            begin = end;
        }
        out.clear();
        out.reserve(n);
        for (const Slot& slot : order)
            out.push_back(entries[slot.at]);
    }

    // The row's entry, if the last read had it near where this read has
    // come to (`cursor`): the rows come in the same order each time, less
    // those deleted and plus those added or moved, which are folded again.
    // Far from the cursor (rows deleted, moved or filtered out in a run),
    // the row is looked up by its number, and the cursor follows it there.
    const Entry* find(qint64 rowid, size_t& cursor, std::unordered_map<qint64, size_t>& places) const
    {
        constexpr size_t kNear = 8;
        const size_t behind = cursor > kNear ? cursor - kNear : 0;
        for (size_t i = cursor; i < std::min(read.size(), cursor + kNear); ++i) {
            if (read[i].first == rowid) {
                cursor = i + 1;
                return &sorted[read[i].second];
            }
        }
        for (size_t i = behind; i < std::min(read.size(), cursor); ++i) {
            if (read[i].first == rowid)
                return &sorted[read[i].second];
        }
        if (places.empty()) {
            places.reserve(read.size());
            for (size_t i = 0; i < read.size(); ++i)
                places.emplace(read[i].first, i);
        }
        const auto at = places.find(rowid);
        if (at == places.end())
            return nullptr;
        cursor = at->second + 1;
        return &sorted[read[at->second].second];
    }

    // Whether the row's key may serve again for a value as stored now.
    bool sameValue(const Entry& e, std::string_view value) const
    {
        return e.size != Null && e.titleSize != Null
               && std::string_view(bytes).substr(e.begin + e.size, e.titleSize) == value;
    }
};

Keyset::Keyset() = default;
Keyset::~Keyset() = default;

sqlite3* Keyset::handle() const
{
    if (closed || !db->isOpen())
        throw StoreError(ErrorKind::Other, QStringLiteral("the database is closed"));
    return db->handle();
}

qint64 Keyset::key(int position)
{
    if (pending_ && size_t(position) >= keys.size())
        finishKeys();
    return keys[size_t(position)];
}

std::vector<qint64>& Keyset::allKeys()
{
    finishKeys();
    return keys;
}

void Keyset::finishKeys(bool read)
{
    if (!pending_)
        return;
    std::optional<std::vector<qint64>> rest = read && reader_ ? reader_->take() : std::nullopt;
    reader_.reset();
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
    pending_ = false;
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
    keys.resize(size_t(total_), std::numeric_limits<qint64>::min());
}

bool Keyset::open(const QString& selectList)
{
    sqlite3* h = handle();
    head_ = QStringLiteral("SELECT rowid");
    keyColumn_ = 0;
    try {
        Statement probe(h, overRows(head_, where));
    } catch (const StoreError& e) {
        if (e.kind() == ErrorKind::Busy)
            throw;
        // ORDER BY or WHERE naming a field of the list by its alias.
        // rowid goes last so that ORDER BY 2 still counts list fields.
        head_ = QStringLiteral("SELECT ") + selectList + QStringLiteral(", rowid");
        try {
            Statement probe(h, overRows(head_, where));
            keyColumn_ = probe.columnCount() - 1;
        } catch (const StoreError& e2) {
            if (e2.kind() == ErrorKind::Busy)
                throw;
            return false;
        }
    }
    return readKeys();
}

QString Keyset::overRows(const QString& head, const QString& condition) const
{
    return head + QStringLiteral(" FROM ") + from
           + (condition.isEmpty() ? QString() : QStringLiteral(" WHERE ") + condition)
           + (orderBy.isEmpty() ? QString() : QStringLiteral(" ORDER BY ") + orderBy);
}

bool Keyset::readKeys()
{
    finishKeys(); // whole, should this read fail
    bool ok = false;
    bool byText = false;
    withCondition([&](const IndexedWhere& w, bool inStep) {
        // Straight from the index when it answers the whole condition.
        const bool direct = !w.keys.isEmpty() && keyColumn_ == 0 && orderBy.isEmpty();
        if (direct) {
            ok = w.oneLookup ? readKeysInHalves(w.keys, w.keyParams) : readKeys(w.keys, w.keyParams);
        } else if (!byTextKey_.isEmpty() && keyColumn_ == 0 && readKeysByText(w.where, w.params)) {
            ok = byText = true;
        } else if (w.where.isEmpty() && keyColumn_ == 0 && params.isEmpty()
                   && (byRowid || orderBy.isEmpty() || orderFromIndex())) {
            ok = readKeysAhead(inStep);
        } else {
            ok = readKeys(keysSql(w.where), w.params, byRowid && keyColumn_ == 0);
        }
    });
    if (!byText)
        textKeys_.reset(); // another order's keys serve no later read
    return ok;
}

// The keys of every row. In row number order the engine walks the whole
// table, bodies and all; unordered it reads the numbers from a small
// index, and they are sorted here.
QString Keyset::keysSql(const QString& condition) const
{
    if (!byRowid || keyColumn_ != 0)
        return overRows(head_, condition);
    return head_ + QStringLiteral(" FROM ") + from
           + (condition.isEmpty() ? QString() : QStringLiteral(" WHERE ") + condition);
}

// True when an index gives the set's order as it is walked (at most
// rows of equal leading keys sorted among themselves): the first rows
// then come without sorting every row.
bool Keyset::orderFromIndex()
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
bool Keyset::readKeysAhead(bool indexInStep)
{
    constexpr int kFirstRows = 4 * RowCache::BlockSize;
    sqlite3* h = handle();
    // Inside a write the other connection would not see the rows.
    if (db->transactionDepth_ > 0 || sqlite3_txn_state(h, nullptr) == SQLITE_TXN_WRITE)
        return readKeys(keysSql(), params, byRowid);
    Statement first(h,
                    byRowid ? head_ + QStringLiteral(" FROM ") + from + QStringLiteral(" ORDER BY rowid") : keysSql());
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
    total_ = int(*counted);
    pending_ = true;
    reader_ = std::make_unique<KeyReader>(other, keysSql(), params, byRowid);
    return true;
}

// Rowids found through one lookup of the search index, in rowid order:
// in a large table the upper half of the rowids is read on another
// thread meanwhile (a common word is found in most notes).
bool Keyset::readKeysInHalves(const QString& sql, const QVariantList& binds)
{
    const std::optional<qint64> counted = db->index_->rowCount(table);
    if (!counted || *counted <= db->manyRows_ * SplitSearchFactor)
        return readKeys(sql, binds);
    // Each in a query of its own: the engine then looks up the ends.
    Statement span(handle(),
                   QStringLiteral("SELECT (SELECT min(rowid) FROM %1), (SELECT max(rowid) FROM %1)").arg(from));
    span.step();
    // Unsigned: the span of rowids at both ends of the range exceeds qint64.
    const quint64 low = quint64(span.columnInt(0));
    const qint64 middle = qint64(low + (quint64(span.columnInt(1)) - low) / 2);
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
bool Keyset::readKeysByText(const QString& condition, const QVariantList& binds)
{
    constexpr size_t kMostRows = 250000;
    using Entry = TextKeys::Entry;
    constexpr quint32 kNull = TextKeys::Null;
    Statement st(handle(), head_ + QStringLiteral(", ") + byTextKey_ + QStringLiteral(" FROM ") + from
                               + (condition.isEmpty() ? QString() : QStringLiteral(" WHERE ") + condition));
    st.bindAll(binds);
    sqlite3_stmt* s = st.get();
    const TextKeys* last = textKeys_ && textKeys_->descending == byTextKeyDescending_ ? textKeys_.get() : nullptr;
    struct Lent { // this read's buffers, emptied and kept again at its end
        TextKeys::Buffers b = TextKeys::takeSpare();
        ~Lent() { TextKeys::giveBack(std::move(b)); }
    } lent;
    TextKeys::Buffers& b = lent.b;
    auto fresh = std::make_unique<TextKeys>();
    fresh->descending = byTextKeyDescending_;
    fresh->bytes = std::move(b.bytes);
    fresh->sorted = std::move(b.sorted);
    fresh->read = std::move(b.read);
    std::string& bytes = fresh->bytes;
    bytes.reserve(last ? last->bytes.size() + (1 << 12) : size_t(1) << 18);
    // Rows the last read had with the same title, by their place in it,
    // and the others.
    std::vector<Entry>& kept = b.kept;
    kept.assign(last ? last->sorted.size() : 0, Entry{});
    std::vector<bool> isKept(kept.size());
    std::vector<Entry>& added = b.added;
    added.reserve(last ? 16 : std::min(keys.size(), kMostRows)); // read again: as many as before
    std::vector<qint64>& readOrder = b.readOrder;
    readOrder.reserve(std::min(keys.size(), kMostRows));
    size_t cursor = 0;
    std::unordered_map<qint64, size_t> places; // of the last read's rows, made at its first use
    std::vector<char32_t> folded;
    while (st.step()) {
        if (readOrder.size() == kMostRows) {
            textKeys_.reset();
            return false;
        }
        const qint64 rowid = sqlite3_column_int64(s, 0);
        const quint32 serial = quint32(readOrder.size());
        readOrder.push_back(rowid);
        if (sqlite3_column_type(s, 1) == SQLITE_NULL) {
            if (last)
                last->find(rowid, cursor, places); // keeps the cursor in step
            added.push_back({{0, 0}, rowid, 0, kNull, 0, serial});
            continue;
        }
        const unsigned char* text = sqlite3_column_text(s, 1);
        const size_t textSize = text ? size_t(sqlite3_column_bytes(s, 1)) : 0;
        const std::string_view title(reinterpret_cast<const char*>(text), textSize);
        if (const Entry* was = last ? last->find(rowid, cursor, places) : nullptr;
            was && last->sameValue(*was, title)) {
            Entry e = *was;
            e.begin = quint32(bytes.size());
            e.serial = serial;
            if (bytes.size() + e.size + title.size() >= kNull) {
                textKeys_.reset();
                return false;
            }
            bytes.append(last->bytes, was->begin, size_t(was->size) + was->titleSize);
            const size_t at = size_t(was - last->sorted.data());
            kept[at] = e;
            isKept[at] = true;
            continue;
        }
        const size_t n = text ? foldUtf8(text, textSize, folded) : 0;
        const size_t begin = bytes.size();
        if (begin + 4 * n + title.size() >= kNull) {
            textKeys_.reset();
            return false;
        }
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
        quint64 head[2] = {0, 0};
        for (size_t k = 0; k < std::min<size_t>(size, 16); ++k)
            head[k / 8] |= quint64(key[k]) << (56 - 8 * (k % 8));
        bytes.resize(begin + size);
        const bool keep = title.size() <= TextKeys::kKeptValue;
        if (keep)
            bytes.append(title);
        added.push_back(
            {{head[0], head[1]}, rowid, quint32(begin), quint32(size), keep ? quint32(title.size()) : kNull, serial});
    }
    // The rows kept are in order among themselves already.
    std::vector<Entry>& sorted = fresh->sorted;
    if (std::find(isKept.begin(), isKept.end(), true) == isKept.end()) {
        fresh->sort(added, sorted, b);
    } else {
        fresh->sort(added, b.ordered, b);
        sorted.reserve(readOrder.size());
        auto next = b.ordered.cbegin();
        for (size_t i = 0; i < kept.size(); ++i) {
            if (!isKept[i])
                continue;
            for (; next != b.ordered.cend() && fresh->less(*next, kept[i]); ++next)
                sorted.push_back(*next);
            sorted.push_back(kept[i]);
        }
        sorted.insert(sorted.end(), next, b.ordered.cend());
    }

    keys.clear();
    keys.reserve(sorted.size());
    std::vector<quint32>& position = b.position;
    position.assign(sorted.size(), 0);
    for (size_t i = 0; i < sorted.size(); ++i) {
        keys.push_back(sorted[i].rowid);
        position[sorted[i].serial] = quint32(i);
    }
    fresh->read.reserve(readOrder.size());
    for (size_t i = 0; i < readOrder.size(); ++i)
        fresh->read.emplace_back(readOrder[i], position[i]);
    TextKeys::Buffers::fit(fresh->sorted, b.sorted);
    TextKeys::Buffers::fit(fresh->bytes, b.bytes);
    TextKeys::Buffers::fit(fresh->read, b.read);
    if (fresh->bytes.size() <= TextKeys::kKeptBytes)
        textKeys_ = std::move(fresh);
    else
        textKeys_.reset();
    return true;
}

bool Keyset::ordersByRowid()
{
    if (orderBy.trimmed().isEmpty())
        return false;
    QStringList rowidNames = {QStringLiteral("rowid"), QStringLiteral("oid"), QStringLiteral("_rowid_")};
    if (const QString alias = rowidColumn(handle(), table); !alias.isEmpty())
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

bool Keyset::readKeys(const QString& sql, const QVariantList& binds, bool sorted)
{
    Statement st(handle(), sql);
    st.bindAll(binds);
    std::vector<qint64> fresh;
    fresh.reserve(keys.size());
    sqlite3_stmt* s = st.get();
    while (st.step()) {
        const qint64 key = sqlite3_column_int64(s, keyColumn_);
        if (key == 0 && sqlite3_column_type(s, keyColumn_) == SQLITE_NULL)
            return false; // no real rowids behind this source
        fresh.push_back(key);
    }
    if (sorted)
        sortRowids(fresh);
    keys = std::move(fresh);
    return true;
}

void Keyset::setOrder(const QString& written)
{
    const ListOrder order = listOrder(handle(), table, written);
    orderBy = order.sql;
    byTextKey_ = order.textKey;
    byTextKeyDescending_ = order.descending;
}

QString Keyset::keyOrder()
{
    Statement st(handle(), QStringLiteral("SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk"));
    st.bind(1, table);
    QStringList columns;
    while (st.step())
        columns << quoteIdentifier(st.column(0).toString());
    return columns.isEmpty() ? QStringLiteral("rowid") : columns.join(QStringLiteral(", "));
}

} // namespace zumilo::store::detail
