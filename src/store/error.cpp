#include "error.h"
#include "database.h"
#include "filestate.h"
#include "statement.h"

#include <QFileInfo>
#include <sqlite3.h>

namespace zumilo::store {

StoreError::StoreError(ErrorKind kind, QString detail, QString field)
    : kind_(kind), detail_(std::move(detail)), field_(std::move(field))
{
    what_ = message().toStdString();
    if (!detail_.isEmpty())
        what_ += " (" + detail_.toStdString() + ")";
}

namespace {

bool isAboutFile(ErrorKind kind)
{
    return kind == ErrorKind::Damaged || kind == ErrorKind::FileDeleted || kind == ErrorKind::FileReplaced
           || kind == ErrorKind::InUse;
}

bool isAboutColumn(ErrorKind kind)
{
    return kind == ErrorKind::MissingColumn || kind == ErrorKind::ColumnType || kind == ErrorKind::ColumnValue;
}

// "ファイル「a.zmd」は" with a name, "ファイルは" without.
QString fileSubject(const QString& name)
{
    return name.isEmpty() ? QStringLiteral("ファイルは") : QStringLiteral("ファイル「%1」は").arg(name);
}

QString columnSubject(const QString& name)
{
    return name.isEmpty() ? QStringLiteral("必要な項目") : QStringLiteral("項目「%1」").arg(name);
}

} // namespace

QString StoreError::message() const
{
    if (isAboutFile(kind_))
        return japaneseMessage(kind_, QFileInfo(field_).fileName());
    if (field_.isEmpty() || isAboutColumn(kind_))
        return japaneseMessage(kind_, field_);
    return QStringLiteral("「%1」: %2").arg(field_, japaneseMessage(kind_));
}

QString failureCause(const StoreError& e, const QString& path)
{
    if (isAboutFile(e.kind()) || path.isEmpty())
        return e.message();
    return QStringLiteral("ファイル「%1」: ").arg(QFileInfo(path).fileName()) + e.message();
}

QString japaneseMessage(ErrorKind kind, const QString& subject)
{
    switch (kind) {
    case ErrorKind::Damaged:
        return (subject.isEmpty() ? QStringLiteral("データベースファイルが壊れています。")
                                  : QStringLiteral("ファイル「%1」は壊れています。").arg(subject))
               + QStringLiteral("\n「ﾌｧｲﾙ」メニューの「バックアップから復元」で、以前の状態に戻せます。");
    case ErrorKind::FileDeleted:
        return fileSubject(subject)
               + QStringLiteral("、開いている間に削除されたか別の場所へ移されたため、保存できませんでした。");
    case ErrorKind::FileReplaced:
        return fileSubject(subject)
               + QStringLiteral("、開いている間に別のファイルに置き換えられたため、保存できませんでした。"
                                "もう一度開き直してください。");
    case ErrorKind::InUse:
        return fileSubject(subject)
               + QStringLiteral("まだ開かれています。このファイルを開いている画面をすべて閉じてから、"
                                "もう一度お試しください。");
    case ErrorKind::UnusableBackup:
        return QStringLiteral(
            "選んだバックアップは壊れているか中身がないため、使えません。別のバックアップを選んでください。");
    case ErrorKind::MissingColumn:
        return columnSubject(subject) + QStringLiteral("がないため、このファイルは使えません。");
    case ErrorKind::ColumnType:
        return columnSubject(subject) + QStringLiteral("の型が違うため、このファイルは使えません。");
    case ErrorKind::ColumnValue:
        return columnSubject(subject) + QStringLiteral("に数値でない値が入っているため、このファイルは使えません。");
    case ErrorKind::FileNotFound:
        return QStringLiteral("ファイルが見つかりません。");
    case ErrorKind::NotADatabase:
        return QStringLiteral("このファイルはデータベースではありません。");
    case ErrorKind::CannotOpen:
        return QStringLiteral("ファイルを開けません。場所と使用権限を確認してください。");
    case ErrorKind::FileExists:
        return QStringLiteral("同じ名前のファイルがすでにあります。");
    case ErrorKind::Busy:
        return QStringLiteral(
            "他のプログラムがファイルを使用中のため、処理できませんでした。しばらくしてからもう一度お試しください。");
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
    case ErrorKind::Cancelled:
        return QStringLiteral("処理を中止しました。");
    case ErrorKind::Other:
        break;
    }
    return QStringLiteral("処理できませんでした。");
}

namespace detail {

QString databaseFile(sqlite3* db)
{
    const char* name = db ? sqlite3_db_filename(db, "main") : nullptr;
    return name ? QString::fromUtf8(name) : QString();
}

void throwSqlite(int rc, const QString& message, const QString& context, sqlite3* db)
{
    QString detail = message;
    if (!context.isEmpty())
        detail += QStringLiteral(" [") + context + QLatin1Char(']');

    ErrorKind kind = ErrorKind::Other;
    QString field;
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        kind = ErrorKind::Busy;
        break;
    case SQLITE_READONLY:
        kind = ErrorKind::ReadOnly;
        // The engine's "read-only" when the file it writes is no longer at
        // its path: say what happened instead.
        if (rc == SQLITE_READONLY_DBMOVED) {
            field = databaseFile(db);
            kind = !field.isEmpty() && QFileInfo::exists(field) ? ErrorKind::FileReplaced : ErrorKind::FileDeleted;
        }
        break;
    case SQLITE_FULL:
        kind = ErrorKind::DiskFull;
        break;
    case SQLITE_CORRUPT:
        kind = ErrorKind::Damaged;
        field = databaseFile(db);
        // The search index's own data: the notes may be sound, and a
        // rebuild of the index repairs it (Database::checkThoroughly).
        if (rc == SQLITE_CORRUPT_VTAB) {
            kind = ErrorKind::Other;
            field.clear();
        }
        break;
    case SQLITE_NOTADB:
        // Once a connection has read the file, these bytes were a database.
        kind = db ? ErrorKind::Damaged : ErrorKind::NotADatabase;
        field = databaseFile(db);
        break;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        kind = ErrorKind::CannotOpen;
        break;
    case SQLITE_CONSTRAINT:
        // A statement that would have committed alone after the engine
        // ended the transaction on a failed read (see Database).
        kind = rc == SQLITE_CONSTRAINT_COMMITHOOK ? ErrorKind::Io : ErrorKind::Constraint;
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
    if (kind == ErrorKind::Damaged)
        noteDamaged(field);
    throw StoreError(kind, detail, field);
}

} // namespace detail

void throwSqliteError(sqlite3* db, int rc, const QString& context)
{
    detail::throwSqlite(rc, db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc)), context,
                        db);
}

} // namespace zumilo::store
