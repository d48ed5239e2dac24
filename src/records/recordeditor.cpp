#include "recordeditor.h"

#include "shell/appstate.h"
#include "shell/clock.h"
#include "shell/fonts.h"
#include "shell/statuspanels.h"
#include "store/error.h"
#include "store/columntype.h"
#include "store/recordset.h"
#include "store/writing.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <QWidget>

#include <algorithm>
#include <functional>

namespace zumilo::records {

namespace {

const QString kDateFormat = QStringLiteral("yyyy/MM/dd");

// Stored bodies use CR LF; the boxes work with LF only.
QString toShown(const QString& stored)
{
    QString text = stored;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString toStored(const QString& shown)
{
    QString text = shown;
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
}

int touchedWhileWriting = 0;

// toPlainText() would turn non-breaking spaces into blanks; the raw text
// keeps them and only needs its block separators made into line breaks.
QString plainText(const QPlainTextEdit* box)
{
    QString text = box->document()->toRawText();
    for (QChar& c : text) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    }
    return text;
}

// Lines longer than this lay out in time quadratic in their length when the
// layout looks for word boundaries: such a box wraps at any character.
constexpr int kLongLine = 2000;

int longestLine(const QString& text)
{
    int longest = 0;
    int run = 0;
    for (QChar c : text) {
        run = c == QLatin1Char('\n') ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

void fitWrapping(QPlainTextEdit* box, const QString& text)
{
    const auto mode = longestLine(text) > kLongLine ? QTextOption::WrapAnywhere : QTextOption::WordWrap;
    if (box->wordWrapMode() != mode)
        box->setWordWrapMode(mode);
}

// The box's own setPlainText lays the text out as it goes in and again to
// give it the box's format, which it has already: the document is filled
// directly (its undo cleared, one change told), laid out once.
void fill(QPlainTextEdit* box, const QString& text)
{
    box->document()->setPlainText(text);
    box->setTextCursor(QTextCursor(box->document()));
}

// Longer lines are shown in part (see UpdateFields()).
constexpr qsizetype kLongestBodyLine = 200'000;

bool hasLongerLine(const QString& text, qsizetype longest)
{
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        if (end - start > longest)
            return true;
        start = end + 1;
    }
    return false;
}

const QString kTitleNotice = QStringLiteral("\n  - - -  新規データの登録は、この画面ではできません  - - -");
const QString kBodyNotice = QStringLiteral("\n  - - -  新規データの登録は、「新規データ追加」のアイコンを  - - -\n"
                                           "　　　　　クリックなどして登録画面を出してください");

// Runs the default double-click handling of a box first (it selects the
// word under the pointer), then `after` with the point clicked.
class DoubleClickWatcher : public QObject {
public:
    DoubleClickWatcher(QObject* parent, std::function<void(QObject*, QPoint)> after)
        : QObject(parent), after_(std::move(after))
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::MouseButtonDblClick || passing_)
            return false;
        passing_ = true;
        QCoreApplication::sendEvent(watched, event);
        passing_ = false;
        after_(watched, static_cast<QMouseEvent*>(event)->position().toPoint());
        return true;
    }

private:
    std::function<void(QObject*, QPoint)> after_;
    bool passing_ = false;
};

// Whether the text before a colon makes the colon part of an address: a
// scheme ("https:", "mailto:") or a drive letter ("C:\"), in either width.
bool opensAddress(const QString& beforeColon)
{
    static const QRegularExpression lead(QStringLiteral("^([A-Za-z]|https?|file|mailto)$"));
    return lead.match(beforeColon.normalized(QString::NormalizationForm_KC)).hasMatch();
}

// The link a double click at `at` (a position between two characters)
// meant: the characters around it up to the blanks, brackets, quotes and
// Japanese commas and periods, the marks that set an address off in a
// sentence. (The word Qt selects is no guide: it stops at "." and "/", and
// takes Japanese punctuation in.) A colon ends the words before an address
// ("参照：") unless it belongs to one ("https:", "C:").
QString linkWord(const QString& line, int at)
{
    static const QString marks = QStringLiteral("「」『』（）()＜＞<>【】［］[]\"'“”‘’、。，,");
    auto bounds = [&](int i) { return line[i].isSpace() || marks.contains(line[i]); };
    at = std::clamp(at, 0, int(line.size()));
    // The character clicked on lies after or before the position.
    if (at == line.size() || bounds(at))
        --at;
    if (at < 0 || bounds(at))
        return {};
    int from = at;
    while (from > 0 && !bounds(from - 1))
        --from;
    int to = at + 1;
    while (to < line.size() && !bounds(to))
        ++to;
    for (int i = from; i < to; ++i) {
        if (line[i] != u':' && line[i] != u'：')
            continue;
        if (opensAddress(line.mid(from, i - from)))
            break;
        if (i >= at) {
            to = i;
            break;
        }
        from = i + 1;
    }
    return line.mid(from, to - from);
}

class EscapeCloser : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            if (auto* w = qobject_cast<QWidget*>(watched)) {
                w->hide();
                return true;
            }
        }
        return false;
    }
};

} // namespace

