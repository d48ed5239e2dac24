#include "postingsmodule.h"

#include "jetlike.h"
#include "postings.h"

#include <QList>
#include <QString>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace zumilo::store::detail {

namespace {

using namespace postings;

constexpr int kLayout = 1;
// Text gathered for appending before it is written out mid-transaction:
// writing it out takes about 0.1 s, so that a build, which checks the time
// and a waiting save between rows, never holds the file much longer than
// its slice. Smaller pieces cost more in all (each rewrites the last block
// of every token it meets), larger ones gain nothing.
constexpr size_t kAppendBytes = 512 << 10;
// Distinct tokens one 'merge' step rewrites per unit of its rank (the
// engine's steps count pages: about as many blocks).
constexpr int kTokensPerMergeUnit = 16;

const char* const kShadows[] = {"blocks", "kept", "state"};

std::string quoted(const std::string& name)
{
    std::string q = "\"";
    for (char c : name)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + '"';
}

std::string textOf(sqlite3_value* v)
{
    const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return std::string(t ? t : "", size_t(sqlite3_value_bytes(v)));
}

std::string blobOf(sqlite3_stmt* st, int column)
{
    const auto* data = static_cast<const char*>(sqlite3_column_blob(st, column));
    return std::string(data ? data : "", size_t(sqlite3_column_bytes(st, column)));
}

std::u32string foldedText(const std::string& text)
{
    std::vector<char32_t> chars;
    const size_t n = foldUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(), chars);
    return {chars.begin(), chars.begin() + std::ptrdiff_t(n)};
}

// A cached statement in use: reset and unbound when done with.
class Use {
public:
    explicit Use(sqlite3_stmt* st) : st_(st) {}
    ~Use()
    {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    Use& bind(int i, std::int64_t v)
    {
        sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    Use& bindText(int i, const std::optional<std::string>& t)
    {
        if (t)
            sqlite3_bind_text(st_, i, t->data(), int(t->size()), SQLITE_TRANSIENT);
        else
            sqlite3_bind_null(st_, i);
        return *this;
    }
    Use& bindBlob(int i, const std::string& b)
    {
        sqlite3_bind_blob(st_, i, b.data(), int(b.size()), SQLITE_TRANSIENT);
        return *this;
    }
    bool step()
    {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            throw Failure{rc, sqlite3_errmsg(sqlite3_db_handle(st_))};
        return false;
    }
    void run()
    {
        while (step()) {
        }
    }
    sqlite3_stmt* operator*() const { return st_; }

private:
    sqlite3_stmt* st_;
};

std::optional<std::string> optionalText(sqlite3_stmt* st, int column)
{
    if (sqlite3_column_type(st, column) == SQLITE_NULL)
        return std::nullopt;
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, column));
    return std::string(t ? t : "", size_t(sqlite3_column_bytes(st, column)));
}

struct Table : sqlite3_vtab {
    sqlite3* db = nullptr;
    std::string schema, name;
    bool positions = true;
    std::unordered_map<std::string, sqlite3_stmt*> statements;

    // Rows appended in this transaction, in row order; those before
    // `flushed` are in the blocks already, kept here while a savepoint
    // from before their writing may still roll the blocks back.
    struct Appended {
        std::int64_t row;
        std::string text;
    };
    std::vector<Appended> appended;
    size_t flushed = 0;
    size_t unflushedBytes = 0;
    std::optional<std::int64_t> lastAppended;
    struct Mark {
        size_t size, flushed;
        std::optional<std::int64_t> last;
    };
    std::vector<Mark> marks; // per savepoint

    ~Table()
    {
        for (auto& [sql, st] : statements)
            sqlite3_finalize(st);
    }

    std::string shadow(const char* suffix) const { return quoted(schema) + '.' + quoted(name + '_' + suffix); }

