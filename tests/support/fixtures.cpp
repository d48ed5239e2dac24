#include "fixtures.h"

#include "main/startup.h"
#include "records/recordeditor.h"
#include "store/database.h"
#include "store/schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

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

EditorApp::EditorApp(records::EditorKind kind)
{
    canvas.resize(800, 600);
    editor = std::make_unique<records::RecordEditor>(kind, &canvas, &panels, *state);
    db = store::Database::open(makeDatabase(QStringLiteral("data/notes.zmd")));
    canvas.show();
}

EditorApp::~EditorApp() = default;

QString runTool(const QString& program, const QStringList& arguments)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace zumilo::test
