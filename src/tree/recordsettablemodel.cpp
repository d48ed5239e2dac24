#include "recordsettablemodel.h"

#include "store/error.h"
#include "store/recordset.h"

namespace zumilo::tree {

RecordsetTableModel::RecordsetTableModel(QObject* parent) : QAbstractTableModel(parent) {}

RecordsetTableModel::~RecordsetTableModel() = default;

void RecordsetTableModel::setRecordset(std::unique_ptr<store::Recordset> rs)
{
    beginResetModel();
    rs_ = std::move(rs);
    fields_.clear();
    rows_ = 0;
    if (rs_) {
        // The count and names are read once: a view asks for them constantly.
        store::tryStep([&] {
            QStringList fields;
            for (int i = 0, n = rs_->fieldCount(); i < n; ++i)
                fields << rs_->fieldName(i);
            const int rows = rs_->recordCount();
            fields_ = fields;
            rows_ = rows;
        });
    }
    endResetModel();
}

QString RecordsetTableModel::text(int row, int column) const
{
    if (!rs_ || row < 0 || row >= rows_ || column < 0 || column >= fields_.size())
        return {};
    QString value;
    // The row may have gone with its file or another window's delete.
    store::tryStep([&] { value = rs_->textAt(row, column); });
    return value;
}

int RecordsetTableModel::columnOf(const QString& fieldName) const
{
    for (int i = 0; i < fields_.size(); ++i) {
        if (fields_[i].compare(fieldName, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int RecordsetTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int RecordsetTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(fields_.size());
}

QVariant RecordsetTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return text(index.row(), index.column());
}

QVariant RecordsetTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < fields_.size() ? QVariant(fields_[section]) : QVariant();
    return section + 1;
}

Qt::ItemFlags RecordsetTableModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace zumilo::tree