    // `sql` with %b, %k and %s for the shadow tables.
    Use use(const char* sql)
    {
        auto& st = statements[sql];
        if (!st) {
            std::string text = sql;
            for (const auto& [mark, suffix] : {std::pair{"%b", "blocks"}, {"%k", "kept"}, {"%s", "state"}})
                for (size_t at; (at = text.find(mark)) != std::string::npos;)
                    text.replace(at, 2, shadow(suffix));
            const int rc = sqlite3_prepare_v3(db, text.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
            if (rc != SQLITE_OK) {
                statements.erase(sql);
                throw Failure{rc, sqlite3_errmsg(db)};
            }
        }
        return Use(st);
    }

    bool pairPositions(Token t) const { return positions && isPair(t); }

    // --- blocks --------------------------------------------------------------

    std::vector<Block> blocksFor(Token t, std::int64_t low, std::int64_t high)
    {
        auto st = use("SELECT first_row, data FROM %b WHERE token = ?1 AND first_row >= coalesce((SELECT first_row "
                      "FROM %b WHERE token = ?1 AND first_row <= ?2 ORDER BY first_row DESC LIMIT 1), ?2) AND "
                      "first_row <= ?3 ORDER BY first_row");
        st.bind(1, std::int64_t(t)).bind(2, low).bind(3, high);
        std::vector<Block> out;
        while (st.step())
            out.push_back({sqlite3_column_int64(*st, 0), blobOf(*st, 1)});
        return out;
    }

    // The block a row belongs in: the last starting at or before it, else
    // the token's first.
    std::optional<Block> holding(Token t, std::int64_t row)
    {
        for (const char* sql :
             {"SELECT first_row, data FROM %b WHERE token = ?1 AND first_row <= ?2 ORDER BY first_row DESC LIMIT 1",
              "SELECT first_row, data FROM %b WHERE token = ?1 AND ?2 IS NOT NULL ORDER BY first_row LIMIT 1"}) {
            auto st = use(sql);
            st.bind(1, std::int64_t(t)).bind(2, row);
            if (st.step())
                return Block{sqlite3_column_int64(*st, 0), blobOf(*st, 1)};
        }
        return std::nullopt;
    }

    void replaceBlocks(Token t, const std::vector<Block>& old, const std::vector<Block>& now)
    {
        for (const Block& b : old)
            use("DELETE FROM %b WHERE token = ? AND first_row = ?").bind(1, std::int64_t(t)).bind(2, b.firstRow).run();
        for (const Block& b : now)
            use("INSERT INTO %b(token, first_row, data) VALUES(?, ?, ?)")
                .bind(1, std::int64_t(t))
                .bind(2, b.firstRow)
                .bindBlob(3, b.data)
                .run();
    }

    // --- state ---------------------------------------------------------------

    void addRows(std::int64_t n, std::optional<std::int64_t> top = std::nullopt, std::uint64_t sumChange = 0)
    {
        if (sumChange) {
            // Added here, where it wraps as it should.
            std::uint64_t sum = 0;
            {
                auto read = use("SELECT sum FROM %s");
                if (read.step())
                    sum = std::uint64_t(sqlite3_column_int64(*read, 0));
            }
            use("UPDATE %s SET sum = ?").bind(1, std::int64_t(sum + sumChange)).run();
        }
        auto st = use("UPDATE %s SET rows = rows + ?1, top = CASE WHEN ?2 IS NULL THEN top ELSE max(coalesce(top, "
                      "?2), ?2) END");
        st.bind(1, n);
        if (top)
            st.bind(2, *top);
        st.run();
    }

    // A row beyond every row the blocks or the kept rows hold.
    bool beyondAll(std::int64_t row)
    {
        if (lastAppended)
            return row > *lastAppended;
        auto st = use("SELECT (SELECT top FROM %s), (SELECT max(row) FROM %k)");
        st.step();
        for (int i = 0; i < 2; ++i)
            if (sqlite3_column_type(*st, i) != SQLITE_NULL && row <= sqlite3_column_int64(*st, i))
                return false;
        return true;
    }

    // --- writes --------------------------------------------------------------

    void insert(std::int64_t row, std::string text)
    {
        if (beyondAll(row)) {
            unflushedBytes += text.size();
            appended.push_back({row, std::move(text)});
            lastAppended = row;
            if (unflushedBytes > kAppendBytes)
                flush();
            return;
        }
        flush();
        lastAppended.reset(); // the next row is compared with the kept ones again
        use("INSERT INTO %k(row, held, now) VALUES(?1, NULL, ?2) ON CONFLICT(row) DO UPDATE SET now = excluded.now")
            .bind(1, row)
            .bindText(2, text)
            .run();
        addRows(1);
    }

    void remove(std::int64_t row, const std::optional<std::string>& old)
    {
        flush();
        lastAppended.reset();
        use("INSERT INTO %k(row, held, now) VALUES(?1, ?2, NULL) ON CONFLICT(row) DO UPDATE SET now = NULL")
            .bind(1, row)
            .bindText(2, old)
            .run();
        addRows(-1);
    }

    // Writes the rows appended and not yet written into the blocks: the
    // last block of each token is filled up before new ones are started.
    // Only from a write or the commit, whose failure the engine takes back
    // whole: a search matches the rows still held here instead.
    void flush()
    {
        if (flushed == appended.size())
            return;
        std::uint64_t sumChange = 0;
        // Each token's entries in row order, the tokens then in order.
        std::unordered_map<Token, size_t> group;
        std::vector<std::pair<Token, std::vector<Entry>>> entries;
        TextTokens t;
        for (size_t i = flushed; i < appended.size(); ++i) {
            t.read(appended[i].text);
            for (auto& [token, entry] : changedEntries(appended[i].row, nullptr, &t, positions)) {
                const auto [at, added] = group.try_emplace(token, entries.size());
                if (added)
                    entries.emplace_back(token, std::vector<Entry>());
                entries[at->second].second.push_back(std::move(entry));
            }
        }
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [token, list] : entries) {
            std::vector<Block> last;
            auto st = use("SELECT first_row, data FROM %b WHERE token = ? ORDER BY first_row DESC LIMIT 1");
            st.bind(1, std::int64_t(token));
            if (st.step() && rowsIn(blobOf(*st, 1)) < kBlockNotes)
                last.push_back({sqlite3_column_int64(*st, 0), blobOf(*st, 1)});
            std::vector<Block> now;
            SumChange sum{token};
            try {
                now = rewrite(last, list, pairPositions(token), &sum, true);
            } catch (const Failure& f) {
                // A damaged block is left for the check to find and a
                // rebuild to mend: a note added meanwhile is still saved.
                if (last.empty() || f.rc != SQLITE_CORRUPT_VTAB)
                    throw;
                last.clear();
                sum = {token};
                now = rewrite(last, list, pairPositions(token), &sum, true);
            }
            replaceBlocks(token, last, now);
            sumChange += sum.change;
        }
        addRows(std::int64_t(appended.size() - flushed), appended.back().row, sumChange);
        flushed = appended.size();
        unflushedBytes = 0;
        trim();
    }

