#include "searchindex.h"

#include "database.h"
#include "error.h"
#include "jetlike.h"
#include "jetsql.h"
#include "postingsmodule.h"
#include "statement.h"

#include <QChar>
#include <QStringList>
#include <algorithm>
#include <limits>
#include <QScopeGuard>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace zumilo::store::detail {

struct SearchIndex::Column {
    const char* table;
    const char* column;
    const char* index;
    // Where each pair is, so that a longer word is the phrase of its pairs
    // and found exactly. Without them (a quarter of the room) a longer word
    // is only narrowed by its pairs, and a common one is then read in
    // thousands of notes: 17 times as slow.
    bool positions;
};

namespace {

using Column = SearchIndex::Column;

constexpr Column kColumns[] = {
    {"T_idea", "title", "zumilo_idea_title", true},
    {"T_idea", "naiyo", "zumilo_idea_naiyo", true},
    {"T_idea", "bunrui", "zumilo_idea_bunrui", true},
    {"T_bunrui", "bunrui", "zumilo_bunrui_bunrui", true},
};

constexpr char kStateTable[] = "zumilo_index_state";
// Rows changed by any writer since the index was last in step: per indexed
// column (its place in kColumns) and row, whether the index holds the row
// and, if so, the value it holds.
constexpr char kChangeTable[] = "zumilo_index_changes";
// Present while a build is under way: per table with a log, the number of
// the next row to fill (rows are filled in number order).
constexpr char kFillTable[] = "zumilo_index_fill";
// Present while the changes kept during a build are still being merged.
constexpr char kMergeTable[] = "zumilo_index_merge";
constexpr char kChangeTriggerPrefix[] = "zumilo_log_";
constexpr char kOldTokenizer[] = "zumilo_fold";
constexpr char kLiveFunction[] = "zumilo_index_live";

// The tokens depend on the folding and so on the Unicode tables it uses: a
// file indexed by a build with other tables is indexed again.
QString formatVersion()
{
    return QStringLiteral("6 unicode %1").arg(int(QChar::currentUnicodeVersion()));
}

// Longer runs are looked up by their start and confirmed by like(); so is
// a run of more than one pair in an index without positions.
constexpr size_t kLongestPhrase = 32;

// Pages of the index one merge step writes, about (see postingsmodule.h):
// a few milliseconds of work, so that a slice ends close to its time.
constexpr int kMergePages = 64;
// Changes kept beside an index's blocks that an open has merged.
constexpr qint64 kKeptToMerge = 100;

// Rows between two progress reports of a rebuild, and of a catch-up.
constexpr int kProgressStep = 2000;
constexpr int kCatchUpStep = 200;

// --- the old index ---------------------------------------------------------

// Files of earlier layouts hold full-text tables of the engine's with a
// tokenizer of this name; the engine connects to a table, and so needs its
// tokenizer, even to drop it. This one takes the name and makes no tokens.
int createOldTokenizer(void*, const char**, int, Fts5Tokenizer** out)
{
    static char instance;
    *out = reinterpret_cast<Fts5Tokenizer*>(&instance);
    return SQLITE_OK;
}

void deleteOldTokenizer(Fts5Tokenizer*) {}

int tokenizeNothing(Fts5Tokenizer*, void*, int, const char*, int, int (*)(void*, int, const char*, int, int, int))
{
    return SQLITE_OK;
}

void registerOldTokenizer(sqlite3* db)
{
    fts5_api* api = nullptr;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_pointer(st, 1, reinterpret_cast<void*>(&api), "fts5_api_ptr", nullptr);
        sqlite3_step(st);
    }
    sqlite3_finalize(st);
    static fts5_tokenizer tokenizer = {createOldTokenizer, deleteOldTokenizer, tokenizeNothing};
    if (api)
        api->xCreateTokenizer(api, kOldTokenizer, nullptr, &tokenizer, nullptr);
}

void liveFunction(sqlite3_context* ctx, int, sqlite3_value**)
{
    const auto* index = static_cast<const SearchIndex*>(sqlite3_user_data(ctx));
    sqlite3_result_int(ctx, index->live() ? 1 : 0);
}

// --- statements and names ---------------------------------------------------

void exec(sqlite3* db, const QString& sql, const QVariantList& params = {})
{
    Statement st(db, sql);
    st.bindAll(params);
    while (st.step()) {
    }
}

