#pragma once

#include <QObject>

class QTreeWidgetItem;

namespace zumilo::shell {
struct AppState;
}

namespace zumilo::tree {
class CategoryTree;
}

namespace zumilo::records {
class RecordEditor;
}

namespace zumilo::app {

class CategoryBrowser;
class MainPanes;
class OpenFileSession;

// Changes to the main window's category tree: add, rename, delete, and
// moving a category or a note by drag and drop. Each change is stored
// first; the tree shows only what the file holds.
class CategoryEdits : public QObject {
public:
    CategoryEdits(shell::AppState& state, QWidget& window, OpenFileSession& session, CategoryBrowser& browser,
                  MainPanes& panes);

    void mnuBunTuika_Click();
    void mnuBunRename_Click();
    void TreeView1_AfterLabelEdit(QTreeWidgetItem* node, const QString& oldText);
    void mnuBunDel_Click();
    void TreeView1_DropCategory(const QString& draggedKey, QTreeWidgetItem* target);
    void TreeView1_DropRecord(const QString& recordKey, QTreeWidgetItem* target);

private:
    shell::AppState& st_;
    QWidget& window_;
    OpenFileSession& session_;
    CategoryBrowser& browser_;
    tree::CategoryTree* tree_;
    records::RecordEditor* editor_;
};

} // namespace zumilo::app