    // Forgets the rows written, once no savepoint can take them back.
    void trim()
    {
        if (!marks.empty())
            return;
        appended.erase(appended.begin(), appended.begin() + std::ptrdiff_t(flushed));
        flushed = 0;
    }

    void endTransaction()
    {
        appended.clear();
        flushed = unflushedBytes = 0;
        lastAppended.reset();
        marks.clear();
        broken.reset();
    }

    // A write that failed after writing some blocks, in a statement the
    // engine does not take back by itself: until the transaction or a
    // savepoint from before it is rolled back, the blocks are not what this
    // table holds in memory, and nothing is read or written.
    std::optional<size_t> broken; // the savepoints open at the failure
    void refuseWhileBroken() const
    {
        if (broken)
            throw Failure{SQLITE_ABORT, name + ": a write failed half-way; roll the transaction back"};
    }

    void deleteAll()
    {
        flush();
        lastAppended.reset();
        use("DELETE FROM %b").run();
        use("DELETE FROM %k").run();
        use("UPDATE %s SET rows = 0, top = NULL, sum = 0").run();
    }

    // Writes kept rows into the blocks, about `budget` tokens' worth.
    void merge(std::int64_t budget)
    {
        flush();
        std::uint64_t sumChange = 0;
        std::map<Token, std::vector<Entry>> entries;
        std::optional<std::int64_t> last, top;
        {
            auto kept = use("SELECT row, held, now FROM %k ORDER BY row");
            TextTokens held, now;
            while (std::int64_t(entries.size()) < budget && kept.step()) {
                const std::int64_t row = sqlite3_column_int64(*kept, 0);
                const auto h = optionalText(*kept, 1), n = optionalText(*kept, 2);
                if (h)
                    held.read(*h);
                if (n) {
                    now.read(*n);
                    top = row;
                }
                for (auto& [token, entry] : changedEntries(row, h ? &held : nullptr, n ? &now : nullptr, positions))
                    entries[token].push_back(std::move(entry));
                last = row;
            }
        }
        if (!last)
            return;
        for (const auto& [token, list] : entries) {
            // The entries grouped by the block they belong in.
            for (size_t from = 0; from < list.size();) {
                const std::optional<Block> b = holding(token, list[from].row);
                size_t to = from + 1;
                if (b) {
                    std::optional<std::int64_t> next;
                    auto st = use(
                        "SELECT first_row FROM %b WHERE token = ? AND first_row > ? ORDER BY first_row LIMIT 1");
                    st.bind(1, std::int64_t(token)).bind(2, b->firstRow);
                    if (st.step())
                        next = sqlite3_column_int64(*st, 0);
                    while (to < list.size() && (!next || list[to].row < *next))
                        ++to;
                } else {
                    to = list.size();
                }
                std::vector<Block> old;
                if (b)
                    old.push_back(*b);
                SumChange sum{token};
                replaceBlocks(token, old,
                              rewrite(old, std::span(list).subspan(from, to - from), pairPositions(token), &sum));
                sumChange += sum.change;
                from = to;
            }
        }
        use("DELETE FROM %k WHERE row <= ?").bind(1, *last).run();
        // Also what tells the caller that the step did something.
        addRows(0, top, sumChange);
    }