QString emptyTitleNotice()
{
    return kTitleNotice;
}

QString emptyBodyNotice()
{
    return kBodyNotice;
}

RecordEditor::RecordEditor(EditorKind kind, QWidget* canvas, shell::StatusPanels* panels, shell::AppState& state)
    : kind_(kind), canvas_(canvas), panels_(panels), state_(state)
{
    const QFontMetrics fm = canvas_->fontMetrics();
    const int lineHeight = fm.height();

    auto* title = new QPlainTextEdit(canvas_);
    title->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    title->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    title->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    title->setTabChangesFocus(true);
    title->resize(fm.horizontalAdvance(QLatin1Char('M')) * 40, lineHeight * 3 + 8);

    auto* body = new QPlainTextEdit(canvas_);
    body->setLineWrapMode(QPlainTextEdit::NoWrap);
    body->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    body->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    body->resize(title->width(), lineHeight * 15);

    auto* wrappedBody = new QPlainTextEdit(canvas_);
    wrappedBody->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    wrappedBody->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    wrappedBody->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    wrappedBody->resize(body->size());
    wrappedBody->hide();

    boxes_[0] = title;
    connect(title->document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int added) { limitTitle(position, added); });
    for (QPlainTextEdit* box : {body, wrappedBody})
        connect(box->document(), &QTextDocument::contentsChange, this,
                [this, box](int, int, int added) { fitPastedLines(box, added); });
    boxes_[1] = body;
    boxes_[2] = wrappedBody;

    for (int i = 3; i < 8; ++i)
        boxes_[i] = new QLineEdit(canvas_);
    const int dateWidth = fm.horizontalAdvance(QStringLiteral("0000/00/00")) + 16;
    for (int i = 3; i < 8; ++i) {
        auto* line = static_cast<QLineEdit*>(boxes_[i]);
        const int width = i == 3 ? fm.horizontalAdvance(QStringLiteral("分類分類分類分類")) + 16 : dateWidth;
        line->resize(width, std::max(line->sizeHint().height(), lineHeight + 6));
    }
    // The category is chosen with the picker, never typed.
    lineBox(3)->setReadOnly(true);
    lineBox(3)->setEnabled(false);
    lineBox(6)->hide();
    lineBox(7)->setEnabled(false);
    lineBox(7)->hide();

    for (int i = 0; i < 8; ++i) {
        QWidget* box = boxes_[i];
        box->setObjectName(QStringLiteral("Text1(%1)").arg(i));
        if (auto* plain = qobject_cast<QPlainTextEdit*>(box))
            connect(plain, &QPlainTextEdit::textChanged, this, [this, i] { onTextChanged(i); });
        else
            connect(static_cast<QLineEdit*>(box), &QLineEdit::textChanged, this, [this, i] { onTextChanged(i); });
    }

    // What a screen reader says for each box: its caption, also where the
    // box has none of its own beside it.
    static const char* const boxNames[8] = {"タイトル", "内容", "内容",       "分類",
                                            "完了日",   "期日", "期日の時刻", "分類番号"};
    for (int i = 0; i < 8; ++i)
        boxes_[i]->setAccessibleName(QString::fromUtf8(boxNames[i]));

    auto* watcher = new DoubleClickWatcher(this, [this](QObject* watched, QPoint point) {
        QString word;
        if (auto* line = qobject_cast<QLineEdit*>(watched)) {
            if (line->hasSelectedText())
                word = linkWord(line->text(), line->cursorPositionAt(point));
        } else if (auto* plain = qobject_cast<QPlainTextEdit*>(watched->parent())) {
            const QTextCursor c = plain->cursorForPosition(point);
            if (plain->textCursor().hasSelection())
                word = linkWord(c.block().text(), c.positionInBlock());
        }
        if (!word.isEmpty())
            emit wordDoubleClicked(word);
    });
    for (int i = 0; i < 3; ++i)
        static_cast<QPlainTextEdit*>(boxes_[i])->viewport()->installEventFilter(watcher);
    for (int i = 3; i < 8; ++i)
        boxes_[i]->installEventFilter(watcher);

    static const char* const checkCaptions[2] = {"重要", "完了"};
    for (int i = 0; i < 2; ++i) {
        auto* check = new QCheckBox(QString::fromUtf8(checkCaptions[i]), canvas_);
        check->setObjectName(QStringLiteral("Check1(%1)").arg(i));
        check->resize(check->sizeHint());
        connect(check, &QCheckBox::clicked, this, [this, i] { onCheckClicked(i); });
        connect(check, &QCheckBox::toggled, this, [this, i](bool on) {
            guardControls();
            (i == 0 ? note_.fields.important : note_.fields.done) = on;
        });
        checks_[i] = check;
    }

    static const char* const labelCaptions[5] = {"分類", "ﾀｲﾄﾙ", "内容", "label3", "期日"};
    for (int i = 0; i < 5; ++i) {
        if (i == 3 && kind_ == EditorKind::Single)
            continue;
        auto* label = new QLabel(QString::fromUtf8(labelCaptions[i]), canvas_);
        label->setObjectName(QStringLiteral("Label1(%1)").arg(i));
        label->resize(label->sizeHint());
        if (i == 3)
            label->hide();
        // Tells a screen reader which box the caption belongs to.
        static const int buddies[5] = {3, 0, 1, -1, 5};
        if (buddies[i] >= 0)
            label->setBuddy(boxes_[buddies[i]]);
        labels_[i] = label;
    }

    const int buttonSide = lineBox(4)->height();
    for (int i = 0; i < 2; ++i) {
        auto* button = new QToolButton(canvas_);
        button->setObjectName(QStringLiteral("cmdCalOpen(%1)").arg(i));
        button->setText(QStringLiteral("▼"));
        button->setToolTip(QStringLiteral("カレンダー"));
        button->setAccessibleName(QString::fromUtf8(i == 0 ? "完了日のカレンダー" : "期日のカレンダー"));
        button->setFocusPolicy(Qt::TabFocus);
        button->resize(buttonSide, buttonSide);
        connect(button, &QToolButton::clicked, this, [this, i] { cmdCalOpen_Click(i); });
        calButtons_[i] = button;
    }

    categoryButton_ = new QToolButton(canvas_);
    categoryButton_->setObjectName(QStringLiteral("cmdBunOpen"));
    categoryButton_->setText(QStringLiteral("…"));
    categoryButton_->setToolTip(QStringLiteral("分類を選択"));
    categoryButton_->setAccessibleName(categoryButton_->toolTip());
    categoryButton_->setFocusPolicy(Qt::TabFocus);
    categoryButton_->resize(buttonSide, buttonSide);
}

