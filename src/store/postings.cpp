#include "postings.h"

#include "jetlike.h"

#include <QtEndian>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <unordered_map>

namespace zumilo::store::postings {

namespace {

// A pair is its two characters (21 bits each); a character has bit 42 set,
// so that the two kinds never meet and a pair's blocks sort by its first
// character.
constexpr Token kCharacterBit = Token(1) << 42;

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
// rather than in a read beyond its bytes; overrun() tells that it did.
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

    // More bits were taken than the data holds.
    bool overrun() const { return past_ > available_; }

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
            if (p_ < end_)
                window_ |= std::uint64_t(*p_++) << (56 - available_);
            else
                past_ += 8;
            available_ += 8;
        }
    }

    const unsigned char* p_ = nullptr;
    const unsigned char* end_ = nullptr;
    std::uint64_t window_ = 0;
    int available_ = 0;
    std::int64_t past_ = 0; // zero bits fed after the end
};

[[noreturn]] void throwDamaged()
{
    throw Failure{SQLITE_CORRUPT_VTAB, "a block of the search index is damaged"};
}

// --- blocks -----------------------------------------------------------------------

constexpr int kNotesBits = std::bit_width(unsigned(kBlockNotes - 1));

// One block read: its rows (and counts) when opened, its positions all
// at once when first asked for (a search asks for those of nearly every
// row of a block, or of none).
class BlockReader {
public:
    BlockReader() = default;

    // The bits are read through a local copy, which the compiler keeps
    // in registers: a third of the time of reading a block.
    void open(std::int64_t firstRow, const std::string& data, bool withCounts)
    {
        BitReader bits(data);
        decoded_ = false;
        damaged_ = false;
        notes_ = int(bits.take(kNotesBits)) + 1;
        rows_[0] = firstRow;
        bool bad = false;
        if (notes_ > 1) {
            const int k = int(bits.take(5));
            std::uint64_t row = std::uint64_t(firstRow);
            for (int i = 1; i < notes_; ++i) {
                row += bits.rice(k) + 1;
                rows_[size_t(i)] = std::int64_t(row);
                // Past the largest row, the gaps wrap round to smaller ones.
                bad |= rows_[size_t(i)] <= rows_[size_t(i - 1)];
            }
        }
        if (withCounts) {
            counts_.fill(1);
            const std::uint64_t listedBits = bits.gamma();
            bad |= listedBits > std::uint64_t(notes_);
            const int listed = int(std::min(listedBits, std::uint64_t(notes_)));
            if (listed) {
                int at[kBlockNotes];
                int k = int(bits.take(5));
                std::uint64_t next = 0;
                for (int j = 0; j < listed; ++j) {
                    next += std::min(bits.rice(k), std::uint64_t(notes_));
                    bad |= next >= std::uint64_t(notes_);
                    at[j] = int(std::min(next, std::uint64_t(notes_ - 1)));
                    ++next;
                }
                k = int(bits.take(5));
                for (int j = 0; j < listed; ++j)
                    counts_[size_t(at[j])] = std::uint32_t(std::min<std::uint64_t>(bits.rice(k), UINT32_MAX - 2)) + 2;
            }
            kFirst_ = int(bits.take(5));
            kGap_ = listed ? int(bits.take(5)) : 0;
            // Each position takes a bit at least: more than the block's
            // bits can hold is damage, not a reason to take the memory.
            std::uint64_t total = 0;
            for (int n = 0; n < notes_; ++n)
                total += counts_[size_t(n)];
            bad |= total > 8 * std::uint64_t(data.size());
        }
        damaged_ = bad || bits.overrun();
        if (damaged_)
            counts_.fill(0);
        bits_ = bits;
    }

    int notes() const { return notes_; }
    std::int64_t row(int i) const { return rows_[size_t(i)]; }
    std::uint32_t count(int i) const { return counts_[size_t(i)]; }

    // Throws when the block is damaged; call again after positions().
    void requireSound() const
    {
        if (damaged_)
            throwDamaged();
    }

