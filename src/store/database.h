#pragma once

#include "searchindex.h"
#include "views.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include "filestate.h"
#include <memory>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zumilo::store {

class Recordset;
namespace detail {
class Keyset;
struct Query;
// Tells `trace` the text of every statement the store's connections run
// (as prepared: bound values are not in it), from any thread; empty: none.
// Connections opened from then on are traced.
void setStatementTrace(std::function<void(const QString& sql)> trace);
} // namespace detail

enum class RecordsetType {
    Default = 0, // table for a table name, dynaset for a SELECT
    Table = 1,
    Dynaset = 2,  // updatable, rows read on demand
    Snapshot = 4, // read-only
};

// Option of execute(): a failing statement changes nothing and throws.
constexpr int FailOnError = 128;

// One connection to a database file. Every window opens its own; several
// connections to one file in one process work side by side. All methods
// throw StoreError.
class Database : public std::enable_shared_from_this<Database> {
public:
    // Opens an existing file, shared and read-write (read-only files open
    // read-only; writes then fail with ErrorKind::ReadOnly). Fails on a
    // missing file, an empty file, and anything that is not SQLite; on a
    // damaged file (Damaged); and on a file whose notes or categories
    // tables the program cannot use (see checkZumiloColumns/Values). The
    // pages of a file are checked once per run, not here but on a thread
    // of their own (see passPageCheck()); nothing is written to the file
    // before they have passed, and then its backup starts (see backup.h).
    // A search index out of step with the file catches up
    // with the notes other programs changed, or is rebuilt when the file
    // does not tell which (see rebuildSearchIndex()), telling `progress`
    // how far it has got; more changes than the open indexes of a build
    // are caught up in the background, as the rest of a build is.
    static std::shared_ptr<Database> open(const QString& path, const IndexProgress& progress = {});
    // Creates a new empty database file; fails when the file exists or the
    // folder cannot be written. Marks it with the application id.
    static std::shared_ptr<Database> create(const QString& path);

    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void close();
    bool isOpen() const;
    QString path() const;
    bool isReadOnly() const;

    // Names of all tables, system tables included, in creation order.
    QStringList tableNames() const;

    // DDL, INSERT, UPDATE, DELETE, and SELECT ... INTO [Text;database=D].F
    // (writes a CSV file). Runs in one transaction: all or nothing.
    void execute(const QString& sql, int options = 0);
    // A statement with positional parameters bound to values (? marks).
    void execute(const QString& sql, const QVariantList& params);
    // First column of the first row, or a null QVariant.
    QVariant scalar(const QString& sql, const QVariantList& params = {});
    // Called every few hundred rows while a SELECT ... INTO writes its file,
    // with the rows written so far; returning false stops the export
    // (ErrorKind::Cancelled) and leaves no file. Empty: none.
    void setExportProgress(std::function<bool(qint64 rows)> progress);
    // Rows changed by the last execute().
    int changes() const;

    // A table name or a SELECT statement.
    std::unique_ptr<Recordset> openRecordset(const QString& source, RecordsetType type = RecordsetType::Default);
    // A SELECT whose WHERE clause has ? marks, bound to `params` every time
    // the rows are read: "select * from T_idea where bunID = ?", {number}.
    std::unique_ptr<Recordset> openRecordset(const QString& select, const QVariantList& params,
                                             RecordsetType type = RecordsetType::Default);
    std::unique_ptr<Recordset> openRecordset(const detail::Query& query, RecordsetType type);

    // The rows of a view, in its order; over a keyset like any table's set.
    std::unique_ptr<Recordset> openView(const NoteView& view, RecordsetType type = RecordsetType::Default);
    std::unique_ptr<Recordset> openView(const CategoryView& view, RecordsetType type = RecordsetType::Default);
    // How many notes the view lists.
    qint64 count(const NoteView& view);
    // Writes the view's rows to the new text file `fileName` in `folder`,
    // as SELECT ... INTO [Text;database=folder].[fileName] does.
    void exportText(const NoteView& view, const QString& folder, const QString& fileName);

    // Runs `work` inside BEGIN IMMEDIATE ... COMMIT; rolls back and
    // rethrows when it throws or the commit fails, and then recordsets that
    // changed rows inside it are as they were before. Nested calls join the
    // outer transaction.
    void transaction(const std::function<void()>& work);

    // Builds the search index of the notes' titles, bodies and category
    // names afresh. The program's own writes keep it in step; a file
    // written by another program is searched by reading every row until
    // the index has caught up, which open() does.
    void rebuildSearchIndex(const IndexProgress& progress = {});
    // The same in the background, as a file whose index must be built
    // afresh opens: this empties the index in a short write, and searches
    // read every row until the build is done (see searchIndexBuilding()).
    void repairSearchIndex();
    // True when searches go through the index.
    bool searchIndexInStep();
    // True while the index is being built in the background: searches read
    // every row meanwhile, and writes go on as ever.
    bool searchIndexBuilding() const;

