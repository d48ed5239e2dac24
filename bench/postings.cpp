#include "postings.h"

#include "store/jetlike.h"

#include <QtEndian>

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <optional>
#include <span>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace zumilo::bench {

namespace {

// --- tokens -----------------------------------------------------------------

// A pair is its two characters (21 bits each); a character has bit 42 set,
// so that the two kinds never meet and a pair's blocks sort by its first
// character.
constexpr std::uint64_t kCharacterBit = std::uint64_t(1) << 42;

std::uint64_t pairToken(char32_t a, char32_t b)
{
    return std::uint64_t(a) << 21 | b;
}

std::uint64_t characterToken(char32_t c)
{
    return kCharacterBit | c;
}

bool isPair(std::uint64_t token)
{
    return !(token & kCharacterBit);
}

// The tokens of one text, folded as the store's tokenizer folds it.
struct TextTokens {
    std::vector<char32_t> chars;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> pairs; // token and where it starts, sorted
    std::vector<std::uint64_t> characters;                      // each once, sorted

    void read(const unsigned char* text, size_t bytes)
    {
        const size_t n = store::foldUtf8(text, bytes, chars);
        pairs.clear();
        characters.clear();
        for (size_t i = 0; i < n; ++i) {
            if (i + 1 < n)
                pairs.emplace_back(pairToken(chars[i], chars[i + 1]), std::uint32_t(i));
            characters.push_back(characterToken(chars[i]));
        }
        std::sort(pairs.begin(), pairs.end());
        std::sort(characters.begin(), characters.end());
        characters.erase(std::unique(characters.begin(), characters.end()), characters.end());
    }

    void read(const std::string& text) { read(reinterpret_cast<const unsigned char*>(text.data()), text.size()); }
};

// --- statements -------------------------------------------------------------------

class Sql {
public:
    Sql(sqlite3* db, const QString& text) : db_(db)
    {
        const QByteArray utf8 = text.toUtf8();
        if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &st_, nullptr) != SQLITE_OK)
            fail();
    }
    ~Sql() { sqlite3_finalize(st_); }
    Sql(const Sql&) = delete;
    Sql& operator=(const Sql&) = delete;

    sqlite3_stmt* operator*() const { return st_; }

    // True while there is a row; the statement is reset at its end.
    bool step()
    {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW)
            return true;
        sqlite3_reset(st_);
        if (rc != SQLITE_DONE)
            fail();
        return false;
    }

    void reset() { sqlite3_reset(st_); }

private:
    [[noreturn]] void fail() const { throw std::runtime_error(sqlite3_errmsg(db_)); }

    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
};

void exec(sqlite3* db, const QString& sql)
{
    Sql st(db, sql);
    while (st.step()) {
    }
}

// --- bits -------------------------------------------------------------------------

int bitWidth(std::uint64_t v)
{
    return std::max(1, int(std::bit_width(v)));
}

// A Rice code spends one bit per step of v >> k; a value far beyond its
// block's others (a note's first position in a long body) would cost
// thousands, so from kEscape steps on it is written as its width and bits.
constexpr int kEscape = 32;

std::uint64_t riceBits(std::uint64_t v, int k)
{
    const std::uint64_t q = v >> k;
    return q < kEscape ? q + 1 + std::uint64_t(k) : kEscape + 6 + std::uint64_t(bitWidth(v));
}

// The k that codes `values` in the fewest bits: near the logarithm of
// their mean, where the cost has its minimum.
int chooseRice(const std::vector<std::uint64_t>& values)
{
    if (values.empty())
        return 0;
    double sum = 0;
    for (std::uint64_t v : values)
        sum += double(v);
    const double mean = sum / double(values.size());
    const int guess = mean < 1 ? 0 : int(std::log2(mean));
    int best = 0;
    std::uint64_t bestBits = ~std::uint64_t(0);
    for (int k = std::max(0, guess - 1); k <= std::min(31, guess + 1); ++k) {
        std::uint64_t bits = 0;
        for (std::uint64_t v : values)
            bits += riceBits(v, k);
        if (bits < bestBits) {
            bestBits = bits;
            best = k;
        }
    }
    return best;
}

class BitWriter {
public:
    void put(std::uint64_t value, int bits)
    {
        if (bits > 32) {
            put(value >> 32, bits - 32);
            bits = 32;
            value &= 0xFFFFFFFFu;
        }
        acc_ = acc_ << bits | value;
        pending_ += bits;
        while (pending_ >= 8) {
            pending_ -= 8;
            out_.push_back(char(acc_ >> pending_));
        }
        acc_ &= (std::uint64_t(1) << pending_) - 1;
    }

