#pragma once

#include "shell/requests.h"
#include "store/views.h"

#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QLineEdit;
class QPushButton;
class QTableView;

namespace zumilo::shell {
struct AppState;
}
namespace zumilo::store {
class Database;
class Recordset;
class StoreError;
} // namespace zumilo::store

namespace zumilo::shell {
class RecordsetModel;
}
namespace zumilo::tree {

// The category search window (Form4, "分類検索"): the categories whose names
// contain the text of Text1, listed by name in DBGrid1 as bunrui and bunid;
// a double click on a row jumps to that category in the main window's tree.
// It reads through its own connection to DatabasePath and follows the main
// window when another database is opened. One instance, kept once opened.
class CategorySearchWindow : public QWidget {
    Q_OBJECT
public:
    // Called on a double click with the category. Returns false when it is
    // not in the main window's tree (the category was deleted since).
    using JumpFunction = std::function<bool(const shell::JumpRequest& request)>;

    // Binds to DatabasePath at once (Form_Load); stays hidden until opened.
    CategorySearchWindow(shell::AppState& state, JumpFunction jump, QWidget* parent = nullptr);
    ~CategorySearchWindow() override;

    // OpenCategorySearch: places the window beside the window it is opened
    // from (its frame geometry) — to the left, or to the right where the
    // screen has no room on the left, and over that window's right part
    // only where neither side has room — shows it in front and searches
    // for `text`.
    void openSearch(const QString& text, const QRect& besideGeometry);

    void Form_Load();
    // Binds again when DatabasePath names another file than the window shows.
    void Form_Activate();
    // Lets go of the file (while it is restored); the next activation binds
    // to the open database again.
    void releaseDatabase();
    void Form_Resize();
    // Lists the categories whose names contain Text1 (all when empty).
    void btnFind_Click();
    // Jumps to the category of the current row.
    void DBGrid1_DblClick();

    QLineEdit* searchBox() const { return text1_; }
    QPushButton* findButton() const { return btnFind_; }
    QTableView* grid() const { return grid_; }
    shell::RecordsetModel* model() const { return model_; }
    // The file the window reads, and what it lists of it.
    QString boundPath() const { return boundPath_; }
    const store::CategoryView& view() const { return view_; }

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Opens DatabasePath in place of the current connection.
    bool bind(const store::CategoryView& view);
    // Lists `view` on the current connection; on failure the rows stay.
    bool setView(const store::CategoryView& view);
    void showStoreError(const store::StoreError& e);

    shell::AppState& state_;
    JumpFunction jump_;
    QLineEdit* text1_ = nullptr;
    QPushButton* btnFind_ = nullptr;
    QTableView* grid_ = nullptr;
    shell::RecordsetModel* model_ = nullptr;
    std::unique_ptr<store::Recordset> rows_; // what the grid shows
    std::shared_ptr<store::Database> db_;
    QString boundPath_;
    store::CategoryView view_;
};

} // namespace zumilo::tree