bool hasColumn(sqlite3* db, const Column& c)
{
    Statement st(db, QStringLiteral("SELECT 1 FROM pragma_table_info(?) WHERE name = ? COLLATE NOCASE"));
    st.bindAll({QString::fromLatin1(c.table), QString::fromLatin1(c.column)});
    const bool found = st.step();
    st.reset();
    return found;
}

QString name(const char* s)
{
    return QString::fromLatin1(s);
}

bool hasTable(sqlite3* db, const char* table)
{
    Statement st(db, QStringLiteral("SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = ?"));
    st.bind(1, name(table));
    const bool found = st.step();
    st.reset();
    return found;
}

qint64 rows(sqlite3* db, const QString& table)
{
    Statement count(db, QStringLiteral("SELECT count(*) FROM main.%1").arg(table));
    count.step();
    const qint64 n = count.columnInt(0);
    count.reset();
    return n;
}

// The indexed columns by table, in the order of kColumns.
std::vector<std::pair<QString, std::vector<const Column*>>> byTable(const std::vector<const Column*>& columns)
{
    std::vector<std::pair<QString, std::vector<const Column*>>> tables;
    for (const Column* c : columns) {
        if (tables.empty() || tables.back().first != name(c->table))
            tables.emplace_back(name(c->table), std::vector<const Column*>{});
        tables.back().second.push_back(c);
    }
    return tables;
}

// The triggers that log every writer's changes of a table's indexed
// columns, by name. Plain SQL, so that every tool and engine version can
// still write the notes; only for tables whose rows keep their numbers
// (an integer key: a VACUUM renumbers other tables).
std::vector<std::pair<QString, QString>> changeLog(sqlite3* db, const QString& table,
                                                   const std::vector<const Column*>& columns)
{
    if (rowidColumn(db, table).isEmpty())
        return {};
    const QString log = name(kChangeTable);
    // The first change of a row since the index was in step tells what
    // the index holds; later ones add nothing. NOT EXISTS rather than a
    // conflict clause, which the writing statement's own would override.
    // `source` ends in WHERE or AND.
    auto record = [&](const Column* c, const QString& row, const QString& values,
                      const QString& source = QStringLiteral(" WHERE")) {
        const QString n = QString::number(c - kColumns);
        return QStringLiteral("INSERT INTO %1(col_no, row_id, held, old_value) SELECT %2, %3%4 NOT EXISTS "
                              "(SELECT 1 FROM %1 WHERE col_no = %2 AND row_id = %5);")
            .arg(log, n, values, source, row);
    };
    const QString prefix = name(kChangeTriggerPrefix) + table.toLower();
    std::vector<std::pair<QString, QString>> triggers;
    auto trigger = [&](const QString& suffix, const QString& when, const QString& body) {
        const QString n = prefix + suffix;
        triggers.emplace_back(n, QStringLiteral("CREATE TRIGGER %1 %2 BEGIN %3 END").arg(n, when, body));
    };
    // A row about to be replaced, by INSERT OR REPLACE or by a new number,
    // leaves the index without a delete trigger (unless the writer has
    // recursive triggers on).
    QString replaced, inserted, deleted;
    for (const Column* c : columns) {
        replaced += record(c, QStringLiteral("new.rowid"), QStringLiteral("rowid, 1, %1").arg(name(c->column)),
                           QStringLiteral(" FROM %1 WHERE rowid = new.rowid AND").arg(table));
        inserted += record(c, QStringLiteral("new.rowid"), QStringLiteral("new.rowid, 0, NULL"));
        deleted += record(c, QStringLiteral("old.rowid"), QStringLiteral("old.rowid, 1, old.%1").arg(name(c->column)));
        trigger(QStringLiteral("_%1_update").arg(name(c->column).toLower()),
                QStringLiteral("AFTER UPDATE ON %1 WHEN old.rowid IS NOT new.rowid OR old.%2 IS NOT new.%2")
                    .arg(table, name(c->column)),
                record(c, QStringLiteral("old.rowid"), QStringLiteral("old.rowid, 1, old.%1").arg(name(c->column)))
                    + record(c, QStringLiteral("new.rowid"), QStringLiteral("new.rowid, 0, NULL")));
    }
    trigger(QStringLiteral("_replace"), QStringLiteral("BEFORE INSERT ON %1").arg(table), replaced);
    trigger(QStringLiteral("_renumber"),
            QStringLiteral("BEFORE UPDATE ON %1 WHEN new.rowid IS NOT old.rowid").arg(table), replaced);
    trigger(QStringLiteral("_insert"), QStringLiteral("AFTER INSERT ON %1").arg(table), inserted);
    trigger(QStringLiteral("_delete"), QStringLiteral("AFTER DELETE ON %1").arg(table), deleted);
    return triggers;
}