    void rice(std::uint64_t v, int k)
    {
        const std::uint64_t q = v >> k;
        if (q < kEscape) {
            put((std::uint64_t(1) << (q + 1)) - 2, int(q) + 1);
            put(v & ((std::uint64_t(1) << k) - 1), k);
        } else {
            put((std::uint64_t(1) << kEscape) - 1, kEscape);
            put(std::uint64_t(bitWidth(v) - 1), 6);
            put(v, bitWidth(v));
        }
    }

    // Elias gamma of v + 1: one bit for 0, short for small values.
    void gamma(std::uint64_t v)
    {
        const int width = bitWidth(v + 1);
        put(0, width - 1);
        put(v + 1, width);
    }

    std::string finish()
    {
        if (pending_)
            out_.push_back(char(acc_ << (8 - pending_)));
        pending_ = 0;
        acc_ = 0;
        return std::move(out_);
    }

private:
    std::string out_;
    std::uint64_t acc_ = 0;
    int pending_ = 0;
};

// Reads past the end as zero bits, so that a damaged block ends in values
// rather than in a read beyond its bytes.
class BitReader {
public:
    BitReader() = default;
    explicit BitReader(const std::string& data)
        : p_(reinterpret_cast<const unsigned char*>(data.data())), end_(p_ + data.size())
    {
    }

    std::uint64_t take(int n)
    {
        if (n == 0)
            return 0;
        if (n > 32) {
            const std::uint64_t high = take(n - 32);
            return high << 32 | take(32);
        }
        refill();
        const std::uint64_t v = window_ >> (64 - n);
        window_ <<= n;
        available_ -= n;
        return v;
    }

    std::uint64_t gamma()
    {
        refill();
        const int zeros = std::min(56, std::countl_zero(window_));
        window_ <<= zeros;
        available_ -= zeros;
        return take(zeros + 1) - 1;
    }

    std::uint64_t rice(int k)
    {
        refill();
        const int q = std::min(kEscape, std::countl_one(window_));
        if (q < kEscape && q + 1 + k <= available_) {
            window_ <<= q + 1;
            const std::uint64_t low = k ? window_ >> (64 - k) : 0;
            window_ <<= k;
            available_ -= q + 1 + k;
            return std::uint64_t(q) << k | low;
        }
        window_ <<= q;
        available_ -= q;
        if (q == kEscape)
            return take(int(take(6)) + 1);
        take(1);
        return std::uint64_t(q) << k | take(k);
    }

private:
    void refill()
    {
        if (available_ > 56)
            return;
        if (end_ - p_ >= 8) {
            // Eight bytes at once; the bits of the last one that do not fit
            // are read again, into the same place, by the next refill.
            window_ |= qFromBigEndian<quint64>(p_) >> available_;
            p_ += (63 - available_) >> 3;
            available_ |= 56;
            return;
        }
        while (available_ <= 56) {
            window_ |= std::uint64_t(p_ < end_ ? *p_++ : 0) << (56 - available_);
            available_ += 8;
        }
    }

    const unsigned char* p_ = nullptr;
    const unsigned char* end_ = nullptr;
    std::uint64_t window_ = 0;
    int available_ = 0;
};

// --- blocks -----------------------------------------------------------------------

constexpr int kNotesBits = std::bit_width(unsigned(PostingIndex::kBlockNotes - 1));

// Some notes of one token, in row order.
struct Postings {
    std::vector<std::int64_t> rows;
    std::vector<std::uint32_t> counts;    // pairs only
    std::vector<std::uint32_t> positions; // pairs only, note after note

    void clear()
    {
        rows.clear();
        counts.clear();
        positions.clear();
    }
};

// What the parts of the blocks take, in bytes.
struct Tally {
    double rows = 0;
    double counts = 0;
    std::array<double, PostingIndex::kCodings> positions{};
};

