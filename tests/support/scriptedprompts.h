#pragma once

#include "shell/prompts.h"

#include <QFont>
#include <functional>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class QDialog;

namespace zumilo::test {

// Answers the program's prompts from a script. Each prompt takes the next
// expectation; a prompt of another kind or with other text, or one with no
// expectation left, fails the running test (QTest::qFail) and is answered
// with cancel/no. verifyDone() fails the test when answers are left unused.
class ScriptedPrompts : public shell::Prompts {
public:
    enum class Kind {
        Message,
        Input,
        Choice,
        EachChoice,
        OpenFile,
        SaveFile,
        Font,
        PrinterSetup,
        PrintPreview,
        Dialog,
        Progress
    };

    struct Shown {
        Kind kind;
        QString text; // message text, input prompt, or dialog's folder+name
        QString title;
        int style = 0;
    };

    // `text` must equal the message exactly; empty accepts any text.
    // `style`, when given, must equal the box's style value.
    ScriptedPrompts& expectMessage(const QString& text, int answer = shell::Msg::Ok,
                                   std::optional<int> style = std::nullopt)
    {
        return push({Kind::Message, text, style, answer, {}, {}, {}, {}});
    }
    ScriptedPrompts& expectInput(const QString& prompt, std::optional<QString> answer)
    {
        return push({Kind::Input, prompt, {}, 0, std::move(answer), {}, {}, {}});
    }
    // A choice from a list; the items offered are recorded (lastChoices()).
    ScriptedPrompts& expectChoice(const QString& prompt, std::optional<int> answer)
    {
        return push({Kind::Choice, prompt, {}, answer.value_or(-1), {}, {}, {}, {}});
    }
    // One answer for each item (true: the first of the two); nullopt closes
    // the box. The items offered are recorded (lastChoices()).
    ScriptedPrompts& expectEachChoice(const QString& prompt, std::optional<QList<bool>> answers)
    {
        return push({Kind::EachChoice, prompt, {}, 0, {}, {}, {}, std::move(answers)});
    }
    ScriptedPrompts& expectOpenFile(std::optional<QString> path)
    {
        return push({Kind::OpenFile, {}, {}, 0, std::move(path), {}, {}, {}});
    }
    ScriptedPrompts& expectSaveFile(std::optional<QString> path)
    {
        return push({Kind::SaveFile, {}, {}, 0, std::move(path), {}, {}, {}});
    }
    ScriptedPrompts& expectFont(std::optional<QFont> font)
    {
        return push({Kind::Font, {}, {}, 0, {}, std::move(font), {}, {}});
    }
    ScriptedPrompts& expectPrinterSetup(bool accept)
    {
        return push({Kind::PrinterSetup, {}, {}, accept, {}, {}, {}, {}});
    }
    // The print preview, painted once; `print` presses its print button.
    ScriptedPrompts& expectPrintPreview(bool print)
    {
        return push({Kind::PrintPreview, {}, {}, print, {}, {}, {}, {}});
    }
    // One of the program's dialogs, by objectName ("frmOption"): `act` does
    // what the user would (fills in, clicks a button); the dialog's result
    // is the answer.
    ScriptedPrompts& expectDialog(const QString& objectName, std::function<void(QDialog&)> act)
    {
        return push({Kind::Dialog, objectName, {}, 0, {}, {}, std::move(act), {}});
    }
    // A progress box with `label`; the user stops the task once it has
    // reported `stopAt` steps done (never when not given).
    ScriptedPrompts& expectProgress(const QString& label, std::optional<qint64> stopAt = std::nullopt)
    {
        return push({Kind::Progress, label, {}, int(stopAt.value_or(0)), {}, {}, {}, {}});
    }

    // Everything shown so far, in order.
    const QList<Shown>& shown() const { return shown_; }
    // Texts of the message boxes shown so far.
    QStringList messages() const;
    // Folder and pre-filled name of the last file dialog.
    QString lastDialogFolder() const { return lastFolder_; }
    QString lastDialogFileName() const { return lastFileName_; }
    QStringList lastChoices() const { return lastChoices_; }

    bool allUsed() const { return queue_.isEmpty(); }
    // Fails the running test if expectations are left; clears them.
    void verifyDone(const char* file, int line);

    int message(QWidget* parent, const QString& text, int style, const QString& title) override;
    std::optional<QString> input(QWidget* parent, const QString& prompt, const QString& title,
                                 const QString& defaultText) override;
    std::optional<int> choose(QWidget* parent, const QString& prompt, const QStringList& items,
                              const QString& title) override;
    std::optional<QList<bool>> chooseEach(QWidget* parent, const QString& prompt, const QStringList& items,
                                          const QString& first, const QString& second, const QString& title) override;
    std::optional<QString> openFile(QWidget* parent, const QString& folder, const QString& fileName) override;
    std::optional<QString> saveFile(QWidget* parent, const QString& folder, const QString& fileName) override;
    std::optional<QFont> font(QWidget* parent, const QFont& initial) override;
    bool printerSetup(QWidget* parent, QPrinter* printer) override;
    bool printPreview(QWidget* parent, QPrinter* printer, const std::function<void(QPrinter*)>& paint) override;
    int dialog(QDialog& dialog) override;
    std::unique_ptr<shell::Progress> progress(QWidget* parent, const QString& label, qint64 total,
                                              bool stoppable) override;

private:
    struct Expectation {
        Kind kind;
        QString text;
        std::optional<int> style;
        int answer = 0;
        std::optional<QString> textAnswer;
        std::optional<QFont> fontAnswer;
        std::function<void(QDialog&)> act;
        std::optional<QList<bool>> eachAnswer;
    };
    ScriptedPrompts& push(Expectation e)
    {
        queue_.append(std::move(e));
        return *this;
    }
    // Takes the next expectation if it is of `kind`; otherwise fails.
    std::optional<Expectation> take(Kind kind, const QString& text, int style);
    std::optional<QString> fileDialog(Kind kind, const QString& folder, const QString& fileName);

    QList<Expectation> queue_;
    QList<Shown> shown_;
    QString lastFolder_;
    QString lastFileName_;
    QStringList lastChoices_;
};

#define ZUMILO_VERIFY_PROMPTS_DONE(prompts) (prompts).verifyDone(__FILE__, __LINE__)

} // namespace zumilo::test