// The change-log triggers the file has, by name.
std::vector<std::pair<QString, QString>> loggingTriggers(sqlite3* db)
{
    Statement st(db, QStringLiteral("SELECT name, sql FROM main.sqlite_master WHERE type = 'trigger' AND "
                                    "substr(name, 1, %1) = ? ORDER BY name")
                         .arg(qstrlen(kChangeTriggerPrefix)));
    st.bind(1, name(kChangeTriggerPrefix));
    std::vector<std::pair<QString, QString>> found;
    while (st.step())
        found.emplace_back(st.column(0).toString(), st.column(1).toString());
    return found;
}

} // namespace

SearchIndex::SearchIndex(sqlite3* db) : db_(db)
{
    registerOldTokenizer(db);
    available_ = registerPostingsModule(db)
                 && sqlite3_create_function_v2(db, kLiveFunction, 0, SQLITE_UTF8, this, liveFunction, nullptr, nullptr,
                                               nullptr)
                        == SQLITE_OK;
}

SearchIndex::~SearchIndex() = default;

std::optional<quint32> SearchIndex::fileChangeCounter() const
{
    // Read through the engine's own handle: a second handle on the file
    // would drop the engine's locks when it closes.
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file || !file->pMethods)
        return std::nullopt;
    unsigned char header[28];
    if (file->pMethods->xRead(file, header, sizeof header, 0) != SQLITE_OK)
        return std::nullopt;
    // With a write-ahead log the counter does not count commits.
    if (header[18] != 1 || header[19] != 1)
        return std::nullopt;
    return quint32(header[24]) << 24 | quint32(header[25]) << 16 | quint32(header[26]) << 8 | header[27];
}

std::optional<qint64> SearchIndex::stampedCounter() const
{
    sqlite3_stmt* st = nullptr;
    const QByteArray sql =
        QStringLiteral("SELECT counter FROM main.%1 WHERE version = ?").arg(name(kStateTable)).toUtf8();
    if (sqlite3_prepare_v2(db_, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return std::nullopt;
    }
    const QByteArray version = formatVersion().toUtf8();
    sqlite3_bind_text(st, 1, version.constData(), int(version.size()), SQLITE_TRANSIENT);
    std::optional<qint64> counter;
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW)
        counter = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        throwSqliteError(db_, rc, QStringLiteral("search index"));
    return counter;
}

bool SearchIndex::inStep() const
{
    const auto stamp = stampedCounter(); // takes the read lock first
    const auto counter = fileChangeCounter();
    return stamp && counter && *stamp == qint64(*counter);
}

void SearchIndex::beginWrite()
{
    writing_ = true;
    live_ = false;
    textFilled_ = 0;
    if (!available_)
        return;
    const auto counter = fileChangeCounter();
    if (!counter)
        return;
    counterAtBegin_ = *counter;
    changesAtBegin_ = sqlite3_total_changes64(db_);
    live_ = attached_ && stampedCounter() == qint64(*counter);
}

void SearchIndex::endWrite()
{
    // A transaction that changed nothing leaves the file, and its counter,
    // as they were: nothing to stamp, and nothing to write that could fail.
    const bool stamp = writing_ && live_ && sqlite3_total_changes64(db_) != changesAtBegin_;
    writing_ = false;
    live_ = false;
    // Each commit adds one to the counter: this one leaves it one above
    // what it was at the start.
    // What the log holds was indexed as it was written.
    if (stamp) {
        exec(db_, QStringLiteral("UPDATE main.%1 SET counter = ?").arg(name(kStateTable)),
             {qint64(counterAtBegin_) + 1});
        exec(db_, QStringLiteral("DELETE FROM main.%1").arg(name(kChangeTable)));
    }
}

