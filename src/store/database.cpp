#include "database.h"

#include "backup.h"
#include "columntype.h"
#include "datetext.h"
#include "error.h"
#include "jetlike.h"
#include "jetsql.h"
#include "recordset.h"
#include "schema.h"
#include "sqltokens.h"
#include "statement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStorageInfo>
#include <QScopeGuard>
#include <atomic>
#include <cstring>
#include <list>
#include <mutex>
#include <sqlite3.h>

namespace zumilo::store {

using detail::Statement;

namespace {

constexpr int DefaultBusyTimeoutMs = 3000;
// How long opening may spend checking a file's pages: a 200 MB file read
// from the disk takes seconds, from the cache a third of one.
constexpr int OpenCheckBudgetMs = 1000;
// A text export writes its file in pieces of about this size and reports
// its progress every so many rows.
constexpr qsizetype ExportChunkBytes = 1 << 20;
constexpr qint64 ExportProgressRows = 256;

// A connection belongs to the thread of its window: no lock around each
// call into the engine, which costs a tenth of reading a long keyset.
constexpr int OneThread = SQLITE_OPEN_NOMUTEX;

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
    return info.permissions()
           & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther);
}

QString firstWord(const QString& sql)
{
    const auto tokens = detail::tokenize(sql);
    if (tokens.empty() || tokens.front().type != detail::TokenType::Word)
        return {};
    return detail::tokenText(sql, tokens.front()).toString().toLower();
}

// RFC 4180: quotes around the field, quotes inside doubled.
void appendQuoted(QByteArray& out, const char* text, qsizetype size)
{
    out += '"';
    const char* end = text + size;
    while (const char* quote = static_cast<const char*>(std::memchr(text, '"', size_t(end - text)))) {
        out.append(text, quote - text + 1);
        out += '"';
        text = quote + 1;
    }
    out.append(text, end - text);
    out += '"';
}

QByteArray headerField(const QString& name)
{
    const QByteArray utf8 = name.toUtf8();
    if (utf8.contains(',') || utf8.contains('"') || utf8.contains('\r') || utf8.contains('\n')) {
        QByteArray quoted;
        appendQuoted(quoted, utf8.constData(), utf8.size());
        return quoted;
    }
    return utf8;
}

// A stored date "2026-12-06" or "2026-12-06 09:05:00" in its display form,
// written straight from the engine's bytes; false for any other text.
bool appendStoredDate(QByteArray& out, const char* text, int size)
{
    auto digits = [&](int from, int count, int& value) {
        value = 0;
        for (int i = from; i < from + count; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            value = value * 10 + (text[i] - '0');
        }
        return true;
    };
    int y = 0, m = 0, d = 0, h = 0, mi = 0, sec = 0;
    if ((size != 10 && size != 19) || text[4] != '-' || text[7] != '-' || !digits(0, 4, y) || !digits(5, 2, m)
        || !digits(8, 2, d) || !QDate::isValid(y, m, d))
        return false;
    if (size == 19
        && (text[10] != ' ' || text[13] != ':' || text[16] != ':' || !digits(11, 2, h) || !digits(14, 2, mi)
            || !digits(17, 2, sec) || !QTime::isValid(h, mi, sec)))
        return false;
    const qsizetype at = out.size();
    out.append(text, size);
    out[at + 4] = '/';
    out[at + 7] = '/';
    return true;
}

void appendField(QByteArray& out, sqlite3_stmt* s, int column, const ColumnType& type)
{
    switch (sqlite3_column_type(s, column)) {
    case SQLITE_NULL:
        return;
    case SQLITE_INTEGER: {
        const qint64 v = sqlite3_column_int64(s, column);
        if (type.kind == ColumnKind::YesNo)
            out += v ? "-1" : "0";
        else
            out += QByteArray::number(v);
        return;
    }
    case SQLITE_FLOAT:
        out += QString::number(sqlite3_column_double(s, column), 'g', QLocale::FloatingPointShortest).toUtf8();
        return;
    case SQLITE_TEXT: {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
        const int size = sqlite3_column_bytes(s, column);
        if (type.kind == ColumnKind::Date) {
            if (appendStoredDate(out, text, size))
                return;
            if (auto d = fromStorageText(QString::fromUtf8(text, size))) {
                out += toDisplayText(*d).toUtf8();
                return;
            }
        }
        appendQuoted(out, text, size);
        return;
    }
    default:
        return; // pictures and other binary data have no text form
    }
}