// Adds what the positions of a block, first positions and further gaps,
// would take by each coding; `riceBitsUsed` is what they took.
void tallyPositions(const std::vector<std::uint64_t>& firsts, const std::vector<std::uint64_t>& gaps,
                    std::uint64_t riceBitsUsed, Tally& tally)
{
    std::uint64_t gamma = 0, nibbles = 0, bytes = 0, widths = 10;
    for (const auto* part : {&firsts, &gaps}) {
        std::uint64_t widest = 0;
        for (std::uint64_t v : *part) {
            gamma += 2 * std::uint64_t(bitWidth(v + 1) - 1) + 1;
            nibbles += 4 * std::uint64_t((bitWidth(v) + 2) / 3);
            bytes += 8 * std::uint64_t((bitWidth(v) + 6) / 7);
            widest = std::max(widest, v);
        }
        widths += part->size() * std::uint64_t(bitWidth(widest));
    }
    auto& p = tally.positions;
    p[PostingIndex::Rice] += double(riceBitsUsed) / 8;
    p[PostingIndex::EliasGamma] += double(gamma) / 8;
    p[PostingIndex::Nibbles] += double(nibbles) / 8;
    p[PostingIndex::Bytes] += double(bytes) / 8;
    p[PostingIndex::BlockWidth] += double(widths) / 8;
}

std::string encodeBlock(const Postings& p, bool withPositions, Tally* tally = nullptr)
{
    BitWriter w;
    const size_t n = p.rows.size();
    w.put(n - 1, kNotesBits);
    std::vector<std::uint64_t> values;
    // Writes `values` with their k; returns the bits they took.
    auto part = [&] {
        const int k = chooseRice(values);
        w.put(std::uint64_t(k), 5);
        std::uint64_t bits = 0;
        for (std::uint64_t v : values) {
            w.rice(v, k);
            bits += riceBits(v, k);
        }
        return double(bits) / 8;
    };
    if (n > 1) {
        for (size_t i = 1; i < n; ++i)
            values.push_back(std::uint64_t(p.rows[i] - p.rows[i - 1] - 1));
        const double bytes = part();
        if (tally)
            tally->rows += bytes;
    }
    if (!withPositions)
        return w.finish();
    // Nearly every note holds a pair once: only the notes holding it more
    // often are listed, by the gap to the last one listed and count - 2.
    std::vector<std::uint64_t> extra;
    values.clear();
    for (size_t i = 0, last = 0; i < n; ++i) {
        if (p.counts[i] > 1) {
            values.push_back(values.empty() ? i : i - last - 1);
            extra.push_back(p.counts[i] - 2);
            last = i;
        }
    }
    const std::uint64_t listed = values.size();
    w.gamma(listed);
    double countBytes = double(2 * bitWidth(listed + 1) - 1) / 8;
    if (listed) {
        countBytes += part();
        values = std::move(extra);
        countBytes += part();
    }
    if (tally)
        tally->counts += countBytes;

    std::vector<std::uint64_t> firsts, gaps;
    for (size_t i = 0, at = 0; i < n; at += p.counts[i++]) {
        firsts.push_back(p.positions[at]);
        for (size_t j = 1; j < p.counts[i]; ++j)
            gaps.push_back(p.positions[at + j] - p.positions[at + j - 1] - 1);
    }
    const int kFirst = chooseRice(firsts);
    const int kGap = chooseRice(gaps);
    w.put(std::uint64_t(kFirst), 5);
    std::uint64_t bits = 5;
    if (!gaps.empty()) {
        w.put(std::uint64_t(kGap), 5);
        bits += 5;
    }
    for (size_t i = 0, at = 0; i < n; at += p.counts[i++]) {
        w.rice(p.positions[at], kFirst);
        bits += riceBits(p.positions[at], kFirst);
        for (size_t j = 1; j < p.counts[i]; ++j) {
            const std::uint64_t gap = p.positions[at + j] - p.positions[at + j - 1] - 1;
            w.rice(gap, kGap);
            bits += riceBits(gap, kGap);
        }
    }
    if (tally)
        tallyPositions(firsts, gaps, bits, *tally);
    return w.finish();
}

// One block read: its rows (and counts) when opened, its positions all
// at once when first asked for (a search asks for those of nearly every
// note of a block, or of none).
class BlockReader {
public:
    BlockReader() = default;
    BlockReader(std::int64_t firstRow, const std::string& data, bool withCounts) { open(firstRow, data, withCounts); }

