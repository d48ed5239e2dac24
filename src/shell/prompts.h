#pragma once

#include "store/error.h"

#include <QFont>
#include <QStringList>
#include <QString>
#include <memory>
#include <functional>
#include <optional>

class QDialog;
class QWidget;
class QPrinter;

namespace zumilo::shell {

// Message-box styles and answers, with the values the file format's
// documentation uses (324 = Yes/No + information icon + No as default).
namespace Msg {
constexpr int OkOnly = 0;
constexpr int OkCancel = 1;
constexpr int YesNoCancel = 3;
constexpr int YesNo = 4;
constexpr int Critical = 16;
constexpr int Question = 32;
constexpr int Exclamation = 48;
constexpr int Information = 64;
constexpr int DefaultButton2 = 256;
constexpr int DefaultButton3 = 512;

constexpr int Ok = 1;
constexpr int Cancel = 2;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace Msg

// A long task's progress box, up while the object lives (Prompts::progress).
class Progress {
public:
    virtual ~Progress() = default;
    // Shows `done` steps of the total; false once the user asked to stop.
    virtual bool advance(qint64 done) = 0;
};

// Every modal interaction of the program goes through one Prompts object,
// so that tests can answer them. Title empty: the program's name.
class Prompts {
public:
    virtual ~Prompts() = default;

    // Returns Msg::Ok, Cancel, Yes or No. Closing the box counts as the
    // cancel/no answer.
    virtual int message(QWidget* parent, const QString& text, int style = Msg::OkOnly, const QString& title = {}) = 0;
    // nullopt when cancelled.
    virtual std::optional<QString> input(QWidget* parent, const QString& prompt, const QString& title = {},
                                         const QString& defaultText = {}) = 0;
    // One of `items` chosen from a list (its index); nullopt when cancelled.
    virtual std::optional<int> choose(QWidget* parent, const QString& prompt, const QStringList& items,
                                      const QString& title = {}) = 0;
    // Each of `items` gets one of two answers, `first` or `second`, with
    // `first` chosen at the start: true for `first`, item by item; nullopt
    // when the box is closed without an answer.
    virtual std::optional<QList<bool>> chooseEach(QWidget* parent, const QString& prompt, const QStringList& items,
                                                  const QString& first, const QString& second,
                                                  const QString& title = {}) = 0;
    // Full path of the chosen file; nullopt when cancelled. `fileName` is
    // the pre-filled name ("*.zmd" lists only such files at first).
    virtual std::optional<QString> openFile(QWidget* parent, const QString& folder, const QString& fileName) = 0;
    virtual std::optional<QString> saveFile(QWidget* parent, const QString& folder, const QString& fileName) = 0;
    virtual std::optional<QFont> font(QWidget* parent, const QFont& initial) = 0;
    // The system's printer set-up; false when cancelled.
    virtual bool printerSetup(QWidget* parent, QPrinter* printer) = 0;
    // The print preview of what `paint` draws on `printer`. True when the
    // user chose to print (the caller then prints), false when closed.
    virtual bool printPreview(QWidget* parent, QPrinter* printer, const std::function<void(QPrinter*)>& paint) = 0;
    // One of the program's own modal dialogs (the options, the about box):
    // runs it and returns its result (QDialog::Accepted or Rejected).
    virtual int dialog(QDialog& dialog) = 0;
    // A progress box for work of `total` steps: the user does nothing else
    // meanwhile and, when `stoppable`, can stop it with its cancel button
    // (advance() then answers false).
    virtual std::unique_ptr<Progress> progress(QWidget* parent, const QString& label, qint64 total, bool stoppable) = 0;
};

// Shows real Qt dialogs.
class QtPrompts : public Prompts {
public:
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
    std::unique_ptr<Progress> progress(QWidget* parent, const QString& label, qint64 total, bool stoppable) override;
};

// Tells the user that `what` failed ("一覧を読み込めませんでした。"),
// naming the file at `path` and the cause the store gives; once for all the
// reads one gesture makes, which meet the same cause one after another.
void showFailure(Prompts& prompts, QWidget* parent, const QString& what, const QString& path,
                 const store::StoreError& e);
// What every window says, in a message and in its status bar, of a note
// it could not read.
extern const QString kNoteUnread;

// The progress of work that cannot be stopped and is mostly quick (the
// search index's catch-up or rebuild): its box comes up only once the work
// has run for most of a second, and goes with the last copy of the function.
std::function<void(qint64 done, qint64 total)> progressOfSlowWork(Prompts& prompts, QWidget* parent,
                                                                  const QString& label);

// While one of our own modal prompts is up, window activation changes are
// ours, not the user's; windows ask this to tell the two apart.
bool promptIsOpen();

// The caption a message box gets when the caller gives no title.
QString defaultPromptTitle();

} // namespace zumilo::shell
