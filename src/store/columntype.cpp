#include "columntype.h"

#include "datetext.h"
#include "error.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>

namespace zumilo::store {

namespace {

bool isOneOf(const QString& name, std::initializer_list<const char*> names)
{
    for (const char* n : names)
        if (name == QLatin1String(n))
            return true;
    return false;
}

} // namespace

int characterCount(const QString& text)
{
    int n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        ++n;
    }
    return n;
}

namespace {

bool isRealType(int id)
{
    return id == QMetaType::Double || id == QMetaType::Float;
}

bool isTextType(int id)
{
    return id == QMetaType::QString || id == QMetaType::QChar;
}

[[noreturn]] void mismatch(const QVariant& value, const QString& field, ErrorKind kind = ErrorKind::TypeMismatch)
{
    throw StoreError(kind, QStringLiteral("cannot store %1").arg(value.toString()), field);
}

std::optional<qint64> integralOf(double d)
{
    if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.0e18)
        return std::nullopt;
    return qint64(d);
}

std::optional<qint64> integerFromText(const QString& text)
{
    const QString t = text.trimmed();
    bool ok = false;
    const qint64 v = t.toLongLong(&ok);
    if (ok)
        return v;
    const double d = QLocale::c().toDouble(t, &ok);
    if (ok)
        return integralOf(d);
    return std::nullopt;
}

QString dateStorage(const QVariant& value)
{
    if (value.typeId() == QMetaType::QDate)
        return toStorageText({value.toDate(), std::nullopt});
    const QDateTime dt = value.toDateTime();
    const QTime t = dt.time();
    return toStorageText({dt.date(), QTime(t.hour(), t.minute(), t.second())});
}

} // namespace

