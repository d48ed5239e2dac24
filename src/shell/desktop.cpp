#include "shell/desktop.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

namespace zumilo::shell {

namespace {

// "C:\..." or "C:/...": notes written on Windows keep their paths.
bool isDrivePath(const QString& s)
{
    return s.size() >= 3 && s[0].isLetter() && s[1] == u':' && (s[2] == u'\\' || s[2] == u'/');
}

bool hasScheme(const QString& s)
{
    // Two letters at least, so that a drive letter is not a scheme.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(s).hasMatch();
}

QUrl urlFor(const QString& target)
{
    if (target.startsWith(u'/'))
        return QUrl::fromLocalFile(target);
    // "C:\a\b.txt" → file:///C:/a/b.txt, "\\host\share" → file://host/share.
    if (isDrivePath(target) || target.startsWith(QLatin1String("\\\\")))
        return QUrl::fromLocalFile(QString(target).replace(u'\\', u'/'));
    // A web address may be written in full-width letters ("ｗｗｗ．…"),
    // as notes typed with a Japanese input method often are.
    auto isWeb = [](const QString& s) {
        return s.startsWith(QLatin1String("www."), Qt::CaseInsensitive) || hasScheme(s);
    };
    const QString web = isWeb(target) ? target : target.normalized(QString::NormalizationForm_KC);
    if (web.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
        return QUrl(QStringLiteral("http://") + web, QUrl::TolerantMode);
    if (hasScheme(web))
        return QUrl(web, QUrl::TolerantMode);
    // Anything else names a file relative to where we run.
    return QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath());
}

} // namespace

bool QtDesktop::start(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

bool QtDesktop::open(const QString& target)
{
    const QString trimmed = target.trimmed();
    if (trimmed.isEmpty())
        return false;
    const QUrl url = urlFor(trimmed);
    return url.isValid() && QDesktopServices::openUrl(url);
}

} // namespace zumilo::shell
