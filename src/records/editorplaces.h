#pragma once

#include <QList>

namespace zumilo::shell {
class TwipsLayout;
}

namespace zumilo::records {

class RecordEditor;

// Where a window puts one of the editor's controls at its design size, in
// twips. `name` is the control's name ("Text1(3)", "Label1(0)"...).
struct EditorPlace {
    const char* name;
    double left;
    double top;
    double width;
    double height;
};

// Adds the editor's controls to a window's layout at the places of its
// table, each at least as large as its font needs: boxes and check boxes
// grow to their text, a label keeps its right edge next to its box, the
// small buttons stay square to the boxes' height. When the first row (the
// category, flags and dates) must be taller than designed, the rows below
// it move down with it. Returns how far they moved.
double placeEditor(shell::TwipsLayout& layout, RecordEditor& editor, const QList<EditorPlace>& places);

} // namespace zumilo::records