bool SearchIndex::intact(const std::function<bool()>& stop) const
{
    for (const Column* c : columns_) {
        if (stop && stop())
            return true;
        Statement exists(db_, QStringLiteral("SELECT 1 FROM main.sqlite_master WHERE name = ?"));
        exists.bindAll({name(c->index)});
        if (!exists.step())
            continue; // not built yet: the next open builds it
        exists.reset();
        const QByteArray sql =
            QStringLiteral("INSERT INTO main.%1(%1) VALUES('integrity-check')").arg(name(c->index)).toUtf8();
        const int rc = sqlite3_exec(db_, sql.constData(), nullptr, nullptr, nullptr);
        if (rc == SQLITE_CORRUPT_VTAB)
            return false;
        if (rc == SQLITE_INTERRUPT)
            return true;
        if (rc != SQLITE_OK)
            throwSqliteError(db_, rc, QStringLiteral("search index"));
    }
    return true;
}

bool SearchIndex::findColumns()
{
    columns_.clear();
    if (available_)
        for (const Column& c : kColumns)
            if (hasColumn(db_, c))
                columns_.push_back(&c);
    return !columns_.empty();
}

void SearchIndex::rebuild(const IndexProgress& progress)
{
    startBuild();
    qint64 total = 0;
    for (const auto& [table, columns] : byTable(columns_))
        total += rows(db_, table);
    if (progress)
        progress(0, total);
    buildSlice([&](qint64 done) {
        if (done % kProgressStep == 0 && progress)
            progress(done, total);
        return true;
    });
    mergeSlice([] { return true; });
    if (progress)
        progress(total, total);
}

void SearchIndex::startBuild()
{
    if (!findColumns())
        throw StoreError(ErrorKind::Other, QStringLiteral("nothing to index"));
    // The engine may be built to overwrite every page it frees with zeros:
    // for the old index, half the file, which would all be written at once
    // (and kept by a backup's snapshot meanwhile). Its tokens are the notes'
    // own, and the new index takes the pages over.
    const qint64 secureDelete = [&] {
        Statement st(db_, QStringLiteral("PRAGMA main.secure_delete"));
        return st.step() ? st.columnInt(0) : 0;
    }();
    exec(db_, QStringLiteral("PRAGMA main.secure_delete = FAST"));
    {
        // By name: the number 2 would set it on, not back to FAST.
        const auto restore = qScopeGuard([&] {
            const char* setting[] = {"PRAGMA main.secure_delete = OFF", "PRAGMA main.secure_delete = ON",
                                     "PRAGMA main.secure_delete = FAST"};
            sqlite3_exec(db_, setting[std::clamp<qint64>(secureDelete, 0, 2)], nullptr, nullptr, nullptr);
        });
        for (const Column& c : kColumns)
            exec(db_, QStringLiteral("DROP TABLE IF EXISTS main.%1").arg(name(c.index)));
    }
    for (const auto& [trigger, sql] : loggingTriggers(db_))
        exec(db_, QStringLiteral("DROP TRIGGER main.%1").arg(trigger));
    for (const char* table : {kStateTable, kChangeTable, kFillTable, kMergeTable})
        exec(db_, QStringLiteral("DROP TABLE IF EXISTS main.%1").arg(name(table)));
    exec(db_, QStringLiteral("CREATE TABLE main.%1(version TEXT NOT NULL, counter INTEGER NOT NULL)")
                  .arg(name(kStateTable)));
    exec(db_, QStringLiteral("INSERT INTO main.%1 VALUES(?, -1)").arg(name(kStateTable)), {formatVersion()});
    exec(db_, QStringLiteral("CREATE TABLE main.%1(col_no INTEGER, row_id INTEGER, held INTEGER, old_value, "
                             "PRIMARY KEY(col_no, row_id)) WITHOUT ROWID")
                  .arg(name(kChangeTable)));
    exec(db_,
         QStringLiteral("CREATE TABLE main.%1(tbl TEXT PRIMARY KEY, next INTEGER NOT NULL)").arg(name(kFillTable)));
    for (const auto& [table, columns] : byTable(columns_)) {
        const auto triggers = changeLog(db_, table, columns);
        for (const auto& [trigger, sql] : triggers)
            exec(db_, sql);
        // Tables without a log are filled at the end, in one go.
        if (!triggers.empty())
            exec(db_, QStringLiteral("INSERT INTO main.%1 VALUES(?, ?)").arg(name(kFillTable)),
                 {table, std::numeric_limits<qint64>::min()});
    }
    for (const Column* c : columns_) {
        // Only the tokens are kept: the text stays in the notes alone.
        exec(db_, QStringLiteral("CREATE VIRTUAL TABLE main.%1 USING zumilo_postings(%2, positions=%3)")
                      .arg(name(c->index), name(c->column))
                      .arg(int(c->positions)));
    }
    live_ = false;
}

