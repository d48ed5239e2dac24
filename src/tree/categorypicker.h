#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QAbstractButton;
class QFrame;
class QPushButton;
class QTreeWidgetItem;
class QWidget;

namespace zumilo::store {
class Database;
}

namespace zumilo::tree {

class CategoryTree;

// What a picker needs of the editor it fills: the button it opens under,
// the width of the name box to the button's left, and where the choice goes.
class CategoryTarget {
public:
    virtual ~CategoryTarget() = default;
    virtual QAbstractButton* pickerButton() const = 0;
    virtual int categoryNameWidth() const = 0;
    // The chosen category: its number and name ("0" and "." for the root).
    virtual void setCategory(const QString& bunID, const QString& name) = 0;
};

// The category picker of an editor: the button cmdBunOpen opens a panel
// (Frame92) under it with a tree (TreeView2) of the categories, loaded one
// level at a time; "決定" (cmdBunrui(0)) writes the chosen category's name
// and number into the editor's category boxes, Text1(3) and Text1(7).
// Choosing the root writes "." and 0.
class CategoryPicker : public QObject {
    Q_OBJECT
public:
    // `database` gives the window's own connection when the panel opens;
    // `rootText` gives the root's caption (the database's file name).
    CategoryPicker(QWidget* canvas, CategoryTarget& target, std::function<store::Database*()> database,
                   std::function<QString()> rootText);
    ~CategoryPicker() override;

    // Opens the panel (or closes it when it is open).
    void cmdBunOpen_Click();
    void TreeView2_NodeClick(QTreeWidgetItem* node);
    // "決定" writes the choice; any index hides the panel.
    void cmdBunrui_Click(int index);

    QFrame* panel();
    CategoryTree* tree();
    QString pickedBunID() const { return pickedID_; }
    QString pickedBunName() const { return pickedName_; }

private:
    struct Ui;
    Ui& ui();
    std::unique_ptr<Ui> ui_;
    QPointer<QWidget> canvas_;
    CategoryTarget& target_;
    std::function<store::Database*()> database_;
    std::function<QString()> rootText_;
    QString pickedID_;
    QString pickedName_;
};

} // namespace zumilo::tree