    void integrityCheck()
    {
        auto damage = [&](const std::string& what) { return Failure{SQLITE_CORRUPT_VTAB, what + " in " + name}; };
        for (const char* suffix : kShadows) {
            const std::string sql = "SELECT 1 FROM " + quoted(schema)
                                    + ".sqlite_schema WHERE type = 'table' AND name = ?";
            auto exists = use(sql.c_str());
            exists.bindText(1, name + '_' + suffix);
            if (!exists.step())
                throw damage(std::string("no table ") + name + '_' + suffix);
        }
        flush();
        auto st = use("SELECT token, first_row, data FROM %b ORDER BY token, first_row");
        std::optional<Token> token;
        std::int64_t lastRow = 0;
        std::optional<std::int64_t> highest;
        std::uint64_t sum = 0;
        while (st.step()) {
            const Token t = Token(sqlite3_column_int64(*st, 0));
            const std::int64_t first = sqlite3_column_int64(*st, 1);
            const std::string data = blobOf(*st, 2);
            const bool known = isPair(t) ? t < (Token(1) << 42) : t < (Token(1) << 43);
            if (!known || sqlite3_column_type(*st, 2) != SQLITE_BLOB || !blockSound(first, data, pairPositions(t))
                || (token == t && first <= lastRow))
                throw damage("damaged block");
            token = t;
            lastRow = decodeBlock(first, data, false).rows.back();
            highest = std::max(highest.value_or(lastRow), lastRow);
            sum += blockSum(t, first, data, pairPositions(t));
        }
        // Every row written into the blocks raised the top to it.
        auto state = use("SELECT layout, sum, ?1 IS NULL OR coalesce(top >= ?1, 0), (SELECT count(*) FROM %s) FROM %s");
        if (highest)
            state.bind(1, *highest);
        if (!state.step() || sqlite3_column_int64(*state, 3) != 1)
            throw damage("no single state row");
        if (sqlite3_column_int64(*state, 0) != kLayout)
            throw damage("another layout");
        if (std::uint64_t(sqlite3_column_int64(*state, 1)) != sum)
            throw damage("other entries in the blocks than were written");
        if (!sqlite3_column_int64(*state, 2))
            throw damage("a row in the blocks beyond the top");
    }

    // --- search --------------------------------------------------------------

