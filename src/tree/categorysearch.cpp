#include "categorysearch.h"

#include "categorytree.h"
#include "shell/recordsetmodel.h"

#include "shell/appstate.h"
#include "shell/prompts.h"
#include "shell/twips.h"
#include "store/database.h"
#include "store/error.h"
#include "store/recordset.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTableView>

#include <algorithm>

namespace zumilo::tree {

namespace {

// The user's text is matched literally: quotes and wildcards are only themselves.
store::CategoryView categories(store::CategoryView::Order order, const QString& word = {})
{
    store::CategoryView v;
    v.fields = QStringList{QStringLiteral("bunrui"), QStringLiteral("bunid")};
    v.order = order;
    v.nameWord = word;
    return v;
}

int tw(double twips)
{
    return shell::twipsToPixels(twips);
}

} // namespace

CategorySearchWindow::CategorySearchWindow(shell::AppState& state, JumpFunction jump, QWidget* parent)
    : QWidget(parent, Qt::Window), state_(state), jump_(std::move(jump))
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("分類検索"));

    text1_ = new QLineEdit(this);
    text1_->setObjectName(QStringLiteral("Text1"));
    text1_->setToolTip(QStringLiteral("検索する文字を入力ください"));
    text1_->setAccessibleName(QStringLiteral("検索する分類名"));

    btnFind_ = new QPushButton(QStringLiteral("検(&A)"), this);
    btnFind_->setObjectName(QStringLiteral("btnFind"));
    btnFind_->setToolTip(QStringLiteral("ｸﾘｯｸで検索します"));
    btnFind_->setFocusPolicy(Qt::TabFocus);

    model_ = new shell::RecordsetModel(this);
    grid_ = new QTableView(this);
    grid_->setObjectName(QStringLiteral("DBGrid1"));
    grid_->setAccessibleName(QStringLiteral("見つかった分類"));
    grid_->setToolTip(QStringLiteral("ﾀﾞﾌﾞﾙｸﾘｯｸで分類ﾂﾘｰにｼﾞｬﾝﾌﾟ"));
    grid_->setModel(model_);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
    // The name takes the room; the number needs only a few digits.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        QHeaderView* header = grid_->horizontalHeader();
        if (header->count() < 2)
            return;
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        header->setSectionResizeMode(1, QHeaderView::Fixed);
        const QFontMetrics metrics(header->font());
        header->resizeSection(1, std::max(metrics.horizontalAdvance(QStringLiteral("0000000")),
                                          metrics.horizontalAdvance(model_->headerData(1, Qt::Horizontal).toString()))
                                     + 16);
    });

    connect(text1_, &QLineEdit::textChanged, this, &CategorySearchWindow::btnFind_Click);
    connect(btnFind_, &QPushButton::clicked, this, &CategorySearchWindow::btnFind_Click);
    connect(grid_, &QTableView::doubleClicked, this, &CategorySearchWindow::DBGrid1_DblClick);

    resize(tw(3600), tw(6000));
    Form_Resize();
    Form_Load();
}

CategorySearchWindow::~CategorySearchWindow() = default;

void CategorySearchWindow::Form_Load()
{
    bind(categories(store::CategoryView::Order::ByNumber));
}

void CategorySearchWindow::Form_Activate()
{
    if (boundPath_ != state_.DatabasePath)
        bind(categories(store::CategoryView::Order::ByNumber));
}

void CategorySearchWindow::releaseDatabase()
{
    model_->setRecordset(nullptr);
    rows_.reset();
    if (db_)
        store::tryStep([&] { db_->close(); }).ignoreFailure("given up: nothing shown reads it again");
    db_.reset();
    boundPath_.clear();
}

