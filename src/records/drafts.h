#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class QWidget;

namespace zumilo::shell {
struct AppState;
}

namespace zumilo::records {

class RecordEditor;
class RecordWindow;

// The note an editor holds, as its window knows it.
struct DraftNote {
    QString databasePath;
    qint64 id = 0; // 0: a note not stored yet
};

// How long typing must pause before the draft is written.
inline constexpr int kDraftPauseMs = 2000;

// Keeps the journal's draft of one editor while it holds unsaved changes:
// written once typing pauses and when its window loses the focus, removed
// as soon as the editor holds no change (saved, dropped, another note
// loaded). Does nothing when the program keeps no journal.
class DraftKeeper : public QObject {
public:
    // `kind` names the editor among this run's ("main", "grid", "single").
    DraftKeeper(RecordEditor& editor, shell::AppState& state, QWidget* window, const QString& kind,
                std::function<DraftNote()> note);

    // Writes the draft at once, when there is a change to keep.
    void writeNow();
    const QString& slot() const { return slot_; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onCleared();

    RecordEditor& editor_;
    shell::AppState& state_;
    std::function<DraftNote()> note_;
    QString slot_;
    QTimer pause_;
    bool pending_ = false; // changed since the last write
    bool written_ = false;
};

// At a start after a run that ended without its shut-down: offers each
// draft it left, to restore (into a single-record window, unsaved) or to
// discard, and opens the restored ones. A draft whose note was changed or
// deleted meanwhile, or whose file cannot be opened, is restored as a new
// note. Damaged drafts are reported and passed over.
QList<RecordWindow*> restoreDrafts(shell::AppState& state, QWidget* parent);

} // namespace zumilo::records
