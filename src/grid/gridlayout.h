#pragma once

#include "gridsearch.h"

#include "shell/twipslayout.h"

class QMainWindow;
class QToolBar;
class QWidget;

namespace zumilo::shell {
class SettingsStore;
class SplitterBar;
class SplitterHandle;
class TabStrip;
} // namespace zumilo::shell

namespace zumilo::records {
class RecordEditor;
}

namespace zumilo::grid {

class DataControl;
class GridView;

// The grid window's panes: where the controls lie ("F3Position"), how they
// follow the window's size, the splitter between grid and record pane, and
// the two arrangements of the view tabs (with and without the search bar).
class GridLayout {
public:
    // Places the controls made on the window's canvas (its central widget)
    // and adds the splitter after them.
    GridLayout(QMainWindow& window, QToolBar* toolBar, shell::TabStrip* tabStrip, GridView* grid,
               const SearchBar& searchBar, records::RecordEditor& editor, DataControl* data);

    // The stored places and the grid's row height, fitted to the window.
    void restore(const shell::SettingsStore& settings);
    void save(shell::SettingsStore& settings) const;
    // Form_Resize: the controls follow the window's size.
    void resize();
    // SizeControls: the splitter moves to `x` twips, within the bounds that
    // keep both panes whole.
    void moveSplitter(double x);
    // FindTabYes, FindTabNo: the grid below the search bar, or in its place.
    void showSearchBar(bool shown);

    shell::TwipsLayout& twips() { return layout_; }

private:
    double statusHeight() const;

    QMainWindow& window_;
    QWidget* canvas_;
    GridView* grid_;
    SearchBar searchBar_;
    shell::SplitterHandle* splitter_;
    shell::SplitterBar* splitterBar_;
    shell::TwipsLayout layout_;
    bool SplitterMoving = false;
};

} // namespace zumilo::grid