// The controls belong to the canvas, which may already be gone.
RecordEditor::~RecordEditor() = default;

QPlainTextEdit* RecordEditor::titleBox() const
{
    return static_cast<QPlainTextEdit*>(boxes_[0]);
}

QPlainTextEdit* RecordEditor::bodyBox() const
{
    return static_cast<QPlainTextEdit*>(boxes_[1]);
}

QPlainTextEdit* RecordEditor::wrappedBodyBox() const
{
    return static_cast<QPlainTextEdit*>(boxes_[2]);
}

QPlainTextEdit* RecordEditor::visibleBodyBox() const
{
    return isWrapped() ? wrappedBodyBox() : bodyBox();
}

QLineEdit* RecordEditor::lineBox(int index) const
{
    if (index < 3 || index > 7)
        return nullptr;
    return static_cast<QLineEdit*>(boxes_[index]);
}

QWidget* RecordEditor::textBox(int index) const
{
    if (index < 0 || index > 7)
        return nullptr;
    return boxes_[index];
}

QCheckBox* RecordEditor::check(int index) const
{
    return index == 0 || index == 1 ? checks_[index] : nullptr;
}

QLabel* RecordEditor::label(int index) const
{
    return index >= 0 && index < 5 ? labels_[index] : nullptr;
}

