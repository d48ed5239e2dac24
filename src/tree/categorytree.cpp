#include "categorytree.h"

#include "store/database.h"
#include "store/jetlike.h"
#include "store/recordset.h"

#include <QApplication>
#include <QCollator>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QCollatorSortKey>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>

#include <algorithm>
#include <optional>

namespace zumilo::tree {

namespace {

constexpr int KeyRole = Qt::UserRole + 1;
constexpr int NameRole = Qt::UserRole + 2; // the name as stored, to tell renames apart

// Orders siblings by name ignoring case, full/half width and
// hiragana/katakana, as the record list and search do; the key is computed
// once per name, so large trees sort quickly.
class Node : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& other) const override
    {
        const auto& o = static_cast<const Node&>(other);
        return sortKey().compare(o.sortKey()) < 0;
    }

    void setData(int column, int role, const QVariant& value) override
    {
        if (column == 0 && (role == Qt::DisplayRole || role == Qt::EditRole))
            key_.reset();
        QTreeWidgetItem::setData(column, role, value);
    }

private:
    const QString& sortKey() const
    {
        if (!key_)
            key_.emplace(store::foldForCompare(text(0)));
        return *key_;
    }
    mutable std::optional<QString> key_;
};

} // namespace

QString nodeKeyFor(const QString& bunID)
{
    return bunID + QStringLiteral("_id");
}

QString numberOfKey(const QString& key)
{
    return key.left(std::max<qsizetype>(0, key.size() - 3));
}

CategoryTree::CategoryTree(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("TreeView1"));
    setAccessibleName(QStringLiteral("分類ツリー"));
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setUniformRowHeights(true);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(false); // the target node itself is highlighted
    connect(this, &QTreeWidget::currentItemChanged, this, &CategoryTree::updateIcons);
    connect(this, &QTreeWidget::itemChanged, this, &CategoryTree::onItemChanged);
}

QTreeWidgetItem* CategoryTree::makeNode(const QString& key, const QString& text, bool isRoot)
{
    auto* node = new Node;
    node->setText(0, text);
    node->setData(0, KeyRole, key);
    node->setData(0, NameRole, text);
    node->setIcon(0, folderIcon(false));
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    if (!isRoot)
        flags |= Qt::ItemIsEditable;
    node->setFlags(flags);
    byKey_.insert(key, node);
    return node;
}

void CategoryTree::clearTree()
{
    dropHighlight_ = nullptr;
    byKey_.clear();
    clear();
}

QTreeWidgetItem* CategoryTree::resetToRoot(const QString& rootText)
{
    clearTree();
    QTreeWidgetItem* root = makeNode(QStringLiteral("0_id"), rootText, true);
    addTopLevelItem(root);
    return root;
}

void CategoryTree::addNodes(QTreeWidgetItem* parent, const QList<QPair<QString, QString>>& categories)
{
    QList<QTreeWidgetItem*> nodes;
    for (const auto& [number, name] : categories) {
        const QString key = nodeKeyFor(number);
        if (!byKey_.contains(key))
            nodes.append(makeNode(key, name, false));
    }
    parent->addChildren(nodes);
    parent->sortChildren(0, Qt::AscendingOrder);
}

void CategoryTree::LoadCategoryTree(store::Database& db, const QString& rootText)
{
    QTreeWidgetItem* root = resetToRoot(rootText);

    struct Row {
        QString id;
        QString name;
    };
    QHash<QString, QList<Row>> children; // parent number -> its categories, in table order
    store::CategoryView all;
    all.fields = QStringList{QStringLiteral("bunid"), QStringLiteral("bunrui"), QStringLiteral("oyabunid")};
    const std::vector<QString> texts = db.openView(all, store::RecordsetType::Snapshot)->columnTexts(all.fields);
    for (size_t i = 0; i + 2 < texts.size(); i += 3) {
        const QString& parent = texts[i + 2];
        children[parent.isEmpty() ? QStringLiteral("0") : parent].append({texts[i], texts[i + 1]});
    }

    // Breadth first from the root: only what hangs from it is reached, and
    // each category at most once, so cycles and orphans cannot hang it.
    QList<QPair<QString, QTreeWidgetItem*>> queue{{QStringLiteral("0"), root}};
    for (qsizetype i = 0; i < queue.size(); ++i) {
        const auto [number, parentNode] = queue[i];
        const auto it = children.constFind(number);
        if (it == children.cend())
            continue;
        QList<QTreeWidgetItem*> nodes;
        for (const Row& r : *it) {
            const QString key = nodeKeyFor(r.id);
            if (byKey_.contains(key))
                continue;
            QTreeWidgetItem* node = makeNode(key, r.name, false);
            nodes.append(node);
            queue.append({r.id, node});
        }
        // In order before they are added: a sort of the tree's children
        // has its view lay out again, as costly for one node as for many.
        std::stable_sort(nodes.begin(), nodes.end(), [](QTreeWidgetItem* a, QTreeWidgetItem* b) { return *a < *b; });
        parentNode->addChildren(nodes);
    }
    root->setExpanded(true);
}

QTreeWidgetItem* CategoryTree::rootNode() const
{
    return topLevelItemCount() > 0 ? topLevelItem(0) : nullptr;
}

QTreeWidgetItem* CategoryTree::node(const QString& key) const
{
    return byKey_.value(key);
}

QString CategoryTree::keyOf(const QTreeWidgetItem* node)
{
    return node ? node->data(0, KeyRole).toString() : QString();
}

QTreeWidgetItem* CategoryTree::addNode(QTreeWidgetItem* parent, const QString& key, const QString& text)
{
    QTreeWidgetItem* node = makeNode(key, text, false);
    parent->addChild(node);
    placeNode(node);
    return node;
}