    // The bits are read through a local copy, which the compiler keeps
    // in registers: a third of the time of reading a block.
    void open(std::int64_t firstRow, const std::string& data, bool withCounts)
    {
        BitReader bits(data);
        decoded_ = false;
        notes_ = int(bits.take(kNotesBits)) + 1;
        rows_[0] = firstRow;
        if (notes_ > 1) {
            const int k = int(bits.take(5));
            std::int64_t row = firstRow;
            for (int i = 1; i < notes_; ++i) {
                row += std::int64_t(bits.rice(k)) + 1;
                rows_[size_t(i)] = row;
            }
        }
        if (withCounts) {
            counts_.fill(1);
            const int listed = int(std::min<std::uint64_t>(bits.gamma(), std::uint64_t(notes_)));
            if (listed) {
                int at[PostingIndex::kBlockNotes];
                int k = int(bits.take(5));
                for (int j = 0, last = -1; j < listed; ++j) {
                    last = std::min(notes_ - 1, last + 1 + int(bits.rice(k)));
                    at[j] = last;
                }
                k = int(bits.take(5));
                for (int j = 0; j < listed; ++j)
                    counts_[size_t(at[j])] = std::uint32_t(bits.rice(k)) + 2;
            }
            kFirst_ = int(bits.take(5));
            kGap_ = listed ? int(bits.take(5)) : 0;
        }
        bits_ = bits;
    }

    int notes() const { return notes_; }
    std::int64_t row(int i) const { return rows_[size_t(i)]; }
    std::uint32_t count(int i) const { return counts_[size_t(i)]; }

    std::span<const std::uint32_t> positions(int i)
    {
        if (!decoded_) {
            BitReader bits = bits_;
            size_t total = 0;
            for (int n = 0; n < notes_; ++n)
                total += counts_[size_t(n)];
            positions_.resize(total);
            std::uint32_t* out = positions_.data();
            for (int n = 0; n < notes_; ++n) {
                begin_[size_t(n)] = std::uint32_t(out - positions_.data());
                std::uint32_t p = std::uint32_t(bits.rice(kFirst_));
                *out++ = p;
                for (std::uint32_t j = 1; j < counts_[size_t(n)]; ++j) {
                    p += std::uint32_t(bits.rice(kGap_)) + 1;
                    *out++ = p;
                }
            }
            bits_ = bits;
            decoded_ = true;
        }
        return {positions_.data() + begin_[size_t(i)], counts_[size_t(i)]};
    }

private:
    BitReader bits_;
    int notes_ = 0;
    std::array<std::int64_t, PostingIndex::kBlockNotes> rows_{};
    std::array<std::uint32_t, PostingIndex::kBlockNotes> counts_{};
    std::array<std::uint32_t, PostingIndex::kBlockNotes> begin_{};
    std::vector<std::uint32_t> positions_;
    int kFirst_ = 0;
    int kGap_ = 0;
    bool decoded_ = false;
};

Postings decodeBlock(std::int64_t firstRow, const std::string& data, bool withPositions)
{
    BlockReader r(firstRow, data, withPositions);
    Postings p;
    for (int i = 0; i < r.notes(); ++i) {
        p.rows.push_back(r.row(i));
        if (!withPositions)
            continue;
        p.counts.push_back(r.count(i));
        const auto at = r.positions(i);
        p.positions.insert(p.positions.end(), at.begin(), at.end());
    }
    return p;
}

std::string blobOf(sqlite3_stmt* st, int column)
{
    const auto* data = static_cast<const char*>(sqlite3_column_blob(st, column));
    return std::string(data ? data : "", size_t(sqlite3_column_bytes(st, column)));
}

} // namespace

struct PostingIndex::Block {
    std::int64_t firstRow;
    std::string data;
};

namespace {

// The notes of one token, walked in row order across its blocks.
class Cursor {
public:
    explicit Cursor(const std::vector<PostingIndex::Block>& blocks) : blocks_(blocks) { open(0); }

    bool atEnd() const { return block_ >= blocks_.size(); }
    std::int64_t row() const { return reader_.row(note_); }

    void next()
    {
        if (++note_ == reader_.notes())
            open(block_ + 1);
    }

    // To the first note at or after `target`, past whole blocks by their keys.
    void seek(std::int64_t target)
    {
        if (atEnd() || row() >= target)
            return;
        size_t b = block_;
        while (b + 1 < blocks_.size() && blocks_[b + 1].firstRow <= target)
            ++b;
        if (b != block_)
            open(b);
        while (note_ < reader_.notes() && reader_.row(note_) < target)
            ++note_;
        if (note_ == reader_.notes())
            open(block_ + 1);
    }