QToolButton* RecordEditor::calendarButton(int index) const
{
    return index == 0 || index == 1 ? calButtons_[index] : nullptr;
}

QToolButton* RecordEditor::categoryButton() const
{
    return categoryButton_;
}

QCalendarWidget* RecordEditor::calendar()
{
    // Made when first opened: building one costs every window's start.
    if (calendar_)
        return calendar_;
    calendar_ = new QCalendarWidget(canvas_);
    calendar_->setObjectName(QStringLiteral("MonthView1"));
    calendar_->setAccessibleName(QStringLiteral("カレンダー"));
    // Its days are a table of Qt's own, which the name reaches only so.
    if (auto* days = calendar_->findChild<QAbstractItemView*>())
        days->setAccessibleName(calendar_->accessibleName());
    calendar_->setLocale(QLocale(QLocale::Japanese, QLocale::Japan));
    calendar_->setGridVisible(true);
    calendar_->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    calendar_->resize(calendar_->sizeHint());
    calendar_->hide();
    calendar_->installEventFilter(new EscapeCloser(calendar_));
    connect(calendar_, &QCalendarWidget::activated, this, &RecordEditor::MonthView1_DateDblClick);
    return calendar_;
}

QList<QWidget*> RecordEditor::controls() const
{
    QList<QWidget*> all;
    for (QWidget* w : boxes_)
        all << w;
    for (QWidget* w : checks_)
        all << w;
    for (QWidget* w : labels_) {
        if (w)
            all << w;
    }
    for (QWidget* w : calButtons_)
        all << w;
    all << categoryButton_;
    if (calendar_)
        all << calendar_;
    return all;
}

QAbstractButton* RecordEditor::pickerButton() const
{
    return categoryButton_;
}

int RecordEditor::categoryNameWidth() const
{
    return lineBox(3)->width();
}

void RecordEditor::setCategory(const QString& bunID, const QString& name)
{
    setText(3, name);
    setText(7, bunID);
}

QStringList RecordEditor::fixedControlNames()
{
    return {QStringLiteral("Label1(0)"),    QStringLiteral("Label1(1)"),  QStringLiteral("Label1(2)"),
            QStringLiteral("Label1(4)"),    QStringLiteral("Text1(3)"),   QStringLiteral("Text1(4)"),
            QStringLiteral("Text1(5)"),     QStringLiteral("Text1(6)"),   QStringLiteral("Check1(0)"),
            QStringLiteral("Check1(1)"),    QStringLiteral("cmdBunOpen"), QStringLiteral("cmdCalOpen(0)"),
            QStringLiteral("cmdCalOpen(1)")};
}

QString RecordEditor::text(int index) const
{
    if (index < 0 || index > 7)
        return {};
    if (index == 1 || index == 2)
        syncBody();
    return note_.fields.text(index);
}

