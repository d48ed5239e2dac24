#pragma once

#include <QList>
#include <QString>

namespace zumilo::store {
class Recordset;
}

namespace zumilo::records {

// The values status panels 2 to 6 show, as the row gave them.
struct NoteStamps {
    QString id;
    QString oyaID;
    QString updatedDate;
    QString updatedTime;
    QString created;
};

// What the editor's boxes hold, line breaks as "\n", or the row as read.
struct NoteFields {
    QString title;
    QString body;
    QString categoryName;
    QString doneDate;
    QString dueDate;
    QString dueTime;
    QString bunID;
    bool important = false;
    bool done = false;

    // The field of box Text1(i); both body boxes show the one body.
    QString& text(int box);
    const QString& text(int box) const { return const_cast<NoteFields*>(this)->text(box); }
};

// The note being edited: its row as read and what the user made of it.
// The editor's boxes and panels show it; a save writes a copy of it.
struct EditedNote {
    NoteStamps stamps;
    NoteFields stored;     // as read; a cut title or body is saved from here
    NoteFields fields;     // as the user left them
    bool titleCut = false; // the title box shows the beginning of a longer title
    bool bodyCut = false;  // the body boxes show the beginning of the body
    bool changed = false;
};

// A field the store refused while saving; the others were saved.
struct FieldFailure {
    QString label;   // the field as the user knows it: "タイトル", "完了日", "期日"...
    QString message; // why, in Japanese
    int box = -1;    // the Text1 box it was typed in, -1 for the others
};

// Writes `note` into the row `rs` is editing or adding (the caller has
// called edit() or addNew()): title, body, category name and number,
// completion date, due date and time, the two flags, oyaID (0 when empty),
// the update stamps `today` (yyyy/MM/dd) and `now` and the creation date
// (today when empty, and with `newCreationDate`). A field the store refuses
// keeps its stored value and is listed; the rest are written. Does not call
// update().
QList<FieldFailure> writeFields(store::Recordset& rs, const EditedNote& note, const QString& today, const QString& now,
                                bool newCreationDate = false);

} // namespace zumilo::records
