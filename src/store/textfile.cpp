#include "textfile.h"

#include "columntype.h"
#include "datetext.h"
#include "error.h"
#include "jetsql.h"
#include "sqltokens.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStorageInfo>
#include <sqlite3.h>

namespace zumilo::store::detail {

namespace {

// A text export writes its file in pieces of about this size and reports
// its progress every so many rows.
constexpr qsizetype ExportChunkBytes = 1 << 20;
constexpr qint64 ExportProgressRows = 256;

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

bool isPlainFileName(const QString& name)
{
    return name != QLatin1String(".") && name != QLatin1String("..") && !name.contains(QLatin1Char('/'))
           && !name.contains(QDir::separator()) && !name.contains(QChar(0));
}

} // namespace

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
                           + QStringLiteral(" ORDER BY ") + detail::listOrder(db, table, parts->orderBy).sql;
    const bool usable = tryStep([&] { Statement probe(db, listed); }).ok();
    return usable ? listed : s;
}

void writeTextFile(Statement& st, const QString& folder, const QString& fileName,
                   const std::function<bool(qint64 rows)>& progress)
{
    // A whole folder path and a bare name: the file lands where the
    // statement says or nowhere.
    if (!QDir::isAbsolutePath(folder) || !isPlainFileName(fileName))
        throw StoreError(ErrorKind::Io, QStringLiteral("not a folder and a file name: %1/%2").arg(folder, fileName));
    if (!QFileInfo(folder).isDir())
        throw StoreError(ErrorKind::Io, QStringLiteral("no such folder: %1").arg(folder));
    const QString file = QDir(folder).filePath(fileName);
    if (QFileInfo::exists(file) || QFileInfo(file).isSymLink())
        throw StoreError(ErrorKind::FileExists, file);
    // Written aside and renamed at the end: a failure or a stop leaves no
    // partial file. Unbuffered: a buffered write that fails when flushed at
    // commit() is not reported (disk full), and a truncated file would
    // count as written.
    QSaveFile save(file);
    if (!save.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        const ErrorKind kind = QFileInfo(folder).isWritable() ? ErrorKind::Io : ErrorKind::ReadOnly;
        throw StoreError(kind, QStringLiteral("%1: %2").arg(file, save.errorString()));
    }
    QByteArray out;
    out.reserve(ExportChunkBytes + (64 << 10));
    // A write cut short by a full disk may set no error of its own: the
    // room left on the disk tells.
    auto writeFailed = [&](qint64 wanted) {
        const bool full = save.error() == QFileDevice::ResourceError
                          || QStorageInfo(folder).bytesAvailable() < std::max<qint64>(wanted, 4096);
        return StoreError(full ? ErrorKind::DiskFull : ErrorKind::Io,
                          QStringLiteral("%1: %2").arg(file, save.errorString()));
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
            if (progress && !progress(rows))
                throw StoreError(ErrorKind::Cancelled, file);
        }
    }
    st.finalize();
    flush();
    if (!save.commit())
        throw writeFailed(0);
}

} // namespace zumilo::store::detail