    std::span<const std::uint32_t> positions() { return reader_.positions(note_); }

private:
    void open(size_t b)
    {
        block_ = b;
        note_ = 0;
        if (b < blocks_.size())
            reader_.open(blocks_[b].firstRow, blocks_[b].data, true);
    }

    const std::vector<PostingIndex::Block>& blocks_;
    size_t block_ = 0;
    int note_ = 0;
    BlockReader reader_;
};

// Keeps of `starts` those p where `next` has p + offset.
void keepFollowed(std::vector<std::uint32_t>& starts, std::span<const std::uint32_t> next, std::uint32_t offset)
{
    size_t kept = 0, j = 0;
    for (std::uint32_t p : starts) {
        while (j < next.size() && next[j] < p + offset)
            ++j;
        if (j < next.size() && next[j] == p + offset)
            starts[kept++] = p;
    }
    starts.resize(kept);
}

} // namespace

const char* PostingIndex::codingName(Coding c)
{
    switch (c) {
    case Rice:
        return "Rice, k per block and part (stored)";
    case EliasGamma:
        return "Elias gamma";
    case Nibbles:
        return "variable nibbles (3 bits + 1)";
    case Bytes:
        return "variable bytes (7 bits + 1)";
    case BlockWidth:
        return "bit width per block and part";
    case kCodings:
        break;
    }
    return "";
}

PostingIndex::PostingIndex(sqlite3* db, QString table, QString column, QString indexTable)
    : db_(db), table_(std::move(table)), column_(std::move(column)), index_(std::move(indexTable))
{
}

PostingIndex::BuildFigures PostingIndex::build()
{
    BuildFigures figures;
    // One flat list per token, note after note: its row, then (pairs) its
    // count and positions; no allocation per note.
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> lists;
    {
        Sql texts(db_,
                  QStringLiteral("SELECT rowid, %1 FROM %2 WHERE %1 IS NOT NULL ORDER BY rowid").arg(column_, table_));
        TextTokens t;
        while (texts.step()) {
            const std::int64_t row = sqlite3_column_int64(*texts, 0);
            if (row < 0 || row > std::int64_t(UINT32_MAX))
                throw std::runtime_error("row number beyond what the build keeps");
            t.read(sqlite3_column_text(*texts, 1), size_t(sqlite3_column_bytes(*texts, 1)));
            ++figures.notes;
            for (size_t i = 0; i < t.pairs.size();) {
                size_t end = i;
                while (end < t.pairs.size() && t.pairs[end].first == t.pairs[i].first)
                    ++end;
                auto& list = lists[t.pairs[i].first];
                list.push_back(std::uint32_t(row));
                list.push_back(std::uint32_t(end - i));
                for (; i < end; ++i)
                    list.push_back(t.pairs[i].second);
            }
            for (std::uint64_t c : t.characters)
                lists[c].push_back(std::uint32_t(row));
        }
    }
    std::vector<std::uint64_t> tokens;
    tokens.reserve(lists.size());
    for (const auto& entry : lists)
        tokens.push_back(entry.first);
    std::sort(tokens.begin(), tokens.end());
    figures.tokens = std::int64_t(tokens.size());

    exec(db_, QStringLiteral("BEGIN"));
    try {
        // Filled in key order, the engine still splits the pages of a
        // WITHOUT ROWID table in halves (a tenth of the room unused); a
        // whole table copied into an empty one has its pages filled.
        const QString filling = index_ + QStringLiteral("_filling");
        for (const QString& t : {index_, filling}) {
            exec(db_, QStringLiteral("DROP TABLE IF EXISTS %1").arg(t));
            exec(db_,
                 QStringLiteral("CREATE TABLE %1(token INTEGER NOT NULL, first_row INTEGER NOT NULL, data BLOB NOT "
                                "NULL, PRIMARY KEY(token, first_row)) WITHOUT ROWID")
                     .arg(t));
        }
        Sql insert(db_, QStringLiteral("INSERT INTO %1(token, first_row, data) VALUES(?, ?, ?)").arg(filling));
        Tally tally;
        Postings block;
        auto write = [&](std::uint64_t token) {
            const std::string data = encodeBlock(block, isPair(token), &tally);
            figures.dataBytes += double(data.size());
            figures.entries += std::int64_t(block.rows.size());
            sqlite3_bind_int64(*insert, 1, std::int64_t(token));
            sqlite3_bind_int64(*insert, 2, block.rows.front());
            sqlite3_bind_blob(*insert, 3, data.data(), int(data.size()), SQLITE_STATIC);
            insert.step();
            ++figures.blocks;
            block.clear();
        };
        for (std::uint64_t token : tokens) {
            std::vector<std::uint32_t>& list = lists[token];
            const bool pair = isPair(token);
            for (size_t i = 0; i < list.size();) {
                block.rows.push_back(list[i++]);
                if (pair) {
                    const std::uint32_t count = list[i++];
                    block.counts.push_back(count);
                    block.positions.insert(block.positions.end(), list.begin() + std::ptrdiff_t(i),
                                           list.begin() + std::ptrdiff_t(i + count));
                    figures.positions += count;
                    i += count;
                }
                if (block.rows.size() == size_t(kBlockNotes))
                    write(token);
            }
            if (!block.rows.empty())
                write(token);
            std::vector<std::uint32_t>().swap(list);
        }
        exec(db_, QStringLiteral("INSERT INTO %1 SELECT * FROM %2").arg(index_, filling));
        exec(db_, QStringLiteral("DROP TABLE IF EXISTS %1").arg(changes()));
        exec(db_, QStringLiteral("CREATE TABLE %1(row INTEGER PRIMARY KEY, held TEXT, text TEXT, folded BLOB)")
                      .arg(changes()));
        exec(db_, QStringLiteral("DROP TABLE %1").arg(filling));
        exec(db_, QStringLiteral("COMMIT"));
        figures.rowBytes = tally.rows;
        figures.countBytes = tally.counts;
        figures.positionBytes = tally.positions;
    } catch (...) {
        exec(db_, QStringLiteral("ROLLBACK"));
        throw;
    }
    return figures;
}

