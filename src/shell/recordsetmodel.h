#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

namespace zumilo::store {
class Recordset;
}

namespace zumilo::shell {

// What a cell of a list shows of a text: its beginning, on one line. Laying
// out megabytes of one line (a value another program wrote) to elide it
// would hold the window for seconds.
QString cellText(QString text, qsizetype longest = 100);

// The rows of a recordset as a read-only table: one column per field of
// the statement, in its order, headed by the field's name. Cells are read
// from the store only when a view asks for them, so a set of 100,000 notes
// costs no more than the rows on screen. Yes/no fields show as a check
// mark; the current row carries a marker in the row header.
//
// The model does not own the recordset. Whoever changes the recordset's
// rows (delete, add, write) tells the model afterwards.
class RecordsetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Shows `rs` (nullptr: an empty table).
    void setRecordset(store::Recordset* rs);
    store::Recordset* recordset() const { return rs_; }

    // The cell as the grid shows it: Null as "", dates yyyy/MM/dd, yes/no
    // as "-1"/"0", line breaks as blanks. Empty for a row that is gone.
    QString text(int row, int column) const;
    bool isYesNo(int column) const;
    int columnOf(const QString& fieldName) const;

    int currentRow() const { return current_; }
    void setCurrentRow(int row);

    // After the recordset lost the row at `row`, gained one at its end, or
    // after a row was written.
    void rowRemoved(int row);
    void rowAppended();
    void rowChanged(int row);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    store::Recordset* rs_ = nullptr;
    QStringList fields_;
    std::vector<bool> yesNo_;
    int rows_ = 0; // kept, so that views see the count change only when told
    // The recordset's row for a row of the views: they hear of a removal
    // after the recordset made it, and until they have, the rows below the
    // removed one (removed_) are one further up in the recordset.
    int sourceRow(int row) const;
    int removed_ = -1;
    int current_ = -1;
};

} // namespace zumilo::shell