bool SearchIndex::building() const
{
    return hasTable(db_, kFillTable);
}

bool SearchIndex::canResume()
{
    return findColumns() && building() && stampedCounter() && followsChanges();
}

bool SearchIndex::buildSlice(const std::function<bool(qint64 done)>& more)
{
    if (!findColumns() || !building())
        return true;
    std::vector<std::pair<QString, qint64>> left;
    {
        Statement st(db_, QStringLiteral("SELECT tbl, next FROM main.%1 ORDER BY tbl").arg(name(kFillTable)));
        while (st.step())
            left.emplace_back(st.column(0).toString(), st.columnInt(1));
    }
    const auto tables = byTable(columns_);
    qint64 done = 0;
    for (const auto& [table, next] : left) {
        const QString& wanted = table; // a binding a lambda can capture
        const auto t = std::find_if(tables.begin(), tables.end(),
                                    [&](const auto& entry) { return entry.first == wanted; });
        if (t == tables.end())
            throw StoreError(ErrorKind::Other, QStringLiteral("search index: unknown table %1").arg(table));
        QStringList numbers;
        for (const Column* c : t->second)
            numbers << QString::number(c - kColumns);
        const Filled f = fill(table, t->second, next, done, more);
        // The log of the rows just filled is void: they are indexed as
        // they are now. Rows not filled yet are not held by the index.
        const QString forget = QStringLiteral("DELETE FROM main.%1 WHERE col_no IN (%2) AND row_id >= ?%3")
                                   .arg(name(kChangeTable), numbers.join(QLatin1Char(',')));
        if (!f.end) {
            exec(db_, forget.arg(QStringLiteral(" AND row_id <= ?")), {next, f.last});
            exec(db_, QStringLiteral("UPDATE main.%1 SET next = ? WHERE tbl = ?").arg(name(kFillTable)),
                 {f.last + 1, table});
            return false;
        }
        exec(db_, forget.arg(QString()), {next});
        exec(db_, QStringLiteral("DELETE FROM main.%1 WHERE tbl = ?").arg(name(kFillTable)), {table});
    }
    exec(db_, QStringLiteral("DROP TABLE main.%1").arg(name(kFillTable)));
    // Otherwise left out of step, for a build afresh.
    if (logKnown())
        applyChanges({});
    exec(db_, QStringLiteral("CREATE TABLE main.%1(x)").arg(name(kMergeTable)));
    return true;
}

bool SearchIndex::merging() const
{
    // Saves keep their changes beside the blocks, where every search reads
    // them: past a few, an open or a commit has them written into the
    // blocks, all of them once begun.
    return hasTable(db_, kMergeTable) || keptAtLeast(kKeptToMerge);
}

bool SearchIndex::keptAtLeast(qint64 n) const
{
    for (const Column* c : columns_) {
        const QByteArray kept = QByteArray(c->index) + "_kept";
        if (!hasTable(db_, kept.constData()))
            continue;
        Statement st(
            db_, QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM main.%1 LIMIT ?)").arg(name(kept.constData())));
        st.bindAll({n});
        st.step();
        const qint64 count = st.columnInt(0);
        st.reset();
        if (count >= n)
            return true;
    }
    return false;
}

bool SearchIndex::mergeSlice(const std::function<bool()>& more)
{
    if (!findColumns() || !(hasTable(db_, kMergeTable) || keptAtLeast(1)))
        return true;
    // Merging changes how the index holds its tokens, not which: an index
    // in step stays so.
    if (writing_ && !live_ && inStep())
        live_ = true;
    // Each step writes some kept changes into the blocks; a step that
    // changes no more than one row found nothing left to merge.
    std::vector<const Column*> left = columns_;
    while (!left.empty()) {
        if (!more())
            return false;
        const Column* c = left.front();
        const qint64 before = sqlite3_total_changes64(db_);
        exec(db_,
             QStringLiteral("INSERT INTO main.%1(%1, rank) VALUES('merge', %2)").arg(name(c->index)).arg(-kMergePages));
        if (sqlite3_total_changes64(db_) - before < 2)
            left.erase(left.begin());
    }
    exec(db_, QStringLiteral("DROP TABLE IF EXISTS main.%1").arg(name(kMergeTable)));
    return true;
}

