#include "fonts.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

namespace zumilo::shell {

namespace {

QString firstInstalled(const QStringList& candidates)
{
    const QStringList families = QFontDatabase::families();
    for (const QString& c : candidates) {
        if (families.contains(c, Qt::CaseInsensitive))
            return c;
    }
    return {};
}

} // namespace

QString japaneseSansFamily()
{
    return firstInstalled({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
                           QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                           QStringLiteral("VL PGothic"), QStringLiteral("Takao PGothic"),
                           QStringLiteral("MS PGothic"), QStringLiteral("Hiragino Sans")});
}

QString japaneseSerifFamily()
{
    const QString serif = firstInstalled({QStringLiteral("Noto Serif CJK JP"), QStringLiteral("Noto Serif JP"),
                                          QStringLiteral("IPAPMincho"), QStringLiteral("IPAMincho"),
                                          QStringLiteral("MS Mincho"), QStringLiteral("Hiragino Mincho ProN")});
    return serif.isEmpty() ? japaneseSansFamily() : serif;
}

void installJapaneseFonts()
{
    const QString sans = japaneseSansFamily();
    const QString serif = japaneseSerifFamily();
    if (!sans.isEmpty()) {
        for (const char* name : {"ＭＳ Ｐゴシック", "ＭＳ ゴシック", "MS PGothic", "MS Gothic", "ＭＳ Ｐ明朝"}) {
            QFont::insertSubstitution(QString::fromUtf8(name), sans);
        }
        QFont appFont = QApplication::font();
        appFont.setFamilies({sans});
        QApplication::setFont(appFont);
    }
    if (!serif.isEmpty()) {
        for (const char* name : {"ＭＳ 明朝", "MS Mincho"})
            QFont::insertSubstitution(QString::fromUtf8(name), serif);
    }
}

} // namespace zumilo::shell
