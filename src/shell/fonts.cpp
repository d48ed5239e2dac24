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
                           QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"), QStringLiteral("VL PGothic"),
                           QStringLiteral("Takao PGothic"), QStringLiteral("MS PGothic"),
                           QStringLiteral("Hiragino Sans")});
}

QString japaneseSerifFamily()
{
    const QString serif = firstInstalled({QStringLiteral("Noto Serif CJK JP"), QStringLiteral("Noto Serif JP"),
                                          QStringLiteral("IPAPMincho"), QStringLiteral("IPAMincho"),
                                          QStringLiteral("MS Mincho"), QStringLiteral("Hiragino Mincho ProN")});
    return serif.isEmpty() ? japaneseSansFamily() : serif;
}

QString installedFamily(const QString& name)
{
    if (name.isEmpty() || QFontDatabase::hasFamily(name))
        return name;
    const QString mapped = QFont::substitute(name);
    return QFontDatabase::hasFamily(mapped) ? mapped : name;
}

QStringList windowsFontNames(bool mincho)
{
    // Each as Windows spells it and as users type it: full- or half-width
    // "MS" and "P", with or without the blank.
    const QStringList faces = mincho ? QStringList{QStringLiteral("明朝"), QStringLiteral("Mincho")}
                                     : QStringList{QStringLiteral("ゴシック"), QStringLiteral("Gothic")};
    QStringList kinds{QString(), QStringLiteral("P"), QStringLiteral("Ｐ")};
    if (!mincho)
        kinds << QStringLiteral("UI ") << QStringLiteral("ＵＩ ") << QStringLiteral("UI") << QStringLiteral("ＵＩ");
    QStringList names;
    for (const QString& ms : {QStringLiteral("ＭＳ"), QStringLiteral("MS")}) {
        for (const QString& blank : {QStringLiteral(" "), QStringLiteral("　"), QString()}) {
            for (const QString& kind : kinds) {
                for (const QString& face : faces)
                    names << ms + blank + kind + face;
            }
        }
    }
    return names;
}

void installJapaneseFonts()
{
    const QString sans = japaneseSansFamily();
    const QString serif = japaneseSerifFamily();
    if (!sans.isEmpty()) {
        for (const QString& name : windowsFontNames(false))
            QFont::insertSubstitution(name, sans);
        QFont appFont = QApplication::font();
        appFont.setFamilies({sans});
        QApplication::setFont(appFont);
    }
    if (!serif.isEmpty()) {
        for (const QString& name : windowsFontNames(true))
            QFont::insertSubstitution(name, serif);
    }
}

} // namespace zumilo::shell