    // Waits for the check of the pages of a file opened in this run,
    // starting it unless it runs or has run (the window does once the file
    // is shown, and any write waits for it); throws Damaged when it found
    // damage.
    static void passPageCheck(const QString& path);
    // Called on the thread of a write that waits for the pages' check,
    // every tenth of a second (true) and once when it is over (false); the
    // windows say why nothing happens meanwhile.
    static void setWaitNotice(std::function<void(bool waiting)> notice);

    // What a thorough look at a file found; for a thread of its own, once
    // the file is open and shown.
    enum class Health { Sound, IndexDamaged, Damaged, Unchecked };
    // Waits for the pages' check (Damaged when it found damage), then runs
    // the integrity check of the search index on a
    // connection of its own. IndexDamaged: the notes are sound as far as
    // the engine can tell, and repairSearchIndex() repairs the index.
    // Damaged: the file's pages are damaged, and it is not written again in
    // this run. Files that cannot be written are not looked at. The check
    // holds the file's write lock, so a write by this program stops it at
    // once: Unchecked, to be tried again later.
    static Health checkThoroughly(const QString& path);

    // "Today", for date text such as 12/24 that names no year.
    void setTodayProvider(std::function<QDate()> provider);
    QDate today() const;

    // How long to wait for another connection's lock before failing with
    // ErrorKind::Busy (3000 ms unless set).
    void setBusyTimeout(int milliseconds);

    // Tables of more rows than this have their rows' numbers read partly on
    // another thread: a set over the whole table shows its first rows at
    // once, and a search of twenty times as many rows reads half of what
    // it finds meanwhile (10,000 unless set).
    void setManyRows(qint64 rows) { manyRows_ = rows; }

    sqlite3* handle() const { return db_; }

    // File identity written at creation (PRAGMA application_id/user_version).
    static constexpr int ApplicationId = 0x5A4D4431; // "ZMD1"
    static constexpr int SchemaVersion = 1;

private:
    friend class Recordset;
    friend class detail::Keyset;
    explicit Database(sqlite3* db, QString path);
    void configure();
    void useRollbackJournal();
    void attachFile();
    void checkFile();
    void ensureOpen() const;
    // Before taking the write lock: refuses a file found damaged, and waits
    // for the check of its pages.
    void beforeWrite();
    static const std::function<void(bool)>& waitNotice();
    // A read-only connection of its own to the file, for reading on another
    // thread; nullptr when there is none to be had.
    sqlite3* openReader() const;
    // Undoes a recordset's changes when transaction() rolls back.
    void onRollback(const void* owner, std::function<void()> undo);
    void forgetRollback(const void* owner);
    // Runs one statement, inside its own short write transaction unless one
    // is open. Returns the rows changed; `lastRowid` receives the first
    // value the statement returns, or else the rowid of the row inserted.
    int run(const QString& sql, const QVariantList& params, qint64* lastRowid = nullptr);
    void exportText(const QString& sql, const QString& intoClause);
    void attachSearchIndex(const IndexProgress& progress);
    // Runs `work` under the file's read lock (unless a transaction holds it
    // already), telling it whether the index may be used meanwhile.
    void withSearchIndex(const std::function<void(bool inStep)>& work);
    void beginWrite();
    void commitWrite();
    // Saves have kept enough changes beside the index for the background
    // to merge them (see indexbuild.h), as an open would; checked every
    // few dozen rows written.
    bool keptToMerge();
    void rollbackWrite();

    std::vector<Recordset*> recordsets_; // told when the connection closes
    int changes_ = 0;

    static int refuseLoneCommit(void* database);

    sqlite3* db_ = nullptr;
    // Retried every few milliseconds, not in the engine's growing sleeps: a
    // save behind a slice of a background build gets the file when it ends.
    detail::Patience busy_;
    QString path_;
    std::function<QDate()> today_;
    std::function<bool(qint64)> exportProgress_;
    int transactionDepth_ = 0;
    qint64 manyRows_ = 10000;
    std::vector<std::pair<const void*, std::function<void()>>> rollbackActions_;
    detail::FileIdentity file_; // empty until the file is attached
    std::unique_ptr<detail::SearchIndex> index_;
    bool buildIndex_ = false;         // open() starts the index's build
    bool mergeIndex_ = false;         // or the merge of its kept changes
    qint64 changesAtKeptCount_ = 0;   // the connection's rows written then
    bool leaveLogAfterCheck_ = false; // a write-ahead log the page check must pass first
};

// Raises the StoreError that matches an SQLite result code.
[[noreturn]] void throwSqliteError(sqlite3* db, int rc, const QString& context = {});

} // namespace zumilo::store
