#include "database.h"
#include "writing.h"

#include "backup.h"
#include "columntype.h"
#include "datetext.h"
#include "error.h"
#include "indexbuild.h"
#include "jetlike.h"
#include "jetsql.h"
#include "query.h"
#include "recordset.h"
#include "schema.h"
#include "snapshot.h"
#include "sqltokens.h"
#include "statement.h"
#include "textfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <atomic>
#include <cstring>
#include <mutex>
#include <sqlite3.h>

namespace zumilo::store {

using detail::Statement;

namespace {

constexpr int DefaultBusyTimeoutMs = 3000;
// How long the open merges the segments of an index it has just built
// before it leaves the rest to the background.
constexpr qint64 kOpenMergeMs = 150;
// Text the open indexes of a build at most: about a fifth of a second.
constexpr qint64 kOpenSliceBytes = 512 << 10;
// Rows written between two counts of the changes saves kept beside the
// index: a count is a few small reads, and a few dozen rows are a few saves.
constexpr qint64 kChangesPerKeptCount = 32;
// A connection belongs to the thread of its window: no lock around each
// call into the engine, which costs a tenth of reading a long keyset.
constexpr int OneThread = SQLITE_OPEN_NOMUTEX;

std::mutex traceMutex;
std::function<void(const QString&)> traceHook;

int traced(unsigned, void*, void*, void* text)
{
    const std::lock_guard lock(traceMutex);
    if (traceHook)
        traceHook(QString::fromUtf8(static_cast<const char*>(text)));
    return 0;
}

void traceStatements(sqlite3* db)
{
    const std::lock_guard lock(traceMutex);
    if (traceHook)
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT, traced, nullptr);
}

void exec(sqlite3* db, const QString& sql)
{
    Statement st(db, sql);
    while (st.step()) {
    }
}

void rollbackQuietly(sqlite3* db)
{
    if (db && !sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

QByteArray fileName(const QString& path)
{
    return QFile::encodeName(path);
}

bool hasWriteBits(const QFileInfo& info)
{
    return info.permissions() & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther);
}

QString firstWord(const QString& sql)
{
    const auto tokens = detail::tokenize(sql);
    if (tokens.empty() || tokens.front().type != detail::TokenType::Word)
        return {};
    return detail::tokenText(sql, tokens.front()).toString().toLower();
}

} // namespace

Database::Database(sqlite3* db, QString path)
    : db_(db), path_(std::move(path)), today_([] { return QDate::currentDate(); })
{
}

Database::~Database()
{
    close();
}

std::shared_ptr<Database> Database::open(const QString& path, const IndexProgress& progress)
{
    const QFileInfo info(path);
    if (path.isEmpty() || path.contains(QChar(0)))
        throw StoreError(ErrorKind::CannotOpen, QStringLiteral("no usable file name: %1").arg(path));
    if (!info.exists())
        throw StoreError(info.isSymLink() ? ErrorKind::CannotOpen : ErrorKind::FileNotFound, path);
    if (!info.isFile() || !info.isReadable())
        throw StoreError(ErrorKind::CannotOpen, path);
    // SQLite would take an empty file for a new database.
    if (info.size() == 0)
        throw StoreError(ErrorKind::NotADatabase, QStringLiteral("empty file: %1").arg(path));

    // A file marked read-only stays read-only even for an administrator,
    // and a folder that takes no journal allows no writes either. A backup
    // opened to look at it stays as it was taken.
    const bool readOnly = !info.isWritable() || !hasWriteBits(info) || !QFileInfo(info.absolutePath()).isWritable()
                          || detail::isBackupFile(path);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(fileName(path).constData(), &db,
                                   (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | OneThread,
                                   detail::writingVfs());
    if (rc != SQLITE_OK) {
        const QString message = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
        sqlite3_close_v2(db);
        detail::throwSqlite(rc, message, path);
    }
    std::shared_ptr<Database> database(new Database(db, path));
    try {
        database->configure();
        database->attachFile();
        database->checkFile();
    } catch (...) {
        database->close();
        throw;
    }
    try {
        database->attachSearchIndex(progress);
    } catch (const StoreError& e) {
        // Damaged pages a catch-up met are the file's; otherwise searches
        // read every row, as they do without an index.
        if (e.kind() == ErrorKind::Damaged) {
            database->close();
            throw;
        }
    }
    if (database->buildIndex_ || database->mergeIndex_)
        detail::startIndexBuild(database->file_.path, database->buildIndex_);
    return database;
}

std::shared_ptr<Database> Database::create(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || path.contains(QChar(0)) || info.fileName().isEmpty())
        throw StoreError(ErrorKind::CannotOpen, QStringLiteral("no usable file name: %1").arg(path));
    if (info.exists() || info.isSymLink())
        throw StoreError(ErrorKind::FileExists, path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        throw StoreError(ErrorKind::CannotOpen, QStringLiteral("no such folder: %1").arg(folder.filePath()));
    if (!folder.isWritable() || !hasWriteBits(folder))
        throw StoreError(ErrorKind::ReadOnly, QStringLiteral("folder cannot be written: %1").arg(folder.filePath()));

    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(fileName(path).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | OneThread, detail::writingVfs());
    auto discard = [&] {
        QFile::remove(path);
        QFile::remove(path + QStringLiteral("-journal"));
    };
    if (rc != SQLITE_OK) {
        const QString message = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
        sqlite3_close_v2(db);
        discard();
        detail::throwSqlite(rc, message, path);
    }
    std::shared_ptr<Database> database(new Database(db, path));
    try {
        database->configure();
        database->attachFile();
        detail::noteChecked(database->file_);
        exec(db, QStringLiteral("PRAGMA application_id = %1").arg(ApplicationId));
        exec(db, QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion));
    } catch (...) {
        database->close();
        discard();
        throw;
    }
    return database;
}

void detail::setStatementTrace(std::function<void(const QString&)> trace)
{
    const std::lock_guard lock(traceMutex);
    traceHook = std::move(trace);
}

int Database::refuseLoneCommit(void* database)
{
    // Inside a transaction of ours only its COMMIT commits: the engine ends
    // a transaction itself on some failed reads, and a statement run after
    // that would commit on its own, leaving the rest of the save undone.
    return static_cast<const Database*>(database)->transactionDepth_ > 0;
}

void Database::configure()
{
    traceStatements(db_);
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_commit_hook(db_, refuseLoneCommit, this);
    setBusyTimeout(DefaultBusyTimeoutMs);
    // Reading the schema is what tells a database from other bytes. Bytes
    // that begin like a database but cannot be read are a damaged one (a
    // truncated file, say).
    const int rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if ((rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(db_));
        if (!detail::hasDatabaseHeader(db_))
            throw StoreError(ErrorKind::NotADatabase, message);
        detail::noteDamaged(path_);
        throw StoreError(ErrorKind::Damaged, message, path_);
    }
    if (rc != SQLITE_OK)
        throwSqliteError(db_, rc, path_);
    // Leaving a write-ahead log writes its pages into the file and changes
    // the file's header: not before the pages have passed their check
    // (see checkFile()), and until then this connection's close does not
    // write them either.
    const QByteArray header = detail::fileStart(db_, 20);
    leaveLogAfterCheck_ = header.size() == 20 && header[18] == 2 && header[19] == 2 && !isReadOnly()
                          && !detail::isChecked(detail::identify(path_));
    if (leaveLogAfterCheck_)
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    else
        useRollbackJournal();
    exec(db_, QStringLiteral("PRAGMA synchronous=FULL"));
    // Without Jet's like every search would find nothing, silently.
    if (const int likeRc = registerJetLike(db_); likeRc != SQLITE_OK)
        throwSqliteError(db_, likeRc, path_);
    index_ = std::make_unique<detail::SearchIndex>(db_);
}

void Database::useRollbackJournal()
{
    // One self-contained file whenever no write is in progress, and a write
    // reported done is on the disk.
    try {
        exec(db_, QStringLiteral("PRAGMA journal_mode=DELETE"));
    } catch (const StoreError&) {
        if (!isReadOnly())
            throw;
    }
}

void Database::attachFile()
{
    file_ = detail::identify(path_);
    detail::noteOpened(file_.path);
}

void Database::checkFile()
{
    if (detail::isKnownDamaged(path_))
        throw StoreError(ErrorKind::Damaged, QStringLiteral("found damaged before"), path_);
    checkZumiloColumns(*this);
    checkZumiloValues(*this);
    std::function<void()> backUp;
    if (!isReadOnly() && hasZumiloTables(*this))
        backUp = [path = file_.path] { detail::startBackup(path); };
    if (leaveLogAfterCheck_) {
        // The backup's snapshot reads no write-ahead log: it follows the
        // change of mode, which waits for the check.
        detail::expectPageCheck(file_, path_, {});
        detail::passPageCheck(file_, waitNotice());
        useRollbackJournal();
        leaveLogAfterCheck_ = false;
    } else if (!detail::isChecked(file_)) {
        return detail::expectPageCheck(file_, path_, std::move(backUp));
    }
    if (backUp)
        backUp();
}

void Database::close()
{
    for (Recordset* rs : recordsets_)
        rs->databaseClosed();
    recordsets_.clear();
    rollbackActions_.clear();
    if (db_) {
        rollbackQuietly(db_);
        // Not called into an object gone, should the engine keep the
        // connection for a statement not finalized.
        sqlite3_busy_handler(db_, nullptr, nullptr);
        sqlite3_commit_hook(db_, nullptr, nullptr);
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    if (!file_.path.isEmpty()) {
        detail::noteClosed(file_.path);
        // Goes on at the next open.
        if (detail::openConnections(file_.path) == 0)
            detail::stopIndexBuild(file_.path);
        file_ = {};
    }
    index_.reset();
    transactionDepth_ = 0;
}

bool Database::isOpen() const
{
    return db_ != nullptr;
}

QString Database::path() const
{
    return path_;
}

bool Database::isReadOnly() const
{
    return db_ && sqlite3_db_readonly(db_, "main") == 1;
}

void Database::ensureOpen() const
{
    if (!db_)
        throw StoreError(ErrorKind::Other, QStringLiteral("the database is closed"));
}

QStringList Database::tableNames() const
{
    ensureOpen();
    Statement st(db_, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid"));
    QStringList names;
    while (st.step())
        names << st.column(0).toString();
    return names;
}

int Database::run(const QString& sql, const QVariantList& params, qint64* lastRowid)
{
    ensureOpen();
    Statement st(db_, sql);
    if (st.hasTrailingText())
        throw StoreError(ErrorKind::Syntax, QStringLiteral("one statement at a time: %1").arg(sql));
    st.bindAll(params);
    // BEGIN IMMEDIATE takes the write lock up front, so two connections
    // never each hold a read lock while waiting for the other to let go.
    const bool own = sqlite3_get_autocommit(db_) && !sqlite3_stmt_readonly(st.get());
    if (own)
        beginWrite();
    try {
        const sqlite3_int64 before = sqlite3_total_changes64(db_);
        bool returned = false;
        while (st.step()) {
            if (lastRowid && !returned)
                *lastRowid = st.columnInt(0);
            returned = true;
        }
        const int changed = int(sqlite3_total_changes64(db_) - before);
        if (lastRowid && !returned)
            *lastRowid = sqlite3_last_insert_rowid(db_);
        st.finalize();
        if (own)
            commitWrite();
        return changed;
    } catch (...) {
        if (own)
            rollbackWrite();
        throw;
    }
}

void Database::execute(const QString& sql, int options)
{
    Q_UNUSED(options); // every statement is all or nothing and throws on failure
    ensureOpen();
    const QString s = detail::withoutTerminator(sql).trimmed();
    const QString verb = firstWord(s);
    changes_ = 0;
    if (verb == QLatin1String("select")) {
        const auto parts = parseSelect(s);
        if (parts && !parts->into.isEmpty()) {
            exportText(s, parts->into);
            return;
        }
    }
    if (verb == QLatin1String("create") || verb == QLatin1String("alter"))
        changes_ = run(rewriteJetDdl(s), {});
    else
        changes_ = run(s, {});
}

void Database::execute(const QString& sql, const QVariantList& params)
{
    ensureOpen();
    const QString s = detail::withoutTerminator(sql).trimmed();
    const QString verb = firstWord(s);
    changes_ = 0;
    changes_ = run(verb == QLatin1String("create") || verb == QLatin1String("alter") ? rewriteJetDdl(s) : s, params);
}

QVariant Database::scalar(const QString& sql, const QVariantList& params)
{
    ensureOpen();
    Statement st(db_, detail::withoutTerminator(sql));
    st.bindAll(params);
    if (!st.step())
        return {};
    return st.column(0);
}

int Database::changes() const
{
    return changes_;
}

std::unique_ptr<Recordset> Database::openRecordset(const QString& source, RecordsetType type)
{
    return openRecordset(source, QVariantList(), type);
}

std::unique_ptr<Recordset> Database::openRecordset(const QString& select, const QVariantList& params,
                                                   RecordsetType type)
{
    ensureOpen();
    return std::unique_ptr<Recordset>(new Recordset(shared_from_this(), select, params, type));
}

namespace {
thread_local int writesOnThisThread = 0;
} // namespace

bool writingOnThisThread()
{
    return writesOnThisThread > 0;
}

std::unique_ptr<Recordset> Database::openRecordset(const detail::Query& query, RecordsetType type)
{
    ensureOpen();
    return std::unique_ptr<Recordset>(new Recordset(shared_from_this(), query, type));
}

std::unique_ptr<Recordset> Database::openView(const NoteView& view, RecordsetType type)
{
    return openRecordset(detail::query(view), type);
}

std::unique_ptr<Recordset> Database::openView(const CategoryView& view, RecordsetType type)
{
    return openRecordset(detail::query(view), type);
}

qint64 Database::count(const NoteView& view)
{
    detail::Query q = detail::query(view);
    q.fields = QStringList{QStringLiteral("count(*)")};
    q.orderBy.clear();
    const QString where = q.where();
    return scalar(QStringLiteral("SELECT count(*) FROM ") + q.from()
                      + (where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where),
                  q.params())
        .toLongLong();
}

void Database::transaction(const std::function<void()>& work)
{
    ensureOpen();
    if (transactionDepth_ > 0 || !sqlite3_get_autocommit(db_)) {
        ++transactionDepth_;
        try {
            work();
        } catch (...) {
            --transactionDepth_;
            throw;
        }
        --transactionDepth_;
        return;
    }
    beginWrite();
    transactionDepth_ = 1;
    ++writesOnThisThread;
    try {
        work();
        transactionDepth_ = 0;
        if (db_)
            commitWrite();
        --writesOnThisThread;
        rollbackActions_.clear();
    } catch (...) {
        transactionDepth_ = 0;
        --writesOnThisThread;
        rollbackWrite();
        // Recordsets changed inside go back to how they were.
        auto undo = std::move(rollbackActions_);
        rollbackActions_.clear();
        for (auto it = undo.rbegin(); it != undo.rend(); ++it)
            it->second();
        throw;
    }
}

void Database::beginWrite()
{
    {
        const detail::WriteComing coming(file_.path);
        beforeWrite();
        exec(db_, QStringLiteral("BEGIN IMMEDIATE"));
    }
    try {
        index_->beginWrite();
    } catch (...) {
        rollbackWrite();
        throw;
    }
}

void Database::commitWrite()
{
    const bool merge = keptToMerge();
    // The engine ended the transaction on a failed read that the work (or
    // the count above) did not hear of: what it wrote is gone, and the save
    // failed. Nothing more may run, lest it commit alone.
    if (sqlite3_get_autocommit(db_))
        throw StoreError(ErrorKind::Io, QStringLiteral("the transaction ended on a failed read"), file_.path);
    index_->endWrite();
    exec(db_, QStringLiteral("COMMIT"));
    // Not to be seen again before the count that follows the next rows.
    if (merge && detail::startIndexMerge(file_.path))
        changesAtKeptCount_ = sqlite3_total_changes64(db_);
}

bool Database::keptToMerge()
{
    // Counted under the write lock the save holds: no wait of its own.
    const qint64 changes = sqlite3_total_changes64(db_);
    if (!index_->live() || changes - changesAtKeptCount_ < kChangesPerKeptCount || file_.path.isEmpty()
        || detail::indexBuildBusy(file_.path))
        return false;
    try {
        if (index_->building() || !index_->merging()) {
            changesAtKeptCount_ = changes;
            return false;
        }
        return true;
    } catch (const StoreError&) {
        // The save itself went well (commitWrite() asks); the next open
        // merges them.
        changesAtKeptCount_ = changes;
        return false;
    }
}

void Database::rollbackWrite()
{
    if (index_)
        index_->abandonWrite();
    rollbackQuietly(db_);
}

void Database::attachSearchIndex(const IndexProgress& progress)
{
    if (!index_->findColumns())
        return;
    bool inStep = false;
    bool manyChanges = false;
    // A catch-up costs what the changes do, a millisecond or so each: the
    // open leaves more than it indexes of a build to the background, lest
    // it hold the window, and its writes outgrow the pages the backup's
    // snapshot keeps.
    const qint64 most = detail::indexSliceRows(true);
    exec(db_, QStringLiteral("BEGIN"));
    try {
        inStep = index_->inStep();
        mergeIndex_ = index_->merging() && !isReadOnly();
        manyChanges = !inStep && !isReadOnly() && index_->canCatchUp() && index_->loggedChanges(most) > most;
        exec(db_, QStringLiteral("COMMIT"));
    } catch (...) {
        rollbackQuietly(db_);
        throw;
    }
    if (manyChanges) {
        // Searches read every row until the background has caught up.
        buildIndex_ = true;
    } else if (!inStep) {
        if (isReadOnly())
            return;
        // Catching up costs what the changes do; a build costs what all the
        // notes do, so it goes on in the background (see indexbuild.h).
        transaction([&] {
            const bool resume = index_->canResume();
            if (!resume && index_->catchUp(progress))
                return;
            if (!resume) {
                index_->startBuild();
                if (hasZumiloTables(*this))
                    addViewIndexes(*this);
            }
            // A small file is done at once, its merge too when quick; of
            // long notes no more than the window would wait for.
            if (index_->buildSlice(
                    [&](qint64 done) { return done < most && index_->textFilled() < kOpenSliceBytes; })) {
                QElapsedTimer clock;
                clock.start();
                index_->mergeSlice([&] { return !clock.hasExpired(kOpenMergeMs); });
            }
        });
        buildIndex_ = index_->building();
        mergeIndex_ = index_->merging();
    }
    index_->attach(!isReadOnly());
}

void Database::rebuildSearchIndex(const IndexProgress& progress)
{
    ensureOpen();
    // Not while the run's backup is copied: the whole index rewritten
    // would outgrow the pages its snapshot keeps, and the backup be lost.
    detail::waitForBackup(file_.path);
    transaction([&] { index_->rebuild(progress); });
    index_->attach(!isReadOnly());
}

void Database::repairSearchIndex()
{
    ensureOpen();
    transaction([&] { index_->startBuild(); });
    detail::startIndexBuild(file_.path, true);
}

bool Database::searchIndexBuilding() const
{
    return !file_.path.isEmpty() && detail::indexBuildRunning(file_.path);
}

bool Database::searchIndexInStep()
{
    bool inStep = false;
    withSearchIndex([&](bool s) { inStep = s; });
    return inStep;
}

Database::Health Database::checkThoroughly(const QString& path)
{
    if (detail::isBackupFile(path) || detail::isKnownDamaged(path))
        return Health::Sound;
    try {
        passPageCheck(path);
    } catch (const StoreError& e) {
        return e.kind() == ErrorKind::Damaged ? Health::Damaged : Health::Unchecked;
    }
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(fileName(path).constData(), &db, SQLITE_OPEN_READWRITE | OneThread,
                                   detail::writingVfs());
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close_v2);
    if (rc != SQLITE_OK || sqlite3_db_readonly(db, "main") != 0)
        return Health::Sound;
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, DefaultBusyTimeoutMs);
    traceStatements(db);
    detail::ThoroughCheck check;
    check.path = detail::identify(path).path;
    check.db = db;
    if (!detail::beginThoroughCheck(check))
        return Health::Unchecked;
    const auto unregister = qScopeGuard([&] { detail::endThoroughCheck(check); });
    try {
        detail::SearchIndex index(db);
        const bool intact = !index.findColumns() || index.intact([&] { return check.stopped.load(); });
        if (check.stopped)
            return Health::Unchecked;
        return intact ? Health::Sound : Health::IndexDamaged;
    } catch (const StoreError& e) {
        if (check.stopped)
            return Health::Unchecked;
        // Damage below the index, in the pages themselves, is noted as the
        // file's by the error; anything else (another program's lock, say)
        // leaves the index to be checked again.
        return e.kind() == ErrorKind::Damaged ? Health::Damaged : Health::Unchecked;
    }
}

void Database::withSearchIndex(const std::function<void(bool)>& work)
{
    ensureOpen();
    if (!index_->attached())
        return work(false);
    if (index_->writing())
        return work(index_->live());
    if (!sqlite3_get_autocommit(db_))
        return work(index_->inStep());
    exec(db_, QStringLiteral("BEGIN"));
    try {
        work(index_->inStep());
        exec(db_, QStringLiteral("COMMIT"));
    } catch (...) {
        rollbackQuietly(db_);
        auto undo = std::move(rollbackActions_);
        rollbackActions_.clear();
        for (auto it = undo.rbegin(); it != undo.rend(); ++it)
            it->second();
        throw;
    }
}

namespace {

std::function<void(bool)>& waitNoticeSlot()
{
    static std::function<void(bool)> notice;
    return notice;
}

} // namespace

void Database::setWaitNotice(std::function<void(bool waiting)> notice)
{
    waitNoticeSlot() = std::move(notice);
}

const std::function<void(bool)>& Database::waitNotice()
{
    return waitNoticeSlot();
}

void Database::passPageCheck(const QString& path)
{
    detail::passPageCheck(detail::identify(path), {});
}

void Database::beforeWrite()
{
    if (detail::isKnownDamaged(path_))
        throw StoreError(ErrorKind::Damaged, QStringLiteral("found damaged before"), path_);
    detail::passPageCheck(file_, waitNotice());
    // A set still reading its rows reads them as they were before the write.
    for (Recordset* rs : recordsets_)
        rs->finishReading();
}

sqlite3* Database::openReader() const
{
    if (file_.path.isEmpty())
        return nullptr;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(fileName(path_).constData(), &db, SQLITE_OPEN_READONLY | OneThread, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, DefaultBusyTimeoutMs);
    traceStatements(db);
    // Orders by text read the same here.
    if (registerJetLike(db) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return nullptr;
    }
    return db;
}

void Database::onRollback(const void* owner, std::function<void()> undo)
{
    rollbackActions_.emplace_back(owner, std::move(undo));
}

void Database::forgetRollback(const void* owner)
{
    std::erase_if(rollbackActions_, [owner](const auto& action) { return action.first == owner; });
}

void Database::setTodayProvider(std::function<QDate()> provider)
{
    if (provider)
        today_ = std::move(provider);
    else
        today_ = [] { return QDate::currentDate(); };
}

QDate Database::today() const
{
    return today_();
}

void Database::setBusyTimeout(int milliseconds)
{
    ensureOpen();
    busy_.most = std::chrono::milliseconds(milliseconds);
    if (milliseconds > 0)
        detail::waitPatiently(db_, busy_);
    else
        sqlite3_busy_handler(db_, nullptr, nullptr);
}

void Database::setExportProgress(std::function<bool(qint64 rows)> progress)
{
    exportProgress_ = std::move(progress);
}

void Database::exportText(const QString& sql, const QString& intoClause)
{
    const auto target = parseTextTarget(intoClause);
    if (!target)
        throw StoreError(ErrorKind::Syntax, QStringLiteral("not a text file target: %1").arg(intoClause));
    Statement st(db_, detail::exportStatement(db_, sql));
    detail::writeTextFile(st, target->folder, target->fileName, exportProgress_);
}

void Database::exportText(const NoteView& view, const QString& folder, const QString& fileName)
{
    ensureOpen();
    detail::Query q = detail::query(view);
    if (!q.orderBy.isEmpty())
        q.orderBy = detail::listOrder(db_, q.table, q.orderBy).sql;
    Statement st(db_, q.select());
    st.bindAll(q.params());
    detail::writeTextFile(st, folder, fileName, exportProgress_);
}

} // namespace zumilo::store
