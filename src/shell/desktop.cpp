#include "shell/desktop.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QRegularExpression>
#include <QUrl>

namespace zumilo::shell {

namespace {

// How long xdg-open takes at most to say that it found no program; a later
// end is that of the program it ran.
constexpr qint64 kDocumentAnswerMs = 15000;

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

bool QtDesktop::openDocument(const QString& path, const std::function<void()>& failed)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        return open(path);
    // Without a desktop of its own xdg-open runs the program it finds until
    // that ends: it is let be, and only its early answer counts.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(opener);
    process->setArguments({QFileInfo(path).absoluteFilePath()});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer running;
    running.start();
    QObject::connect(process, &QProcess::finished, process,
                     [process, failed, running](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         const bool early = running.elapsed() < kDocumentAnswerMs;
                         if (early && (status != QProcess::NormalExit || code != 0) && failed)
                             failed();
                     });
    // Ending with us: the program xdg-open started goes on.
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, process, [process] {
        process->disconnect();
        process->kill();
        process->waitForFinished(1000);
    });
    process->start();
    if (process->waitForStarted())
        return true;
    delete process;
    return false;
}

QString userFilesFolder(const QString& databasePath)
{
    const QFileInfo folder(QFileInfo(databasePath).absolutePath());
    if (!databasePath.isEmpty() && folder.isDir() && folder.isWritable())
        return folder.absoluteFilePath() + QLatin1Char('/');
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty() || !QFileInfo(documents).isDir())
        documents = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    return documents + QLatin1Char('/');
}

} // namespace zumilo::shell
