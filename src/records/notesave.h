#pragma once

#include "recordeditor.h"

#include "store/error.h"

#include <QList>
#include <QString>

class QWidget;

namespace zumilo::shell {
class Clock;
class Prompts;
class StatusPanels;
} // namespace zumilo::shell

namespace zumilo::store {
class Database;
}

namespace zumilo::records {

enum class SaveMode {
    Update, // the note `id`
    New,    // a new note, numbered `id` or the next free number if higher
    Copy,   // a new note, as New, created today
};

// What a save achieved.
struct SaveOutcome {
    bool stored = false;          // the row was written
    QList<FieldFailure> failures; // fields that kept their stored value
    QString error;                // why nothing was stored (Japanese)
    store::ErrorKind errorKind = store::ErrorKind::Other;
    qint64 id = 0;       // the note's number
    bool newRow = false; // a new note or a copy

    // Everything the user typed is stored.
    bool complete() const { return stored && failures.isEmpty(); }
    bool noteGone() const { return !stored && errorKind == store::ErrorKind::RowDeleted; }
};

// Writes `note` (an editor's snapshot) into the file through `db`, in one
// transaction: its fields with the update stamps of `clock`, the number of
// a new note, and the category's present name as the note's copy of it
// (whatever the category box showed when the edit began). On failure
// nothing is stored.
SaveOutcome saveNote(store::Database& db, const EditedNote& note, const shell::Clock& clock, SaveMode mode, qint64 id);

// Tells the user what a save achieved: "登録完了" in panel 1 when all of
// it was stored, a message for a save that failed (with a hint at
// copy-save when the note was deleted meanwhile and `offerCopy`) or for the
// fields it refused. Returns outcome.complete().
bool reportSave(shell::Prompts& prompts, QWidget* parent, shell::StatusPanels& panels, const SaveOutcome& outcome,
                bool offerCopy = false);

// "このデータは変更されています。保存しますか？": true for Yes.
bool askToSave(shell::Prompts& prompts, QWidget* parent);

// Asked when a window closes after its note could not be saved: true when
// the user closes anyway, losing the edits. `endsProgram`: the question
// speaks of ending the program rather than closing the window.
bool closeWithoutSaving(shell::Prompts& prompts, QWidget* parent, bool endsProgram);

// What every window says about saving notes.
QString noRowToSaveMessage();
// A save that stored nothing, with the store's reason; the edits stay.
QString notSavedMessage(const QString& reason);
// The fields a save could not store, one per line; they keep their old
// value, or stay empty in a new row.
QString refusedFieldsMessage(const QList<FieldFailure>& failures, bool newRow = false);

} // namespace zumilo::records
