#include "shell/appstate.h"
#include "shell/clock.h"
#include "shell/commands.h"
#include "shell/desktop.h"
#include "shell/draftjournal.h"
#include "shell/fonts.h"
#include "main/mainwindow.h"
#include "shell/prompts.h"
#include "shell/settingsstore.h"
#include "main/startup.h"
#include "shell/translations.h"
#include "store/backup.h"
#include "store/indexbuild.h"

#include <QApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Settings are kept under the executable's base name.
    const QString appName = QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName();
    QApplication::setApplicationName(appName.isEmpty() ? QStringLiteral("zumilo") : appName);
    QApplication::setOrganizationName(QApplication::applicationName());
    // Wayland desktops match the window to its desktop entry (and icon) by this.
    QApplication::setDesktopFileName(QStringLiteral("io.github.zumilo.Zumilo"));
    zumilo::store::setBackupFolder(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                                   + QStringLiteral("/backups"));
    zumilo::shell::readOverflowIconsWhenDrawn();
    zumilo::shell::installJapaneseFonts();
    zumilo::shell::installJapaneseTranslations();

    zumilo::shell::QtPrompts prompts;
    zumilo::shell::SystemClock clock;
    zumilo::shell::QtDesktop desktop;
    zumilo::shell::SettingsStore settings(QApplication::applicationName());
    zumilo::shell::DraftJournal drafts(zumilo::shell::DraftJournal::folderBeside(settings.fileName()));

    zumilo::shell::AppState state({&prompts, &clock, &desktop, &settings, &drafts});
    state.ProgramFolder = QApplication::applicationDirPath();

    QApplication::setWindowIcon(zumilo::shell::programIcon());
    auto mainWindow = zumilo::app::Main(state);
    // For timing the start: ends once the first window has been shown.
    if (qEnvironmentVariableIsSet("ZUMILO_EXIT_AFTER_SHOW"))
        QTimer::singleShot(0, &app, [] {
            std::puts("shown");
            std::fflush(stdout);
            QApplication::quit();
        });
    const int code = QApplication::exec();
    // Before the windows go: a check of the file they wait for stops.
    zumilo::store::stopBackups();
    mainWindow.reset();
    // Our own shut-down: what was left unsaved was answered for.
    drafts.finish();
    zumilo::store::stopIndexBuilds();
    return code;
}
