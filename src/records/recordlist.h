#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QTreeView>
#include <array>
#include <memory>
#include <vector>

namespace zumilo::store {
class Recordset;
}

namespace zumilo::records {

// A list item's key: the note's ID followed by "_id".
QString itemKeyFor(const QString& id);

// The rows of the record list: title, due date, update date and time,
// creation date and number of each note. The notes stay in their
// recordset, read as the rows are shown; the model keeps only the order.
class RecordListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

    // Shows every row of `source` in its order; null shows none.
    void setSource(std::shared_ptr<store::Recordset> source);
    qint64 idAt(int i) const;
    QString textAt(int i, int column) const;
    QString keyAt(int i) const { return itemKeyFor(QString::number(idAt(i))); }
    int find(const QString& key) const;
    void removeAt(int i);
    // Sorts by the displayed texts of a column; equal texts keep their order.
    void sortBy(int column, Qt::SortOrder order);

private:
    // The texts of a column for every row of the source, by position.
    std::vector<QString> columnOfSource(int column) const;

    // The source's rows as they stood when shown: it may lose and gain
    // rows since, and its positions move with them.
    std::shared_ptr<store::Recordset> source_;
    std::vector<qint64> bookmarks_;
    std::vector<int> rows_;       // indexes into bookmarks_, in the list's order
    std::vector<bool> gone_;      // by index: removed from the list
    std::vector<qint64> ids_;     // by index, when the number is not the rowid
    std::array<int, 6> fields_{}; // id, title, kijitudate, kousindate, kousintime, sinkidate
};

// The record list (ListView1): the notes of the current category in
// report form. Positions are 1-based, as the status text counts them.
class RecordList : public QTreeView {
    Q_OBJECT
public:
    explicit RecordList(QWidget* parent = nullptr);

    // Column widths in twips: title and due date are the user's; the
    // others keep their initial widths.
    void setColumnWidthTwips(int column, double twips);
    double columnWidthTwips(int column) const;

    // Shows every row of `rs`, in the list's sort order, and leaves `rs`
    // on its first row. Returns the number of rows.
    int FillRecordList(const std::shared_ptr<store::Recordset>& rs);

    int count() const;
    int selectedPosition() const; // 0 when nothing is selected
    QString selectedKey() const;
    QString keyAt(int position) const;
    bool selectKey(const QString& key); // false when no row has it
    void selectPosition(int position);
    // Removes a row; returns its position (0 when absent).
    int removeKey(const QString& key);

    // A header click: a new column sorts ascending, the same column toggles.
    void ColumnClick(int column);
    int lastSortColumn() const { return sortColumn_; }
    int lastSortOrder() const { return sortOrder_ == Qt::AscendingOrder ? 0 : 1; }

    RecordListModel* listModel() const { return model_; }

signals:
    void itemChosen(); // clicked, or moved to with the keyboard
    void itemOpened(); // double click or Enter
    void deletePressed();
    void popupRequested(const QPoint& globalPos);
    void sortChanged(int column, int order);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    RecordListModel* model_;
    int sortColumn_ = 0;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    bool filling_ = false; // programmatic selection changes are not the user's choice
};

} // namespace zumilo::records
