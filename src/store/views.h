#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace zumilo::store {

// What a window, the export or a search wants of the notes, as a value:
// the store alone makes a statement of it, with every word the user typed
// bound as a parameter, and answers its words from the search index.
struct NoteView {
    enum class Notes {
        All,       // every note
        Category,  // the notes of category `number`
        Important, // jyuyoCK set
        Scheduled, // not done, with a due date
        Recent,    // every note, last updated first
        One,       // the note numbered `number`
    };
    Notes notes = Notes::All;
    qint64 number = 0;

    // Found anywhere in the title and in the body, character for character
    // (a quote or a wildcard is only itself), ignoring case, width and
    // kana. Both given: both must be found. Empty: no condition, so a body
    // search also finds the notes without a title.
    QString titleWord;
    QString bodyWord;

    QStringList fields; // in the order shown; empty: all of the table's
    // The fields to sort by, each descending or not; empty: the order
    // `notes` brings (none but Recent's). Text sorts as every list of the
    // program does.
    QStringList sortFields;
    bool descending = false;

    bool operator==(const NoteView&) const = default;
};

// The note numbered `id`, all of its fields: for a window that edits it.
inline NoteView oneNote(qint64 id)
{
    NoteView v;
    v.notes = NoteView::Notes::One;
    v.number = id;
    return v;
}

// What the category search, the tree and the picker read of the categories.
struct CategoryView {
    std::optional<qint64> parent; // only the children of this category
    QString nameWord;             // found in the name, as NoteView's words
    enum class Order { None, ByNumber, ByName };
    Order order = Order::None;
    QStringList fields; // empty: all

    bool operator==(const CategoryView&) const = default;
};

} // namespace zumilo::store