    std::vector<std::int64_t> search(const std::string& query, std::int64_t low, std::int64_t high)
    {
        // The kept rows in range overrule the blocks; the rows held in
        // memory come after all of them.
        std::vector<std::int64_t> keptRows;
        std::vector<std::optional<std::u32string>> keptTexts;
        {
            auto kept = use("SELECT row, now FROM %k WHERE row BETWEEN ? AND ? ORDER BY row");
            kept.bind(1, low).bind(2, high);
            while (kept.step()) {
                keptRows.push_back(sqlite3_column_int64(*kept, 0));
                const auto now = optionalText(*kept, 1);
                keptTexts.push_back(now ? std::optional(foldedText(*now)) : std::nullopt);
            }
        }
        for (size_t i = flushed; i < appended.size(); ++i) {
            if (appended[i].row >= low && appended[i].row <= high) {
                keptRows.push_back(appended[i].row);
                keptTexts.push_back(foldedText(appended[i].text));
            }
        }
        std::optional<std::vector<std::int64_t>> rows;
        for (size_t from = 0; from <= query.size();) {
            size_t to = query.find('\0', from);
            if (to == std::string::npos)
                to = query.size();
            const QList<uint> cps = QString::fromUtf8(query.data() + from, qsizetype(to - from)).toUcs4();
            from = to + 1;
            if (cps.isEmpty())
                continue;
            const std::u32string run(cps.begin(), cps.end());
            std::vector<std::int64_t> all = find(
                run, [&](Token t, std::int64_t l, std::int64_t h) { return blocksFor(t, l, h); }, positions, low, high);
            if (!keptRows.empty()) {
                std::vector<std::int64_t> unchanged, holding;
                unchanged.reserve(all.size());
                std::set_difference(all.begin(), all.end(), keptRows.begin(), keptRows.end(),
                                    std::back_inserter(unchanged));
                for (size_t i = 0; i < keptRows.size(); ++i)
                    if (keptTexts[i] && keptTexts[i]->find(run) != std::u32string::npos)
                        holding.push_back(keptRows[i]);
                all.clear();
                std::merge(unchanged.begin(), unchanged.end(), holding.begin(), holding.end(), std::back_inserter(all));
            }
            if (rows) {
                // In place: a row kept is never written past the one read.
                size_t kept = 0;
                auto other = rows->begin();
                for (const std::int64_t row : all) {
                    while (other != rows->end() && *other < row)
                        ++other;
                    if (other != rows->end() && *other == row)
                        all[kept++] = row;
                }
                all.resize(kept);
            }
            rows = std::move(all);
        }
        return rows ? std::move(*rows) : std::vector<std::int64_t>{};
    }
};

struct Cursor : sqlite3_vtab_cursor {
    std::vector<std::int64_t> rows;
    size_t at = 0;
};

Table* table(sqlite3_vtab* v)
{
    return static_cast<Table*>(v);
}

// Runs `work`, turning what it throws into the engine's error.
template <typename Work>
int guarded(sqlite3_vtab* v, Work&& work)
{
    try {
        work();
        return SQLITE_OK;
    } catch (const Failure& f) {
        sqlite3_free(v->zErrMsg);
        v->zErrMsg = sqlite3_mprintf("%s", f.message.c_str());
        return f.rc;
    } catch (const std::bad_alloc&) {
        return SQLITE_NOMEM;
    } catch (const std::exception& e) {
        sqlite3_free(v->zErrMsg);
        v->zErrMsg = sqlite3_mprintf("%s", e.what());
        return SQLITE_ERROR;
    }
}

