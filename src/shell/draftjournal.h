#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <array>
#include <memory>
#include <vector>

class QLockFile;

namespace zumilo::shell {

// One note's edit that the user has not saved, as the journal keeps it.
struct Draft {
    QString slot; // the editor it came from: "main", "grid", "single-2"
    QString databasePath;
    qint64 noteId = 0;            // 0: a note not stored yet
    QString stampDate, stampTime; // the note's update stamp when the edit was made
    QDateTime savedAt;
    std::array<QString, 8> texts; // the editor's boxes Text1(0)..Text1(7); the body in 1
    std::array<bool, 2> checks{}; // 重要, 完了
    QString file;                 // where it was read from
};

// The drafts of unsaved edits, kept beside the settings (never in the
// database file) so that a crash or a power cut loses no typing. Each run
// writes into a folder of its own holding a lock while it runs; a clean
// shut-down removes the folder. A folder whose lock nobody holds belongs to
// a run that ended without its shut-down: its drafts are left behind.
class DraftJournal {
public:
    // Starts this run's part of the journal in `folder`.
    explicit DraftJournal(const QString& folder);
    // Leaves this run's drafts in place: only finish() removes them.
    ~DraftJournal();

    // The journal beside the settings file `settingsFile`.
    static QString folderBeside(const QString& settingsFile);

    // A slot name of its own for one more editor of `kind` ("single-3").
    QString newSlot(const QString& kind);
    // Stores the draft durably: written whole, flushed, renamed over the
    // last one, the folder flushed. The disk work runs on a thread of its
    // own, in the order asked for, so that typing never waits for it.
    void write(const Draft& draft);
    void remove(const QString& slot);
    // Waits until the disk has everything asked for.
    void flush();
    // This run ends by its own shut-down: its drafts and its lock go.
    void finish();

    struct LeftBehind {
        QList<Draft> drafts; // oldest first
        QStringList damaged; // unreadable drafts, moved aside (their new paths)
    };
    // The drafts of runs that ended without their shut-down; their folders
    // are claimed until release().
    LeftBehind leftBehind();
    // A left-behind draft is restored or discarded: it goes, after what
    // was written before.
    void drop(const Draft& draft);
    // Lets go of the claimed folders: those emptied go, drafts not dropped
    // are found again at the next start.
    void release();

    QString runFolder() const { return runFolder_; }

private:
    QString folder_;
    QString runFolder_;
    std::unique_ptr<QLockFile> lock_;
    std::vector<std::unique_ptr<QLockFile>> claimed_;
    QThreadPool disk_;
    int slots_ = 0;
    bool finished_ = false;
};

} // namespace zumilo::shell
