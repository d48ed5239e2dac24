#pragma once

#include <QList>
#include <QPageSize>
#include <QString>
#include <optional>

namespace zumilo::shell {
class SettingsStore;
}

namespace zumilo::print {

// One paper the options offer: its entry in the list, the printer paper
// code stored for it, and the page size it is printed on.
struct Paper {
    int code;
    QString entry;
    QPageSize::PageSizeId size;
};
// A4 (9), B5 (13), B4 (12), A3 (8), in the order the list shows them.
const QList<Paper>& papers();
const Paper* paperOfCode(int code);

// A "PrintOption" key, what the user calls it, and its value when unset.
struct PrintKey {
    QString key;
    QString label;
    QString defaultValue;
};
namespace keys {
extern const PrintKey PaperSize, Orientation, FontName, Point, Ueyohaku, Leftyohaku, Rightyohaku, Sitayohaku;
}

// The page set-up as the print reads it: whole numbers, margins in mm.
struct PrintOptions {
    const Paper* paper = &papers().front();
    int orientation = 1; // 1 portrait, 2 landscape
    QString fontName = keys::FontName.defaultValue;
    int point = 10;
    int top = 8;
    int left = 16;
    int right = 10;
    int bottom = 8;
};

// A number typed or stored as text: blanks ignored, full-width digits
// accepted. nullopt for text that is no number.
std::optional<double> toNumber(const QString& text);

// A stored number as a 16-bit whole number, the way the settings have
// always been read: halves rounded to even ("10.5" is 10). nullopt for
// text that is no such number.
std::optional<int> toInt16(const QString& text);

// Reads the eight values. A value the print cannot use gives the message
// that says which one and what to do, instead of options.
struct ReadOptions {
    PrintOptions options;
    QString error;
};
ReadOptions readPrintOptions(const shell::SettingsStore& settings);

// Millimetres to twips at 56.7 per mm, halves to the even neighbour
// (15 mm is 850, 25 mm is 1418).
int twipsFromMm(int mm);

} // namespace zumilo::print
