#include "datetext.h"

#include <QRegularExpression>

namespace zumilo::store {

namespace {

struct Era {
    QStringList names; // kanji first, then the letter
    int offset;        // Gregorian year of the era's year 0
    QDate first;
    QDate last;
};

const std::vector<Era>& eras()
{
    static const std::vector<Era> list = {
        {{QStringLiteral("令和"), QStringLiteral("r")}, 2018, QDate(2019, 5, 1), QDate(9999, 12, 31)},
        {{QStringLiteral("平成"), QStringLiteral("h")}, 1988, QDate(1989, 1, 8), QDate(2019, 4, 30)},
        {{QStringLiteral("昭和"), QStringLiteral("s")}, 1925, QDate(1926, 12, 25), QDate(1989, 1, 7)},
        {{QStringLiteral("大正"), QStringLiteral("t")}, 1911, QDate(1912, 7, 30), QDate(1926, 12, 24)},
    };
    return list;
}

const Era* findEra(const QString& name)
{
    const QString n = name.toLower();
    for (const Era& e : eras())
        if (e.names.contains(n))
            return &e;
    return nullptr;
}

// Two-digit years as Windows reads them: 00-29 in this century, 30-99 in the last.
int expandYear(const QString& digits)
{
    const int y = digits.toInt();
    if (digits.size() > 2)
        return y;
    return y < 30 ? 2000 + y : 1900 + y;
}

std::optional<QTime> parseTime(const QRegularExpressionMatch& m, int first)
{
    if (!m.hasCaptured(first))
        return std::nullopt;
    const int h = m.captured(first).toInt();
    const int min = m.captured(first + 1).toInt();
    const int s = m.hasCaptured(first + 2) ? m.captured(first + 2).toInt() : 0;
    QTime t(h, min, s);
    return t.isValid() ? std::optional<QTime>(t) : std::nullopt;
}

QString pad(int value, int width)
{
    return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
}

} // namespace

std::optional<DateValue> parseDateText(const QString& text, const QDate& today)
{
    // NFKC turns full-width digits, slashes, colons and blanks into ASCII.
    const QString s = text.normalized(QString::NormalizationForm_KC).trimmed();
    if (s.isEmpty())
        return std::nullopt;

    static const QString time = QStringLiteral("(?:\\s+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?)?$");
    static const QString sep1 = QStringLiteral("\\s*(?:年|[/.\\-])\\s*");
    static const QString sep2 = QStringLiteral("\\s*(?:月|[/.\\-])\\s*");
    static const QRegularExpression eraForm(QStringLiteral("^(令和|平成|昭和|大正|[RrHhSsTt])\\s*(元|\\d{1,2})") + sep1
                                            + QStringLiteral("(\\d{1,2})") + sep2 + QStringLiteral("(\\d{1,2})\\s*日?")
                                            + time);
    static const QRegularExpression yearForm(QStringLiteral("^(\\d{4}|\\d{2})") + sep1 + QStringLiteral("(\\d{1,2})")
                                             + sep2 + QStringLiteral("(\\d{1,2})\\s*日?") + time);
    static const QRegularExpression dayForm(QStringLiteral("^(\\d{1,2})") + sep2 + QStringLiteral("(\\d{1,2})\\s*日?")
                                            + time);

    int y = 0;
    int monthAt = 0;
    const Era* era = nullptr;
    QRegularExpressionMatch m;
    if ((m = eraForm.match(s)).hasMatch()) {
        era = findEra(m.captured(1));
        const QString n = m.captured(2);
        y = era->offset + (n == QStringLiteral("元") ? 1 : n.toInt());
        monthAt = 3;
    } else if ((m = yearForm.match(s)).hasMatch()) {
        y = expandYear(m.captured(1));
        monthAt = 2;
    } else if ((m = dayForm.match(s)).hasMatch()) {
        y = today.isValid() ? today.year() : QDate::currentDate().year();
        monthAt = 1;
    } else {
        return std::nullopt;
    }

    const QDate date(y, m.captured(monthAt).toInt(), m.captured(monthAt + 1).toInt());
    if (!date.isValid())
        return std::nullopt;
    if (era && (date < era->first || date > era->last))
        return std::nullopt;

    DateValue value{date, std::nullopt};
    const int timeAt = monthAt + 2;
    if (m.hasCaptured(timeAt)) {
        value.time = parseTime(m, timeAt);
        if (!value.time)
            return std::nullopt;
    }
    return value;
}

QString toStorageText(const DateValue& value)
{
    const QDate& d = value.date;
    QString s = pad(d.year(), 4) + QLatin1Char('-') + pad(d.month(), 2) + QLatin1Char('-') + pad(d.day(), 2);
    if (value.time) {
        const QTime& t = *value.time;
        s += QLatin1Char(' ') + pad(t.hour(), 2) + QLatin1Char(':') + pad(t.minute(), 2) + QLatin1Char(':')
             + pad(t.second(), 2);
    }
    return s;
}

std::optional<DateValue> fromStorageText(const QString& stored)
{
    // 'T' as well as a blank: the ISO form other programs write.
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})(?:[ T](\\d{2}):(\\d{2})(?::(\\d{2})(?:\\.\\d+)?)?)?$"));
    const QRegularExpressionMatch m = form.match(stored);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    if (!date.isValid())
        return std::nullopt;
    DateValue value{date, std::nullopt};
    if (m.hasCaptured(4)) {
        value.time = parseTime(m, 4);
        if (!value.time)
            return std::nullopt;
    }
    return value;
}

QString toDisplayText(const DateValue& value)
{
    const QDate& d = value.date;
    QString s = pad(d.year(), 4) + QLatin1Char('/') + pad(d.month(), 2) + QLatin1Char('/') + pad(d.day(), 2);
    if (value.time) {
        const QTime& t = *value.time;
        s += QLatin1Char(' ') + pad(t.hour(), 2) + QLatin1Char(':') + pad(t.minute(), 2) + QLatin1Char(':')
             + pad(t.second(), 2);
    }
    return s;
}

} // namespace zumilo::store
