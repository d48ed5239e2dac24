#include "shell/prompts.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QTimer>
#include <QPointer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QGraphicsView>
#include <QLineEdit>
#include <QListView>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QScreen>
#include <QToolBar>
#include <QVBoxLayout>
#include <QGuiApplication>
#include <algorithm>
#include <climits>

namespace zumilo::shell {

namespace {

int openPrompts = 0;

// Marks a prompt as up for as long as its exec() runs.
class PromptScope {
public:
    PromptScope() { ++openPrompts; }
    ~PromptScope() { --openPrompts; }
    PromptScope(const PromptScope&) = delete;
    PromptScope& operator=(const PromptScope&) = delete;
};

// Answers of abort/retry/ignore boxes; Msg names only the four in use.
constexpr int AnswerAbort = 3;
constexpr int AnswerRetry = 4;
constexpr int AnswerIgnore = 5;

const QString okText = QStringLiteral("OK");
const QString cancelText = QStringLiteral("キャンセル");

// Qt's own translations may be missing; the buttons speak Japanese anyway.
void relabelButtons(QDialog& dialog)
{
    if (auto* buttons = dialog.findChild<QDialogButtonBox*>()) {
        if (QAbstractButton* ok = buttons->button(QDialogButtonBox::Ok))
            ok->setText(okText);
        if (QAbstractButton* cancel = buttons->button(QDialogButtonBox::Cancel))
            cancel->setText(cancelText);
    }
}

QString lineBreaks(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString titleOr(const QString& title)
{
    return title.isEmpty() ? defaultPromptTitle() : title;
}

struct BoxButton {
    QMessageBox::StandardButton button;
    const char16_t* text;
    int answer;
};

// The buttons of a style, left to right, and which one closing means.
struct BoxLayout {
    QList<BoxButton> buttons;
    int escapeIndex = 0;
};

BoxLayout layoutFor(int style)
{
    const BoxButton ok{QMessageBox::Ok, u"OK", Msg::Ok};
    const BoxButton cancel{QMessageBox::Cancel, u"キャンセル", Msg::Cancel};
    const BoxButton yes{QMessageBox::Yes, u"はい(&Y)", Msg::Yes};
    const BoxButton no{QMessageBox::No, u"いいえ(&N)", Msg::No};
    switch (style & 7) {
    case Msg::OkCancel:
        return {{ok, cancel}, 1};
    case 2:
        return {{{QMessageBox::Abort, u"中止(&A)", AnswerAbort},
                 {QMessageBox::Retry, u"再試行(&R)", AnswerRetry},
                 {QMessageBox::Ignore, u"無視(&I)", AnswerIgnore}},
                0};
    case Msg::YesNoCancel:
        return {{yes, no, cancel}, 2};
    case Msg::YesNo:
        return {{yes, no}, 1};
    case 5:
        return {{{QMessageBox::Retry, u"再試行(&R)", AnswerRetry}, cancel}, 1};
    default:
        return {{ok}, 0};
    }
}

QMessageBox::Icon iconFor(int style)
{
    switch (style & 0x70) {
    case Msg::Critical:
        return QMessageBox::Critical;
    case Msg::Question:
        return QMessageBox::Question;
    case Msg::Exclamation:
        return QMessageBox::Warning;
    case Msg::Information:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int defaultIndexFor(int style, qsizetype buttonCount)
{
    int index = 0;
    if ((style & 0x300) == Msg::DefaultButton2)
        index = 1;
    else if ((style & 0x300) == Msg::DefaultButton3)
        index = 2;
    // Like the system box: a default past the last button means the first.
    return index < buttonCount ? index : 0;
}

// "*.zmd" (or "memo.zmd") → the extension a file dialog should filter by.
QString extensionOf(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix();
    if (suffix.isEmpty() || suffix.contains(QLatin1Char('*')) || suffix.contains(QLatin1Char('?')))
        return {};
    return suffix;
}

QStringList nameFiltersFor(const QString& extension)
{
    const QString all = QStringLiteral("すべてのファイル (*)");
    if (extension.isEmpty())
        return {all};
    const QString lower = extension.toLower();
    QString kind;
    if (lower == u"zmd")
        kind = QStringLiteral("データベース");
    else if (lower == u"txt")
        kind = QStringLiteral("テキスト ファイル");
    else
        kind = extension.toUpper() + QStringLiteral(" ファイル");
    return {QStringLiteral("%1 (*.%2)").arg(kind, extension), all};
}

// A name box holding a pattern ("*.pdf", as the box is first filled) lists
// the files it matches, as the old dialogs did; accepting it would make a
// file called "*.pdf".
class PatternFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        auto* box = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString typed = box ? box->text().trimmed() : QString();
        if (typed.contains(QLatin1Char('*')) || typed.contains(QLatin1Char('?'))) {
            QStringList filters = nameFilters();
            if (!filters.contains(typed))
                filters.prepend(typed);
            setNameFilters(filters);
            selectNameFilter(typed);
            return;
        }
        QFileDialog::accept();
    }
};

std::optional<QString> runFileDialog(QWidget* parent, const QString& folder, const QString& fileName, bool save)
{
    PatternFileDialog dialog(parent, save ? QStringLiteral("名前を付けて保存") : QStringLiteral("ファイルを開く"));
    // The built-in dialog takes our captions and pre-filled wildcard names
    // the same way on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (save) {
        // Callers ask about replacing an existing file themselves.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    }
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("ファイルの場所:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("ファイル名:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("ファイルの種類:"));
    dialog.setLabelText(QFileDialog::Accept, save ? QStringLiteral("保存(&S)") : QStringLiteral("開く(&O)"));
    dialog.setLabelText(QFileDialog::Reject, cancelText);

    const QString extension = extensionOf(fileName);
    const QStringList filters = nameFiltersFor(extension);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
    if (save && !extension.isEmpty())
        dialog.setDefaultSuffix(extension);

    dialog.setDirectory(folder.isEmpty() ? QDir::currentPath() : folder);
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);

    PromptScope scope;
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(files.first());
}

} // namespace

bool promptIsOpen()
{
    return openPrompts > 0;
}

QString defaultPromptTitle()
{
    return QStringLiteral("Zumilo");
}

namespace {

// Japanese breaks at any character, so a line a little too long for the
// box's usual width would leave its last character alone below it. Lines
// that fit a good part of the screen keep their width instead.
void keepLinesWhole(QMessageBox& box)
{
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!label)
        return;
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString& line : box.text().split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const QScreen* screen = box.screen() ? box.screen() : QGuiApplication::primaryScreen();
    const int room = screen ? screen->availableGeometry().width() * 6 / 10 : 800;
    label->setMinimumWidth(std::min(widest + 4, room));
}

} // namespace