void RecordEditor::syncBody() const
{
    if (!bodyStale_)
        return;
    guardControls();
    // The hidden body box is only filled when it is shown (see setWrapped).
    note_.fields.body = plainText(visibleBodyBox());
    bodyStale_ = false;
}

void RecordEditor::guardControls() const
{
    if (store::writingOnThisThread()) {
        ++touchedWhileWriting;
        qWarning("The note editor's controls were used while the file was locked for writing");
    }
}

int RecordEditor::controlsTouchedWhileWriting()
{
    return touchedWhileWriting;
}

EditedNote RecordEditor::snapshot() const
{
    syncBody();
    return note_;
}

void RecordEditor::setStamps(const NoteStamps& stamps)
{
    note_.stamps = stamps;
    showStamps();
}

void RecordEditor::showStamps()
{
    if (!panels_)
        return;
    guardControls();
    const NoteStamps& s = note_.stamps;
    const std::array<const QString*, 5> shown{&s.id, &s.oyaID, &s.updatedDate, &s.updatedTime, &s.created};
    for (int i = 0; i < 5; ++i)
        panels_->setText(i + 2, *shown[i]);
}

void RecordEditor::restore(const NoteFields& fields)
{
    for (int i : {0, 1, 3, 4, 5, 6, 7})
        setText(i, fields.text(i));
    checks_[0]->setChecked(fields.important);
    checks_[1]->setChecked(fields.done);
    setRecordChanged(true);
}

void RecordEditor::setText(int index, const QString& text)
{
    // One body, shown in whichever box is visible: laying out a long text
    // twice would make every note slower to show.
    if (index == 1 || index == 2)
        index = isWrapped() ? 2 : 1;
    QWidget* box = textBox(index);
    if (!box)
        return;
    guardControls();
    const QString shown = toShown(text);
    // As with typing, only a different text is a change.
    if (shown == this->text(index))
        return;
    if (auto* plain = qobject_cast<QPlainTextEdit*>(box)) {
        fitWrapping(plain, shown);
        fill(plain, shown);
    } else {
        static_cast<QLineEdit*>(box)->setText(shown);
    }
}

bool RecordEditor::isChecked(int index) const
{
    if (index == 0)
        return note_.fields.important;
    return index == 1 && note_.fields.done;
}

void RecordEditor::setLoading(bool loading)
{
    loading_ = loading;
}

void RecordEditor::onTextChanged(int index)
{
    if (index == 1 || index == 2) {
        bodyStale_ = true;
    } else {
        guardControls();
        QWidget* box = boxes_[size_t(index)];
        if (auto* plain = qobject_cast<QPlainTextEdit*>(box))
            note_.fields.text(index) = plainText(plain);
        else
            note_.fields.text(index) = static_cast<QLineEdit*>(box)->text();
    }
    if (loading_)
        return;
    const bool categoryOnly = kind_ == EditorKind::Single && (index == 3 || index == 7);
    if (!categoryOnly)
        note_.changed = true;
    if (panels_)
        panels_->setText(1, QString());
    if (!categoryOnly)
        emit changed();
    emit undoAvailable(true);
}

void RecordEditor::onCheckClicked(int)
{
    // Marked at once: a tick followed by closing the window must not be lost.
    note_.changed = true;
    emit changed();
    if (checks_[1]->isChecked() && text(4).isEmpty())
        setText(4, state_.clock().today().toString(kDateFormat));
}

void RecordEditor::fitPastedLines(QPlainTextEdit* box, int added)
{
    if (!loading_ && added > kLongLine)
        fitWrapping(box, plainText(box));
}

