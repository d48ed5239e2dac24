#pragma once

#include "doubles.h"
#include "scriptedprompts.h"

#include "shell/appstate.h"
#include "shell/clock.h"
#include "shell/desktop.h"
#include "shell/settingsstore.h"
#include "shell/statuspanels.h"

#include <QStatusBar>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

namespace zumilo::store {
class Database;
}
namespace zumilo::records {
class RecordEditor;
enum class EditorKind;
} // namespace zumilo::records

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

// A TestApp with a note editor of `kind` on a shown canvas of its own, with
// its status bar, and a fresh database file (data/notes.zmd) to fill.
class EditorApp : public TestApp {
public:
    explicit EditorApp(records::EditorKind kind);
    ~EditorApp();

    QWidget canvas;
    QStatusBar bar;
    shell::StatusPanels panels{&bar};
    std::unique_ptr<records::RecordEditor> editor;
    std::shared_ptr<store::Database> db;
};

// What `program` writes to its standard output, run to its end.
QString runTool(const QString& program, const QStringList& arguments);
// A file's bytes; empty when it cannot be read.
QByteArray fileBytes(const QString& path);

} // namespace zumilo::test
