// The editing commands on the focused control, wrapping, font
// size, the date stamp and opening links.

#include "textcommands.h"
#include "textwindow.h"

#include "records/commandwindow.h"
#include "records/recordeditor.h"
#include "shell/appstate.h"
#include "shell/clock.h"
#include "shell/desktop.h"
#include "shell/settingsstore.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTextCursor>

namespace zumilo::text {

using records::CommandWindow;

namespace {

// The focused control by the kinds the clipboard commands tell apart:
// text box, combo box, picture box, list box. At most one is set.
struct Focused {
    QLineEdit* line = nullptr;
    QPlainTextEdit* plain = nullptr;
    QComboBox* combo = nullptr;
    QLabel* picture = nullptr;
    QListWidget* list = nullptr;

    explicit Focused(QWidget* w)
    {
        if (!w)
            return;
        // An editable combo box's own line edit is the combo box.
        auto* parentCombo = qobject_cast<QComboBox*>(w->parentWidget());
        if (parentCombo && parentCombo->lineEdit() == w) {
            combo = parentCombo;
            return;
        }
        combo = qobject_cast<QComboBox*>(w);
        line = qobject_cast<QLineEdit*>(w);
        plain = qobject_cast<QPlainTextEdit*>(w);
        picture = qobject_cast<QLabel*>(w);
        list = qobject_cast<QListWidget*>(w);
    }
    bool textBox() const { return line || plain; }
    bool readOnly() const { return line ? line->isReadOnly() : plain && plain->isReadOnly(); }
    // Replaces the selection with `text` (inserts it at the caret).
    void insert(const QString& text) const
    {
        if (readOnly())
            return;
        if (line)
            line->insert(text);
        else if (plain)
            plain->insertPlainText(text);
    }
};

Focused focused(CommandWindow& window)
{
    return Focused(widgetOf(window)->focusWidget());
}

QClipboard& clipboard()
{
    return *QGuiApplication::clipboard();
}

} // namespace

QWidget* widgetOf(CommandWindow& window)
{
    return dynamic_cast<QWidget*>(&window);
}

bool isEditorBox(CommandWindow& window, const QWidget* widget)
{
    const records::RecordEditor* editor = window.editor();
    if (!editor || !widget)
        return false;
    for (int i = 0; i < 8; ++i) {
        if (editor->textBox(i) == widget)
            return true;
    }
    return false;
}

QString selectedText(const QWidget* box)
{
    if (auto* line = qobject_cast<const QLineEdit*>(box))
        return line->selectedText();
    if (auto* plain = qobject_cast<const QPlainTextEdit*>(box)) {
        QString text = plain->textCursor().selectedText();
        text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        text.replace(QChar::LineSeparator, QLatin1Char('\n'));
        return text;
    }
    return {};
}

// --- clipboard and undo ----------------------------------------------------------

void mnuUndo(CommandWindow& window)
{
    // The box's own undo, as Ctrl+Z in it would do.
    const Focused f = focused(window);
    if (f.line)
        f.line->undo();
    else if (f.plain)
        f.plain->undo();
}

void mnuCopy(CommandWindow& window)
{
    const Focused f = focused(window);
    clipboard().clear();
    if (f.textBox()) {
        const QString text = selectedText(f.line ? static_cast<QWidget*>(f.line) : f.plain);
        if (!text.isEmpty())
            clipboard().setText(text);
    } else if (f.combo) {
        clipboard().setText(f.combo->currentText());
    } else if (f.picture) {
        clipboard().setPixmap(f.picture->pixmap());
    } else if (f.list && f.list->currentItem()) {
        clipboard().setText(f.list->currentItem()->text());
    }
}

void mnuPaste(CommandWindow& window)
{
    const Focused f = focused(window);
    if (f.textBox())
        f.insert(clipboard().text());
    else if (f.combo)
        f.combo->setEditText(clipboard().text());
    else if (f.picture)
        f.picture->setPixmap(clipboard().pixmap());
    else if (f.list)
        f.list->addItem(clipboard().text());
}

void mnuDelete(CommandWindow& window)
{
    const Focused f = focused(window);
    if (f.line && f.line->hasSelectedText())
        f.insert(QString());
    else if (f.plain && f.plain->textCursor().hasSelection())
        f.insert(QString());
    else if (f.combo)
        f.combo->clearEditText();
    else if (f.picture)
        f.picture->clear();
    else if (f.list && f.list->currentItem())
        delete f.list->takeItem(f.list->currentRow());
}

void mnuCut(CommandWindow& window)
{
    mnuCopy(window);
    mnuDelete(window);
}

// --- wrapping and font size ------------------------------------------------------

void mnuOrikae(CommandWindow& window)
{
    records::RecordEditor* editor = window.editor();
    if (!editor)
        return;
    // The editor knows which box shows; the check mark (also the tool
    // button's pressed state) follows it, however the command was started.
    const bool wrap = !editor->isWrapped();
    editor->setWrapped(wrap);
    if (QAction* orikae = window.action(QStringLiteral("mnuOrikae")))
        orikae->setChecked(wrap);
    editor->visibleBodyBox()->setFocus();
    window.state().settings().write(shell::Settings::Position, QStringLiteral("orikae"),
                                    wrap ? QStringLiteral("tbrPressed") : QStringLiteral("tbrUnpressed"));
}

bool changeFontSize(CommandWindow& window, int step)
{
    records::RecordEditor* editor = window.editor();
    if (!editor)
        return false;
    const double size = editor->bodyBox()->font().pointSizeF() + step;
    if (size < 1.0 || size > records::kLargestFontSize) {
        QApplication::beep();
        return false;
    }
    editor->setEditorFont(QString(), size);
    window.state().settings().write(shell::Settings::Position, QStringLiteral("FontSize"),
                                    QString::number(editor->bodyBox()->font().pointSizeF()));
    return true;
}

// --- date stamp ---------------------------------------------------------------

QString dateStamp(const QDateTime& now, int format)
{
    const QString date = now.date().toString(QStringLiteral("yyyy/MM/dd"));
    const QString time = now.time().toString(QStringLiteral("HH:mm"));
    switch (format) {
    case 1:
        return date;
    case 2:
        return date + QLatin1Char(' ') + time;
    case 3:
        return time + QLatin1Char(' ') + date;
    default:
        return {};
    }
}

void mnuEditDate(CommandWindow& window)
{
    shell::AppState& st = window.state();
    const int format =
        st.settings().read(shell::Settings::Position, QStringLiteral("DateTime"), QStringLiteral("1")).toInt();
    const QString stamp = dateStamp(st.clock().now(), format);
    // An unknown format stamps nothing, rather than deleting the selection.
    if (stamp.isEmpty())
        return;
    const Focused f = focused(window);
    if (f.textBox())
        f.insert(stamp);
    else if (f.combo)
        f.combo->setEditText(stamp);
    else if (f.list)
        f.list->addItem(stamp);
}

// --- links ---------------------------------------------------------------------

QString narrowed(const QString& text)
{
    QString narrow = text;
    for (QChar& c : narrow) {
        const char16_t u = c.unicode();
        if (u >= 0xFF01 && u <= 0xFF5E)
            c = QChar(char16_t(u - 0xFEE0));
        else if (u == 0x3000)
            c = QLatin1Char(' ');
        else if (u == 0xFFE5) // ￥, how Japanese text writes the path separator
            c = QLatin1Char('\\');
    }
    return narrow;
}

QString linkTarget(const QString& text)
{
    const QString narrow = narrowed(text);
    if (narrow.startsWith(QLatin1String("http:")) || narrow.startsWith(QLatin1String("https:"))
        || narrow.startsWith(QLatin1String("www.")))
        return text;
    if (narrow.mid(1, 2) == QLatin1String(":\\") || narrow.startsWith(QLatin1String("file://")))
        return narrow;
    if (narrow.indexOf(QLatin1Char('@')) >= 1)
        return narrow.startsWith(QLatin1String("mailto:")) ? narrow : QStringLiteral("mailto:") + narrow;
    return {};
}

void OpenLink(shell::Desktop& desktop, const QString& text)
{
    const QString target = linkTarget(text);
    if (!target.isEmpty())
        desktop.open(target); // a target the desktop cannot open says nothing
}

} // namespace zumilo::text