int QtPrompts::message(QWidget* parent, const QString& text, int style, const QString& title)
{
    QMessageBox box(parent);
    box.setWindowTitle(titleOr(title));
    // Messages quote user data; "<" in a note must not turn into markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(lineBreaks(text));
    box.setIcon(iconFor(style));
    keepLinesWhole(box);

    const BoxLayout layout = layoutFor(style);
    QList<QPushButton*> pushed;
    for (const BoxButton& b : layout.buttons) {
        QPushButton* button = box.addButton(b.button);
        button->setText(QString::fromUtf16(b.text));
        pushed.append(button);
    }
    box.setDefaultButton(pushed.at(defaultIndexFor(style, pushed.size())));
    box.setEscapeButton(pushed.at(layout.escapeIndex));

    {
        PromptScope scope;
        box.exec();
    }
    const qsizetype clicked = pushed.indexOf(box.clickedButton());
    return layout.buttons.at(clicked >= 0 ? clicked : layout.escapeIndex).answer;
}

std::optional<QString> QtPrompts::input(QWidget* parent, const QString& prompt, const QString& title,
                                        const QString& defaultText)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(titleOr(title));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setLabelText(lineBreaks(prompt));
    if (auto* label = dialog.findChild<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    dialog.setTextValue(defaultText);
    dialog.setOkButtonText(okText);
    dialog.setCancelButtonText(cancelText);

    PromptScope scope;
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

std::optional<int> QtPrompts::choose(QWidget* parent, const QString& prompt, const QStringList& items,
                                     const QString& title)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(titleOr(title));
    dialog.setLabelText(lineBreaks(prompt));
    dialog.setComboBoxItems(items);
    dialog.setComboBoxEditable(false);
    dialog.setOkButtonText(okText);
    dialog.setCancelButtonText(cancelText);

    PromptScope scope;
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const qsizetype index = items.indexOf(dialog.textValue());
    return index < 0 ? std::nullopt : std::optional<int>(int(index));
}

