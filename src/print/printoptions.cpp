#include "printoptions.h"

#include "shell/appstate.h"
#include "shell/settingsstore.h"

#include <cmath>
#include <limits>

namespace zumilo::print {

const QList<Paper>& papers()
{
    static const QList<Paper> list = {
        {9, QStringLiteral("A4、210 x 297 mm"), QPageSize::A4},
        {13, QStringLiteral("B5、182 x 257 mm"), QPageSize::JisB5},
        {12, QStringLiteral("B4、250 x 354 mm"), QPageSize::B4},
        {8, QStringLiteral("A3、297 x 420 mm"), QPageSize::A3},
    };
    return list;
}

const Paper* paperOfCode(int code)
{
    for (const Paper& p : papers()) {
        if (p.code == code)
            return &p;
    }
    return nullptr;
}

namespace keys {
const PrintKey PaperSize{QStringLiteral("PaperSize"), QStringLiteral("用紙"), QStringLiteral("9")};
const PrintKey Orientation{QStringLiteral("Orientation"), QStringLiteral("印刷の向き"), QStringLiteral("1")};
const PrintKey FontName{QStringLiteral("FontName"), QStringLiteral("フォント"), QStringLiteral("ＭＳ 明朝")};
const PrintKey Point{QStringLiteral("Point"), QStringLiteral("フォントの大きさ"), QStringLiteral("10")};
const PrintKey Ueyohaku{QStringLiteral("Ueyohaku"), QStringLiteral("上余白"), QStringLiteral("8")};
const PrintKey Leftyohaku{QStringLiteral("Leftyohaku"), QStringLiteral("左余白"), QStringLiteral("16")};
const PrintKey Rightyohaku{QStringLiteral("Rightyohaku"), QStringLiteral("右余白"), QStringLiteral("10")};
const PrintKey Sitayohaku{QStringLiteral("Sitayohaku"), QStringLiteral("下余白"), QStringLiteral("8")};
} // namespace keys

std::optional<double> toNumber(const QString& text)
{
    bool ok = false;
    const double value = text.normalized(QString::NormalizationForm_KC).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int> toInt16(const QString& text)
{
    const std::optional<double> value = toNumber(text);
    if (!value)
        return std::nullopt;
    const double whole = std::nearbyint(*value);
    if (whole < std::numeric_limits<qint16>::min() || whole > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return int(whole);
}

ReadOptions readPrintOptions(const shell::SettingsStore& settings)
{
    ReadOptions read;
    PrintOptions& o = read.options;
    o.fontName = settings.read(shell::Settings::PrintOption, keys::FontName.key, keys::FontName.defaultValue);

    // Each number with the least it may be; the first that fails is named.
    int paperSize = 0;
    const struct {
        const PrintKey& key;
        int* target;
        int least;
    } numbers[] = {
        {keys::PaperSize, &paperSize, std::numeric_limits<qint16>::min()},
        {keys::Orientation, &o.orientation, 1},
        {keys::Point, &o.point, 1},
        {keys::Ueyohaku, &o.top, 0},
        {keys::Leftyohaku, &o.left, 0},
        {keys::Rightyohaku, &o.right, 0},
        {keys::Sitayohaku, &o.bottom, 0},
    };
    for (const auto& n : numbers) {
        const QString text = settings.read(shell::Settings::PrintOption, n.key.key, n.key.defaultValue);
        const std::optional<int> value = toInt16(text);
        if (!value || *value < n.least || (&n.key == &keys::Orientation && *value > 2)) {
            read.error = QStringLiteral("印刷設定の「%1」に使えない値「%2」が入っています。\n"
                                        "「印刷設定」で直してください。")
                             .arg(n.key.label, text);
            return read;
        }
        *n.target = *value;
    }
    o.paper = paperOfCode(paperSize);
    if (!o.paper) {
        o.paper = &papers().front();
        read.error = QStringLiteral("印刷設定で用紙が選ばれていません（コード %1）。\n"
                                    "「印刷設定」で用紙を選んでください。")
                         .arg(paperSize);
    }
    return read;
}

int twipsFromMm(int mm)
{
    // nearbyint rounds halves to even in the default rounding mode.
    return int(std::nearbyint(double(mm) * 56.7));
}

} // namespace zumilo::print
