#pragma once

#include "store/postings.h"

#include <QString>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

namespace zumilo::bench {

// A positional index of one text column, in a format of our own, measured
// beside the engine's full-text index of the same column.
//
// The blocks are the store's (store/postings.h), each one row (token,
// first_row, data) of a WITHOUT ROWID table.
//
// Changed notes can be kept beside the blocks in <indexTable>_changes, one
// row per note with the text the blocks hold and the folded text it now
// has; searches match those notes' texts directly and ignore what the
// blocks say of them, until writeKeptChanges() rewrites the blocks.
class PostingIndex {
public:
    // The position codings counted while building: the index stores Rice
    // codes; the others are what the same positions would take.
    enum Coding { Rice, EliasGamma, Nibbles, Bytes, BlockWidth, kCodings };
    static const char* codingName(Coding c);

    struct BuildFigures {
        std::int64_t notes = 0;
        std::int64_t tokens = 0;
        std::int64_t blocks = 0;
        std::int64_t entries = 0; // a token in a note
        std::int64_t positions = 0;
        double dataBytes = 0;                         // of all blocks, headers included
        double rowBytes = 0;                          // the row gaps
        double countBytes = 0;                        // the counts of occurrences
        std::array<double, kCodings> positionBytes{}; // positions alone, by coding
    };

    // The index of `column` of `table` in `indexTable` of the same file.
    PostingIndex(sqlite3* db, QString table, QString column, QString indexTable);

    // (Re)creates the index table from every row of the column, in one
    // transaction.
    BuildFigures build();

    // The rows whose folded text contains `word` (folded), in row order:
    // one character by its own token, two by their pair, longer words as
    // the phrase of their pairs.
    std::vector<std::int64_t> find(const std::u32string& word) const;

    // Replaces the postings of `row` for text `before` by those of `after`
    // (UTF-8, unfolded; empty for no text), rewriting the blocks that hold
    // the row. Runs inside the caller's transaction.
    void replace(std::int64_t row, const std::string& before, const std::string& after);

    // Keeps the change of `row` from `before` to `after` in a table of
    // changed notes beside the blocks, one row per note, until
    // writeKeptChanges(): a save writes a page or two instead of a block
    // per token of the note. Searches see the change at once.
    void keepChange(std::int64_t row, const std::string& before, const std::string& after);

    // Writes the kept changes into the blocks and forgets them, in the
    // caller's transaction. Returns how many notes they were.
    int writeKeptChanges();

private:
    std::vector<store::postings::Block> blocks(std::uint64_t token) const;
    std::vector<std::int64_t> findInBlocks(const std::u32string& word) const;
    QString changes() const;

    sqlite3* db_;
    QString table_;
    QString column_;
    QString index_;
};

} // namespace zumilo::bench
