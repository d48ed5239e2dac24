#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace zumilo::store::postings {

// A positional index in a format of our own: which rows hold each token,
// and for a pair where in the row it starts.
//
// Tokens are every pair of folded characters where it starts, and every
// character once per text. A token's rows are cut into blocks of up to
// kBlockNotes rows, each stored under (token, first row), so that a change
// of one row rewrites the blocks it lies in and no more. A character's
// block holds its rows only; a pair's block also holds where in each row
// the pair starts (unless the index keeps no positions), so that a longer
// word is found exactly as the phrase of its pairs.
//
// A block is one bit stream. Its parts are in Rice codes (v >> k in unary,
// then the k low bits of v), each with the k that makes that part of that
// block the shortest, so that a common pair (small gaps) and a rare one
// (large gaps) each pay about what their gaps are worth:
//   rows - 1 (7 bits)
//   if rows > 1: k (5 bits), then each next row's gap - 1
//   pairs with positions only:
//     the rows holding the pair more than once, in Elias gamma; if any:
//       k, each one's place after the last listed; k, each one's count - 2
//     k for first positions; if any row is listed, k for further gaps
//     row after row: its first position, then each further gap - 1
// The first row is the key's. Rows are any 64-bit numbers; gaps are taken
// modulo 2^64, so a block may span negative and positive rows.

// An error for the engine: its result code and message. A block that
// does not read as one this code writes fails with SQLITE_CORRUPT_VTAB,
// rather than being searched or written again as it is.
struct Failure {
    int rc;
    std::string message;
};

// 64 rows add keys, 256 make blocks that fill pages worse: both took
// more room.
constexpr int kBlockNotes = 128;
// A block's bytes that still fit in a page of 4096 bytes beside its key.
constexpr std::size_t kBlockBytes = 960;

using Token = std::uint64_t;
Token pairToken(char32_t a, char32_t b);
Token characterToken(char32_t c);
bool isPair(Token t);

// The tokens of one text, folded as searches compare.
struct TextTokens {
    std::vector<char32_t> chars;
    std::vector<std::pair<Token, std::uint32_t>> pairs; // token and where it starts, sorted
    std::vector<Token> characters;                      // each once, sorted

    void read(const unsigned char* text, std::size_t bytes);
    void read(const std::string& text) { read(reinterpret_cast<const unsigned char*>(text.data()), text.size()); }
};

// Some rows of one token, in row order.
struct Postings {
    std::vector<std::int64_t> rows;
    std::vector<std::uint32_t> counts;    // pairs with positions only
    std::vector<std::uint32_t> positions; // pairs with positions only, row after row
};

// What each part of a block took, in bits.
struct PartBits {
    double rows = 0;
    double counts = 0;
    double positions = 0;
};

std::string encodeBlock(const Postings& p, bool withPositions, PartBits* bits = nullptr);
// Throws Failure for a block that does not read (see rewrite()).
Postings decodeBlock(std::int64_t firstRow, const std::string& data, bool withPositions);
// The block is what encodeBlock() writes for its rows: false for a block
// damaged or written otherwise.
bool blockSound(std::int64_t firstRow, const std::string& data, bool withPositions);

// A sum over the entries of a block, whatever the blocks they are cut
// into: the sums of all blocks tell whether any entry changed.
std::uint64_t blockSum(Token t, std::int64_t firstRow, const std::string& data, bool withPositions);

// How many rows a block holds, from its first bits.
int rowsIn(const std::string& data);

struct Block {
    std::int64_t firstRow;
    std::string data;
};

// A row's entry for one token as it is to be: where the pair starts (empty
// for a character, or a pair without positions), or gone.
struct Entry {
    std::int64_t row;
    bool present;
    std::vector<std::uint32_t> positions;
};

// The row's entries per token for the change of its text from `held` to
// `now`; tokens whose entry stays the same are left out.
std::vector<std::pair<Token, Entry>> changedEntries(std::int64_t row, const TextTokens* held, const TextTokens* now,
                                                    bool withPositions);

// The blocks that replace `blocks` (consecutive blocks of one token) with
// `entries` (sorted by row, one per row) applied: the rows cut evenly into
// blocks of at most kBlockNotes and, unless of one row, kBlockBytes; rows
// `appended` beyond the last block fill blocks in turn instead, the last
// left with room. Empty when no row is left. Throws Failure
// when a block does not read: bits past its end, rows or positions out of
// order or beyond their range, counts its bits cannot hold, or rows that
// reach into the next block.
// When `sum` is given, how the sum of the token's entries (blockSum())
// changes is added to it.
struct SumChange {
    Token token = 0;
    std::uint64_t change = 0;
};
std::vector<Block> rewrite(std::span<const Block> blocks, std::span<const Entry> entries, bool withPositions,
                           SumChange* sum = nullptr, bool appended = false);

// A token's blocks that may hold rows from `low` to `high`, in order.
using BlockSource = std::function<std::vector<Block>(Token, std::int64_t low, std::int64_t high)>;

// The rows from `low` to `high` whose folded text contains `word` (folded),
// in row order: one character by its own token, two by their pair, longer
// words as the phrase of their pairs. Without positions a longer word
// finds the rows holding all of its pairs, which the caller confirms.
// Throws Failure, as rewrite(), for a damaged block it reads.
std::vector<std::int64_t> find(const std::u32string& word, const BlockSource& blocks, bool withPositions,
                               std::int64_t low = INT64_MIN, std::int64_t high = INT64_MAX);

} // namespace zumilo::store::postings