std::optional<QList<bool>> QtPrompts::chooseEach(QWidget* parent, const QString& prompt, const QStringList& items,
                                                 const QString& first, const QString& second, const QString& title)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("chooseEach"));
    dialog.setWindowTitle(titleOr(title));
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(lineBreaks(prompt), &dialog);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    layout->addWidget(label);

    auto* inside = new QWidget;
    auto* rows = new QVBoxLayout(inside);
    QList<QRadioButton*> firsts;
    for (const QString& item : items) {
        auto* box = new QGroupBox(inside);
        auto* boxLayout = new QVBoxLayout(box);
        auto* text = new QLabel(lineBreaks(item), box);
        text->setTextFormat(Qt::PlainText);
        text->setWordWrap(true);
        boxLayout->addWidget(text);
        auto* buttons = new QHBoxLayout;
        auto* yes = new QRadioButton(first, box);
        auto* no = new QRadioButton(second, box);
        yes->setChecked(true);
        buttons->addWidget(yes);
        buttons->addWidget(no);
        buttons->addStretch();
        boxLayout->addLayout(buttons);
        rows->addWidget(box);
        firsts << yes;
    }
    rows->addStretch();
    auto* scroll = new QScrollArea(&dialog);
    scroll->setWidget(inside);
    scroll->setWidgetResizable(true);
    layout->addWidget(scroll);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    relabelButtons(dialog);
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        dialog.resize(std::min(640, screen->availableSize().width()), std::min(520, screen->availableSize().height()));
    buttons->button(QDialogButtonBox::Ok)->setFocus();

    PromptScope scope;
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    QList<bool> answers;
    for (const QRadioButton* yes : firsts)
        answers << yes->isChecked();
    return answers;
}

std::optional<QString> QtPrompts::openFile(QWidget* parent, const QString& folder, const QString& fileName)
{
    return runFileDialog(parent, folder, fileName, false);
}

std::optional<QString> QtPrompts::saveFile(QWidget* parent, const QString& folder, const QString& fileName)
{
    return runFileDialog(parent, folder, fileName, true);
}

std::optional<QFont> QtPrompts::font(QWidget* parent, const QFont& initial)
{
    QFontDialog dialog(initial, parent);
    dialog.setOption(QFontDialog::DontUseNativeDialog);
    dialog.setWindowTitle(QStringLiteral("フォント"));
    relabelButtons(dialog);
    // Qt leaves the boxes and lists of the three columns nameless for a
    // screen reader; it makes them in this order.
    const auto edits = dialog.findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly);
    const auto lists = dialog.findChildren<QListView*>(Qt::FindDirectChildrenOnly);
    const char* const columns[] = {"フォント名", "スタイル", "サイズ"};
    for (int i = 0; i < 3 && i < edits.size() && i < lists.size(); ++i) {
        edits[i]->setAccessibleName(QString::fromUtf8(columns[i]));
        lists[i]->setAccessibleName(edits[i]->accessibleName());
    }

    PromptScope scope;
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.selectedFont();
}

bool QtPrompts::printerSetup(QWidget* parent, QPrinter* printer)
{
    if (!printer)
        return false;
    QPrintDialog dialog(printer, parent);
    dialog.setWindowTitle(QStringLiteral("プリンターの設定"));
    // Set-up only chooses the printer and its paper; what to print is
    // decided elsewhere.
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    relabelButtons(dialog);

    PromptScope scope;
    return dialog.exec() == QDialog::Accepted;
}

