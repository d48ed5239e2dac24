#include "optionsdialog.h"

#include "printoptions.h"

#include "shell/appstate.h"
#include "shell/prompts.h"
#include "shell/settingsstore.h"
#include "shell/twips.h"
#include "shell/windowplacement.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace zumilo::print {

using shell::Settings::Position;
using shell::Settings::PrintOption;

namespace {

const QString kPrintTab = QStringLiteral("PrintTab");
const QString kFormTab = QStringLiteral("FormTab");

const QString kScreenFontName = QStringLiteral("FontName");
const QString kScreenFontSize = QStringLiteral("FontSize");
const QString kDateTime = QStringLiteral("DateTime");
const QString kOpenTab = QStringLiteral("OpenTab");

struct StartView {
    const char16_t* caption;
    const char* key;
};
const StartView kStartViews[] = {
    {u"分類ﾂﾘｰ", "BunTab"}, {u"検索", "FindTab"}, {u"重要", "JyuyoTab"}, {u"予定", "KijituTab"}, {u"最近", "SaikinTab"},
};

// Text2(2)..Text2(5) and the keys they are stored under.
const std::array<const PrintKey*, 4> kMargins = {&keys::Ueyohaku, &keys::Leftyohaku, &keys::Rightyohaku,
                                                 &keys::Sitayohaku};

QString numberText(double value)
{
    return QString::number(value, 'g', 15);
}

// How the dialog shows a stored 16-bit number: as that number, or as
// stored when it is none, so that the user sees what to mend.
QString shownInt16(const QString& stored)
{
    const std::optional<int> value = toInt16(stored);
    return value ? QString::number(*value) : stored;
}

} // namespace

// --- UpDown ------------------------------------------------------------------