    std::span<const std::uint32_t> positions(int i)
    {
        if (!decoded_) {
            BitReader bits = bits_;
            size_t total = 0;
            for (int n = 0; n < notes_; ++n)
                total += counts_[size_t(n)];
            positions_.resize(total);
            std::uint32_t* out = positions_.data();
            // Positions ascend within 32 bits: any wider value is damage.
            std::uint64_t wide = 0;
            for (int n = 0; n < notes_; ++n) {
                begin_[size_t(n)] = std::uint32_t(out - positions_.data());
                if (!counts_[size_t(n)])
                    continue;
                std::uint64_t p = bits.rice(kFirst_);
                wide |= p;
                *out++ = std::uint32_t(p);
                for (std::uint32_t j = 1; j < counts_[size_t(n)]; ++j) {
                    const std::uint64_t gap = bits.rice(kGap_);
                    wide |= gap;
                    p += gap + 1;
                    *out++ = std::uint32_t(p);
                }
                wide |= p;
            }
            damaged_ |= wide > UINT32_MAX || bits.overrun();
            bits_ = bits;
            decoded_ = true;
        }
        return {positions_.data() + begin_[size_t(i)], counts_[size_t(i)]};
    }

private:
    BitReader bits_;
    int notes_ = 0;
    std::array<std::int64_t, kBlockNotes> rows_{};
    std::array<std::uint32_t, kBlockNotes> counts_{};
    std::array<std::uint32_t, kBlockNotes> begin_{};
    std::vector<std::uint32_t> positions_;
    int kFirst_ = 0;
    int kGap_ = 0;
    bool decoded_ = false;
    bool damaged_ = false;
};

// The rows of one token, walked in row order across its blocks.
class Cursor {
public:
    Cursor(const std::vector<Block>& blocks, bool withPositions) : blocks_(blocks), positions_(withPositions)
    {
        open(0);
    }

    bool atEnd() const { return block_ >= blocks_.size(); }
    std::int64_t row() const { return reader_.row(note_); }

    void next()
    {
        if (++note_ == reader_.notes())
            open(block_ + 1);
    }

    // To the first row at or after `target`, past whole blocks by their keys.
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

    std::span<const std::uint32_t> positions()
    {
        const auto at = reader_.positions(note_);
        reader_.requireSound();
        return at;
    }

private:
    void open(size_t b)
    {
        block_ = b;
        note_ = 0;
        if (b < blocks_.size()) {
            reader_.open(blocks_[b].firstRow, blocks_[b].data, positions_);
            reader_.requireSound();
            // Rows that reach into the next block would come out of order.
            if (b + 1 < blocks_.size() && reader_.row(reader_.notes() - 1) >= blocks_[b + 1].firstRow)
                throwDamaged();
        }
    }

    const std::vector<Block>& blocks_;
    bool positions_;
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

// The rows of a token's entries, as a search reads them.
void append(Postings& p, std::int64_t row, std::span<const std::uint32_t> at, bool withPositions)
{
    p.rows.push_back(row);
    if (withPositions) {
        p.counts.push_back(std::uint32_t(at.size()));
        p.positions.insert(p.positions.end(), at.begin(), at.end());
    }
}

} // namespace

Token pairToken(char32_t a, char32_t b)
{
    return Token(a & 0x1FFFFF) << 21 | (b & 0x1FFFFF);
}

Token characterToken(char32_t c)
{
    return kCharacterBit | (c & 0x1FFFFF);
}

bool isPair(Token t)
{
    return !(t & kCharacterBit);
}