int connect(sqlite3* db, int argc, const char* const* argv, sqlite3_vtab** out, char** error, bool create)
{
    auto t = std::make_unique<Table>();
    t->db = db;
    t->schema = argv[1];
    t->name = argv[2];
    std::string column;
    for (int i = 3; i < argc; ++i) {
        std::string arg = argv[i];
        arg.erase(0, arg.find_first_not_of(" \t\n"));
        arg.erase(arg.find_last_not_of(" \t\n") + 1);
        if (arg == "positions=0" || arg == "positions=1") {
            t->positions = arg.back() == '1';
        } else if (column.empty() && !arg.empty() && arg.find('=') == std::string::npos) {
            column = arg;
            if (column.size() >= 2 && (column.front() == '"' || column.front() == '`' || column.front() == '['))
                column = column.substr(1, column.size() - 2);
        } else {
            *error = sqlite3_mprintf("zumilo_postings: unknown argument %s", arg.c_str());
            return SQLITE_ERROR;
        }
    }
    if (column.empty()) {
        *error = sqlite3_mprintf("zumilo_postings: a column is needed");
        return SQLITE_ERROR;
    }
    const std::string declare = "CREATE TABLE x(" + quoted(column) + ", " + quoted(t->name) + " HIDDEN, rank HIDDEN)";
    int rc = sqlite3_declare_vtab(db, declare.c_str());
    if (rc == SQLITE_OK && create) {
        const std::string sql =
            "CREATE TABLE " + t->shadow("blocks")
            + "(token INTEGER NOT NULL, first_row INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(token, "
              "first_row)) WITHOUT ROWID; CREATE TABLE "
            + t->shadow("kept") + "(row INTEGER PRIMARY KEY, held TEXT, now TEXT); CREATE TABLE " + t->shadow("state")
            + "(layout INTEGER NOT NULL, rows INTEGER NOT NULL, top INTEGER, sum INTEGER NOT NULL); INSERT INTO "
            + t->shadow("state") + " VALUES(" + std::to_string(kLayout) + ", 0, NULL, 0);";
        rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, error);
    } else if (rc == SQLITE_OK) {
        // Blocks of a later layout would read as damage, or as wrong rows.
        // A missing table is left to the check, which reports the damage
        // and still lets the table be dropped and built again.
        std::int64_t layout = kLayout;
        try {
            auto st = t->use("SELECT layout FROM %s");
            if (st.step())
                layout = sqlite3_column_int64(*st, 0);
        } catch (const Failure&) {
        }
        if (layout > kLayout) {
            *error = sqlite3_mprintf("zumilo_postings: %s has a later layout (%lld) than this program reads (%d)",
                                     t->name.c_str(), static_cast<long long>(layout), kLayout);
            rc = SQLITE_ERROR;
        }
    }
    if (rc != SQLITE_OK)
        return rc;
    *out = t.release();
    return SQLITE_OK;
}

int xCreate(sqlite3* db, void*, int argc, const char* const* argv, sqlite3_vtab** out, char** error)
{
    return connect(db, argc, argv, out, error, true);
}

int xConnect(sqlite3* db, void*, int argc, const char* const* argv, sqlite3_vtab** out, char** error)
{
    return connect(db, argc, argv, out, error, false);
}

// The constraints a search uses, as bits of idxNum, in the order of their
// arguments.
enum : int { kMatch = 1, kGe = 2, kGt = 4, kLe = 8, kLt = 16, kEq = 32 };

int xBestIndex(sqlite3_vtab*, sqlite3_index_info* info)
{
    // A search whose words come from another table waits for them.
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (c.op == SQLITE_INDEX_CONSTRAINT_MATCH && c.iColumn >= 0 && !c.usable)
            return SQLITE_CONSTRAINT;
    }
    int used = 0, argument = 0;
    const std::pair<int, int> kinds[] = {{kMatch, SQLITE_INDEX_CONSTRAINT_MATCH}, {kGe, SQLITE_INDEX_CONSTRAINT_GE},
                                         {kGt, SQLITE_INDEX_CONSTRAINT_GT},       {kLe, SQLITE_INDEX_CONSTRAINT_LE},
                                         {kLt, SQLITE_INDEX_CONSTRAINT_LT},       {kEq, SQLITE_INDEX_CONSTRAINT_EQ}};
    for (const auto& [bit, op] : kinds) {
        for (int i = 0; i < info->nConstraint; ++i) {
            const auto& c = info->aConstraint[i];
            const bool onRowid = c.iColumn < 0;
            if (!c.usable || c.op != op || (bit == kMatch) == onRowid || (used & bit))
                continue;
            used |= bit;
            info->aConstraintUsage[i].argvIndex = ++argument;
            info->aConstraintUsage[i].omit = 1;
        }
    }
    info->idxNum = used;
    // Without MATCH there is nothing to read the rows from.
    info->estimatedCost = (used & kMatch) ? (used & ~kMatch ? 10.0 : 100.0) : 1e12;
    info->estimatedRows = (used & kEq) ? 1 : (used & kMatch) ? 1000 : 1000000;
    if (used & kEq)
        info->idxFlags |= SQLITE_INDEX_SCAN_UNIQUE;
    if (info->nOrderBy == 1 && info->aOrderBy[0].iColumn < 0 && !info->aOrderBy[0].desc)
        info->orderByConsumed = 1;
    return SQLITE_OK;
}

int xDisconnect(sqlite3_vtab* v)
{
    delete table(v);
    return SQLITE_OK;
}

