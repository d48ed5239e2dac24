#include "support/scriptedprompts.h"

#include <QDialog>
#include <QPrintPreviewWidget>

#include <QTest>

#include <iterator>

namespace zumilo::test {

namespace {

QString kindName(ScriptedPrompts::Kind kind)
{
    static const char* const names[] = {
        "message",     "input",          "choice",        "each choice", "open-file dialog", "save-file dialog",
        "font dialog", "printer set-up", "print preview", "dialog",      "progress box"};
    // One name for each kind, in the enumeration's order.
    static_assert(std::size(names) == int(ScriptedPrompts::Kind::Progress) + 1);
    return QString::fromLatin1(names[int(kind)]);
}

QString describe(ScriptedPrompts::Kind kind, const QString& text)
{
    return text.isEmpty() ? kindName(kind) : QStringLiteral("%1 \"%2\"").arg(kindName(kind), text);
}

void fail(const QString& message)
{
    const QByteArray utf8 = message.toUtf8();
    QTest::qFail(utf8.constData(), __FILE__, __LINE__);
}

// What a user gets by closing the box.
int dismissAnswer(int style)
{
    switch (style & 7) {
    case shell::Msg::OkCancel:
    case shell::Msg::YesNoCancel:
    case 5: // retry/cancel
        return shell::Msg::Cancel;
    case shell::Msg::YesNo:
        return shell::Msg::No;
    default:
        return shell::Msg::Ok;
    }
}

struct ScriptedProgress : shell::Progress {
    explicit ScriptedProgress(qint64 at) : stopAt(at) {}
    bool advance(qint64 done) override { return stopAt <= 0 || done < stopAt; }
    qint64 stopAt;
};

} // namespace

QStringList ScriptedPrompts::messages() const
{
    QStringList texts;
    for (const Shown& s : shown_) {
        if (s.kind == Kind::Message)
            texts.append(s.text);
    }
    return texts;
}

void ScriptedPrompts::verifyDone(const char* file, int line)
{
    if (queue_.isEmpty())
        return;
    QStringList left;
    for (const Expectation& e : std::as_const(queue_))
        left.append(describe(e.kind, e.text));
    queue_.clear();
    const QByteArray message =
        QStringLiteral("Prompts expected but never shown: %1").arg(left.join(QStringLiteral(", "))).toUtf8();
    QTest::qFail(message.constData(), file, line);
}

std::optional<ScriptedPrompts::Expectation> ScriptedPrompts::take(Kind kind, const QString& text, int style)
{
    const QString shown = describe(kind, text);
    if (queue_.isEmpty()) {
        fail(QStringLiteral("Unexpected %1 (nothing scripted)").arg(shown));
        return std::nullopt;
    }
    // A prompt of another kind leaves the script alone: the expected one
    // may still come, and verifyDone() reports it if not.
    if (queue_.first().kind != kind) {
        fail(QStringLiteral("Unexpected %1; the script expects %2")
                 .arg(shown, describe(queue_.first().kind, queue_.first().text)));
        return std::nullopt;
    }
    const Expectation e = queue_.takeFirst();
    if (!e.text.isEmpty() && e.text != text) {
        fail(QStringLiteral("Unexpected %1; the script expects %2").arg(shown, describe(e.kind, e.text)));
        return std::nullopt;
    }
    if (e.style && *e.style != style) {
        fail(QStringLiteral("Unexpected style %1 of %2; the script expects %3").arg(style).arg(shown).arg(*e.style));
        return std::nullopt;
    }
    return e;
}

int ScriptedPrompts::message(QWidget*, const QString& text, int style, const QString& title)
{
    shown_.append({Kind::Message, text, title, style});
    const auto e = take(Kind::Message, text, style);
    return e ? e->answer : dismissAnswer(style);
}

std::optional<QString> ScriptedPrompts::input(QWidget*, const QString& prompt, const QString& title, const QString&)
{
    shown_.append({Kind::Input, prompt, title, 0});
    const auto e = take(Kind::Input, prompt, 0);
    return e ? e->textAnswer : std::nullopt;
}

std::optional<int> ScriptedPrompts::choose(QWidget*, const QString& prompt, const QStringList& items,
                                           const QString& title)
{
    shown_.append({Kind::Choice, prompt, title, 0});
    lastChoices_ = items;
    const auto e = take(Kind::Choice, prompt, 0);
    if (!e || e->answer < 0)
        return std::nullopt;
    return e->answer;
}

std::optional<QList<bool>> ScriptedPrompts::chooseEach(QWidget*, const QString& prompt, const QStringList& items,
                                                       const QString&, const QString&, const QString& title)
{
    shown_.append({Kind::EachChoice, prompt, title, 0});
    lastChoices_ = items;
    const auto e = take(Kind::EachChoice, prompt, 0);
    if (!e || !e->eachAnswer)
        return std::nullopt;
    if (e->eachAnswer->size() != items.size()) {
        QTest::qFail(
            qPrintable(QStringLiteral("%1 answers scripted for %2 items").arg(e->eachAnswer->size()).arg(items.size())),
            __FILE__, __LINE__);
        return std::nullopt;
    }
    return e->eachAnswer;
}

std::optional<QString> ScriptedPrompts::fileDialog(Kind kind, const QString& folder, const QString& fileName)
{
    lastFolder_ = folder;
    lastFileName_ = fileName;
    const QString text = folder + QLatin1Char('|') + fileName;
    shown_.append({kind, text, {}, 0});
    // File dialogs are matched by kind only; their folder depends on the run.
    const auto e = take(kind, text, 0);
    return e ? e->textAnswer : std::nullopt;
}

std::optional<QString> ScriptedPrompts::openFile(QWidget*, const QString& folder, const QString& fileName)
{
    return fileDialog(Kind::OpenFile, folder, fileName);
}

std::optional<QString> ScriptedPrompts::saveFile(QWidget*, const QString& folder, const QString& fileName)
{
    return fileDialog(Kind::SaveFile, folder, fileName);
}

std::optional<QFont> ScriptedPrompts::font(QWidget*, const QFont&)
{
    shown_.append({Kind::Font, {}, {}, 0});
    const auto e = take(Kind::Font, {}, 0);
    return e ? e->fontAnswer : std::nullopt;
}

bool ScriptedPrompts::printerSetup(QWidget*, QPrinter*)
{
    shown_.append({Kind::PrinterSetup, {}, {}, 0});
    const auto e = take(Kind::PrinterSetup, {}, 0);
    return e && e->answer != 0;
}

bool ScriptedPrompts::printPreview(QWidget*, QPrinter* printer, const std::function<void(QPrinter*)>& paint)
{
    shown_.append({Kind::PrintPreview, {}, {}, 0});
    const auto e = take(Kind::PrintPreview, {}, 0);
    QPrintPreviewWidget preview(printer);
    QObject::connect(&preview, &QPrintPreviewWidget::paintRequested, &preview, [&](QPrinter* p) { paint(p); });
    preview.updatePreview();
    return e && e->answer != 0;
}

int ScriptedPrompts::dialog(QDialog& dialog)
{
    shown_.append({Kind::Dialog, dialog.objectName(), dialog.windowTitle(), 0});
    const auto e = take(Kind::Dialog, dialog.objectName(), 0);
    if (!e)
        return QDialog::Rejected;
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    if (e->act)
        e->act(dialog);
    dialog.hide();
    return dialog.result();
}

std::unique_ptr<shell::Progress> ScriptedPrompts::progress(QWidget*, const QString& label, qint64, bool)
{
    shown_.append({Kind::Progress, label, {}, 0});
    const auto e = take(Kind::Progress, label, 0);
    return std::make_unique<ScriptedProgress>(e ? e->answer : 0);
}

} // namespace zumilo::test
