#pragma once

#include <QHash>
#include <QObject>
#include <QThread>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QMainWindow;
class QTimer;

namespace zumilo::shell {
struct AppState;
class SettingsStore;
class IndexBuildNotice;
class StatusNotice;
} // namespace zumilo::shell

namespace zumilo::store {
class Database;
struct BackupFailure;
} // namespace zumilo::store

namespace zumilo::app {

class RecentFiles;

// What the window does for the file session at each of its steps.
struct SessionLinks {
    // False when the user stays on an edited note that could not be saved.
    std::function<bool()> mayLeaveNote;
    // The window's readers of the open file let go of it.
    std::function<void()> dropReaders;
    // The other windows let go of the open file; false when one stays open.
    std::function<bool()> closeOtherWindows;
    // The window shows the file just opened: tree, list, caption.
    std::function<void()> showFile;
};

// The database file the main window works on: opening, switching, creating
// and restoring it, the recent files, the status bar's notices while its
// search index is built and when a backup could not be made, and the
// thorough check each open starts.
class OpenFileSession : public QObject {
public:
    OpenFileSession(shell::AppState& state, QMainWindow& window, QAction* recentSeparator,
                    const std::array<QAction*, 5>& recentItems, SessionLinks links);
    ~OpenFileSession() override;

    store::Database* database() const { return db_.get(); }
    RecentFiles& recentFiles() const { return *recent_; }
    bool DBCheckOK() const;

    // Start-up: the file of the last run (the help database at the first
    // start), opened and shown; false when none could be shown.
    void readLastFile();
    bool openLastFile();
    // Shut-down: the file's name for the next run, and the file closed.
    void rememberLastFile();
    void closeFile();

    void mnuOpenDB_Click();
    void mnuRecentFile_Click(int index);
    // Opens another file by its path, as the recent-file entries do.
    void switchTo(const QString& path);
    // F1: the help database beside the program (or the user's copy of it).
    void openHelpDatabase();
    // Opens DatabasePath and switches the window to it; the caller has set
    // the Previous* names and the new ones.
    void OpenDatabaseFile();
    void mnuDBnew_Click();
    void mnuDBnew2_Click();
    // Puts one of the open file's backups in its place, after asking.
    void mnuRestoreBackup_Click();

private:
    QString firstStartDatabasePath() const;
    void createDatabaseFile(bool withStarterCategories);
    // Every window of ours lets go of the open file; false when a
    // single-record window stays open (its note could not be saved).
    bool releaseFile();
    void showOpenedDatabase();
    void attachDatabase(std::shared_ptr<store::Database> db);
    // Says in the status bar while the open file's search index is being
    // built in the background.
    // Says in the status bar that a file's backup could not be made: the
    // failure is found on a thread at any moment, while the user types,
    // and the notes are safe, so no box takes the keyboard.
    void sayBackupFailed(const store::BackupFailure& failure);
    // The notice stands while the open file is one whose backup failed.
    void showBackupNotice();
    // Opens a file, showing how far the search index's catch-up has got.
    std::shared_ptr<store::Database> openFile(const QString& path);
    // Shows how far a rebuild of the search index has got.
    std::function<void(qint64, qint64)> indexProgress(const QString& path);
    // Looks the open file over on a thread of its own once it is shown
    // (see Database::checkThoroughly): a damaged search index is rebuilt,
    // damaged pages are named.
    void checkOpenFile();
    void onFileChecked(const QString& path, quint64 file, int health);

    shell::AppState& st_;
    QMainWindow& window_;
    SessionLinks links_;
    std::unique_ptr<RecentFiles> recent_;
    shell::IndexBuildNotice* indexNotice_ = nullptr;
    shell::StatusNotice* backupNotice_ = nullptr;
    // The files whose backup this run could not make (by canonical path),
    // with what the notice's tip says of each.
    QHash<QString, QString> backupFailures_;
    std::shared_ptr<store::Database> db_;
    std::unique_ptr<QThread> check_;
    bool checkAgain_ = false;    // another file was opened while one was looked at
    quint64 fileGeneration_ = 0; // a check of a file since let go of is not heard
};

} // namespace zumilo::app