std::vector<PostingIndex::Block> PostingIndex::blocks(std::uint64_t token) const
{
    Sql st(db_, QStringLiteral("SELECT first_row, data FROM %1 WHERE token = ? ORDER BY first_row").arg(index_));
    sqlite3_bind_int64(*st, 1, std::int64_t(token));
    std::vector<Block> found;
    while (st.step())
        found.push_back({sqlite3_column_int64(*st, 0), blobOf(*st, 1)});
    return found;
}

QString PostingIndex::changes() const
{
    return index_ + QStringLiteral("_changes");
}

std::vector<std::int64_t> PostingIndex::find(const std::u32string& word) const
{
    if (word.empty())
        return {};
    std::vector<std::int64_t> found = findInBlocks(word);
    // The kept changes overrule the blocks for their rows: a row found
    // there is dropped, and found again when its text now holds the word.
    Sql kept(db_, QStringLiteral("SELECT row, folded FROM %1 ORDER BY row").arg(changes()));
    std::vector<std::int64_t> changed, holding;
    std::u32string folded;
    while (kept.step()) {
        changed.push_back(sqlite3_column_int64(*kept, 0));
        folded.resize(size_t(sqlite3_column_bytes(*kept, 1)) / sizeof(char32_t));
        if (!folded.empty())
            std::memcpy(folded.data(), sqlite3_column_blob(*kept, 1), folded.size() * sizeof(char32_t));
        if (folded.find(word) != std::u32string::npos)
            holding.push_back(changed.back());
    }
    if (changed.empty())
        return found;
    std::vector<std::int64_t> unchanged;
    std::set_difference(found.begin(), found.end(), changed.begin(), changed.end(), std::back_inserter(unchanged));
    found.clear();
    std::merge(unchanged.begin(), unchanged.end(), holding.begin(), holding.end(), std::back_inserter(found));
    return found;
}

void PostingIndex::keepChange(std::int64_t row, const std::string& before, const std::string& after)
{
    // The first change of a row since the blocks were written tells what
    // they hold; later ones only the text as it now is.
    std::vector<char32_t> folded;
    const size_t length = store::foldUtf8(reinterpret_cast<const unsigned char*>(after.data()), after.size(), folded);
    Sql keep(db_, QStringLiteral("INSERT INTO %1(row, held, text, folded) VALUES(?, ?, ?, ?) "
                                 "ON CONFLICT(row) DO UPDATE SET text = excluded.text, folded = excluded.folded")
                      .arg(changes()));
    sqlite3_bind_int64(*keep, 1, row);
    sqlite3_bind_text(*keep, 2, before.data(), int(before.size()), SQLITE_STATIC);
    sqlite3_bind_text(*keep, 3, after.data(), int(after.size()), SQLITE_STATIC);
    sqlite3_bind_blob(*keep, 4, folded.data(), int(length * sizeof(char32_t)), SQLITE_STATIC);
    keep.step();
}

