#include "statement.h"

#include "columntype.h"
#include "database.h"
#include "datetext.h"
#include "error.h"
#include "jetlike.h"
#include "jetsql.h"
#include "sqltokens.h"

#include <QDateTime>
#include <sqlite3.h>

namespace zumilo::store::detail {

Statement::Statement(sqlite3* db, const QString& sql) : db_(db)
{
    if (!db)
        throw StoreError(ErrorKind::Other, QStringLiteral("the database is closed"));
    const QByteArray utf8 = sql.toUtf8();
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt_, &tail);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        throwSqliteError(db, rc, sql);
    }
    if (!stmt_)
        throw StoreError(ErrorKind::Syntax, QStringLiteral("empty statement"));
    for (const char* p = tail; p && *p; ++p) {
        if (*p != ';' && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') {
            trailing_ = true;
            break;
        }
    }
}

Statement::~Statement()
{
    finalize();
}

Statement::Statement(Statement&& other) noexcept : db_(other.db_), stmt_(other.stmt_), trailing_(other.trailing_)
{
    other.stmt_ = nullptr;
}

Statement& Statement::operator=(Statement&& other) noexcept
{
    if (this != &other) {
        finalize();
        db_ = other.db_;
        stmt_ = other.stmt_;
        trailing_ = other.trailing_;
        other.stmt_ = nullptr;
    }
    return *this;
}

void Statement::finalize()
{
    if (stmt_)
        sqlite3_finalize(stmt_);
    stmt_ = nullptr;
}

ListOrder listOrder(sqlite3* db, const QString& table, const QString& orderBy)
{
    if (orderBy.trimmed().isEmpty())
        return {orderBy, {}, false};
    const QByteArray tableName = table.toUtf8();
    auto isText = [&](const QString& column) {
        const char* declared = nullptr;
        if (sqlite3_table_column_metadata(db, nullptr, tableName.constData(), column.toUtf8().constData(), &declared,
                                          nullptr, nullptr, nullptr, nullptr)
            != SQLITE_OK)
            return false;
        const ColumnKind kind = ColumnType::fromDeclared(QString::fromUtf8(declared)).kind;
        return kind == ColumnKind::Text || kind == ColumnKind::Memo;
    };
    ListOrder out{orderByText(orderBy, isText, QString::fromLatin1(sortKeyFunction)) + QStringLiteral(", rowid"),
                  {},
                  false};
    const std::vector<Token> terms = tokenize(orderBy);
    const bool named = !terms.empty()
                       && (terms[0].type == TokenType::Word || terms[0].type == TokenType::Bracketed
                           || terms[0].type == TokenType::Quoted);
    const bool directed = terms.size() == 2
                          && (isWord(orderBy, terms[1], QLatin1String("asc"))
                              || isWord(orderBy, terms[1], QLatin1String("desc")));
    if (named && (terms.size() == 1 || directed) && isText(identifierName(orderBy, terms[0]))) {
        out.textKey = tokenText(orderBy, terms[0]).toString();
        out.descending = directed && isWord(orderBy, terms[1], QLatin1String("desc"));
    }
    return out;
}

QString rowidColumn(sqlite3* db, const QString& table)
{
    Statement st(db, QStringLiteral("SELECT name, type FROM pragma_table_info(?) WHERE pk > 0"));
    st.bind(1, table);
    QStringList keys;
    bool integer = false;
    while (st.step()) {
        keys << st.column(0).toString().toCaseFolded();
        integer = st.column(1).toString().compare(QLatin1String("integer"), Qt::CaseInsensitive) == 0;
    }
    return keys.size() == 1 && integer ? keys.front() : QString();
}

QVariant storageValue(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return {};
    switch (value.typeId()) {
    case QMetaType::Bool:
        return QVariant(qint64(value.toBool() ? -1 : 0));
    case QMetaType::QDate:
        return QVariant(toStorageText({value.toDate(), std::nullopt}));
    case QMetaType::QDateTime: {
        const QDateTime dt = value.toDateTime();
        const QTime t = dt.time();
        return QVariant(toStorageText({dt.date(), QTime(t.hour(), t.minute(), t.second())}));
    }
    default:
        return value;
    }
}

void Statement::bind(int index, const QVariant& raw)
{
    const QVariant value = storageValue(raw);
    int rc = SQLITE_OK;
    if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(stmt_, index);
    } else if (isIntegerType(value.typeId())) {
        rc = sqlite3_bind_int64(stmt_, index, value.toLongLong());
    } else {
        switch (value.typeId()) {
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(stmt_, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob64(stmt_, index, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray text = value.toString().toUtf8();
            rc = sqlite3_bind_text64(stmt_, index, text.constData(), sqlite3_uint64(text.size()), SQLITE_TRANSIENT,
                                     SQLITE_UTF8);
            break;
        }
        }
    }
    if (rc != SQLITE_OK)
        throwSqliteError(db_, rc, QStringLiteral("bind"));
}

void Statement::bindAll(const QVariantList& values)
{
    const int expected = sqlite3_bind_parameter_count(stmt_);
    if (values.size() != expected) {
        QString detail = QStringLiteral("%1 values for %2 parameters").arg(values.size()).arg(expected);
        // execute(sql, {id}) picks the overload taking options.
        if (values.isEmpty())
            detail += QStringLiteral("; pass one value as QVariantList{value}");
        throw StoreError(ErrorKind::Other, detail);
    }
    for (int i = 0; i < values.size(); ++i)
        bind(i + 1, values.at(i));
}

bool Statement::step()
{
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    // The message belongs to the statement until it is reset.
    const int code = sqlite3_extended_errcode(db_);
    const QString message = QString::fromUtf8(sqlite3_errmsg(db_));
    const QString sql = QString::fromUtf8(sqlite3_sql(stmt_));
    sqlite3_reset(stmt_);
    throwSqlite(code ? code : rc, message, sql, db_);
}

void Statement::reset()
{
    if (stmt_) {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
}

int Statement::columnCount() const
{
    return sqlite3_column_count(stmt_);
}

QVariant Statement::column(int index) const
{
    switch (sqlite3_column_type(stmt_, index)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(stmt_, index)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt_, index));
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
        return QVariant(QString::fromUtf8(text, sqlite3_column_bytes(stmt_, index)));
    }
    case SQLITE_BLOB: {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, index));
        return QVariant(QByteArray(data, sqlite3_column_bytes(stmt_, index)));
    }
    default:
        return {};
    }
}

qint64 Statement::columnInt(int index) const
{
    return sqlite3_column_int64(stmt_, index);
}

} // namespace zumilo::store::detail
