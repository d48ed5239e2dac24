#pragma once

#include "doubles.h"
#include "scriptedprompts.h"

#include "shell/appstate.h"
#include "shell/clock.h"
#include "shell/desktop.h"
#include "shell/settingsstore.h"

#include <QTemporaryDir>
#include <memory>

namespace zumilo::test {

// A fresh world for one test: a temporary folder with a program folder and
// a settings file, scripted prompts, a fixed clock and a recording desktop.
class TestApp {
public:
    TestApp();

    // A path inside the temporary folder (folders are created on demand).
    QString path(const QString& relative) const;
    // Creates a database file of the program at `relative`.
    QString makeDatabase(const QString& relative, bool withStarterCategories = false) const;
    // Writes arbitrary bytes to a file (for files that are not databases).
    QString writeFile(const QString& relative, const QByteArray& bytes) const;
    // The help database's path inside the program folder (not created).
    QString helpDatabasePath() const;
    // Re-reads the settings file, as the next run of the program would.
    std::unique_ptr<shell::SettingsStore> reopenSettings() const;

    QTemporaryDir dir;
    ScriptedPrompts prompts;
    FixedClock clock;
    RecordingDesktop desktop;
    std::unique_ptr<shell::SettingsStore> settings;
    std::unique_ptr<shell::AppState> state;
};

} // namespace zumilo::test