bool isIntegerType(int id)
{
    switch (id) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

ColumnType ColumnType::fromDeclared(const QString& declared)
{
    ColumnType type;
    QString name = declared.trimmed().toLower();
    if (name.isEmpty())
        return type;
    int length = 0;
    const qsizetype open = name.indexOf(QLatin1Char('('));
    if (open >= 0) {
        const qsizetype close = name.indexOf(QLatin1Char(')'), open);
        const QString args = name.mid(open + 1, close < 0 ? -1 : close - open - 1);
        length = args.section(QLatin1Char(','), 0, 0).trimmed().toInt();
        name = name.left(open).trimmed();
    }
    name = name.simplified();

    if (isOneOf(name, {"integer", "int", "long", "counter", "autoincrement", "short", "byte", "smallint", "tinyint",
                       "bigint", "integer1", "integer2", "integer4", "int2", "int4", "int8"})) {
        type.kind = ColumnKind::Integer;
    } else if (isOneOf(name, {"real", "double", "single", "float", "currency", "money", "numeric", "decimal", "float4",
                              "float8", "double precision"})) {
        type.kind = ColumnKind::Real;
    } else if (isOneOf(name, {"text", "varchar", "char", "nvarchar", "nchar", "character", "string", "alphanumeric"})) {
        type.kind = ColumnKind::Text;
        type.maxLength = length > 0 ? length : 0;
    } else if (isOneOf(name, {"longtext", "memo", "clob", "note", "longchar", "ntext", "mediumtext"})) {
        type.kind = ColumnKind::Memo;
    } else if (isOneOf(name, {"datetime", "date", "time", "timestamp"})) {
        type.kind = ColumnKind::Date;
    } else if (isOneOf(name, {"yesno", "bit", "boolean", "bool", "logical", "logical1"})) {
        type.kind = ColumnKind::YesNo;
    } else if (isOneOf(name, {"longbinary", "blob", "image", "binary", "varbinary", "oleobject", "general"})) {
        type.kind = ColumnKind::Binary;
    } else if (name.contains(QLatin1String("int"))) {
        // SQLite's own affinity rules for names we do not know.
        type.kind = ColumnKind::Integer;
    } else if (name.contains(QLatin1String("char")) || name.contains(QLatin1String("text"))) {
        type.kind = ColumnKind::Text;
        type.maxLength = length > 0 ? length : 0;
    } else if (name.contains(QLatin1String("clob"))) {
        type.kind = ColumnKind::Memo;
    } else if (name.contains(QLatin1String("blob"))) {
        type.kind = ColumnKind::Binary;
    } else if (name.contains(QLatin1String("real")) || name.contains(QLatin1String("floa"))
               || name.contains(QLatin1String("doub"))) {
        type.kind = ColumnKind::Real;
    }
    return type;
}

QVariant toStorage(const ColumnType& type, const QVariant& value, const QString& field, const QDate& today)
{
    if (!value.isValid() || value.isNull())
        return {};
    const int id = value.typeId();
    // An emptied box clears a number or a date rather than failing.
    if (isTextType(id) && type.kind != ColumnKind::Text && type.kind != ColumnKind::Memo
        && type.kind != ColumnKind::Unknown && type.kind != ColumnKind::Binary && value.toString().trimmed().isEmpty())
        return {};

    switch (type.kind) {
    case ColumnKind::Integer:
        if (isIntegerType(id))
            return QVariant(value.toLongLong());
        if (id == QMetaType::Bool)
            return QVariant(qint64(value.toBool() ? -1 : 0));
        if (isRealType(id)) {
            if (auto v = integralOf(value.toDouble()))
                return QVariant(*v);
            mismatch(value, field);
        }
        if (isTextType(id)) {
            if (auto v = integerFromText(value.toString()))
                return QVariant(*v);
        }
        mismatch(value, field);

    case ColumnKind::Real:
        if (isIntegerType(id) || isRealType(id))
            return QVariant(value.toDouble());
        if (id == QMetaType::Bool)
            return QVariant(value.toBool() ? -1.0 : 0.0);
        if (isTextType(id)) {
            bool ok = false;
            const double d = QLocale::c().toDouble(value.toString().trimmed(), &ok);
            if (ok)
                return QVariant(d);
        }
        mismatch(value, field);

    case ColumnKind::Text:
    case ColumnKind::Memo: {
        if (id == QMetaType::QByteArray)
            mismatch(value, field);
        const QString text = isTextType(id) ? value.toString() : displayText(value);
        if (type.kind == ColumnKind::Text && type.maxLength > 0 && characterCount(text) > type.maxLength)
            throw StoreError(ErrorKind::TooLong,
                             QStringLiteral("%1 characters, at most %2").arg(characterCount(text)).arg(type.maxLength),
                             field);
        return QVariant(text);
    }

    case ColumnKind::Date:
        if (id == QMetaType::QDate || id == QMetaType::QDateTime) {
            if ((id == QMetaType::QDate && !value.toDate().isValid())
                || (id == QMetaType::QDateTime && !value.toDateTime().isValid()))
                mismatch(value, field, ErrorKind::InvalidDate);
            return QVariant(dateStorage(value));
        }
        if (isTextType(id)) {
            if (auto d = parseDateText(value.toString(), today))
                return QVariant(toStorageText(*d));
            mismatch(value, field, ErrorKind::InvalidDate);
        }
        mismatch(value, field);

    case ColumnKind::YesNo:
        if (id == QMetaType::Bool)
            return QVariant(qint64(value.toBool() ? -1 : 0));
        if (isIntegerType(id) || isRealType(id))
            return QVariant(qint64(value.toDouble() != 0 ? -1 : 0));
        if (isTextType(id)) {
            const QString t = value.toString().trimmed().toLower();
            if (isOneOf(t, {"true", "yes", "on", "-1", "1"}))
                return QVariant(qint64(-1));
            if (isOneOf(t, {"false", "no", "off", "0"}))
                return QVariant(qint64(0));
        }
        mismatch(value, field);

    case ColumnKind::Binary:
        if (id == QMetaType::QByteArray)
            return value;
        mismatch(value, field);

    case ColumnKind::Unknown:
        break;
    }

    if (isIntegerType(id))
        return QVariant(value.toLongLong());
    if (id == QMetaType::Bool)
        return QVariant(qint64(value.toBool() ? -1 : 0));
    if (isRealType(id))
        return QVariant(value.toDouble());
    if (id == QMetaType::QByteArray)
        return value;
    if (id == QMetaType::QDate || id == QMetaType::QDateTime)
        return QVariant(dateStorage(value));
    return QVariant(value.toString());
}

QVariant fromStorage(const ColumnType& type, const QVariant& stored)
{
    if (!stored.isValid() || stored.isNull())
        return {};
    const int id = stored.typeId();
    switch (type.kind) {
    case ColumnKind::Integer:
        if (isIntegerType(id))
            return QVariant(stored.toLongLong());
        if (isRealType(id)) {
            if (auto v = integralOf(stored.toDouble()))
                return QVariant(*v);
        }
        return stored;
    case ColumnKind::Real:
        if (isIntegerType(id) || isRealType(id))
            return QVariant(stored.toDouble());
        return stored;
    case ColumnKind::Text:
    case ColumnKind::Memo:
        if (id == QMetaType::QByteArray)
            return QVariant(QString::fromUtf8(stored.toByteArray()));
        if (isIntegerType(id) || isRealType(id))
            return QVariant(displayText(stored));
        return stored;
    case ColumnKind::Date:
        if (isTextType(id)) {
            if (auto d = fromStorageText(stored.toString())) {
                if (d->time)
                    return QVariant(QDateTime(d->date, *d->time));
                return QVariant(d->date);
            }
        }
        return stored;
    case ColumnKind::YesNo:
        if (isIntegerType(id) || isRealType(id))
            return QVariant(stored.toDouble() != 0);
        if (isTextType(id)) {
            const QString t = stored.toString().trimmed().toLower();
            if (isOneOf(t, {"true", "yes", "-1", "1"}))
                return QVariant(true);
            if (isOneOf(t, {"false", "no", "0"}))
                return QVariant(false);
        }
        return stored;
    case ColumnKind::Binary:
        if (isTextType(id))
            return QVariant(stored.toString().toUtf8());
        return stored;
    case ColumnKind::Unknown:
        break;
    }
    return stored;
}

QString displayText(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return {};
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("-1") : QStringLiteral("0");
    case QMetaType::QDate:
        return toDisplayText({value.toDate(), std::nullopt});
    case QMetaType::QDateTime: {
        const QDateTime dt = value.toDateTime();
        const QTime t = dt.time();
        return toDisplayText({dt.date(), QTime(t.hour(), t.minute(), t.second())});
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::QByteArray:
        return {};
    default:
        break;
    }
    if (isIntegerType(value.typeId()))
        return QString::number(value.toLongLong());
    return value.toString();
}

QVariant valueFromText(const QString& text)
{
    if (text.isEmpty())
        return {};
    return QVariant(text);
}

QString displayTextOfStored(const ColumnType& type, const QVariant& stored)
{
    if (type.kind == ColumnKind::Date && stored.typeId() == QMetaType::QString) {
        // "2026-12-06" or "2026-12-06 09:05:00": the display form only swaps
        // the separators, once the digits are where they belong.
        const QString text = stored.toString();
        const qsizetype n = text.size();
        auto digitsAt = [&](std::initializer_list<int> at) {
            for (int i : at) {
                if (!text[i].isDigit())
                    return false;
            }
            return true;
        };
        const bool dateShape = (n == 10 || n == 19) && text[4] == u'-' && text[7] == u'-'
                               && digitsAt({0, 1, 2, 3, 5, 6, 8, 9});
        const bool timeShape = !dateShape || n == 10
                               || (text[10] == u' ' && text[13] == u':' && text[16] == u':'
                                   && digitsAt({11, 12, 14, 15, 17, 18}));
        auto number = [&](int from, int len) {
            int v = 0;
            for (int i = from; i < from + len; ++i)
                v = v * 10 + text[i].digitValue();
            return v;
        };
        if (dateShape && timeShape && QDate(number(0, 4), number(5, 2), number(8, 2)).isValid()) {
            QString shown = text;
            shown[4] = u'/';
            shown[7] = u'/';
            return shown;
        }
    }
    return displayText(fromStorage(type, stored));
}

} // namespace zumilo::store