// One pass over a table fills all of its indexes, by number from `from`.
SearchIndex::Filled SearchIndex::fill(const QString& table, const std::vector<const Column*>& columns, qint64 from,
                                      qint64& done, const std::function<bool(qint64 done)>& more)
{
    QStringList list;
    std::vector<Statement> inserts;
    for (const Column* c : columns) {
        list << name(c->column);
        inserts.emplace_back(
            db_, QStringLiteral("INSERT INTO main.%1(rowid, %2) VALUES(?, ?)").arg(name(c->index), name(c->column)));
    }
    Statement rows(db_, QStringLiteral("SELECT rowid, %1 FROM main.%2 WHERE rowid >= ? ORDER BY rowid")
                            .arg(list.join(QLatin1Char(',')), table));
    sqlite3_bind_int64(rows.get(), 1, from);
    Filled f;
    while (rows.step()) {
        f.last = sqlite3_column_int64(rows.get(), 0);
        for (size_t i = 0; i < inserts.size(); ++i) {
            sqlite3_stmt* in = inserts[i].get();
            sqlite3_bind_int64(in, 1, f.last);
            sqlite3_bind_value(in, 2, sqlite3_column_value(rows.get(), int(i) + 1));
            textFilled_ += sqlite3_column_bytes(rows.get(), int(i) + 1);
            inserts[i].step();
            inserts[i].reset();
        }
        if (!more(++done) && f.last < std::numeric_limits<qint64>::max())
            return f;
    }
    f.end = true;
    return f;
}

bool SearchIndex::followsChanges() const
{
    // Every trigger as this build makes it, and no other: a trigger
    // dropped or changed meanwhile may have missed changes.
    std::vector<std::pair<QString, QString>> expected;
    for (const auto& [table, columns] : byTable(columns_)) {
        const auto triggers = changeLog(db_, table, columns);
        expected.insert(expected.end(), triggers.begin(), triggers.end());
    }
    std::sort(expected.begin(), expected.end());
    return hasTable(db_, kChangeTable) && loggingTriggers(db_) == expected;
}

bool SearchIndex::canCatchUp()
{
    return findColumns() && !building() && stampedCounter() && followsChanges() && logKnown();
}

bool SearchIndex::catchUp(const IndexProgress& progress, const std::function<bool(qint64 done)>& more)
{
    return canCatchUp() && applyChanges(progress, more);
}

bool SearchIndex::catchUpSlice(const std::function<bool(qint64 done)>& more)
{
    return applyChanges({}, more);
}

qint64 SearchIndex::loggedChanges(qint64 atMost) const
{
    if (!hasTable(db_, kChangeTable))
        return 0;
    Statement count(db_,
                    QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM main.%1 LIMIT ?)").arg(name(kChangeTable)));
    count.bindAll({atMost + 1});
    count.step();
    const qint64 n = count.columnInt(0);
    count.reset();
    return n;
}

bool SearchIndex::logKnown() const
{
    // A step through the log's key per column it names, rather than a read
    // of every change: the log may hold a hundred thousand.
    std::vector<bool> known(std::size(kColumns));
    for (const Column* c : columns_)
        known[size_t(c - kColumns)] = true;
    const QString step =
        QStringLiteral("SELECT col_no FROM main.%1 %2 ORDER BY col_no LIMIT 1").arg(name(kChangeTable));
    Statement first(db_, step.arg(QString())), next(db_, step.arg(QStringLiteral("WHERE col_no > ?")));
    for (Statement* st = &first; st->step(); st = &next) {
        // A fraction, text or a blob names no column.
        if (sqlite3_column_type(st->get(), 0) != SQLITE_INTEGER)
            return false;
        const qint64 n = sqlite3_column_int64(st->get(), 0);
        st->reset();
        if (n < 0 || n >= qint64(known.size()) || !known[size_t(n)])
            return false;
        next.bindAll({n});
    }
    return true;
}

