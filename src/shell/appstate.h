#pragma once

#include <QString>
#include <QStringList>

namespace zumilo::shell {

class Prompts;
class Clock;
class Desktop;
class SettingsStore;
class SharedCommands;
class DraftJournal;

// The services every window reaches the outside world through.
struct Services {
    Prompts* prompts = nullptr;
    Clock* clock = nullptr;
    Desktop* desktop = nullptr;
    SettingsStore* settings = nullptr;
    // The journal of unsaved edits; none keeps no drafts.
    DraftJournal* drafts = nullptr;
};

// The values the windows share, held once per application run and handed
// to each window (never global, so every test starts clean).
struct AppState {
    explicit AppState(Services s) : services(s) {}

    Services services;
    Prompts& prompts() const { return *services.prompts; }
    Clock& clock() const { return *services.clock; }
    Desktop& desktop() const { return *services.desktop; }
    SettingsStore& settings() const { return *services.settings; }
    DraftJournal* drafts() const { return services.drafts; }

    // The commands every window runs the same way (none when not set).
    const SharedCommands* commands = nullptr;

    // Where the program lies; given by main(), a temporary folder in tests.
    QString ProgramFolder;

    QString AppFolder; // ends in "/"
    QString DatabasePath;
    QString DatabaseFileName;
    QString DatabaseFolder; // ends in its separator
    QString PreviousDatabasePath;
    QString PreviousDatabaseFileName;
    QString CurrentTab = QStringLiteral("BunTab");
    QString CurrentBunID = QStringLiteral("0");
    QString CurrentBunName;
    QString WrapState = QStringLiteral("tbrUnpressed");
    int SingleWindowCount = 0;
    int LastSortColumn = 0;
    int LastSortOrder = 0;

    // The search words of this run, one list for every window's
    // Combo1, in the order first used, without duplicates.
    QStringList SearchHistory;
    // The search term of the main and grid windows' Combo1, which a window
    // takes into its own when it becomes active.
    QString SearchTerm;
};

// The caption of the main and grid windows: "Zumilo  " and the database path.
inline QString mainCaption(const QString& databasePath)
{
    return QStringLiteral("Zumilo  ") + databasePath;
}

// The section and key names of the settings store, in one place.
namespace Settings {
inline const QString DBName = QStringLiteral("DB_name");
inline const QString RecentFiles = QStringLiteral("Recent Files");
inline const QString Position = QStringLiteral("Position");
inline const QString PrintOption = QStringLiteral("PrintOption");
inline const QString F1Position = QStringLiteral("F1Position");
inline const QString F2Position = QStringLiteral("F2Position");
inline const QString F3Position = QStringLiteral("F3Position");

inline const QString HelpDatabaseName = QStringLiteral("Zumiloﾍﾙﾌﾟ.zmd");
} // namespace Settings

} // namespace zumilo::shell