int xDestroy(sqlite3_vtab* v)
{
    Table* t = table(v);
    std::string sql;
    for (const char* s : kShadows)
        sql += "DROP TABLE IF EXISTS " + t->shadow(s) + ";";
    const int rc = sqlite3_exec(t->db, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        delete t;
    return rc;
}

int xOpen(sqlite3_vtab*, sqlite3_vtab_cursor** out)
{
    *out = new (std::nothrow) Cursor;
    return *out ? SQLITE_OK : SQLITE_NOMEM;
}

int xClose(sqlite3_vtab_cursor* c)
{
    delete static_cast<Cursor*>(c);
    return SQLITE_OK;
}

int xFilter(sqlite3_vtab_cursor* vc, int idxNum, const char*, int argc, sqlite3_value** argv)
{
    auto* c = static_cast<Cursor*>(vc);
    return guarded(vc->pVtab, [&] {
        table(vc->pVtab)->refuseWhileBroken();
        c->rows.clear();
        c->at = 0;
        if (!(idxNum & kMatch))
            throw Failure{SQLITE_ERROR, "a search of zumilo_postings needs MATCH"};
        std::int64_t low = INT64_MIN, high = INT64_MAX;
        int arg = 0;
        std::string query;
        for (int bit = kMatch; bit <= kEq && arg < argc; bit <<= 1) {
            if (!(idxNum & bit))
                continue;
            sqlite3_value* v = argv[arg++];
            if (bit == kMatch) {
                query = textOf(v);
                continue;
            }
            // A bound that is no whole number: compared as the engine would.
            const int type = sqlite3_value_numeric_type(v);
            if (type == SQLITE_NULL)
                return;
            if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) {
                // Text sorts after every number.
                if (bit == kLe || bit == kLt)
                    continue;
                return;
            }
            const double d = sqlite3_value_double(v);
            const std::int64_t n = sqlite3_value_int64(v);
            const bool whole = type == SQLITE_INTEGER;
            const bool lower = bit == kGe || bit == kGt || bit == kEq, upper = bit == kLe || bit == kLt || bit == kEq;
            // Beyond every row number either way: no row, or no bound.
            if (!whole && (d >= 0x1p63 || d < -0x1p63)) {
                if (d >= 0x1p63 ? lower : upper)
                    return;
                continue;
            }
            if (lower) {
                std::int64_t from = n;
                if (!whole && double(n) < d)
                    from = n + 1;
                else if (bit == kGt && (whole || double(n) == d)) {
                    if (n == INT64_MAX)
                        return;
                    from = n + 1;
                }
                if (bit == kEq && !(whole || double(n) == d))
                    return;
                low = std::max(low, from);
            }
            if (upper) {
                std::int64_t to = n;
                if (!whole && double(n) > d)
                    to = n - 1;
                else if (bit == kLt && (whole || double(n) == d)) {
                    if (n == INT64_MIN)
                        return;
                    to = n - 1;
                }
                high = std::min(high, to);
            }
        }
        if (low <= high)
            c->rows = table(vc->pVtab)->search(query, low, high);
    });
}

int xNext(sqlite3_vtab_cursor* c)
{
    ++static_cast<Cursor*>(c)->at;
    return SQLITE_OK;
}

int xEof(sqlite3_vtab_cursor* vc)
{
    const auto* c = static_cast<Cursor*>(vc);
    return c->at >= c->rows.size();
}

int xColumn(sqlite3_vtab_cursor*, sqlite3_context* ctx, int)
{
    sqlite3_result_null(ctx); // contentless
    return SQLITE_OK;
}

int xRowid(sqlite3_vtab_cursor* vc, sqlite_int64* row)
{
    const auto* c = static_cast<Cursor*>(vc);
    *row = c->rows[c->at];
    return SQLITE_OK;
}

