#pragma once

// The text tools: find inside a note and across notes
// with the search-word history, the editing commands on the focused
// control, wrapping, font size, the date stamp and opening links. One
// implementation for the three windows, reached through CommandWindow.

#include <QDateTime>
#include <QString>

namespace zumilo::shell {
struct AppState;
class Desktop;
class SharedCommands;
} // namespace zumilo::shell

namespace zumilo::records {
class CommandWindow;
}

namespace zumilo::text {

// Adds the commands (mnuFindpage, mnuFindNext, mnuFindtitle, mnuFindnaiyo,
// mnuUndo, mnuCut, mnuCopy, mnuPaste, mnuDelete, mnuOrikae, mnuFontAdd,
// mnuFontSub, mnuEditDate) and what each window needs set up: its search
// box following the history when it becomes active, the undo entry
// following the editor, a double click opening a link.
void addTextCommands(shell::SharedCommands& commands);

// --- Find -------------------------------------------------------------

// The most terms the history keeps; the oldest goes first.
inline constexpr int kSearchHistoryCap = 50;

// Adds `term` to the run's search history (AppState::SearchHistory) unless
// an entry equals it exactly; empty text is never added. Refreshes the
// window's Combo1. Returns whether the history grew.
bool AddSearchHistory(records::CommandWindow& window, const QString& term);
// Fills the window's Combo1 list from the history and, when the term of
// the main and grid windows changed since the window last took it, its text.
void syncSearchBox(records::CommandWindow& window);

// The four find commands.
void mnuFindpage(records::CommandWindow& window);
void mnuFindtitle(records::CommandWindow& window);
void mnuFindnaiyo(records::CommandWindow& window);

// The messages of find.
QString emptyTermMessage();
QString findRestartQuestion();

// --- Editing -------------------------------------------------------------

void mnuUndo(records::CommandWindow& window);
void mnuCopy(records::CommandWindow& window);
void mnuPaste(records::CommandWindow& window);
void mnuDelete(records::CommandWindow& window);
void mnuCut(records::CommandWindow& window);
void mnuOrikae(records::CommandWindow& window);
// Font size of Text1(0..2) by `step` points, stored under "Position"/
// "FontSize". Refused with a beep (nothing changes, nothing is stored)
// when the size would fall below 1 point or rise above the largest size.
bool changeFontSize(records::CommandWindow& window, int step);
void mnuEditDate(records::CommandWindow& window);

// The date/time stamp for the "DateTime" setting: 1 "yyyy/MM/dd",
// 2 "yyyy/MM/dd hh:mm", 3 "hh:mm yyyy/MM/dd", anything else empty.
QString dateStamp(const QDateTime& now, int format);

// Full-width ASCII forms (and the ideographic space and the full-width
// yen sign, the Japanese path separator) in their half-width forms.
QString narrowed(const QString& text);
// What OpenLink opens for `text`, empty when no rule applies.
QString linkTarget(const QString& text);
// Hands the target to the desktop's open action.
void OpenLink(shell::Desktop& desktop, const QString& text);

} // namespace zumilo::text