bool SearchIndex::applyChanges(const IndexProgress& progress, const std::function<bool(qint64 done)>& more)
{
    const auto tables = byTable(columns_);
    // Tables without a log (their rows may have been renumbered) are
    // filled again: categories, a few hundred rows.
    std::vector<const std::pair<QString, std::vector<const Column*>>*> refill;
    for (const auto& t : tables)
        if (changeLog(db_, t.first, t.second).empty())
            refill.push_back(&t);
    // Counting reads the whole log: only for someone told.
    qint64 total = 0;
    if (progress) {
        total = rows(db_, name(kChangeTable));
        for (const auto* t : refill)
            total += rows(db_, t->first);
        progress(0, total);
    }
    qint64 done = 0;
    std::vector<Statement> removes(std::size(kColumns)), adds(std::size(kColumns));
    for (const Column* c : columns_) {
        const auto n = c - kColumns;
        removes[n] = Statement(db_, QStringLiteral("INSERT INTO main.%1(%1, rowid, %2) VALUES('delete', ?, ?)")
                                        .arg(name(c->index), name(c->column)));
        adds[n] = Statement(db_, QStringLiteral(
                                     "INSERT INTO main.%1(rowid, %2) SELECT rowid, %2 FROM main.%3 WHERE rowid = ?")
                                     .arg(name(c->index), name(c->column), name(c->table)));
    }
    Statement changes(db_, QStringLiteral("SELECT col_no, row_id, held, old_value FROM main.%1 ORDER BY col_no, row_id")
                               .arg(name(kChangeTable)));
    while (changes.step()) {
        // Asked once a pass in the background: a change another program
        // put in the log since is not indexed by guess.
        const bool number = sqlite3_column_type(changes.get(), 0) == SQLITE_INTEGER;
        const auto n = size_t(changes.columnInt(0));
        if (!number || n >= adds.size() || !adds[n].get())
            throw StoreError(ErrorKind::Other, QStringLiteral("search index: unknown column in its log"));
        sqlite3_stmt* row = changes.get();
        const qint64 rowId = sqlite3_column_int64(row, 1);
        if (changes.columnInt(2)) {
            sqlite3_bind_int64(removes[n].get(), 1, rowId);
            sqlite3_bind_value(removes[n].get(), 2, sqlite3_column_value(row, 3));
            removes[n].step();
            removes[n].reset();
        }
        sqlite3_bind_int64(adds[n].get(), 1, rowId);
        adds[n].step();
        adds[n].reset();
        if (++done % kCatchUpStep == 0 && progress)
            progress(done, total);
        if (more && !more(done)) {
            // The changes done so far leave the log; the index stays out
            // of step until the last of them is done.
            changes.reset();
            exec(db_, QStringLiteral("DELETE FROM main.%1 WHERE (col_no, row_id) <= (?, ?)").arg(name(kChangeTable)),
                 {qint64(n), rowId});
            return false;
        }
    }
    exec(db_, QStringLiteral("DELETE FROM main.%1").arg(name(kChangeTable)));
    for (const auto* t : refill) {
        for (const Column* c : t->second)
            exec(db_, QStringLiteral("INSERT INTO main.%1(%1) VALUES('delete-all')").arg(name(c->index)));
        fill(t->first, t->second, std::numeric_limits<qint64>::min(), done, [&](qint64 filled) {
            if (filled % kCatchUpStep == 0 && progress)
                progress(filled, total);
            return true;
        });
    }
    // Counts as a change even when none was logged (a VACUUM, say), so
    // that the commit is stamped.
    exec(db_, QStringLiteral("UPDATE main.%1 SET counter = -1").arg(name(kStateTable)));
    if (progress)
        progress(total, total);
    live_ = true;
    return true;
}

