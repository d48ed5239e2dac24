#pragma once

#include <QString>

namespace zumilo::shell {

// The font names stored in settings and files ("ＭＳ Ｐゴシック",
// "ＭＳ 明朝") name Windows faces. Map them onto the Japanese faces this
// machine has, and give the application a Japanese default font, so that
// menus and fields always show Japanese glyphs.
void installJapaneseFonts();

// The installed Japanese sans-serif and serif families (empty if none).
QString japaneseSansFamily();
QString japaneseSerifFamily();

} // namespace zumilo::shell
