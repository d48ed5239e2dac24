// The search-word history, taking the term, find inside the note
// shown and the searches across all notes.

#include "textcommands.h"
#include "textwindow.h"

#include "records/commandwindow.h"
#include "records/recordeditor.h"
#include "shell/appstate.h"
#include "shell/prompts.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QTextDocument>

#include <optional>

namespace zumilo::text {

using records::CommandWindow;

namespace {

// The term a window's Combo1 last took from AppState::SearchTerm.
const char* const kTakenTerm = "zumiloTakenTerm";

QStringList entries(const QComboBox* box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

// Steps 1 to 3 of taking the term; nothing when the term is empty.
std::optional<QString> takeTerm(CommandWindow& window, bool addToHistory)
{
    QComboBox* box = window.searchBox();
    if (!box)
        return std::nullopt;
    QWidget* focus = widgetOf(window)->focusWidget();
    if (isEditorBox(window, focus)) {
        const QString selected = selectedText(focus);
        if (!selected.isEmpty())
            box->setEditText(selected);
    }
    if (addToHistory)
        AddSearchHistory(window, box->currentText());
    const QString term = box->currentText();
    if (term.isEmpty()) {
        window.state().prompts().message(widgetOf(window), emptyTermMessage(), shell::Msg::OkOnly);
        box->setFocus();
        return std::nullopt;
    }
    return term;
}

// The memo's text with one character per document position.
QString memoText(const QPlainTextEdit* memo)
{
    QString text = memo->document()->toRawText();
    for (QChar& c : text) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    }
    return text;
}

void findAll(CommandWindow& window, bool inBodies)
{
    // The grid window's body search leaves the history alone.
    const bool record = !(window.windowKind() == shell::WindowKind::Grid && inBodies);
    if (const auto term = takeTerm(window, record))
        window.findInAllNotes(*term, inBodies);
}

} // namespace

QString emptyTermMessage()
{
    return QStringLiteral("検索する文字を先に入力してください");
}

QString findRestartQuestion()
{
    return QStringLiteral("検索が最後まで終わりました。") + QChar(13) + QStringLiteral("はじめから検索しますか。");
}

bool AddSearchHistory(CommandWindow& window, const QString& term)
{
    QStringList& history = window.state().SearchHistory;
    // Exact comparison; an empty term is not worth an entry.
    const bool added = !term.isEmpty() && !history.contains(term, Qt::CaseSensitive);
    if (added) {
        history.append(term);
        while (history.size() > kSearchHistoryCap)
            history.removeFirst();
    }
    syncSearchBox(window);
    return added;
}

void syncSearchBox(CommandWindow& window)
{
    QComboBox* box = window.searchBox();
    if (!box)
        return;
    const shell::AppState& st = window.state();
    QString text = box->currentText();
    if (box->property(kTakenTerm).toString() != st.SearchTerm) {
        text = st.SearchTerm;
        box->setProperty(kTakenTerm, st.SearchTerm);
    }
    const QSignalBlocker quiet(box);
    if (entries(box) != st.SearchHistory) {
        box->clear();
        box->addItems(st.SearchHistory);
    }
    if (box->currentText() != text)
        box->setEditText(text);
}

void followSearchTerm(CommandWindow& window)
{
    QComboBox* box = window.searchBox();
    if (!box)
        return;
    QObject::connect(box, &QComboBox::editTextChanged, box, [&window, box](const QString& text) {
        window.state().SearchTerm = text;
        box->setProperty(kTakenTerm, text);
    });
}

void mnuFindpage(CommandWindow& window)
{
    records::RecordEditor* editor = window.editor();
    if (!editor)
        return;
    const auto term = takeTerm(window, true);
    if (!term)
        return;
    QPlainTextEdit* memo = editor->visibleBodyBox();
    memo->setFocus();
    // After the current selection, or from the beginning (not the caret).
    const QTextCursor current = memo->textCursor();
    qsizetype start = current.hasSelection() ? current.selectionEnd() : 0;
    const QString text = memoText(memo);
    for (;;) {
        const qsizetype at = text.indexOf(*term, start, Qt::CaseSensitive);
        if (at >= 0) {
            QTextCursor hit(memo->document());
            hit.setPosition(int(at));
            hit.setPosition(int(at + term->size()), QTextCursor::KeepAnchor);
            memo->setTextCursor(hit);
            return;
        }
        const int answer = window.state().prompts().message(widgetOf(window), findRestartQuestion(),
                                                            shell::Msg::YesNo + shell::Msg::Exclamation
                                                                + shell::Msg::DefaultButton2);
        if (answer != shell::Msg::Yes)
            return;
        start = 0;
    }
}

void mnuFindtitle(CommandWindow& window)
{
    findAll(window, false);
}

void mnuFindnaiyo(CommandWindow& window)
{
    findAll(window, true);
}

} // namespace zumilo::text
