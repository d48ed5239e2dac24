#pragma once

#include "shell/twipslayout.h"

#include <QObject>
#include <functional>
#include <memory>

class QMainWindow;
class QToolBar;

namespace zumilo::shell {
struct AppState;
class SplitterBar;
class SplitterHandle;
class StatusPanels;
class TabStrip;
} // namespace zumilo::shell

namespace zumilo::store {
class Database;
}

namespace zumilo::tree {
class CategoryPicker;
class CategoryTree;
} // namespace zumilo::tree

namespace zumilo::records {
class RecordEditor;
class RecordList;
} // namespace zumilo::records

namespace zumilo::app {

// The main window's panes on its canvas: the tab strip with the category
// tree, the note list, the editor, and the two splitters between them;
// where each lies, how they follow the window's size, and the stored
// positions.
class MainPanes : public QObject {
public:
    MainPanes(QMainWindow& window, QWidget* canvas, QToolBar* toolBar, shell::StatusPanels* panels,
              shell::AppState& state, const std::function<store::Database*()>& database);
    ~MainPanes() override;

    shell::TabStrip* tabStrip() const { return tabStrip_; }
    tree::CategoryTree* tree() const { return tree_; }
    records::RecordList* list() const { return list_; }
    records::RecordEditor* editor() const { return editor_.get(); }
    shell::TwipsLayout& layout() { return layout_; }

    // The stored positions, and the window's place and size.
    void restore();
    void save();
    void Form_Resize();
    void SizeControls(double x);
    void SizeControls2(double y);

private:
    void followSplitters();
    void fitMinimumSize();

    QMainWindow& window_;
    QWidget* canvas_;
    shell::AppState& st_;
    shell::TabStrip* tabStrip_ = nullptr;
    tree::CategoryTree* tree_ = nullptr;
    records::RecordList* list_ = nullptr;
    std::unique_ptr<records::RecordEditor> editor_;
    std::unique_ptr<tree::CategoryPicker> picker_;
    shell::SplitterHandle* splitter_ = nullptr;
    shell::SplitterBar* splitterBar_ = nullptr;
    shell::SplitterHandle* splitter2_ = nullptr;
    shell::SplitterBar* splitterBar2_ = nullptr;
    shell::TwipsLayout layout_;
    bool SplitterMoving = false;
    bool Splitter2Moving = false;
};

} // namespace zumilo::app
