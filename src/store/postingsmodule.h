#pragma once

struct sqlite3;

namespace zumilo::store::detail {

// Registers the virtual table module zumilo_postings on the connection: a
// contentless index of one text column in the blocks of postings.h.
//
//   CREATE VIRTUAL TABLE x USING zumilo_postings(column, positions=1)
//   INSERT INTO x(rowid, column) VALUES(?, ?)
//   INSERT INTO x(x, rowid, column) VALUES('delete', ?, old_text)
//   INSERT INTO x(x) VALUES('delete-all')
//   INSERT INTO x(x) VALUES('integrity-check')  -- SQLITE_CORRUPT_VTAB when damaged
//   INSERT INTO x(x, rank) VALUES('merge', n)   -- changes nothing once all is merged
//   SELECT rowid FROM x WHERE x MATCH ? [AND rowid >= ? AND rowid < ?]
//
// The MATCH argument is one or more runs of folded characters, separated by
// U+0000; a row is found when its folded text holds every run (without
// positions, a run of more than two characters only narrows).
//
// Writes are kept beside the blocks in x_kept, one row per changed row with
// the text the blocks hold for it and its text now; searches match those
// texts directly, and each 'merge' step writes some of them into the blocks.
// Rows beyond all others, as a build inserts them, go straight to the
// blocks: gathered in memory and appended at the commit. x_state counts
// the rows.
bool registerPostingsModule(sqlite3* db);

} // namespace zumilo::store::detail