UpDown::UpDown(QLineEdit* buddy, double floor, QWidget* parent)
    : QWidget(parent), buddy_(buddy), floor_(floor), up_(new QToolButton(this)), down_(new QToolButton(this))
{
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    up_->setObjectName(QStringLiteral("Up"));
    down_->setObjectName(QStringLiteral("Down"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    // Named after the box they step, which is named first.
    up_->setAccessibleName(buddy->accessibleName() + QStringLiteral("を増やす"));
    down_->setAccessibleName(buddy->accessibleName() + QStringLiteral("を減らす"));
    for (QToolButton* b : {up_, down_}) {
        b->setFixedSize(18, 12);
        b->setAutoRepeat(true);
        column->addWidget(b);
    }
    connect(up_, &QToolButton::clicked, this, &UpDown::UpClick);
    connect(down_, &QToolButton::clicked, this, &UpDown::DownClick);
}

void UpDown::UpClick()
{
    if (const std::optional<double> v = toNumber(buddy_->text()))
        buddy_->setText(numberText(*v + 1));
}

void UpDown::DownClick()
{
    if (const std::optional<double> v = toNumber(buddy_->text()); v && *v > floor_)
        buddy_->setText(numberText(*v - 1));
}

// --- OptionsDialog -------------------------------------------------------------

QGroupBox* OptionsDialog::frame(const QString& name, const QString& caption)
{
    auto* box = new QGroupBox(caption, this);
    box->setObjectName(name);
    return box;
}

OptionsDialog::OptionsDialog(shell::AppState& state, QWidget* owner) : QDialog(owner), st_(state)
{
    setObjectName(QStringLiteral("frmOption"));
    setWindowTitle(QStringLiteral("オプション"));

    tabs_ = new QTabBar(this);
    tabs_->setObjectName(QStringLiteral("TabStrip1"));
    tabs_->setExpanding(false);
    const struct {
        const QString& key;
        QString caption;
        QString tip;
    } tabs[] = {{kPrintTab, QStringLiteral("印刷"), QStringLiteral("印刷時の設定をします")},
                {kFormTab, QStringLiteral("画面"), QStringLiteral("画面のフォントを変更できます")}};
    for (const auto& t : tabs) {
        const int i = tabs_->addTab(t.caption);
        tabs_->setTabData(i, t.key);
        tabs_->setTabToolTip(i, t.tip);
    }

    for (int i = 0; i < int(text2_.size()); ++i) {
        text2_[i] = new QLineEdit(this);
        text2_[i]->setObjectName(QStringLiteral("Text2(%1)").arg(i));
    }
    auto upDown = [this](int number, int box, double floor, const QString& caption) {
        text2_[box]->setAccessibleName(caption);
        auto* ud = new UpDown(text2_[box], floor, this);
        ud->setObjectName(QStringLiteral("UpDown%1").arg(number));
        auto* row = new QHBoxLayout;
        row->setSpacing(2);
        row->addWidget(text2_[box]);
        row->addWidget(ud);
        return row;
    };

    // 用紙
    frame1_[0] = frame(QStringLiteral("Frame1(0)"), QStringLiteral("用紙"));
    paper_ = new QComboBox(frame1_[0]);
    paper_->setObjectName(QStringLiteral("Combo1"));
    for (const Paper& p : papers())
        paper_->addItem(p.entry, p.code);
    (new QVBoxLayout(frame1_[0]))->addWidget(paper_);

    // フォント, shared by both tabs
    frame1_[1] = frame(QStringLiteral("Frame1(1)"), QStringLiteral("フォント"));
    auto* showFont = new QPushButton(QStringLiteral("フォント設定"), frame1_[1]);
    showFont->setObjectName(QStringLiteral("cmdShowFont"));
    QLineEdit* sample = text2_[6];
    sample->setReadOnly(true);
    sample->setText(QStringLiteral("Ａａあぁアァ亜宇"));
    sample->setFocusPolicy(Qt::NoFocus);
    text2_[1]->setMaximumWidth(60);
    auto* fontForm = new QFormLayout(frame1_[1]);
    fontForm->addRow(QStringLiteral("フォント名"), text2_[0]);
    const QString size = QStringLiteral("サイズ");
    fontForm->addRow(size, upDown(1, 1, 8, size));
    fontForm->addRow(sample);
    fontForm->addRow(showFont);

    // 余白（ミリ）
    frame1_[2] = frame(QStringLiteral("Frame1(2)"), QStringLiteral("余白（ミリ）"));
    auto* margins = new QFormLayout(frame1_[2]);
    for (int i = 0; i < 4; ++i) {
        text2_[2 + i]->setMaximumWidth(60);
        margins->addRow(kMargins[i]->label, upDown(2 + i, 2 + i, 0, kMargins[i]->label));
    }

    // 印刷の向き: Option1(1) たて, Option1(0) 横
    frame1_[3] = frame(QStringLiteral("Frame1(3)"), QStringLiteral("印刷の向き"));
    orientation_ = new QButtonGroup(this);
    auto* orientationRow = new QHBoxLayout(frame1_[3]);
    for (const auto& [id, caption] : {std::pair{1, QStringLiteral("たて")}, std::pair{0, QStringLiteral("横")}}) {
        auto* option = new QRadioButton(caption, frame1_[3]);
        option->setObjectName(QStringLiteral("Option1(%1)").arg(id));
        orientation_->addButton(option, id);
        orientationRow->addWidget(option);
    }
    orientationRow->addStretch(1);

    // 「日付と時刻」
    frame2_ = frame(QStringLiteral("Frame2"), QStringLiteral("「日付と時刻」"));
    dateTime_ = new QButtonGroup(this);
    auto* dateTimeColumn = new QVBoxLayout(frame2_);
    const QString stamps[] = {QStringLiteral("日付 (2002/02/01)"), QStringLiteral("日付+時刻 (2002/02/01 15:00)"),
                              QStringLiteral("時刻+日付 (15:00 2002/02/01)")};
    for (int i = 0; i < 3; ++i) {
        auto* option = new QRadioButton(stamps[i], frame2_);
        option->setObjectName(QStringLiteral("Option2(%1)").arg(i));
        dateTime_->addButton(option, i);
        dateTimeColumn->addWidget(option);
    }

    // 起動時に開く画面
    frame3_ = frame(QStringLiteral("Frame3"), QStringLiteral("起動時に開く画面"));
    openTab_ = new QComboBox(frame3_);
    openTab_->setObjectName(QStringLiteral("Combo2"));
    for (const StartView& v : kStartViews)
        openTab_->addItem(QString::fromUtf16(v.caption), QString::fromLatin1(v.key));
    (new QVBoxLayout(frame3_))->addWidget(openTab_);

    // The font frame stays where it is; the frames of the two tabs take
    // turns beside it, in stacks as large as their larger page, so that
    // nothing moves when the tab changes.
    auto stack = [this](QList<QWidget*> first, QList<QWidget*> second) {
        auto* pages = new QStackedWidget(this);
        for (const QList<QWidget*>& widgets : {first, second}) {
            auto* page = new QWidget(pages);
            auto* column = new QVBoxLayout(page);
            column->setContentsMargins(0, 0, 0, 0);
            for (QWidget* w : widgets)
                column->addWidget(w);
            column->addStretch(1);
            pages->addWidget(page);
        }
        return pages;
    };
    paperStack_ = stack({frame1_[0]}, {});
    sideStack_ = stack({frame1_[3], frame1_[2]}, {frame2_, frame3_});
    auto* page = new QGridLayout;
    page->addWidget(paperStack_, 0, 0);
    page->addWidget(frame1_[1], 1, 0, Qt::AlignTop);
    page->addWidget(sideStack_, 0, 1, 2, 1);

    auto* ok = new QPushButton(QStringLiteral("ＯＫ"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    auto* printer = new QPushButton(QStringLiteral("プリンター設定"), this);
    printer->setObjectName(QStringLiteral("cmdPrinter"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(printer);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* all = new QVBoxLayout(this);
    all->addWidget(tabs_);
    all->addLayout(page, 1);
    all->addLayout(buttons);
    all->setSizeConstraint(QLayout::SetFixedSize);

    Form_Load();

    connect(tabs_, &QTabBar::currentChanged, this, &OptionsDialog::TabStrip1_Click);
    connect(text2_[0], &QLineEdit::textChanged, this, [this] { Text2_Change(0); });
    connect(text2_[1], &QLineEdit::textChanged, this, [this] { Text2_Change(1); });
    connect(showFont, &QPushButton::clicked, this, &OptionsDialog::cmdShowFont_Click);
    connect(printer, &QPushButton::clicked, this, &OptionsDialog::cmdPrinter_Click);
    connect(ok, &QPushButton::clicked, this, &OptionsDialog::cmdOK_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    if (owner) {
        const int step = shell::twipsToPixels(800);
        adjustSize();
        shell::moveOntoScreen(this, owner->window()->frameGeometry().topLeft() + QPoint(step, step));
    }
}

void OptionsDialog::Form_Load()
{
    const shell::SettingsStore& s = st_.settings();
    auto printValue = [&](const PrintKey& k) { return s.read(PrintOption, k.key, k.defaultValue); };

    paper_->setCurrentIndex(paper_->findData(toInt16(printValue(keys::PaperSize)).value_or(0)));
    const std::optional<int> orientation = toInt16(printValue(keys::Orientation));
    if (orientation == 1 || orientation == 2)
        orientation_->button(orientation == 1 ? 1 : 0)->setChecked(true);
    for (int i = 0; i < 4; ++i)
        text2_[2 + i]->setText(shownInt16(printValue(*kMargins[i])));

    holders_[0] = printValue(keys::FontName);
    holders_[1] = shownInt16(printValue(keys::Point));
    holders_[2] = s.read(Position, kScreenFontName, QStringLiteral("ＭＳ Ｐゴシック"));
    holders_[3] = s.read(Position, kScreenFontSize, QStringLiteral("10.5"));
    text2_[0]->setText(holders_[0]);
    text2_[1]->setText(holders_[1]);
    Text2_Change(0);
    Text2_Change(1);

    optionPage_ = kPrintTab;

    const std::optional<int> stamp = toInt16(s.read(Position, kDateTime, QStringLiteral("1")));
    if (stamp >= 1 && stamp <= 3)
        dateTime_->button(*stamp - 1)->setChecked(true);
    openTab_->setCurrentIndex(std::max(0, openTab_->findData(s.read(Position, kOpenTab, QStringLiteral("BunTab")))));
}

void OptionsDialog::TabStrip1_Click(int index)
{
    const QString key = tabs_->tabData(index).toString();
    if (key == optionPage_ || (key != kPrintTab && key != kFormTab))
        return;
    const bool screen = key == kFormTab;
    paperStack_->setCurrentIndex(screen ? 1 : 0);
    sideStack_->setCurrentIndex(screen ? 1 : 0);
    // The frame's font goes back to its holders; the other tab's comes out.
    const int shown = screen ? 0 : 2;
    const int next = screen ? 2 : 0;
    holders_[shown] = text2_[0]->text();
    holders_[shown + 1] = text2_[1]->text();
    text2_[0]->setText(holders_[next]);
    text2_[1]->setText(holders_[next + 1]);
    optionPage_ = key;
    if (tabs_->currentIndex() != index)
        tabs_->setCurrentIndex(index);
}

void OptionsDialog::Text2_Change(int index)
{
    QLineEdit* sample = text2_[6];
    QFont font = sample->font();
    if (index == 0) {
        font.setFamily(text2_[0]->text());
    } else if (const std::optional<double> size = toNumber(text2_[1]->text()); size && *size > 0 && *size < 1000) {
        font.setPointSizeF(*size);
    } else {
        return; // a size that is no number changes nothing
    }
    sample->setFont(font);
}

void OptionsDialog::cmdShowFont_Click()
{
    QFont initial(text2_[0]->text());
    if (const std::optional<double> size = toNumber(text2_[1]->text()); size && *size > 0)
        initial.setPointSizeF(*size);
    if (const std::optional<QFont> chosen = st_.prompts().font(this, initial)) {
        text2_[0]->setText(chosen->family());
        text2_[1]->setText(numberText(chosen->pointSizeF()));
    }
}

void OptionsDialog::cmdPrinter_Click()
{
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        st_.prompts().message(this, QStringLiteral("プリンターが見つかりません。\n"
                                                   "印刷するときに、PDF ファイルに保存することができます。"));
        return;
    }
    // The set-up concerns the printer alone; nothing of it is kept here.
    QPrinter printer;
    st_.prompts().printerSetup(this, &printer);
}

void OptionsDialog::cmdOK_Click()
{
    shell::SettingsStore& s = st_.settings();
    auto store = [&](const PrintKey& k, const QString& value) { s.write(PrintOption, k.key, value); };

    const Paper* paper = nullptr;
    for (const Paper& p : papers()) {
        if (p.entry == paper_->currentText())
            paper = &p;
    }
    store(keys::PaperSize, QString::number(paper ? paper->code : 0));
    const int orientation = orientation_->checkedId() == 0 ? 2 : orientation_->checkedId() == 1 ? 1 : 0;
    store(keys::Orientation, QString::number(orientation));
    for (int i = 0; i < 4; ++i)
        store(*kMargins[i], text2_[2 + i]->text());

    const int shown = optionPage_ == kFormTab ? 2 : 0;
    holders_[shown] = text2_[0]->text();
    holders_[shown + 1] = text2_[1]->text();
    store(keys::FontName, holders_[0]);
    store(keys::Point, holders_[1]);
    s.write(Position, kScreenFontName, holders_[2]);
    s.write(Position, kScreenFontSize, holders_[3]);

    s.write(Position, kDateTime, QString::number(dateTime_->checkedId() + 1));
    s.write(Position, kOpenTab, openTab_->currentData().toString());
    if (!s.sync()) {
        st_.prompts().message(this,
                              QStringLiteral("設定を保存できませんでした。\n") + s.fileName()
                                  + QStringLiteral("\n\nこの設定はプログラムを終えるまで使われますが、"
                                                   "次回の起動では元に戻ります。"),
                              shell::Msg::Exclamation);
    }
    accept();
}

bool showOptions(shell::AppState& state, QWidget* owner)
{
    OptionsDialog dialog(state, owner);
    return state.prompts().dialog(dialog) == QDialog::Accepted;
}

} // namespace zumilo::print
