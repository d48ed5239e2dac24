#include "fixtures.h"

#include "main/startup.h"
#include "store/schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace zumilo::test {

TestApp::TestApp() : clock(QDateTime(QDate(2026, 12, 6), QTime(10, 30, 15)))
{
    QDir(dir.path()).mkpath(QStringLiteral("program"));
    settings = shell::SettingsStore::atFile(path(QStringLiteral("settings/zumilo.ini")));
    state = std::make_unique<shell::AppState>(shell::Services{&prompts, &clock, &desktop, settings.get(), nullptr});
    state->ProgramFolder = path(QStringLiteral("program"));
    state->commands = &app::programCommands();
}

QString TestApp::path(const QString& relative) const
{
    const QString full = QDir(dir.path()).filePath(relative);
    QDir().mkpath(QFileInfo(full).absolutePath());
    return full;
}

QString TestApp::makeDatabase(const QString& relative, bool withStarterCategories) const
{
    const QString full = path(relative);
    store::createZumiloDatabase(full, withStarterCategories);
    return full;
}

QString TestApp::writeFile(const QString& relative, const QByteArray& bytes) const
{
    const QString full = path(relative);
    QFile f(full);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return full;
}

QString TestApp::helpDatabasePath() const
{
    return path(QStringLiteral("program/") + shell::Settings::HelpDatabaseName);
}

std::unique_ptr<shell::SettingsStore> TestApp::reopenSettings() const
{
    settings->sync();
    return shell::SettingsStore::atFile(settings->fileName());
}

} // namespace zumilo::test