void RecordEditor::limitTitle(int position, int added)
{
    if (loading_ || added <= 0)
        return;
    QPlainTextEdit* box = titleBox();
    const QString all = plainText(box);
    if (store::characterCount(toStored(all)) <= kTitleLength)
        return;
    // What was just typed or pasted is cut back to what still fits.
    const QString inserted = all.mid(position, added);
    int room = kTitleLength - store::characterCount(toStored(all.left(position) + all.mid(position + added)));
    int keep = 0;
    while (keep < inserted.size()) {
        const QChar c = inserted.at(keep);
        const int cost = c == QLatin1Char('\n') ? 2 : 1;
        const int width = c.isHighSurrogate() && keep + 1 < inserted.size() ? 2 : 1;
        if (cost > room)
            break;
        room -= cost;
        keep += width;
    }
    QTextCursor cut(box->document());
    cut.setPosition(position + keep);
    cut.setPosition(position + added, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    QApplication::beep();
}

void RecordEditor::categoryRenamed(const QString& bunID, const QString& name)
{
    if (text(7) != bunID || bunID.isEmpty())
        return;
    const bool outer = loading_;
    setLoading(true);
    setText(3, name);
    setLoading(outer);
}

void RecordEditor::setRecordChanged(bool changed)
{
    settle(changed);
}

void RecordEditor::settle(bool changed)
{
    note_.changed = changed;
    if (!changed)
        emit cleared();
}

void RecordEditor::UpdateFields(const store::Recordset& rs, const QList<FieldFailure>& keepTyped)
{
    QList<QPair<int, QString>> typed;
    for (const FieldFailure& f : keepTyped) {
        if (f.box >= 0)
            typed.append({f.box, text(f.box)});
    }
    static const char* const boxColumns[8] = {"Title",      "naiyo",      "naiyo",      "bunrui",
                                              "kanryodate", "kijitudate", "kijitutime", "bunid"};

    if (!rs.hasCurrent())
        return;
    // Read everything first, so that a row that vanished leaves the editor
    // as it was rather than half filled.
    EditedNote note;
    try {
        for (int i : {0, 1, 3, 4, 5, 6, 7})
            note.stored.text(i) = rs.text(QString::fromLatin1(boxColumns[i]));
        note.stamps = {rs.text(QStringLiteral("ID")), rs.text(QStringLiteral("oyaid")),
                       rs.text(QStringLiteral("kousindate")), rs.text(QStringLiteral("kousintime")),
                       rs.text(QStringLiteral("sinkidate"))};
        const QVariant important = rs.value(QStringLiteral("jyuyoCK"));
        const QVariant done = rs.value(QStringLiteral("kanryoCK"));
        note.stored.important = !important.isNull() && important.toBool();
        note.stored.done = !done.isNull() && done.toBool();
    } catch (const store::StoreError&) {
        return;
    }
    NoteFields shown = note.stored;

    // A title longer than any the file can take comes from another program;
    // the box shows its beginning and the save leaves it as stored.
    note.titleCut = store::characterCount(shown.title) > kTitleLength;
    if (note.titleCut)
        shown.title = shown.title.left(kTitleLength);
    // So is a body with a line of megabytes: a line is laid out whole, which
    // would hold the window for seconds. The boxes show its beginning, and
    // every save writes the body as stored.
    note.bodyCut = hasLongerLine(shown.body, kLongestBodyLine);
    if (note.bodyCut)
        shown.body = shown.body.left(kLongestBodyLine);
    note.fields = note_.fields; // the boxes set them as they show them
    note_ = note;
    markCuts();

    const bool outer = loading_;
    setLoading(true);
    for (int i : {0, 1, 3, 4, 5, 6, 7})
        setText(i, shown.text(i));
    checks_[0]->setChecked(shown.important);
    checks_[1]->setChecked(shown.done);
    showStamps();
    for (const auto& [box, value] : typed)
        setText(box, value);
    setLoading(outer);

    settle(!typed.isEmpty());
    emit undoAvailable(false);
}

void RecordEditor::markCuts()
{
    titleBox()->setReadOnly(note_.titleCut);
    titleBox()->setToolTip(note_.titleCut ? QStringLiteral("タイトルが長すぎるため、先頭だけを表示しています。"
                                                           "保存しても、元のタイトルはそのまま残ります。")
                                          : QString());
    for (QPlainTextEdit* box : {bodyBox(), wrappedBodyBox()}) {
        box->setReadOnly(note_.bodyCut);
        box->setToolTip(note_.bodyCut ? QStringLiteral("内容の行が長すぎるため、先頭だけを表示しています。"
                                                       "保存しても、元の内容はそのまま残ります。")
                                      : QString());
    }
}

void RecordEditor::FieldsClear()
{
    note_.stamps = {};
    note_.stored = {};
    note_.titleCut = note_.bodyCut = false;
    markCuts();
    const bool outer = loading_;
    setLoading(true);
    // The main window's title and body show a notice: laid out once, and
    // not at all when they show it already.
    const bool notices = kind_ == EditorKind::Main;
    // Typing that could still be undone or redone goes with the note, even
    // where the box shows the notice again.
    for (int i = 0; i < 3; ++i) {
        if (auto* plain = qobject_cast<QPlainTextEdit*>(textBox(i));
            plain && (plain->document()->isUndoAvailable() || plain->document()->isRedoAvailable()))
            plain->clear();
        else if (auto* line = qobject_cast<QLineEdit*>(textBox(i));
                 line && (line->isUndoAvailable() || line->isRedoAvailable()))
            line->setText(QString());
    }
    for (int i = 0; i < 8; ++i)
        setText(i, !notices || i > 2 ? QString() : i == 0 ? kTitleNotice : kBodyNotice);
    checks_[0]->setChecked(false);
    checks_[1]->setChecked(false);
    if (panels_)
        panels_->clear();
    setLoading(outer);

    settle(false);
    emit undoAvailable(false);
}

bool RecordEditor::isWrapped() const
{
    return !boxes_[2]->isHidden();
}

void RecordEditor::setWrapped(bool wrapped)
{
    if (wrapped == isWrapped() && visibleBodyBox()->isVisibleTo(canvas_))
        return;
    QPlainTextEdit* from = wrapped ? bodyBox() : wrappedBodyBox();
    QPlainTextEdit* to = wrapped ? wrappedBodyBox() : bodyBox();
    const bool outer = loading_;
    setLoading(true);
    const QString text = plainText(from);
    if (plainText(to) != text)
        fill(to, text);
    setLoading(outer);
    to->show();
    from->hide();
}

void RecordEditor::setEditorFont(const QString& family, double pointSize)
{
    if (!(pointSize >= 1.0))
        return;
    pointSize = std::min(pointSize, kLargestFontSize);
    const bool outer = loading_;
    setLoading(true);
    const QString face = shell::installedFamily(family);
    for (int i = 0; i < 3; ++i) {
        QFont font = boxes_[i]->font();
        if (!face.isEmpty())
            font.setFamily(face);
        font.setPointSizeF(pointSize);
        boxes_[i]->setFont(font);
    }
    setLoading(outer);
}

void RecordEditor::cmdCalOpen_Click(int index)
{
    QToolButton* button = calendarButton(index);
    if (!button)
        return;
    QCalendarWidget* calendar = this->calendar();
    if (!calendar->isHidden()) {
        calendar->hide();
        return;
    }
    QWidget* area = calendar->parentWidget();
    const QPoint buttonTopLeft = area->mapFromGlobal(button->mapToGlobal(QPoint(0, 0)));
    const QSize size = calendar->size();
    int left = buttonTopLeft.x() + button->width() - size.width();
    int top = buttonTopLeft.y() + button->height();
    // Stay inside the window: flip above the button when there is no room
    // below, and never start left of or above the canvas.
    if (top + size.height() > area->height() && buttonTopLeft.y() - size.height() >= 0)
        top = buttonTopLeft.y() - size.height();
    left = std::max(0, std::min(left, area->width() - size.width()));
    top = std::max(0, std::min(top, area->height() - size.height()));
    calendar->move(left, top);
    calendar->setSelectedDate(state_.clock().today());
    calendar->show();
    calendar->raise();
    calendarTarget_ = index;
}

void RecordEditor::MonthView1_DateDblClick(const QDate& date)
{
    setText(calendarTarget_ == 1 ? 5 : 4, date.toString(kDateFormat));
    calendar_->hide();
}

} // namespace zumilo::records
