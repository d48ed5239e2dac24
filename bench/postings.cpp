#include "postings.h"

#include "store/jetlike.h"
#include "store/postings.h"

#include <QtEndian>

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace zumilo::bench {

namespace {

using namespace store::postings;

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

int bitWidth(std::uint64_t v)
{
    return std::max(1, int(std::bit_width(v)));
}

// What the parts of the blocks take, in bytes.
struct Tally {
    double rows = 0;
    double counts = 0;
    std::array<double, PostingIndex::kCodings> positions{};
};

// Adds what the positions of a block, first positions and further gaps,
// would take by each coding beside the Rice codes it has.
void tallyPositions(const Postings& p, const PartBits& bits, Tally& tally)
{
    std::vector<std::uint64_t> firsts, gaps;
    for (size_t i = 0, at = 0; i < p.rows.size(); at += p.counts[i++]) {
        firsts.push_back(p.positions[at]);
        for (size_t j = 1; j < p.counts[i]; ++j)
            gaps.push_back(p.positions[at + j] - p.positions[at + j - 1] - 1);
    }
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
    tally.rows += bits.rows / 8;
    tally.counts += bits.counts / 8;
    auto& t = tally.positions;
    t[PostingIndex::Rice] += bits.positions / 8;
    t[PostingIndex::EliasGamma] += double(gamma) / 8;
    t[PostingIndex::Nibbles] += double(nibbles) / 8;
    t[PostingIndex::Bytes] += double(bytes) / 8;
    t[PostingIndex::BlockWidth] += double(widths) / 8;
}

std::string blobOf(sqlite3_stmt* st, int column)
{
    const auto* data = static_cast<const char*>(sqlite3_column_blob(st, column));
    return std::string(data ? data : "", size_t(sqlite3_column_bytes(st, column)));
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
            PartBits bits;
            const std::string data = encodeBlock(block, isPair(token), &bits);
            if (isPair(token))
                tallyPositions(block, bits, tally);
            else
                tally.rows += bits.rows / 8;
            figures.dataBytes += double(data.size());
            figures.entries += std::int64_t(block.rows.size());
            sqlite3_bind_int64(*insert, 1, std::int64_t(token));
            sqlite3_bind_int64(*insert, 2, block.rows.front());
            sqlite3_bind_blob(*insert, 3, data.data(), int(data.size()), SQLITE_STATIC);
            insert.step();
            ++figures.blocks;
            block = {};
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

std::vector<store::postings::Block> PostingIndex::blocks(std::uint64_t token) const
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
    return store::postings::find(
        word, [&](Token token, std::int64_t, std::int64_t) { return blocks(token); }, true);
}

void PostingIndex::replace(std::int64_t row, const std::string& before, const std::string& after)
{
    TextTokens old, now;
    old.read(before);
    now.read(after);
    Sql holding(db_,
                QStringLiteral("SELECT first_row, data FROM %1 WHERE token = ?1 AND first_row <= ?2 ORDER BY first_row "
                               "DESC LIMIT 1")
                    .arg(index_));
    Sql firstBlock(
        db_, QStringLiteral("SELECT first_row, data FROM %1 WHERE token = ? ORDER BY first_row LIMIT 1").arg(index_));
    Sql remove(db_, QStringLiteral("DELETE FROM %1 WHERE token = ? AND first_row = ?").arg(index_));
    Sql insert(db_, QStringLiteral("INSERT INTO %1(token, first_row, data) VALUES(?, ?, ?)").arg(index_));
    for (const auto& [token, entry] : changedEntries(row, &old, &now, true)) {
        // The block the row lies in, else (a row before all others) the
        // token's first block.
        std::vector<Block> found;
        sqlite3_bind_int64(*holding, 1, std::int64_t(token));
        sqlite3_bind_int64(*holding, 2, row);
        if (holding.step()) {
            found.push_back({sqlite3_column_int64(*holding, 0), blobOf(*holding, 1)});
            holding.reset();
        } else {
            sqlite3_bind_int64(*firstBlock, 1, std::int64_t(token));
            if (firstBlock.step()) {
                found.push_back({sqlite3_column_int64(*firstBlock, 0), blobOf(*firstBlock, 1)});
                firstBlock.reset();
            }
        }
        for (const Block& b : found) {
            sqlite3_bind_int64(*remove, 1, std::int64_t(token));
            sqlite3_bind_int64(*remove, 2, b.firstRow);
            remove.step();
        }
        for (const Block& b : rewrite(found, std::span(&entry, 1), isPair(token))) {
            sqlite3_bind_int64(*insert, 1, std::int64_t(token));
            sqlite3_bind_int64(*insert, 2, b.firstRow);
            sqlite3_bind_blob(*insert, 3, b.data.data(), int(b.data.size()), SQLITE_STATIC);
            insert.step();
        }
    }
}

} // namespace zumilo::bench
