#include "noteprinter.h"

#include "linebreaker.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <cmath>

namespace zumilo::print {

namespace {

// Positions are reckoned in twips, 1/1440 inch.
constexpr double kTwipsPerInch = 1440;
constexpr double kTwipsPerPoint = 20;

// Lines and pages as PrintText lays them out.
class Page {
public:
    Page(QPrinter& printer, QPainter& painter, const PrintArea& area)
        : printer_(printer), painter_(painter), area_(area), metrics_(painter.font(), &printer),
          breaker_(metrics_, area.width * area.scale), y_(area.top)
    {
    }

    // A line at the current position; the position moves below it.
    void printLine(const QString& text)
    {
        // A page is only started for something printed on it, so a break
        // after the last line leaves no empty sheet.
        if (pageBreakPending_) {
            printer_.newPage();
            pageBreakPending_ = false;
            y_ = area_.top;
        }
        painter_.drawText(QPointF(area_.left * area_.scale, y_ * area_.scale + metrics_.ascent()), text);
        y_ += area_.lineHeight;
    }
    void rule()
    {
        const QPointF from(area_.left * area_.scale, y_ * area_.scale);
        painter_.save();
        // One dot of the device, as a printer's own pen draws, not one
        // twip, which no printer can show.
        painter_.setPen(QPen(Qt::black, 0));
        painter_.drawLine(from, from + QPointF(area_.width * area_.scale, 0));
        painter_.restore();
    }
    // PrintUsedHeight is a whole number of twips.
    void addUsed() { used_ = int(std::nearbyint(used_ + area_.lineHeight)); }

    void PrintText(const QString& text)
    {
        static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
        for (const QString& line : text.split(lineEnd)) {
            // Empty lines take their place like any other, so that no line
            // ever lies below the bottom margin.
            const QStringList pieces = line.isEmpty() ? QStringList{QStringLiteral(" ")} : breaker_.pieces(line);
            for (const QString& piece : pieces) {
                if (used_ == 0)
                    y_ = area_.top;
                printLine(piece);
                addUsed();
                if (used_ + area_.lineHeight > area_.height) {
                    pageBreakPending_ = true;
                    used_ = 0;
                }
            }
        }
    }

private:
    QPrinter& printer_;
    QPainter& painter_;
    const PrintArea& area_;
    QFontMetricsF metrics_;
    LineBreaker breaker_;
    double y_;
    int used_ = 0; // PrintUsedHeight
    bool pageBreakPending_ = false;
};

} // namespace

QFont printFont(const PrintOptions& options)
{
    QFont font(options.fontName);
    font.setPointSize(options.point);
    return font;
}

PrintArea::PrintArea(const QPrinter& printer, const PrintOptions& options)
    : scale(printer.resolution() / kTwipsPerInch), top(twipsFromMm(options.top)), left(twipsFromMm(options.left))
{
    const QRectF sheet = printer.pageLayout().fullRect(QPageLayout::Point);
    const int sheetWidth = int(std::lround(sheet.width() * kTwipsPerPoint));
    const int sheetHeight = int(std::lround(sheet.height() * kTwipsPerPoint));
    width = sheetWidth - left - twipsFromMm(options.right);
    height = sheetHeight - top - twipsFromMm(options.bottom);
    lineHeight = QFontMetricsF(printFont(options), &printer).lineSpacing() / scale;
}

QString PrintSetup(QPrinter& printer, const PrintOptions& options)
{
    // Device units are twips wherever the printer allows it.
    printer.setResolution(int(kTwipsPerInch));
    printer.setFullPage(true);
    if (!printer.setPageSize(QPageSize(options.paper->size)))
        return QStringLiteral("このプリンターは用紙「%1」に印刷できません。\n「印刷設定」で別の用紙を選んでください。")
            .arg(options.paper->entry);
    printer.setPageOrientation(options.orientation == 2 ? QPageLayout::Landscape : QPageLayout::Portrait);

    const PrintArea area(printer, options);
    if (area.width <= 0 || area.height < area.lineHeight)
        return QStringLiteral("余白が大きすぎて、用紙に印刷する場所がありません。\n「印刷設定」で余白を小さくしてください。");
    return {};
}

bool printNote(QPrinter& printer, const PrintOptions& options, const NoteContent& note)
{
    const PrintArea area(printer, options);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    painter.setFont(printFont(options));
    Page page(printer, painter, area);

    // The header, the rules and the blank lines around them are placed
    // without a page-break test; only the title and body lines break pages.
    page.printLine(QStringLiteral("分類： ") + note.category + QStringLiteral("   更新日： ") + note.updateDate
                   + QStringLiteral("  ") + note.updateTime);
    page.addUsed();
    page.rule();
    page.printLine(QStringLiteral(" "));
    page.addUsed();
    page.PrintText(note.title);
    page.printLine(QStringLiteral(" "));
    page.addUsed();
    page.rule();
    page.printLine(QStringLiteral(" "));
    page.addUsed();
    page.PrintText(note.body);
    return painter.end();
}

} // namespace zumilo::print
