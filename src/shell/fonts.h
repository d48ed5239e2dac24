#pragma once

#include <QString>
#include <QStringList>

namespace zumilo::shell {

// The font names stored in settings and files ("ＭＳ Ｐゴシック",
// "ＭＳ 明朝") name Windows faces. Map them onto the Japanese faces this
// machine has (Mincho names to a serif face, Gothic ones to a sans-serif
// face), and give the application a Japanese default font, so that menus
// and fields always show Japanese glyphs.
void installJapaneseFonts();

// The spellings of the Windows Mincho (or Gothic) faces that are mapped,
// P and UI kinds included.
QStringList windowsFontNames(bool mincho);

// The family `name` is drawn in: the name itself where the machine has
// it, else the face it is mapped onto. Qt, asked for a face the machine
// lacks, searches the fallbacks of every script in the text, a cost the
// start pays for each box.
QString installedFamily(const QString& name);

// The installed Japanese sans-serif and serif families (empty if none).
QString japaneseSansFamily();
QString japaneseSerifFamily();

} // namespace zumilo::shell