void CategorySearchWindow::openSearch(const QString& text, const QRect& besideGeometry)
{
    // Another database may have been opened since the window was last used.
    Form_Activate();

    winId(); // the frame's size is known once the window exists
    const QSize decoration = frameGeometry().size() - size();
    const int frameWidth = frameGeometry().width();
    int left = besideGeometry.left() - frameWidth;
    int top = besideGeometry.top() + tw(1100);
    int frameHeight = std::max(besideGeometry.height() - tw(1100), tw(1500));

    QScreen* screen = QGuiApplication::screenAt(besideGeometry.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect avail = screen->availableGeometry();
        // The window's own buttons and search boxes lie at its left: pushed
        // against the screen's left edge the list would cover them.
        if (left < avail.left())
            left = std::min(besideGeometry.right() + 1, avail.right() + 1 - frameWidth);
        left = std::max(left, avail.left());
        top = std::clamp(top, avail.top(), std::max(avail.top(), avail.bottom() + 1 - tw(1500)));
        frameHeight = std::min(frameHeight, avail.bottom() + 1 - top);
    }
    move(left, top);
    resize(width(), std::max(frameHeight - decoration.height(), tw(1000)));

    show();
    raise();
    activateWindow();
    {
        const QSignalBlocker quiet(text1_); // one search, not two
        text1_->setText(text);
    }
    btnFind_Click();
    text1_->setFocus();
}

void CategorySearchWindow::btnFind_Click()
{
    const QString text = text1_->text();
    setView(categories(store::CategoryView::Order::ByName, text));
}

void CategorySearchWindow::DBGrid1_DblClick()
{
    if (model_->rowCount() == 0)
        return;
    const QModelIndex current = grid_->currentIndex();
    const int row = current.isValid() ? current.row() : 0;
    const QString bunID = model_->text(row, model_->columnOf(QStringLiteral("bunid")));
    if (bunID.isEmpty()) { // deleted since the search
        btnFind_Click();
        return;
    }

    if (jump_ && !jump_(shell::JumpRequest{bunID.toLongLong(), std::nullopt})) {
        // The category is gone from the tree: nothing to jump to, and the
        // list should stop offering it.
        btnFind_Click();
    }
}

void CategorySearchWindow::Form_Resize()
{
    if (isMinimized())
        return;
    const int innerWidth = width();
    const int innerHeight = height();
    const int margin = tw(25);

    const int textHeight = std::min(text1_->sizeHint().height(), tw(360));
    text1_->move(margin, tw(30));
    grid_->move(margin, tw(420));
    if (innerWidth > tw(700)) {
        text1_->resize(innerWidth - tw(50), textHeight);
        grid_->resize(innerWidth - tw(50), std::max(0, innerHeight - tw(450)));
    } else {
        text1_->resize(text1_->width(), textHeight);
        grid_->resize(grid_->width(), std::max(0, innerHeight - tw(450)));
    }

    // The button sits at the end of the text box, whose text stops short of it.
    const int buttonWidth = btnFind_->fontMetrics().horizontalAdvance(QStringLiteral("検(A)")) + 16;
    btnFind_->setGeometry(text1_->x() + text1_->width() - buttonWidth, text1_->y(), buttonWidth, textHeight);
    btnFind_->raise();
    text1_->setTextMargins(0, 0, buttonWidth, 0);
}

bool CategorySearchWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return QWidget::event(event);
}

void CategorySearchWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

bool CategorySearchWindow::bind(const store::CategoryView& view)
{
    // Whatever happens, this is the file asked for: a failure is reported
    // once, not again at every activation.
    boundPath_ = state_.DatabasePath;
    view_ = view;
    try {
        auto db = store::Database::open(state_.DatabasePath);
        auto rows = db->openView(view, store::RecordsetType::Snapshot);
        model_->setRecordset(rows.get());
        rows_ = std::move(rows);
        db_ = std::move(db);
        return true;
    } catch (const store::StoreError& e) {
        model_->setRecordset(nullptr);
        rows_.reset();
        db_.reset();
        showStoreError(e);
    }
    return false;
}

bool CategorySearchWindow::setView(const store::CategoryView& view)
{
    if (!db_ || !db_->isOpen())
        return bind(view);
    try {
        auto rows = db_->openView(view, store::RecordsetType::Snapshot);
        model_->setRecordset(rows.get());
        rows_ = std::move(rows);
        view_ = view;
        return true;
    } catch (const store::StoreError& e) {
        // The rows shown before are not this search's answer.
        model_->setRecordset(nullptr);
        rows_.reset();
        showStoreError(e);
    }
    return false;
}

void CategorySearchWindow::showStoreError(const store::StoreError& e)
{
    shell::showFailure(state_.prompts(), this, QStringLiteral("分類を読み込めませんでした。"), state_.DatabasePath, e);
}

} // namespace zumilo::tree