int PostingIndex::writeKeptChanges()
{
    Sql kept(db_, QStringLiteral("SELECT row, held, text FROM %1 ORDER BY row").arg(changes()));
    auto text = [&](int column) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(*kept, column));
        return std::string(t ? t : "", size_t(sqlite3_column_bytes(*kept, column)));
    };
    int notes = 0;
    while (kept.step()) {
        replace(sqlite3_column_int64(*kept, 0), text(1), text(2));
        ++notes;
    }
    exec(db_, QStringLiteral("DELETE FROM %1").arg(changes()));
    return notes;
}

std::vector<std::int64_t> PostingIndex::findInBlocks(const std::u32string& word) const
{
    std::vector<std::int64_t> found;
    if (word.empty())
        return found;
    if (word.size() <= 2) {
        const std::uint64_t token = word.size() == 1 ? characterToken(word[0]) : pairToken(word[0], word[1]);
        for (const Block& b : blocks(token)) {
            const BlockReader r(b.firstRow, b.data, false);
            for (int i = 0; i < r.notes(); ++i)
                found.push_back(r.row(i));
        }
        return found;
    }
    // The pairs at offsets 0, 2, 4, ... and the last one fix every
    // character of the word: where they all hold, so do the pairs between
    // (ち合 lies inside 打ち at p and 合わ at p + 2). Half the pairs, half
    // the positions to read.
    std::vector<size_t> offsets;
    for (size_t i = 0; i + 1 < word.size(); i += 2)
        offsets.push_back(i);
    if (offsets.back() != word.size() - 2)
        offsets.push_back(word.size() - 2);
    // Each distinct pair read once; the one with the fewest blocks leads.
    std::unordered_map<std::uint64_t, std::vector<Block>> lists;
    for (size_t i : offsets) {
        const std::uint64_t token = pairToken(word[i], word[i + 1]);
        if (!lists.count(token))
            lists.emplace(token, blocks(token));
    }
    std::sort(offsets.begin(), offsets.end(), [&](size_t a, size_t b) {
        return lists[pairToken(word[a], word[a + 1])].size() < lists[pairToken(word[b], word[b + 1])].size();
    });
    std::vector<Cursor> cursors;
    cursors.reserve(offsets.size());
    for (size_t i : offsets)
        cursors.emplace_back(lists[pairToken(word[i], word[i + 1])]);

    std::vector<std::uint32_t> starts;
    while (!cursors[0].atEnd()) {
        // Every pair's cursor on one row, each moving only forward.
        std::int64_t target = cursors[0].row();
        bool aligned = false;
        while (!aligned) {
            aligned = true;
            for (Cursor& c : cursors) {
                c.seek(target);
                if (c.atEnd())
                    return found;
                if (c.row() > target) {
                    target = c.row();
                    aligned = false;
                }
            }
        }
        // Where the word would start, by the leading pair; kept where every
        // other pair lies at its offset from there.
        starts.clear();
        for (std::uint32_t p : cursors[0].positions())
            if (p >= offsets[0])
                starts.push_back(p - std::uint32_t(offsets[0]));
        for (size_t j = 1; j < cursors.size() && !starts.empty(); ++j)
            keepFollowed(starts, cursors[j].positions(), std::uint32_t(offsets[j]));
        if (!starts.empty())
            found.push_back(target);
        cursors[0].next();
    }
    return found;
}

