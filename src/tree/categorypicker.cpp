#include "categorypicker.h"

#include "categorytree.h"

#include "shell/twips.h"
#include "store/database.h"
#include "store/error.h"
#include "store/recordset.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace zumilo::tree {

namespace {

// Escape anywhere in the panel closes it, as a second press of the button would.
class EscapeFilter : public QObject {
public:
    EscapeFilter(QObject* parent, std::function<void()> onEscape) : QObject(parent), onEscape_(std::move(onEscape)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            onEscape_();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onEscape_;
};

// The categories (number, name) directly under `parent`. The number comes
// from a node's key, never from typed text.
QList<QPair<QString, QString>> childRows(store::Database& db, qint64 parent)
{
    store::CategoryView children;
    children.parent = parent;
    children.fields = QStringList{QStringLiteral("bunID"), QStringLiteral("bunrui")};
    auto rs = db.openView(children, store::RecordsetType::Snapshot);
    QList<QPair<QString, QString>> rows;
    const std::vector<QString> texts = rs->columnTexts({QStringLiteral("bunID"), QStringLiteral("bunrui")});
    for (size_t i = 0; i + 1 < texts.size(); i += 2)
        rows.append({texts[i], texts[i + 1]});
    return rows;
}

} // namespace

struct CategoryPicker::Ui {
    // The canvas owns the panel and may be gone before the picker.
    QPointer<QFrame> frame;
    CategoryTree* tree = nullptr;
    QPushButton* decide = nullptr;
    bool built = false;
};

CategoryPicker::CategoryPicker(QWidget* canvas, CategoryTarget& target, std::function<store::Database*()> database,
                               std::function<QString()> rootText)
    : ui_(std::make_unique<Ui>()), canvas_(canvas), target_(target), database_(std::move(database)),
      rootText_(std::move(rootText))
{
    connect(target_.pickerButton(), &QAbstractButton::clicked, this, &CategoryPicker::cmdBunOpen_Click);
}

// Built when first opened: most runs never open it, and its tree and
// button are a share of building the window.
CategoryPicker::Ui& CategoryPicker::ui()
{
    if (ui_->built || !canvas_)
        return *ui_;
    ui_->built = true;
    auto* frame = new QFrame(canvas_.data());
    frame->setObjectName(QStringLiteral("Frame92"));
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    frame->setLineWidth(2);
    frame->setAutoFillBackground(true); // it lies over the editor's boxes
    frame->resize(shell::twipsToPixels(3615), shell::twipsToPixels(4095));
    frame->hide();

    auto* tree = new CategoryTree(frame);
    tree->setObjectName(QStringLiteral("TreeView2"));
    // Only for choosing: no renaming, no moving.
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree->setDragEnabled(false);
    tree->setAcceptDrops(false);
    tree->setDragDropMode(QAbstractItemView::NoDragDrop);

    auto* decide = new QPushButton(QStringLiteral("決定"), frame);
    decide->setObjectName(QStringLiteral("cmdBunrui(0)"));

    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addWidget(tree, 1);
    layout->addWidget(decide, 0, Qt::AlignRight);

    auto* escape = new EscapeFilter(frame, [this] { cmdBunrui_Click(1); });
    frame->installEventFilter(escape);
    tree->installEventFilter(escape);
    decide->installEventFilter(escape);

    ui_->frame = frame;
    ui_->tree = tree;
    ui_->decide = decide;

    connect(tree, &CategoryTree::nodePressed, this, [this](QTreeWidgetItem* node) {
        if (node)
            TreeView2_NodeClick(node);
    });
    connect(decide, &QPushButton::clicked, this, [this] { cmdBunrui_Click(0); });
    return *ui_;
}

CategoryPicker::~CategoryPicker()
{
    delete ui_->frame.data();
}

QFrame* CategoryPicker::panel()
{
    return ui().frame;
}

CategoryTree* CategoryPicker::tree()
{
    return ui().frame ? ui_->tree : nullptr;
}

void CategoryPicker::cmdBunOpen_Click()
{
    QFrame* frame = ui().frame;
    if (!frame)
        return;
    if (!frame->isHidden()) {
        cmdBunrui_Click(1);
        return;
    }

    // Under the button, reaching back over the category name box.
    QAbstractButton* button = target_.pickerButton();
    const QPoint at = canvas_->isAncestorOf(button) ? button->mapTo(canvas_, QPoint(0, 0))
                                                    : canvas_->mapFromGlobal(button->mapToGlobal(QPoint(0, 0)));
    int x = at.x() - target_.categoryNameWidth();
    int y = at.y() + button->height();
    x = std::clamp(x, 0, std::max(0, canvas_->width() - frame->width()));
    y = std::clamp(y, 0, std::max(0, canvas_->height() - frame->height()));
    frame->move(x, y);

    CategoryTree* tree = ui_->tree;
    store::Database* db = database_ ? database_() : nullptr;
    const bool loaded = db && db->isOpen() && store::tryStep([&] {
                            // Only the top level now; deeper levels are read when their parent
                            // is first clicked.
                            tree->addNodes(tree->resetToRoot(rootText_ ? rootText_() : QString()), childRows(*db, 0));
                        });
    if (!loaded) {
        tree->clearTree();
        frame->hide();
        return;
    }

    QTreeWidgetItem* root = tree->rootNode();
    root->setExpanded(true);
    tree->setCurrentItem(root);
    pickedID_ = QStringLiteral("0");
    pickedName_.clear();
    frame->show();
    frame->raise();
    tree->setFocus();
}

void CategoryPicker::TreeView2_NodeClick(QTreeWidgetItem* node)
{
    if (!node || !ui_->frame)
        return;
    pickedID_ = numberOfKey(CategoryTree::keyOf(node));
    pickedName_ = pickedID_ == QLatin1String("0") ? QStringLiteral(".") : node->text(0);

    // Children are read once; a category with none is asked again next time.
    if (node->childCount() == 0) {
        bool isNumber = false;
        const qint64 number = pickedID_.toLongLong(&isNumber);
        store::Database* db = database_ ? database_() : nullptr;
        QList<QPair<QString, QString>> rows;
        if (!isNumber || !db || !db->isOpen() || !store::tryStep([&] { rows = childRows(*db, number); })) {
            cmdBunrui_Click(1);
            return;
        }
        ui_->tree->addNodes(node, rows);
    }
    node->setExpanded(true);
}

void CategoryPicker::cmdBunrui_Click(int index)
{
    if (index == 0) {
        target_.setCategory(pickedID_, pickedName_);
    }
    QFrame* frame = ui_->frame;
    if (!frame)
        return;
    const bool hadFocus = frame->isAncestorOf(QApplication::focusWidget());
    frame->hide();
    if (hadFocus)
        target_.pickerButton()->setFocus();
}

} // namespace zumilo::tree
