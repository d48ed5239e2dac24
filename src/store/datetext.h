#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <optional>

namespace zumilo::store {

// A date as stored: the day, and a time of day only when one was given.
struct DateValue {
    QDate date;
    std::optional<QTime> time;

    bool operator==(const DateValue&) const = default;
};

// Reads what a user typed into a date box. Accepts yyyy/M/d, yyyy-M-d,
// yyyy.M.d, M/d (of the year of `today`), yyyy年M月d日, M月d日, full-width
// digits and separators, the eras 令和/平成/昭和/大正 (also R/H/S/T and 元年),
// and an optional time h:mm or h:mm:ss after a blank. nullopt when it is
// not a real calendar date.
std::optional<DateValue> parseDateText(const QString& text, const QDate& today);

// Storage form: "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS".
QString toStorageText(const DateValue& value);
// Reads the storage form back; nullopt for anything else.
std::optional<DateValue> fromStorageText(const QString& stored);
// Display form, independent of the machine's locale: "yyyy/MM/dd",
// followed by " hh:mm:ss" when a time is present.
QString toDisplayText(const DateValue& value);

} // namespace zumilo::store
