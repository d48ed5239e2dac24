#include "error.h"
#include "database.h"
#include "statement.h"

#include <sqlite3.h>

namespace zumilo::store {

StoreError::StoreError(ErrorKind kind, QString detail, QString field)
    : kind_(kind), detail_(std::move(detail)), field_(std::move(field))
{
    what_ = message().toStdString();
    if (!detail_.isEmpty())
        what_ += " (" + detail_.toStdString() + ")";
}

QString StoreError::message() const
{
    if (field_.isEmpty())
        return japaneseMessage(kind_);
    return QStringLiteral("「%1」: %2").arg(field_, japaneseMessage(kind_));
}

QString japaneseMessage(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::FileNotFound:
        return QStringLiteral("ファイルが見つかりません。");
    case ErrorKind::NotADatabase:
        return QStringLiteral("このファイルはデータベースではありません。");
    case ErrorKind::CannotOpen:
        return QStringLiteral("ファイルを開けません。場所と使用権限を確認してください。");
    case ErrorKind::FileExists:
        return QStringLiteral("同じ名前のファイルがすでにあります。");
    case ErrorKind::Busy:
        return QStringLiteral("他のプログラムがファイルを使用中のため、処理できませんでした。しばらくしてからもう一度お試しください。");
    case ErrorKind::ReadOnly:
        return QStringLiteral("ファイルが読み取り専用のため、保存できません。");
    case ErrorKind::DiskFull:
        return QStringLiteral("ディスクの空き容量が不足しているため、保存できません。");
    case ErrorKind::NoCurrentRecord:
        return QStringLiteral("対象のデータがありません。");
    case ErrorKind::RowDeleted:
        return QStringLiteral("このデータは他の画面で削除されています。");
    case ErrorKind::TypeMismatch:
        return QStringLiteral("値の形式が正しくありません。");
    case ErrorKind::InvalidDate:
        return QStringLiteral("日付として読み取れません。");
    case ErrorKind::TooLong:
        return QStringLiteral("文字数が多すぎます。");
    case ErrorKind::NotUpdatable:
        return QStringLiteral("このデータは変更できません。");
    case ErrorKind::UnknownField:
        return QStringLiteral("項目が見つかりません。");
    case ErrorKind::Constraint:
        return QStringLiteral("同じ値がすでに登録されているため、保存できません。");
    case ErrorKind::Syntax:
        return QStringLiteral("検索条件または命令の書き方が正しくありません。");
    case ErrorKind::Io:
        return QStringLiteral("ファイルの読み書きができませんでした。");
    case ErrorKind::Other:
        break;
    }
    return QStringLiteral("処理できませんでした。");
}

namespace detail {

void throwSqlite(int rc, const QString& message, const QString& context)
{
    QString detail = message;
    if (!context.isEmpty())
        detail += QStringLiteral(" [") + context + QLatin1Char(']');

    ErrorKind kind = ErrorKind::Other;
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        kind = ErrorKind::Busy;
        break;
    case SQLITE_READONLY:
        kind = ErrorKind::ReadOnly;
        break;
    case SQLITE_FULL:
        kind = ErrorKind::DiskFull;
        break;
    case SQLITE_NOTADB:
        kind = ErrorKind::NotADatabase;
        break;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        kind = ErrorKind::CannotOpen;
        break;
    case SQLITE_CONSTRAINT:
        kind = ErrorKind::Constraint;
        break;
    case SQLITE_MISMATCH:
        kind = ErrorKind::TypeMismatch;
        break;
    case SQLITE_IOERR:
        kind = ErrorKind::Io;
        break;
    case SQLITE_ERROR:
        if (detail.contains(QLatin1String("syntax error")) || detail.contains(QLatin1String("incomplete input"))
            || detail.contains(QLatin1String("unrecognized token")))
            kind = ErrorKind::Syntax;
        break;
    default:
        break;
    }
    throw StoreError(kind, detail);
}

} // namespace detail

void throwSqliteError(sqlite3* db, int rc, const QString& context)
{
    detail::throwSqlite(rc, db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc)), context);
}

} // namespace zumilo::store