void CategoryTree::placeNode(QTreeWidgetItem* node)
{
    QTreeWidgetItem* parent = node->parent();
    if (!parent)
        return;
    const bool wasCurrent = currentItem() == node;
    const bool expanded = node->isExpanded();
    parent->removeChild(node);
    int at = 0;
    // After equal names, so a new node of the same name comes last.
    while (at < parent->childCount() && !(*node < *parent->child(at)))
        ++at;
    parent->insertChild(at, node);
    node->setExpanded(expanded);
    if (wasCurrent)
        setCurrentItem(node);
}

void CategoryTree::forget(QTreeWidgetItem* node)
{
    if (node == dropHighlight_)
        dropHighlight_ = nullptr;
    byKey_.remove(keyOf(node));
    for (int i = 0; i < node->childCount(); ++i)
        forget(node->child(i));
}

void CategoryTree::removeNode(QTreeWidgetItem* node)
{
    forget(node);
    delete node;
}

void CategoryTree::moveNode(QTreeWidgetItem* node, QTreeWidgetItem* newParent)
{
    if (QTreeWidgetItem* old = node->parent())
        old->removeChild(node);
    newParent->addChild(node);
    placeNode(node);
}

void CategoryTree::setNodeText(QTreeWidgetItem* node, const QString& text)
{
    settingText_ = true;
    node->setData(0, NameRole, text);
    node->setText(0, text);
    settingText_ = false;
    placeNode(node);
}

void CategoryTree::beginRename(QTreeWidgetItem* node)
{
    if (node && node != rootNode() && (node->flags() & Qt::ItemIsEditable)) {
        setCurrentItem(node);
        editItem(node, 0);
    }
}

void CategoryTree::onItemChanged(QTreeWidgetItem* node)
{
    if (settingText_)
        return;
    const QString old = node->data(0, NameRole).toString();
    if (node->text(0) == old)
        return; // an icon or other change, or an edit that kept the name
    settingText_ = true;
    node->setData(0, NameRole, node->text(0));
    settingText_ = false;
    emit nodeRenamed(node, old);
}

void CategoryTree::expandAllNodes()
{
    expandAll();
}

void CategoryTree::collapseAllNodes()
{
    collapseAll();
}

void CategoryTree::updateIcons(QTreeWidgetItem* current, QTreeWidgetItem* previous)
{
    if (previous)
        previous->setIcon(0, folderIcon(false));
    if (current)
        current->setIcon(0, folderIcon(true));
}

const QIcon& CategoryTree::folderIcon(bool open)
{
    QIcon& icon = folders_[open ? 1 : 0];
    if (icon.isNull())
        icon = style()->standardIcon(open ? QStyle::SP_DirOpenIcon : QStyle::SP_DirClosedIcon);
    return icon;
}

void CategoryTree::mousePressEvent(QMouseEvent* event)
{
    QTreeWidgetItem* hit = itemAt(event->position().toPoint());
    QTreeWidget::mousePressEvent(event);
    if (hit && currentItem() != hit)
        setCurrentItem(hit);
    emit nodePressed(hit);
}

void CategoryTree::mouseReleaseEvent(QMouseEvent* event)
{
    QTreeWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::RightButton)
        emit popupRequested(event->globalPosition().toPoint());
}

void CategoryTree::startDrag(Qt::DropActions)
{
    QTreeWidgetItem* node = currentItem();
    if (!node)
        return;
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kCategoryMimeType), keyOf(node).toUtf8());
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::MoveAction);
    setDropHighlight(nullptr);
}

namespace {
bool isOurs(const QMimeData* mime)
{
    return mime->hasFormat(QString::fromLatin1(kCategoryMimeType))
           || mime->hasFormat(QString::fromLatin1(kRecordMimeType));
}
} // namespace

void CategoryTree::setDropHighlight(QTreeWidgetItem* node)
{
    if (dropHighlight_ == node)
        return;
    if (dropHighlight_ && byKey_.value(keyOf(dropHighlight_)) == dropHighlight_)
        dropHighlight_->setData(0, Qt::BackgroundRole, QVariant());
    dropHighlight_ = node;
    if (node)
        node->setData(0, Qt::BackgroundRole, palette().brush(QPalette::Highlight).color().lighter(150));
}

void CategoryTree::dragEnterEvent(QDragEnterEvent* event)
{
    if (isOurs(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void CategoryTree::dragMoveEvent(QDragMoveEvent* event)
{
    if (!isOurs(event->mimeData())) {
        event->ignore();
        return;
    }
    setDropHighlight(itemAt(event->position().toPoint()));
    event->acceptProposedAction();
}

void CategoryTree::dragLeaveEvent(QDragLeaveEvent* event)
{
    setDropHighlight(nullptr);
    QTreeWidget::dragLeaveEvent(event);
}

void CategoryTree::dropEvent(QDropEvent* event)
{
    const QMimeData* mime = event->mimeData();
    QTreeWidgetItem* target = itemAt(event->position().toPoint());
    setDropHighlight(nullptr);
    if (!isOurs(mime)) {
        event->ignore();
        return;
    }
    // Nothing moves by itself: the receiver stores the move first.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (mime->hasFormat(QString::fromLatin1(kCategoryMimeType)))
        emit categoryDropped(QString::fromUtf8(mime->data(QString::fromLatin1(kCategoryMimeType))), target);
    else
        emit recordDropped(QString::fromUtf8(mime->data(QString::fromLatin1(kRecordMimeType))), target);
}

void CategoryTree::keyPressEvent(QKeyEvent* event)
{
    QTreeWidgetItem* before = currentItem();
    QTreeWidget::keyPressEvent(event);
    if (currentItem() != before && state() != QAbstractItemView::EditingState)
        emit nodePressed(currentItem());
}

} // namespace zumilo::tree