// The export's rows in the order the program's lists show them.
QString exportStatement(sqlite3* db, const QString& sql)
{
    const QString s = detail::withoutInto(sql);
    const auto parts = parseSelect(s);
    if (!parts || parts->orderBy.isEmpty() || parts->distinct || !parts->groupBy.isEmpty() || !parts->having.isEmpty()
        || parts->compound || parts->hasAggregate)
        return s;
    const QString table = singleTableName(parts->from);
    if (table.isEmpty())
        return s;
    const QString listed = QStringLiteral("SELECT ") + parts->selectList + QStringLiteral(" FROM ") + parts->from
                           + (parts->where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + parts->where)
                           + QStringLiteral(" ORDER BY ") + detail::listOrder(db, table, parts->orderBy);
    const bool usable = tryStep([&] { Statement probe(db, listed); });
    return usable ? listed : s;
}

bool isPlainFileName(const QString& name)
{
    return name != QLatin1String(".") && name != QLatin1String("..") && !name.contains(QLatin1Char('/'))
           && !name.contains(QDir::separator()) && !name.contains(QChar(0));
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
                                   (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | OneThread, nullptr);
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
    // The index first: the backup is then of a file in step with it, and
    // the rebuild does not wait for the copy.
    try {
        database->attachSearchIndex(progress);
    } catch (const StoreError&) {
        // Searches then read every row, as they do without an index.
    }
    if (!readOnly && hasZumiloTables(*database))
        detail::startBackup(database->file_.path);
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
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | OneThread, nullptr);
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

void Database::configure()
{
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, DefaultBusyTimeoutMs);
    // Reading the schema is what tells a database from other bytes. Bytes
    // that begin like a database but cannot be read are a damaged one (a
    // truncated file, say).
    const int rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if ((rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(db_));
        if (!detail::hasDatabaseHeader(path_))
            throw StoreError(ErrorKind::NotADatabase, message);
        detail::noteDamaged(path_);
        throw StoreError(ErrorKind::Damaged, message, path_);
    }
    if (rc != SQLITE_OK)
        throwSqliteError(db_, rc, path_);
    // One self-contained file whenever no write is in progress, and a write
    // reported done is on the disk.
    try {
        exec(db_, QStringLiteral("PRAGMA journal_mode=DELETE"));
    } catch (const StoreError&) {
        if (!isReadOnly())
            throw;
    }
    exec(db_, QStringLiteral("PRAGMA synchronous=FULL"));
    // Without Jet's like every search would find nothing, silently.
    if (const int likeRc = registerJetLike(db_); likeRc != SQLITE_OK)
        throwSqliteError(db_, likeRc, path_);
    index_ = std::make_unique<detail::SearchIndex>(db_);
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
    if (detail::isChecked(file_))
        return;
    detail::quickCheck(db_, path_, OpenCheckBudgetMs);
    detail::noteChecked(file_);
}

