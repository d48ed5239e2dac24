#pragma once

// What the text commands share inside this folder.

#include <QString>

class QWidget;

namespace zumilo::records {
class CommandWindow;
}

namespace zumilo::text {

// The window itself, for prompts and its focus.
QWidget* widgetOf(records::CommandWindow& window);
// Whether `widget` is one of the editor's Text1 boxes.
bool isEditorBox(records::CommandWindow& window, const QWidget* widget);
// The selected text of a text box, line breaks as "\n".
QString selectedText(const QWidget* box);
// The main and grid windows: what their Combo1 holds is the run's term.
void followSearchTerm(records::CommandWindow& window);

} // namespace zumilo::text