void TextTokens::read(const unsigned char* text, std::size_t bytes)
{
    const size_t n = foldUtf8(text, bytes, chars);
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

std::string encodeBlock(const Postings& p, bool withPositions, PartBits* bits)
{
    BitWriter w;
    const size_t n = p.rows.size();
    w.put(n - 1, kNotesBits);
    std::vector<std::uint64_t> values;
    // Writes `values` with their k; returns the bits they took.
    auto part = [&] {
        const int k = chooseRice(values);
        w.put(std::uint64_t(k), 5);
        std::uint64_t used = 5;
        for (std::uint64_t v : values) {
            w.rice(v, k);
            used += riceBits(v, k);
        }
        return double(used);
    };
    if (n > 1) {
        for (size_t i = 1; i < n; ++i)
            values.push_back(std::uint64_t(p.rows[i]) - std::uint64_t(p.rows[i - 1]) - 1);
        const double used = part();
        if (bits)
            bits->rows += used;
    }
    if (!withPositions)
        return w.finish();
    // Nearly every row holds a pair once: only the rows holding it more
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
    double countBits = double(2 * bitWidth(listed + 1) - 1);
    if (listed) {
        countBits += part();
        values = std::move(extra);
        countBits += part();
    }
    if (bits)
        bits->counts += countBits;

    std::vector<std::uint64_t> firsts, gaps;
    for (size_t i = 0, at = 0; i < n; at += p.counts[i++]) {
        firsts.push_back(p.positions[at]);
        for (size_t j = 1; j < p.counts[i]; ++j)
            gaps.push_back(p.positions[at + j] - p.positions[at + j - 1] - 1);
    }
    const int kFirst = chooseRice(firsts);
    const int kGap = chooseRice(gaps);
    w.put(std::uint64_t(kFirst), 5);
    std::uint64_t used = 5;
    if (!gaps.empty()) {
        w.put(std::uint64_t(kGap), 5);
        used += 5;
    }
    for (size_t i = 0, at = 0; i < n; at += p.counts[i++]) {
        w.rice(p.positions[at], kFirst);
        used += riceBits(p.positions[at], kFirst);
        for (size_t j = 1; j < p.counts[i]; ++j) {
            const std::uint64_t gap = p.positions[at + j] - p.positions[at + j - 1] - 1;
            w.rice(gap, kGap);
            used += riceBits(gap, kGap);
        }
    }
    if (bits)
        bits->positions += double(used);
    return w.finish();
}

Postings decodeBlock(std::int64_t firstRow, const std::string& data, bool withPositions)
{
    BlockReader r;
    r.open(firstRow, data, withPositions);
    Postings p;
    for (int i = 0; i < r.notes(); ++i)
        append(p, r.row(i), withPositions ? r.positions(i) : std::span<const std::uint32_t>(), withPositions);
    r.requireSound();
    return p;
}

bool blockSound(std::int64_t firstRow, const std::string& data, bool withPositions)
{
    Postings p;
    try {
        p = decodeBlock(firstRow, data, withPositions);
    } catch (const Failure&) {
        return false;
    }
    // The coding has one form for given rows: any other bits are damage.
    return encodeBlock(p, withPositions) == data;
}

namespace {

// splitmix64's finaliser, over the token, the row and its positions.
std::uint64_t entrySum(Token t, std::int64_t row, std::span<const std::uint32_t> positions)
{
    auto mix = [](std::uint64_t x) {
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
        return x ^ (x >> 31);
    };
    std::uint64_t h = mix(t ^ mix(std::uint64_t(row)));
    for (std::uint32_t p : positions)
        h = mix(h ^ p);
    return h;
}

} // namespace

std::uint64_t blockSum(Token t, std::int64_t firstRow, const std::string& data, bool withPositions)
{
    BlockReader r;
    r.open(firstRow, data, withPositions);
    std::uint64_t sum = 0;
    for (int i = 0; i < r.notes(); ++i)
        sum += entrySum(t, r.row(i), withPositions ? r.positions(i) : std::span<const std::uint32_t>());
    return sum;
}

int rowsIn(const std::string& data)
{
    return data.empty() ? 0 : int(std::uint8_t(data[0]) >> (8 - kNotesBits)) + 1;
}

std::vector<std::pair<Token, Entry>> changedEntries(std::int64_t row, const TextTokens* held, const TextTokens* now,
                                                    bool withPositions)
{
    // Both texts' tokens are sorted, every pair's below every character's:
    // one pass over both in step gives the changes in token order.
    static const TextTokens none;
    const TextTokens& h = held ? *held : none;
    const TextTokens& n = now ? *now : none;
    std::vector<std::pair<Token, Entry>> out;
    out.reserve(n.pairs.size() + n.characters.size());
    std::vector<std::uint32_t> heldAt;
    for (size_t i = 0, j = 0; i < h.pairs.size() || j < n.pairs.size();) {
        const Token t = j == n.pairs.size() || (i < h.pairs.size() && h.pairs[i].first < n.pairs[j].first)
                            ? h.pairs[i].first
                            : n.pairs[j].first;
        bool was = false;
        heldAt.clear();
        for (; i < h.pairs.size() && h.pairs[i].first == t; ++i) {
            was = true;
            if (withPositions)
                heldAt.push_back(h.pairs[i].second);
        }
        Entry e{row, false, {}};
        for (; j < n.pairs.size() && n.pairs[j].first == t; ++j) {
            e.present = true;
            if (withPositions)
                e.positions.push_back(n.pairs[j].second);
        }
        if (was != e.present || heldAt != e.positions)
            out.emplace_back(t, std::move(e));
    }
    for (size_t i = 0, j = 0; i < h.characters.size() || j < n.characters.size();) {
        if (j == n.characters.size() || (i < h.characters.size() && h.characters[i] < n.characters[j]))
            out.push_back({h.characters[i++], Entry{row, false, {}}});
        else if (i == h.characters.size() || n.characters[j] < h.characters[i])
            out.push_back({n.characters[j++], Entry{row, true, {}}});
        else
            ++i, ++j;
    }
    return out;
}

std::vector<Block> rewrite(std::span<const Block> blocks, std::span<const Entry> entries, bool withPositions,
                           SumChange* sum, bool appended)
{
    Postings all;
    auto e = entries.begin();
    auto addEntry = [&] {
        if (e->present) {
            append(all, e->row, e->positions, withPositions);
            if (sum)
                sum->change += entrySum(sum->token, e->row,
                                        withPositions ? std::span(e->positions) : std::span<const std::uint32_t>());
        }
        ++e;
    };
    // A damaged block is not written again as if it were whole.
    BlockReader r;
    for (const Block& b : blocks) {
        if (r.notes() && b.firstRow <= r.row(r.notes() - 1))
            throwDamaged();
        r.open(b.firstRow, b.data, withPositions);
        if (withPositions && r.notes())
            r.positions(0);
        r.requireSound();
        for (int i = 0; i < r.notes(); ++i) {
            while (e != entries.end() && e->row < r.row(i))
                addEntry();
            if (e != entries.end() && e->row == r.row(i)) {
                // The entry replaces the row's: the sum loses the old one.
                if (sum)
                    sum->change -= entrySum(sum->token, r.row(i),
                                            withPositions ? r.positions(i) : std::span<const std::uint32_t>());
                addEntry();
            } else
                append(all, r.row(i), withPositions ? r.positions(i) : std::span<const std::uint32_t>(), withPositions);
        }
    }
    while (e != entries.end())
        addEntry();

    // A block grown by a row splits in halves, leaving room for the next;
    // appended rows fill their blocks in turn. Blocks whose bytes would not
    // fit in their pages (the rest of a page a block overflows into stays
    // empty) are cut into as many more as their bytes need, and one still
    // too large (a row far larger than the others) is halved until it fits
    // or holds one row.
    const size_t n = all.rows.size();
    std::vector<size_t> at(n + 1, 0); // where each row's positions begin
    if (withPositions)
        for (size_t i = 0; i < n; ++i)
            at[i + 1] = at[i] + all.counts[i];
    Postings part;
    const auto encode = [&](size_t from, size_t to) {
        part.rows.assign(all.rows.begin() + std::ptrdiff_t(from), all.rows.begin() + std::ptrdiff_t(to));
        if (withPositions) {
            part.counts.assign(all.counts.begin() + std::ptrdiff_t(from), all.counts.begin() + std::ptrdiff_t(to));
            part.positions.assign(all.positions.begin() + std::ptrdiff_t(at[from]),
                                  all.positions.begin() + std::ptrdiff_t(at[to]));
        }
        return encodeBlock(part, withPositions);
    };
    struct Piece {
        size_t from, to;
        std::string data;
    };
    // `count` blocks, or in turn blocks of `rows`.
    const auto cut = [&](size_t count, size_t rows) {
        std::vector<Piece> pieces;
        for (size_t piece = 0, from = 0; from < n; ++piece) {
            const size_t to = appended ? std::min(n, from + rows) : n * (piece + 1) / count;
            pieces.push_back({from, to, encode(from, to)});
            from = to;
        }
        return pieces;
    };
    const size_t count = (n + kBlockNotes - 1) / kBlockNotes;
    std::vector<Piece> pieces = cut(count, kBlockNotes);
    size_t bytes = 0;
    bool over = false;
    for (const Piece& p : pieces) {
        bytes += p.data.size();
        over = over || (p.data.size() > kBlockBytes && p.to - p.from > 1);
    }
    if (over) {
        const size_t wanted = std::min(n, bytes * 10 / (kBlockBytes * 9) + 1);
        if (wanted > count)
            pieces = cut(wanted, std::max<size_t>(1, n / wanted));
    }
    std::vector<Block> out;
    const auto place = [&](auto& self, size_t from, size_t to, std::string data) -> void {
        if (data.size() > kBlockBytes && to - from > 1) {
            const size_t middle = from + (to - from) / 2;
            self(self, from, middle, encode(from, middle));
            self(self, middle, to, encode(middle, to));
            return;
        }
        out.push_back({all.rows[from], std::move(data)});
    };
    for (Piece& p : pieces)
        place(place, p.from, p.to, std::move(p.data));
    return out;
}

std::vector<std::int64_t> find(const std::u32string& word, const BlockSource& source, bool withPositions,
                               std::int64_t low, std::int64_t high)
{
    std::vector<std::int64_t> found;
    if (word.empty() || low > high)
        return found;
    if (word.size() <= 2) {
        const Token token = word.size() == 1 ? characterToken(word[0]) : pairToken(word[0], word[1]);
        BlockReader r;
        for (const Block& b : source(token, low, high)) {
            if (r.notes() && b.firstRow <= r.row(r.notes() - 1))
                throwDamaged();
            r.open(b.firstRow, b.data, false);
            r.requireSound();
            for (int i = 0; i < r.notes(); ++i)
                if (r.row(i) >= low && r.row(i) <= high)
                    found.push_back(r.row(i));
        }
        return found;
    }
    // The pairs at offsets 0, 2, 4, ... and the last one fix every
    // character of the word: where they all hold, so do the pairs between
    // (ち合 lies inside 打ち at p and 合わ at p + 2). Half the pairs, half
    // the positions to read. Without positions every pair narrows.
    std::vector<size_t> offsets;
    for (size_t i = 0; i + 1 < word.size(); i += withPositions ? 2 : 1)
        offsets.push_back(i);
    if (offsets.back() != word.size() - 2)
        offsets.push_back(word.size() - 2);
    auto tokenAt = [&](size_t i) { return pairToken(word[i], word[i + 1]); };
    // Each distinct pair read once; the one with the fewest blocks leads.
    std::unordered_map<Token, std::vector<Block>> lists;
    for (size_t i : offsets)
        if (!lists.count(tokenAt(i)))
            lists.emplace(tokenAt(i), source(tokenAt(i), low, high));
    std::stable_sort(offsets.begin(), offsets.end(),
                     [&](size_t a, size_t b) { return lists[tokenAt(a)].size() < lists[tokenAt(b)].size(); });
    std::vector<Cursor> cursors;
    cursors.reserve(offsets.size());
    for (size_t i : offsets)
        cursors.emplace_back(lists[tokenAt(i)], withPositions);

    std::vector<std::uint32_t> starts;
    cursors[0].seek(low);
    while (!cursors[0].atEnd() && cursors[0].row() <= high) {
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
        if (target > high)
            break;
        bool holds = true;
        if (withPositions) {
            // Where the word would start, by the leading pair; kept where
            // every other pair lies at its offset from there.
            starts.clear();
            for (std::uint32_t p : cursors[0].positions())
                if (p >= offsets[0])
                    starts.push_back(p - std::uint32_t(offsets[0]));
            for (size_t j = 1; j < cursors.size() && !starts.empty(); ++j)
                keepFollowed(starts, cursors[j].positions(), std::uint32_t(offsets[j]));
            holds = !starts.empty();
        }
        if (holds)
            found.push_back(target);
        cursors[0].next();
    }
    return found;
}

} // namespace zumilo::store::postings
