#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <memory>

namespace zumilo::store {
class Recordset;
}

namespace zumilo::tree {

// A read-only table over a recordset: one column per field, in the
// statement's order, headed by the field's name; rows in recordset order.
// Cells are read from the store when shown.
class RecordsetTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordsetTableModel(QObject* parent = nullptr);
    ~RecordsetTableModel() override;

    // Shows `rs`, which the model keeps; nullptr shows an empty table.
    void setRecordset(std::unique_ptr<store::Recordset> rs);
    store::Recordset* recordset() const { return rs_.get(); }

    // The cell's display text; empty for a deleted or unreadable row.
    QString text(int row, int column) const;
    // The column of a field (case-insensitive), -1 when absent.
    int columnOf(const QString& fieldName) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::unique_ptr<store::Recordset> rs_;
    QStringList fields_;
    int rows_ = 0;
};

} // namespace zumilo::tree
