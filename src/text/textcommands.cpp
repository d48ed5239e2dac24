// The text tools as commands of every window, and what each window sets up
// for them when it is built.

#include "textcommands.h"
#include "textwindow.h"

#include "records/commandwindow.h"
#include "records/recordeditor.h"
#include "shell/appstate.h"
#include "shell/commands.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QMainWindow>

#include <functional>

namespace zumilo::text {

using records::CommandWindow;

namespace {

// Runs `activated` each time the watched window is shown or becomes active.
class ActivationWatcher : public QObject {
public:
    ActivationWatcher(QObject* window, std::function<void()> activated)
        : QObject(window), activated_(std::move(activated))
    {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Shown counts too: without a window manager no activation may follow.
        if (watched == parent() && (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show))
            activated_();
        return false;
    }

private:
    std::function<void()> activated_;
};

void attachTo(QMainWindow& mainWindow)
{
    CommandWindow* window = records::commandWindow(mainWindow);
    if (!window)
        return;
    CommandWindow& w = *window;
    // Combo1: the history and the term, whenever the window becomes active.
    if (QComboBox* box = w.searchBox()) {
        // The term is what was typed: no completion from the history, and
        // no entry taking the place of a term that differs only in case.
        box->setCompleter(nullptr);
        if (w.windowKind() != shell::WindowKind::Single)
            followSearchTerm(w);
        syncSearchBox(w);
        new ActivationWatcher(&mainWindow, [&w] { syncSearchBox(w); });
    }
    if (records::RecordEditor* editor = w.editor()) {
        if (QAction* undo = w.action(QStringLiteral("mnuUndo")))
            QObject::connect(editor, &records::RecordEditor::undoAvailable, undo, &QAction::setEnabled);
        QObject::connect(editor, &records::RecordEditor::wordDoubleClicked, &mainWindow,
                         [&w](const QString& word) { OpenLink(w.state().desktop(), word); });
    }
}

// A command of this file as a shared command.
shell::SharedCommands::Handler run(void (*command)(CommandWindow&))
{
    return [command](QMainWindow& mainWindow) {
        if (CommandWindow* window = records::commandWindow(mainWindow))
            command(*window);
    };
}

} // namespace

void addTextCommands(shell::SharedCommands& commands)
{
    commands.add(QStringLiteral("mnuFindpage"), run(mnuFindpage));
    commands.add(QStringLiteral("mnuFindNext"), run(mnuFindpage));
    commands.add(QStringLiteral("mnuFindtitle"), run(mnuFindtitle));
    commands.add(QStringLiteral("mnuFindnaiyo"), run(mnuFindnaiyo));
    commands.add(QStringLiteral("mnuUndo"), run(mnuUndo));
    commands.add(QStringLiteral("mnuCut"), run(mnuCut));
    commands.add(QStringLiteral("mnuCopy"), run(mnuCopy));
    commands.add(QStringLiteral("mnuPaste"), run(mnuPaste));
    commands.add(QStringLiteral("mnuDelete"), run(mnuDelete));
    commands.add(QStringLiteral("mnuOrikae"), run(mnuOrikae));
    commands.add(QStringLiteral("mnuFontAdd"), run([](CommandWindow& w) { changeFontSize(w, +1); }));
    commands.add(QStringLiteral("mnuFontSub"), run([](CommandWindow& w) { changeFontSize(w, -1); }));
    commands.add(QStringLiteral("mnuEditDate"), run(mnuEditDate));
    commands.onAttach(attachTo);
}

} // namespace zumilo::text
