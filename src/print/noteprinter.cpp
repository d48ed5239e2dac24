#include "noteprinter.h"

#include "linebreaker.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QTextLayout>
#include <cmath>
#include <limits>

namespace zumilo::print {

namespace {

// Positions are reckoned in twips, 1/1440 inch.
constexpr double kTwipsPerInch = 1440;
constexpr double kTwipsPerPoint = 20;

// Lines and pages as PrintText lays them out.
class Page {
public:
    Page(const QPrinter& printer, const PrintArea& area, const QFont& font)
        : area_(area), metrics_(font, &printer), breaker_(metrics_, area.width * area.scale), y_(area.top)
    {
    }

    // A line at the current position; the position moves below it.
    void printLine(const QString& text)
    {
        // A page is only started for something printed on it, so a break
        // after the last line leaves no empty sheet.
        if (pageBreakPending_ || sheets_.isEmpty()) {
            sheets_.append(Sheet{});
            pageBreakPending_ = false;
            y_ = area_.top;
        }
        sheets_.last().append({QPointF(area_.left, y_), text});
        y_ += area_.lineHeight;
    }
    void rule() { sheets_.last().append({QPointF(area_.left, y_), {}, true}); }
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

    QList<Sheet> sheets() const { return sheets_; }

private:
    const PrintArea& area_;
    QFontMetricsF metrics_;
    LineBreaker breaker_;
    double y_;
    int used_ = 0; // PrintUsedHeight
    bool pageBreakPending_ = false;
    QList<Sheet> sheets_;
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
        return QStringLiteral(
            "余白が大きすぎて、用紙に印刷する場所がありません。\n「印刷設定」で余白を小さくしてください。");
    return {};
}

QList<Sheet> layoutNote(const QPrinter& printer, const PrintOptions& options, const NoteContent& note)
{
    const PrintArea area(printer, options);
    Page page(printer, area, printFont(options));

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
    return page.sheets();
}

QList<QGlyphRun> shapeLine(const QString& text, const QFont& font, QPaintDevice* device, int from, int length)
{
    QTextLayout layout(text, font, device);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(std::numeric_limits<qreal>::max() / 4);
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
    return layout.glyphRuns(from, length);
}

bool printNote(QPrinter& printer, const PrintOptions& options, const NoteContent& note)
{
    const PrintArea area(printer, options);
    const QFont font = printFont(options);
    const QList<Sheet> sheets = layoutNote(printer, options, note);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    // One dot of the device, as a printer's own pen draws, not one twip,
    // which no printer can show.
    painter.setPen(QPen(Qt::black, 0));
    for (const Sheet& sheet : sheets) {
        if (&sheet != &sheets.first())
            printer.newPage();
        for (const SheetItem& item : sheet) {
            const QPointF at = item.at * area.scale;
            if (item.rule) {
                painter.drawLine(at, at + QPointF(area.width * area.scale, 0));
                continue;
            }
            for (const QGlyphRun& run : shapeLine(item.text, font, &printer))
                painter.drawGlyphRun(at, run);
        }
    }
    return painter.end();
}

} // namespace zumilo::print
