#pragma once

#include <QString>
#include <QVariant>

namespace zumilo::store {

enum class ColumnKind { Integer, Real, Text, Memo, Date, YesNo, Binary, Unknown };

struct ColumnType {
    ColumnKind kind = ColumnKind::Unknown;
    int maxLength = 0; // Text only: n of text(n); 0 = no limit

    // From a declared type: "long", "counter", "INTEGER", "text(250)",
    // "longtext", "DateTime", "yesno", "LONGBINARY", ... Empty: Unknown.
    static ColumnType fromDeclared(const QString& declared);
};

// Converts a value for storage in a column of type `type`; the returned
// QVariant is what gets bound to SQLite (qint64, double, QString,
// QByteArray, or a null QVariant). Throws StoreError (TypeMismatch,
// InvalidDate, TooLong) naming `field`. Text for a date column is read with
// parseDateText against `today`. Yes/no becomes -1 or 0.
QVariant toStorage(const ColumnType& type, const QVariant& value, const QString& field, const QDate& today);

// Converts a stored SQLite value to what callers see: null stays a null
// QVariant; dates become QDate (QDateTime when a time is stored); yes/no
// becomes bool; integers qint64; text QString.
QVariant fromStorage(const ColumnType& type, const QVariant& stored);

// Whether a QMetaType id is one of the integer types.
bool isIntegerType(int typeId);

// The one place where values become text and text becomes values.
// Null -> "", dates "yyyy/MM/dd", yes/no "-1"/"0", numbers plain.
QString displayText(const QVariant& value);
// displayText(fromStorage(type, stored)), with a quick path for the usual
// stored date forms (lists of thousands of rows show many dates).
QString displayTextOfStored(const ColumnType& type, const QVariant& stored);

// Characters as text(n) counts them: code points, so that a character
// outside the BMP counts once.
int characterCount(const QString& text);

// "" -> null QVariant, anything else the text itself.
QVariant valueFromText(const QString& text);

} // namespace zumilo::store
