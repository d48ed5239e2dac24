#include "shell/recordsetmodel.h"

#include "store/columntype.h"
#include "store/error.h"
#include "store/recordset.h"

namespace zumilo::shell {

QString cellText(QString text, qsizetype longest)
{
    if (text.size() > longest)
        text.truncate(longest);
    for (QChar& c : text) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
    }
    return text;
}

void RecordsetModel::setRecordset(store::Recordset* rs)
{
    beginResetModel();
    rs_ = rs;
    fields_.clear();
    yesNo_.clear();
    rows_ = 0;
    current_ = -1;
    if (rs_) {
        store::tryStep([&] {
            QStringList fields;
            std::vector<bool> yesNo;
            for (int i = 0, n = rs_->fieldCount(); i < n; ++i) {
                fields << rs_->fieldName(i);
                yesNo.push_back(rs_->fieldType(i).kind == store::ColumnKind::YesNo);
            }
            const int rows = rs_->recordCount();
            fields_ = fields;
            yesNo_ = yesNo;
            rows_ = rows;
        }).ignoreFailure("names, types and the count are held in memory: nothing here reads the file");
    }
    endResetModel();
}

QString RecordsetModel::text(int row, int column) const
{
    if (!rs_ || row < 0 || row >= rows_ || column < 0 || column >= fields_.size())
        return {};
    const int at = sourceRow(row);
    QString value;
    // The row may have gone with another window's delete, or the file with
    // it: the cell paints empty, and the window's next read of its rows
    // tells the failure (a message from a paint would come up per cell).
    if (at >= 0)
        store::tryStep([&] { value = rs_->textAt(at, column); }).ignoreFailure("a cell paints empty");
    return value;
}

int RecordsetModel::sourceRow(int row) const
{
    if (removed_ < 0 || row < removed_)
        return row;
    return row == removed_ ? -1 : row - 1;
}

bool RecordsetModel::isYesNo(int column) const
{
    return column >= 0 && size_t(column) < yesNo_.size() && yesNo_[size_t(column)];
}

int RecordsetModel::columnOf(const QString& fieldName) const
{
    for (int i = 0; i < fields_.size(); ++i) {
        if (fields_[i].compare(fieldName, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void RecordsetModel::setCurrentRow(int row)
{
    if (row == current_)
        return;
    const int old = current_;
    current_ = row;
    if (old >= 0 && old < rows_)
        emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0 && row < rows_)
        emit headerDataChanged(Qt::Vertical, row, row);
}

void RecordsetModel::rowRemoved(int row)
{
    if (row < 0 || row >= rows_)
        return;
    removed_ = row;
    beginRemoveRows({}, row, row);
    --rows_;
    removed_ = -1;
    if (current_ == row)
        current_ = -1;
    else if (current_ > row)
        --current_;
    endRemoveRows();
}

void RecordsetModel::rowAppended()
{
    beginInsertRows({}, rows_, rows_);
    ++rows_;
    endInsertRows();
}

void RecordsetModel::rowChanged(int row)
{
    if (row >= 0 && row < rows_ && !fields_.isEmpty())
        emit dataChanged(index(row, 0), index(row, int(fields_.size()) - 1));
}

int RecordsetModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int RecordsetModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(fields_.size());
}

QVariant RecordsetModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !rs_)
        return {};
    const int row = index.row();
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return isYesNo(column) ? QString() : cellText(text(row, column));
    case Qt::CheckStateRole: {
        if (!isYesNo(column))
            return {};
        const int at = sourceRow(row);
        QVariant value;
        if (at >= 0)
            store::tryStep([&] { value = rs_->valueAt(at, column); }).ignoreFailure("a cell paints empty");
        if (value.isNull())
            return {};
        return value.toBool() ? Qt::Checked : Qt::Unchecked;
    }
    default:
        return {};
    }
}

QVariant RecordsetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < fields_.size() ? QVariant(fields_[section]) : QVariant();
    // The record selector: a marker on the current row, blank elsewhere.
    return section == current_ ? QStringLiteral("▶") : QString();
}

Qt::ItemFlags RecordsetModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace zumilo::shell