void Database::close()
{
    for (Recordset* rs : recordsets_)
        rs->databaseClosed();
    recordsets_.clear();
    rollbackActions_.clear();
    if (db_) {
        rollbackQuietly(db_);
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    if (!file_.path.isEmpty()) {
        detail::noteClosed(file_.path);
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
    try {
        work();
        transactionDepth_ = 0;
        if (db_)
            commitWrite();
        rollbackActions_.clear();
    } catch (...) {
        transactionDepth_ = 0;
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
    beforeWrite();
    exec(db_, QStringLiteral("BEGIN IMMEDIATE"));
    try {
        index_->beginWrite();
    } catch (...) {
        rollbackWrite();
        throw;
    }
}

void Database::commitWrite()
{
    index_->endWrite();
    exec(db_, QStringLiteral("COMMIT"));
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
    exec(db_, QStringLiteral("BEGIN"));
    try {
        inStep = index_->inStep();
        exec(db_, QStringLiteral("COMMIT"));
    } catch (...) {
        rollbackQuietly(db_);
        throw;
    }
    if (!inStep) {
        if (isReadOnly())
            return;
        transaction([&] {
            if (index_->catchUp(progress))
                return;
            index_->rebuild(progress);
            if (hasZumiloTables(*this))
                addViewIndexes(*this);
        });
    }
    index_->attach(!isReadOnly());
}

void Database::rebuildSearchIndex(const IndexProgress& progress)
{
    ensureOpen();
    transaction([&] { index_->rebuild(progress); });
    index_->attach(!isReadOnly());
}

bool Database::searchIndexInStep()
{
    bool inStep = false;
    withSearchIndex([&](bool s) { inStep = s; });
    return inStep;
}

namespace {

// The thorough checks running now, by file: a write of this program stops
// them rather than waiting behind them.
struct RunningCheck {
    QString path;
    sqlite3* db;
    std::atomic<bool> stopped{false};
};
std::mutex runningChecksMutex;
std::list<RunningCheck*> runningChecks;

void stopChecksOf(const QString& canonicalPath)
{
    const std::lock_guard lock(runningChecksMutex);
    for (RunningCheck* check : runningChecks) {
        if (check->path == canonicalPath) {
            check->stopped = true;
            sqlite3_interrupt(check->db);
        }
    }
}

} // namespace

Database::Health Database::checkThoroughly(const QString& path)
{
    if (detail::isBackupFile(path) || detail::isKnownDamaged(path))
        return Health::Sound;
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(fileName(path).constData(), &db, SQLITE_OPEN_READWRITE | OneThread, nullptr);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close_v2);
    if (rc != SQLITE_OK || sqlite3_db_readonly(db, "main") != 0)
        return Health::Sound;
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, DefaultBusyTimeoutMs);
    RunningCheck check{detail::identify(path).path, db};
    {
        const std::lock_guard lock(runningChecksMutex);
        runningChecks.push_back(&check);
    }
    const auto unregister = qScopeGuard([&] {
        const std::lock_guard lock(runningChecksMutex);
        runningChecks.remove(&check);
    });
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
        // file's by the error.
        return e.kind() == ErrorKind::Damaged ? Health::Damaged : Health::Sound;
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

void Database::beforeWrite()
{
    if (detail::isKnownDamaged(path_))
        throw StoreError(ErrorKind::Damaged, QStringLiteral("found damaged before"), path_);
    stopChecksOf(file_.path);
    detail::waitForBackup(file_.path);
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
    sqlite3_busy_timeout(db_, milliseconds);
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
    // A whole folder path and a bare name: the file lands where the
    // statement says or nowhere.
    if (!QDir::isAbsolutePath(target->folder) || !isPlainFileName(target->fileName))
        throw StoreError(ErrorKind::Io, QStringLiteral("not a folder and a file name: %1").arg(intoClause));
    if (!QFileInfo(target->folder).isDir())
        throw StoreError(ErrorKind::Io, QStringLiteral("no such folder: %1").arg(target->folder));
    const QString file = QDir(target->folder).filePath(target->fileName);
    if (QFileInfo::exists(file) || QFileInfo(file).isSymLink())
        throw StoreError(ErrorKind::FileExists, file);

    Statement st(db_, exportStatement(db_, sql));
    // Written aside and renamed at the end: a failure or a stop leaves no
    // partial file. Unbuffered: a buffered write that fails when flushed at
    // commit() is not reported (disk full), and a truncated file would
    // count as written.
    QSaveFile save(file);
    if (!save.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        const ErrorKind kind = QFileInfo(target->folder).isWritable() ? ErrorKind::Io : ErrorKind::ReadOnly;
        throw StoreError(kind, QStringLiteral("%1: %2").arg(file, save.errorString()));
    }
    QByteArray out;
    out.reserve(ExportChunkBytes + (64 << 10));
    // A write cut short by a full disk may set no error of its own: the
    // room left on the disk tells.
    auto writeFailed = [&](qint64 wanted) {
        const bool full = save.error() == QFileDevice::ResourceError
                          || QStorageInfo(target->folder).bytesAvailable() < std::max<qint64>(wanted, 4096);
        return StoreError(full ? ErrorKind::DiskFull : ErrorKind::Io, QStringLiteral("%1: %2").arg(file, save.errorString()));
    };
    auto flush = [&] {
        if (save.write(out) != out.size())
            throw writeFailed(out.size());
        out.clear();
    };

    const int n = st.columnCount();
    std::vector<ColumnType> types;
    out += "\xEF\xBB\xBF";
    for (int i = 0; i < n; ++i) {
        types.push_back(ColumnType::fromDeclared(QString::fromUtf8(sqlite3_column_decltype(st.get(), i))));
        if (i)
            out += ',';
        out += headerField(QString::fromUtf8(sqlite3_column_name(st.get(), i)));
    }
    out += "\r\n";
    qint64 rows = 0;
    while (st.step()) {
        for (int i = 0; i < n; ++i) {
            if (i)
                out += ',';
            appendField(out, st.get(), i, types[size_t(i)]);
        }
        out += "\r\n";
        if (++rows % ExportProgressRows == 0) {
            if (out.size() >= ExportChunkBytes)
                flush();
            if (exportProgress_ && !exportProgress_(rows))
                throw StoreError(ErrorKind::Cancelled, file);
        }
    }
    st.finalize();
    flush();
    if (!save.commit())
        throw writeFailed(0);
}

} // namespace zumilo::store
