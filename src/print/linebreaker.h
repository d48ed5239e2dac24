#pragma once

#include <QFontMetricsF>
#include <QHash>
#include <QList>
#include <QString>

namespace zumilo::print {

// Cuts a line of text into the pieces printed one under another. Japanese
// has no spaces to break at, so each piece is the longest run of whole
// characters whose width is less than the print width; a piece always
// holds at least one character, even one wider than the print width.
//
// Measuring a run that grows a character at a time costs the square of
// the piece's length. Instead, the widths of single characters (kept per
// font) tell where the piece ends, and two measurements of the runs
// there confirm it; the cut is the same as the growing run gives, as
// long as a longer run is never narrower.
class LineBreaker {
public:
    LineBreaker(const QFontMetricsF& metrics, qreal width);

    // `line` holds no line breaks; an empty line gives no pieces.
    QStringList pieces(const QString& line);

private:
    qreal advance(const QString& line, int from, int to);
    qreal runWidth(const QString& line, int from, int to) const;

    QFontMetricsF metrics_;
    qreal width_;
    QHash<char16_t, qreal> advances_;
    QList<int> bounds_; // character starts of the line being cut, and its end
};

} // namespace zumilo::print