void PostingIndex::replace(std::int64_t row, const std::string& before, const std::string& after)
{
    TextTokens old, now;
    old.read(before);
    now.read(after);
    // The row's entry per token as it is to be: positions for a pair, an
    // empty list for a character, none where the token no longer occurs.
    // A token whose entry is unchanged (a character in both texts, a pair
    // that kept its places) is not touched.
    std::unordered_map<std::uint64_t, std::optional<std::vector<std::uint32_t>>> changes;
    for (const auto& [token, at] : old.pairs)
        changes[token] = std::nullopt;
    for (std::uint64_t c : old.characters)
        changes[c] = std::nullopt;
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> nowPairs;
    for (const auto& [token, at] : now.pairs)
        nowPairs[token].push_back(at);
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> oldPairs;
    for (const auto& [token, at] : old.pairs)
        oldPairs[token].push_back(at);
    for (auto& [token, at] : nowPairs) {
        if (oldPairs.count(token) && oldPairs[token] == at)
            changes.erase(token);
        else
            changes[token] = at;
    }
    for (std::uint64_t c : now.characters) {
        if (std::binary_search(old.characters.begin(), old.characters.end(), c))
            changes.erase(c);
        else
            changes[c] = std::vector<std::uint32_t>{};
    }

    Sql holding(db_,
                QStringLiteral("SELECT first_row, data FROM %1 WHERE token = ?1 AND first_row <= ?2 ORDER BY first_row "
                               "DESC LIMIT 1")
                    .arg(index_));
    Sql firstBlock(
        db_, QStringLiteral("SELECT first_row, data FROM %1 WHERE token = ? ORDER BY first_row LIMIT 1").arg(index_));
    Sql remove(db_, QStringLiteral("DELETE FROM %1 WHERE token = ? AND first_row = ?").arg(index_));
    Sql insert(db_, QStringLiteral("INSERT INTO %1(token, first_row, data) VALUES(?, ?, ?)").arg(index_));

    for (const auto& [token, entry] : changes) {
        const bool pair = isPair(token);
        // The block the row lies in, else (a row before all others) the
        // token's first block.
        std::optional<Block> found;
        sqlite3_bind_int64(*holding, 1, std::int64_t(token));
        sqlite3_bind_int64(*holding, 2, row);
        if (holding.step()) {
            found = Block{sqlite3_column_int64(*holding, 0), blobOf(*holding, 1)};
            holding.reset();
        } else {
            sqlite3_bind_int64(*firstBlock, 1, std::int64_t(token));
            if (firstBlock.step()) {
                found = Block{sqlite3_column_int64(*firstBlock, 0), blobOf(*firstBlock, 1)};
                firstBlock.reset();
            }
        }
        Postings was;
        if (found) {
            was = decodeBlock(found->firstRow, found->data, pair);
            sqlite3_bind_int64(*remove, 1, std::int64_t(token));
            sqlite3_bind_int64(*remove, 2, found->firstRow);
            remove.step();
        }
        Postings becomes;
        auto add = [&](std::int64_t r, const std::uint32_t* at, std::uint32_t count) {
            becomes.rows.push_back(r);
            if (pair) {
                becomes.counts.push_back(count);
                becomes.positions.insert(becomes.positions.end(), at, at + count);
            }
        };
        bool placed = !entry;
        for (size_t i = 0, at = 0; i < was.rows.size(); ++i) {
            const std::uint32_t count = pair ? was.counts[i] : 0;
            if (!placed && was.rows[i] > row) {
                add(row, entry->data(), std::uint32_t(entry->size()));
                placed = true;
            }
            if (was.rows[i] != row)
                add(was.rows[i], was.positions.data() + at, count);
            at += count;
        }
        if (!placed)
            add(row, entry->data(), std::uint32_t(entry->size()));

        // A block grown past its size is cut in two halves.
        const size_t n = becomes.rows.size();
        const size_t pieces = n > size_t(kBlockNotes) ? 2 : n ? 1 : 0;
        for (size_t piece = 0, from = 0, at = 0; piece < pieces; ++piece) {
            const size_t to = piece + 1 == pieces ? n : n / 2;
            Postings part;
            part.rows.assign(becomes.rows.begin() + std::ptrdiff_t(from), becomes.rows.begin() + std::ptrdiff_t(to));
            if (pair) {
                part.counts.assign(becomes.counts.begin() + std::ptrdiff_t(from),
                                   becomes.counts.begin() + std::ptrdiff_t(to));
                size_t positions = 0;
                for (std::uint32_t c : part.counts)
                    positions += c;
                part.positions.assign(becomes.positions.begin() + std::ptrdiff_t(at),
                                      becomes.positions.begin() + std::ptrdiff_t(at + positions));
                at += positions;
            }
            const std::string data = encodeBlock(part, pair);
            sqlite3_bind_int64(*insert, 1, std::int64_t(token));
            sqlite3_bind_int64(*insert, 2, part.rows.front());
            sqlite3_bind_blob(*insert, 3, data.data(), int(data.size()), SQLITE_STATIC);
            insert.step();
            from = to;
        }
    }
}

} // namespace zumilo::bench