void SearchIndex::attach(bool writable)
{
    attached_ = true;
    if (!writable)
        return;
    // A row replaced by INSERT OR REPLACE leaves the index too.
    exec(db_, QStringLiteral("PRAGMA recursive_triggers = ON"));
    // Temporary: another program writing the tables never needs our
    // tokenizer, and no write outside this connection's transactions
    // (see live()) touches the index.
    auto trigger = [&](const QString& sql) { exec(db_, QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS ") + sql); };
    const QString when = QStringLiteral(" WHEN %1()").arg(name(kLiveFunction));
    auto insertNew = [](const Column* c) {
        return QStringLiteral("INSERT INTO %1(rowid, %2) VALUES(new.rowid, new.%2);")
            .arg(name(c->index), name(c->column));
    };
    auto deleteOld = [](const Column* c) {
        return QStringLiteral("INSERT INTO %1(%1, rowid, %2) VALUES('delete', old.rowid, old.%2);")
            .arg(name(c->index), name(c->column));
    };
    for (const char* table : {"T_idea", "T_bunrui"}) {
        QString inserts, deletes;
        for (const Column* c : columns_) {
            if (qstrcmp(c->table, table) != 0)
                continue;
            inserts += insertNew(c);
            deletes += deleteOld(c);
            trigger(
                QStringLiteral("%1_update AFTER UPDATE ON main.%2%3 AND (old.rowid IS NOT new.rowid OR old.%4 IS NOT "
                               "new.%4) BEGIN %5 %6 END")
                    .arg(name(c->index), name(table), when, name(c->column), deleteOld(c), insertNew(c)));
        }
        if (inserts.isEmpty())
            continue;
        const QString prefix = QStringLiteral("zumilo_%1").arg(name(table).toLower());
        trigger(
            QStringLiteral("%1_insert AFTER INSERT ON main.%2%3 BEGIN %4 END").arg(prefix, name(table), when, inserts));
        trigger(
            QStringLiteral("%1_delete AFTER DELETE ON main.%2%3 BEGIN %4 END").arg(prefix, name(table), when, deletes));
    }
}

std::optional<qint64> SearchIndex::rowCount(const QString& table) const
{
    const auto c = std::find_if(columns_.begin(), columns_.end(), [&](const Column* column) {
        return table.compare(name(column->table), Qt::CaseInsensitive) == 0;
    });
    if (!attached_ || c == columns_.end())
        return std::nullopt;
    try {
        Statement st(db_, QStringLiteral("SELECT rows FROM main.%1_state").arg(name((*c)->index)));
        if (st.step() && sqlite3_column_type(st.get(), 0) == SQLITE_INTEGER) {
            const qint64 n = st.columnInt(0);
            st.reset();
            return n;
        }
    } catch (const StoreError& e) {
        if (e.kind() == ErrorKind::Busy)
            throw;
    }
    return std::nullopt;
}

std::optional<IndexedWhere> SearchIndex::narrow(const QString& table,
                                                const std::vector<Query::Condition>& conditions) const
{
    if (!attached_ || conditions.empty())
        return std::nullopt;
    IndexedWhere out;
    QStringList where, keys;
    bool allExact = true;
    for (const Query::Condition& condition : conditions) {
        const Column* indexed = nullptr;
        if (!condition.likeColumn.isEmpty())
            for (const Column* c : columns_)
                if (table.compare(name(c->table), Qt::CaseInsensitive) == 0
                    && condition.likeColumn.compare(name(c->column), Qt::CaseInsensitive) == 0)
                    indexed = c;
        QStringList runs;
        bool exact = false;
        if (indexed) {
            // The pattern as bound: text goes to the engine as UTF-8, where
            // a lone surrogate reads as '?'.
            const LikeRuns r = likeRuns(QString::fromUtf8(condition.params.value(0).toString().toUtf8()));
            exact = r.exact;
            for (const std::u32string& run : r.runs) {
                if (run.find(U'\0') != std::u32string::npos)
                    break;
                exact = exact && run.size() <= (indexed->positions ? kLongestPhrase : 2);
                runs << QString::fromUcs4(run.data(), qsizetype(std::min(run.size(), kLongestPhrase)));
            }
            if (runs.size() != qsizetype(r.runs.size()))
                runs.clear();
        }
        if (runs.isEmpty()) {
            allExact = false;
            where << condition.sql;
            out.params += condition.params;
            continue;
        }
        const QString lookup = QStringLiteral("SELECT rowid FROM main.%1 WHERE %1 MATCH ?").arg(name(indexed->index));
        const QString match = runs.join(QChar(0));
        where << QStringLiteral("rowid IN (%1)").arg(lookup)
                     + (exact ? QString() : QStringLiteral(" AND ") + condition.sql);
        out.params << match;
        if (!exact)
            out.params += condition.params;
        keys << lookup;
        out.keyParams << match;
        allExact = allExact && exact;
    }
    if (keys.isEmpty())
        return std::nullopt;
    out.where = where.join(QStringLiteral(" AND "));
    // Conditions the index answers exactly, and nothing else.
    if (allExact) {
        out.keys = keys.join(QStringLiteral(" INTERSECT "));
        out.oneLookup = keys.size() == 1;
    } else {
        out.keyParams.clear();
    }
    return out;
}

} // namespace zumilo::store::detail