int xUpdate(sqlite3_vtab* v, int argc, sqlite3_value** argv, sqlite_int64*)
{
    Table* t = table(v);
    const sqlite3_int64 changes = sqlite3_total_changes64(t->db);
    const int rc = guarded(v, [&] {
        t->refuseWhileBroken();
        if (argc == 1 || sqlite3_value_type(argv[0]) != SQLITE_NULL)
            throw Failure{SQLITE_ERROR, "zumilo_postings holds no text: write 'delete' commands"};
        sqlite3_value* command = argv[3];
        const bool hasRow = sqlite3_value_type(argv[1]) != SQLITE_NULL;
        std::optional<std::string> text;
        if (sqlite3_value_type(argv[2]) != SQLITE_NULL)
            text = textOf(argv[2]);
        if (sqlite3_value_type(command) == SQLITE_NULL) {
            if (!hasRow)
                throw Failure{SQLITE_MISMATCH, "zumilo_postings needs a rowid"};
            t->insert(sqlite3_value_int64(argv[1]), text.value_or(std::string()));
            return;
        }
        const std::string what = textOf(command);
        if (what == "delete" && hasRow)
            t->remove(sqlite3_value_int64(argv[1]), text);
        else if (what == "delete-all")
            t->deleteAll();
        else if (what == "integrity-check")
            t->integrityCheck();
        else if (what == "merge") {
            // As the engine's: pages to write, or (negative) a step however small.
            const std::int64_t rank = std::clamp<std::int64_t>(sqlite3_value_int64(argv[4]), -(1 << 20), 1 << 20);
            t->merge(std::max<std::int64_t>(1, rank < 0 ? -rank : rank) * kTokensPerMergeUnit);
        } else
            throw Failure{SQLITE_ERROR, "zumilo_postings: unknown command " + what};
    });
    if (rc != SQLITE_OK && !t->broken && sqlite3_total_changes64(t->db) != changes)
        t->broken = t->marks.size();
    return rc;
}

int xBegin(sqlite3_vtab* v)
{
    table(v)->endTransaction();
    return SQLITE_OK;
}

int xSync(sqlite3_vtab* v)
{
    return guarded(v, [&] {
        table(v)->refuseWhileBroken();
        table(v)->flush();
    });
}

int xCommit(sqlite3_vtab* v)
{
    table(v)->endTransaction();
    return SQLITE_OK;
}

int xRollback(sqlite3_vtab* v)
{
    table(v)->endTransaction();
    return SQLITE_OK;
}

int xSavepoint(sqlite3_vtab* v, int level)
{
    Table* t = table(v);
    t->marks.resize(size_t(level) + 1, {t->appended.size(), t->flushed, t->lastAppended});
    t->marks[size_t(level)] = {t->appended.size(), t->flushed, t->lastAppended};
    return SQLITE_OK;
}

int xRelease(sqlite3_vtab* v, int level)
{
    Table* t = table(v);
    if (size_t(level) < t->marks.size())
        t->marks.resize(size_t(level));
    t->trim();
    return SQLITE_OK;
}

int xRollbackTo(sqlite3_vtab* v, int level)
{
    Table* t = table(v);
    // To the savepoint that began the transaction: all of it taken back.
    if (level < 0) {
        t->endTransaction();
        return SQLITE_OK;
    }
    if (t->broken && size_t(level) < *t->broken)
        t->broken.reset();
    if (size_t(level) < t->marks.size()) {
        // The engine takes back what was written since; so do we.
        const Table::Mark m = t->marks[size_t(level)];
        t->appended.resize(m.size);
        t->flushed = m.flushed;
        t->lastAppended = m.last;
        t->marks.resize(size_t(level) + 1);
        t->unflushedBytes = 0;
        for (size_t i = t->flushed; i < t->appended.size(); ++i)
            t->unflushedBytes += t->appended[i].text.size();
    }
    return SQLITE_OK;
}

int xShadowName(const char* suffix)
{
    return std::any_of(std::begin(kShadows), std::end(kShadows),
                       [&](const char* s) { return sqlite3_stricmp(suffix, s) == 0; });
}

const sqlite3_module kModule = {
    3,       xCreate,   xConnect, xBestIndex, xDisconnect, xDestroy, xOpen,       xClose,
    xFilter, xNext,     xEof,     xColumn,    xRowid,      xUpdate,  xBegin,      xSync,
    xCommit, xRollback, nullptr,  nullptr,    xSavepoint,  xRelease, xRollbackTo, xShadowName,
};

} // namespace

bool registerPostingsModule(sqlite3* db)
{
    return sqlite3_create_module_v2(db, "zumilo_postings", &kModule, nullptr, nullptr) == SQLITE_OK;
}

} // namespace zumilo::store::detail
