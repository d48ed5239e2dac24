#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>

namespace zumilo::store {

// Copies of a database file as a run found it: its notes, categories and
// options (and their indexes), without the search index, which a restored
// file builds afresh. Once the file's pages have passed their check, a
// snapshot of it is taken (see snapshot.h) and copied in the background on
// a connection of its own; writes go on meanwhile and wait for nothing,
// and the copy still holds the file as it was before the run changed it. A
// copy is checked (quick_check) before it takes its place; a damaged copy
// never replaces a good generation. A file unchanged since its newest
// backup (by its time) is not copied.
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
// Whether copies that the program's end waits for (see stopBackups) are
// still under way.
bool finishingBackups();
// Stops the pages' checks, gives up the copies of files the run did not
// write to and waits for the rest; the program calls it before it ends. A
// copy given up leaves nothing behind but a part file, which the next
// backup removes.
void stopBackups();

// A run's copy of a file that could not be made: the file itself is as
// it was, but the user is not to believe it backed up.
struct BackupFailure {
    QString path;   // the database file
    QString reason; // in Japanese, short, fit to stand in brackets
};
// Called on the copy's thread when a file's copy could not be made (its
// folder cannot be written, the disk is full, the copy failed its check,
// the file changed under it), not when the copy was given up at the
// program's end or for a restore. Empty: none.
void setBackupFailureNotice(std::function<void(const BackupFailure&)> notice);

namespace detail {
// Takes the snapshot of a file this run has not copied yet and starts its
// copy; called before the run first writes to it.
void startBackup(const QString& canonicalPath);
// Whether the file's backup is being taken or copied: a write of the
// whole index meanwhile would outgrow what the snapshot keeps.
bool backupCopying(const QString& canonicalPath);
void waitForBackup(const QString& canonicalPath);
// Called on a copy's thread before it copies: for tests, which hold a copy
// under way. Empty: none.
void setBeforeCopy(std::function<void()> hook);
// Whether a file is one of the backups (a file replaced by a restore is
// not): such a file is only read.
bool isBackupFile(const QString& path);
} // namespace detail

} // namespace zumilo::store
