#pragma once

#include <QDateTime>
#include <QString>
#include <vector>

namespace zumilo::store {

// Copies of a database file taken before the program first writes to it in
// a run. Database::open() starts the copy in the background with its own
// connection through SQLite's backup API; the first write waits for the
// copy to be read (not for it to be checked and stored), so a backup always
// holds the file as it was before the run changed it. A copy is checked
// (quick_check) before it takes its place; a damaged copy never replaces a
// good generation. A file unchanged since its newest backup is not copied.
//
// The backups of "/a/notes.zmd" live in FOLDER/notes-<hash of the path>/
// as notes-<yyyyMMdd-HHmmsszzz>.zmd, the newest `generations` kept.

// Where backups are kept, and how many per file; an empty folder (the
// default) keeps none.
void setBackupFolder(const QString& folder, int generations = 5);
QString backupFolder();

struct Backup {
    QString path;
    QDateTime savedAt; // when the file last changed before it was copied
    QDateTime takenAt; // when the copy was taken
    qint64 size = 0;
};

// The backups of a database file, newest first.
std::vector<Backup> listBackups(const QString& databasePath);

// Puts a backup in the place of `databasePath`. The caller closes every
// connection it has to that file first (Database::close(); InUse
// otherwise). The backup is checked (UnusableBackup when it is damaged,
// empty or holds no notes tables; the file is then untouched), copied
// beside the file and renamed over it in one step, so the file is never
// missing or half written. The file it replaces, with any journal left by
// a crash, is kept in the backup folder as notes-<time>-replaced.zmd.
void restoreBackup(const Backup& backup, const QString& databasePath);

// Waits for the backups under way to finish (a file is restored only once
// its backup is done).
void finishBackups();
// Gives up the copies still being read and waits for the rest; the
// program calls it before it ends. A copy given up leaves nothing behind
// but a part file, which the next backup removes.
void stopBackups();

namespace detail {
// Starts the backup of a file this run has not copied yet.
void startBackup(const QString& canonicalPath);
// Whether a file is one of the backups (a file replaced by a restore is
// not): such a file is only read.
bool isBackupFile(const QString& path);
// Before a write: waits until the file's backup no longer needs the file.
void waitForBackup(const QString& canonicalPath);
} // namespace detail

} // namespace zumilo::store
