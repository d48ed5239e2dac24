#include "linebreaker.h"

#include <QTextBoundaryFinder>

namespace zumilo::print {

LineBreaker::LineBreaker(const QFontMetricsF& metrics, qreal width) : metrics_(metrics), width_(width) {}

qreal LineBreaker::advance(const QString& line, int from, int to)
{
    if (to - from != 1)
        return runWidth(line, from, to); // surrogate pairs, combining marks
    const char16_t c = line.at(from).unicode();
    auto it = advances_.constFind(c);
    if (it == advances_.constEnd())
        it = advances_.insert(c, metrics_.horizontalAdvance(line.at(from)));
    return *it;
}

qreal LineBreaker::runWidth(const QString& line, int from, int to) const
{
    return metrics_.horizontalAdvance(line.mid(from, to - from));
}

QStringList LineBreaker::pieces(const QString& line)
{
    // A character is what the reader sees as one: a surrogate pair or a
    // letter with its marks is never cut.
    bounds_.clear();
    bounds_.append(0);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, line);
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
        bounds_.append(int(at));
    const int count = int(bounds_.size()) - 1;

    QStringList out;
    for (int first = 0; first < count;) {
        const int start = bounds_[first];
        // The characters' own widths tell where the piece should end...
        int n = 0;
        qreal sum = 0;
        while (first + n < count) {
            sum += advance(line, bounds_[first + n], bounds_[first + n + 1]);
            if (sum >= width_)
                break;
            ++n;
        }
        n = std::max(n, 1);
        // ...and the runs' widths, measured as printed, settle it.
        auto fits = [&](int k) { return runWidth(line, start, bounds_[first + k]) < width_; };
        while (n > 1 && !fits(n))
            --n;
        while (first + n < count && fits(n + 1))
            ++n;
        out.append(line.mid(start, bounds_[first + n] - start));
        first += n;
    }
    return out;
}

} // namespace zumilo::print