bool QtPrompts::printPreview(QWidget* parent, QPrinter* printer, const std::function<void(QPrinter*)>& paint)
{
    if (!printer)
        return false;
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("印刷プレビュー"));
    auto* preview = new QPrintPreviewWidget(printer, &dialog);
    QObject::connect(preview, &QPrintPreviewWidget::paintRequested, &dialog, [&](QPrinter* p) { paint(p); });
    // No printer or page dialog: paper, orientation and margins are those
    // of the print settings, and the print shows what the preview showed.
    auto* tools = new QToolBar(&dialog);
    auto add = [&](const char* icon, const QString& text, const QKeySequence& key, const std::function<void()>& act) {
        QAction* action = tools->addAction(QIcon::fromTheme(QString::fromLatin1(icon)), text);
        action->setShortcut(key);
        QObject::connect(action, &QAction::triggered, &dialog, act);
    };
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    add("document-print", QStringLiteral("印刷(&P)"), QKeySequence::Print, [&] { dialog.accept(); });
    tools->addSeparator();
    add("go-previous", QStringLiteral("前のページ"), QKeySequence(Qt::Key_PageUp),
        [=] { preview->setCurrentPage(preview->currentPage() - 1); });
    add("go-next", QStringLiteral("次のページ"), QKeySequence(Qt::Key_PageDown),
        [=] { preview->setCurrentPage(preview->currentPage() + 1); });
    add("zoom-in", QStringLiteral("拡大"), QKeySequence::ZoomIn, [=] { preview->zoomIn(); });
    add("zoom-out", QStringLiteral("縮小"), QKeySequence::ZoomOut, [=] { preview->zoomOut(); });
    add("zoom-fit-best", QStringLiteral("ページ全体"), QKeySequence(), [=] { preview->fitInView(); });
    tools->addSeparator();
    add("window-close", QStringLiteral("閉じる"), QKeySequence(), [&] { dialog.reject(); });
    auto* layout = new QVBoxLayout(&dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tools);
    layout->addWidget(preview);
    // Names for a screen reader where Qt gives none: the page.
    for (QGraphicsView* page : preview->findChildren<QGraphicsView*>()) {
        page->setAccessibleName(QStringLiteral("印刷プレビュー"));
        page->viewport()->setAccessibleName(page->accessibleName());
    }
    // A page should be readable at once, not a thumbnail.
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        dialog.resize(screen->availableGeometry().size() * 8 / 10);

    PromptScope scope;
    return dialog.exec() == QDialog::Accepted;
}

} // namespace zumilo::shell

namespace zumilo::shell {

int QtPrompts::dialog(QDialog& dialog)
{
    PromptScope scope;
    return dialog.exec();
}

} // namespace zumilo::shell

namespace zumilo::shell {

namespace {

class DialogProgress : public Progress {
public:
    DialogProgress(QWidget* parent, const QString& label, qint64 total, bool stoppable)
        : dialog_(label, stoppable ? cancelText : QString(), 0, int(std::clamp<qint64>(total, 1, INT_MAX)), parent)
    {
        dialog_.setWindowTitle(defaultPromptTitle());
        dialog_.setWindowModality(Qt::ApplicationModal);
        dialog_.setAutoReset(false);
        dialog_.setAutoClose(false);
        dialog_.setMinimumDuration(0);
        dialog_.show();
        QCoreApplication::processEvents();
    }

    bool advance(qint64 done) override
    {
        dialog_.setValue(int(std::min<qint64>(done, dialog_.maximum())));
        QCoreApplication::processEvents();
        return !dialog_.wasCanceled();
    }

private:
    PromptScope scope_;
    QProgressDialog dialog_;
};

} // namespace

std::unique_ptr<Progress> QtPrompts::progress(QWidget* parent, const QString& label, qint64 total, bool stoppable)
{
    return std::make_unique<DialogProgress>(parent, label, total, stoppable);
}

namespace {

// Causes told since the program last waited for the user.
QStringList toldCauses;
bool forgetting = false;

// Forgets them once the program waits for the user again, not while one of
// its boxes waits (the gesture that met the failure goes on after it).
void forgetWhenIdle()
{
    if (std::exchange(forgetting, true))
        return;
    QTimer::singleShot(promptIsOpen() ? 100 : 0, [] {
        forgetting = false;
        if (promptIsOpen())
            forgetWhenIdle();
        else
            toldCauses.clear();
    });
}

} // namespace

const QString kNoteUnread = QStringLiteral("データを読み込めませんでした。");

void showFailure(Prompts& prompts, QWidget* parent, const QString& what, const QString& path,
                 const store::StoreError& e)
{
    // One gesture may meet one failure in several reads (a view, then the
    // search in it, then the category search): it is told once.
    const QString cause = store::failureCause(e, path);
    if (toldCauses.contains(cause))
        return;
    toldCauses << cause;
    forgetWhenIdle();
    prompts.message(parent, what + QStringLiteral("\n\n") + cause, Msg::Exclamation);
}

std::function<void(qint64, qint64)> progressOfSlowWork(Prompts& prompts, QWidget* parent, const QString& label)
{
    constexpr qint64 kShowAfterMs = 700;
    struct State {
        QElapsedTimer started;
        std::unique_ptr<Progress> box;
    };
    auto state = std::make_shared<State>();
    QPointer<QWidget> owner(parent);
    return [&prompts, owner, label, state](qint64 done, qint64 total) {
        if (!state->started.isValid())
            state->started.start();
        if (!state->box && done < total && state->started.elapsed() >= kShowAfterMs)
            state->box = prompts.progress(owner && owner->isVisible() ? owner.data() : nullptr, label, total, false);
        if (state->box)
            state->box->advance(done);
    };
}

} // namespace zumilo::shell
