#pragma once

#include <QHash>
#include <QIcon>
#include <QTreeWidget>

namespace zumilo::store {
class Database;
}

namespace zumilo::tree {

// A node's key is its category number followed by "_id"; the root's is "0_id".
QString nodeKeyFor(const QString& bunID);
// The number a key stands for: the key less its last three characters.
QString numberOfKey(const QString& key);

// The mime type a dragged category node travels as (its key as UTF-8).
inline constexpr char kCategoryMimeType[] = "application/x-zumilo-category-key";
// The mime type a list row dropped on the tree travels as (its key as UTF-8).
inline constexpr char kRecordMimeType[] = "application/x-zumilo-record-key";

// The category tree (TreeView1 of the main window, TreeView2 of the
// pickers): the root, which shows the database's file name, and the
// categories below it, each parent keeping its children in Japanese
// alphabetical order of their names.
class CategoryTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit CategoryTree(QWidget* parent = nullptr);

    // Rebuilds the whole tree from T_bunrui. Every category reachable from
    // the root is shown, however many children a parent has; categories
    // whose parent is missing, or that sit on a cycle, cannot be reached
    // and are left out. Throws store::StoreError.
    void LoadCategoryTree(store::Database& db, const QString& rootText);
    void clearTree();
    // Clears the tree down to the root alone, captioned `rootText`.
    QTreeWidgetItem* resetToRoot(const QString& rootText);
    // Adds the categories (number, name) under `parent`, in order.
    void addNodes(QTreeWidgetItem* parent, const QList<QPair<QString, QString>>& categories);

    QTreeWidgetItem* rootNode() const;
    QTreeWidgetItem* node(const QString& key) const;
    static QString keyOf(const QTreeWidgetItem* node);

    // Adds a node under `parent` at its place in the order. In-place
    // renaming is allowed for category nodes, never for the root.
    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const QString& key, const QString& text);
    void removeNode(QTreeWidgetItem* node);
    // Moves a node with its subtree below another node.
    void moveNode(QTreeWidgetItem* node, QTreeWidgetItem* newParent);
    // Re-sorts a node after its text changed.
    void placeNode(QTreeWidgetItem* node);

    void expandAllNodes();
    void collapseAllNodes();

    // Sets a node's name without counting as the user's rename.
    void setNodeText(QTreeWidgetItem* node, const QString& text);
    // Starts in-place renaming of a category node (never the root).
    void beginRename(QTreeWidgetItem* node);

signals:
    // A mouse button was pressed on a node (nullptr: on empty space), or the
    // keyboard made another node current.
    void nodePressed(QTreeWidgetItem* node);
    // The right button was released: the tree's pop-up menu belongs here.
    void popupRequested(const QPoint& globalPos);
    // The user typed a new name in place. The receiver stores it, or puts
    // the old one back with setNodeText().
    void nodeRenamed(QTreeWidgetItem* node, const QString& oldText);
    // A category node (by key) was dropped on `target` (nullptr: no node).
    void categoryDropped(const QString& draggedKey, QTreeWidgetItem* target);
    // A list row (by item key) was dropped on `target`.
    void recordDropped(const QString& recordKey, QTreeWidgetItem* target);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QTreeWidgetItem* makeNode(const QString& key, const QString& text, bool isRoot);
    void forget(QTreeWidgetItem* node);
    void updateIcons(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    // The style's folder, asked of it once: each new icon of it reads its
    // pictures again, the larger part of loading a thousand categories.
    const QIcon& folderIcon(bool open);
    void setDropHighlight(QTreeWidgetItem* node);
    void onItemChanged(QTreeWidgetItem* node);

    QHash<QString, QTreeWidgetItem*> byKey_;
    QTreeWidgetItem* dropHighlight_ = nullptr;
    bool settingText_ = false;
    QIcon folders_[2];
};

} // namespace zumilo::tree
