#include "recordlist.h"

#include "tree/categorytree.h"

#include "shell/twips.h"
#include "store/jetlike.h"
#include "store/recordset.h"

#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyle>

#include <algorithm>
#include <numeric>

namespace zumilo::records {

namespace {

const char* const kCaptions[5] = {"タイトル", "期日", "更新日", "初回作成日", "No"};
const double kInitialWidths[5] = {3000, 1100, 1700, 1100, 500};

} // namespace

QString itemKeyFor(const QString& id)
{
    return id + QStringLiteral("_id");
}

// --- model ---------------------------------------------------------------------

int RecordListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int RecordListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 5;
}

QVariant RecordListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= rows_.size())
        return {};
    const Row& r = rows_[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return r.texts[size_t(index.column())];
    case Qt::UserRole:
        return r.key();
    default:
        return {};
    }
}

QVariant RecordListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 5)
        return QString::fromUtf8(kCaptions[section]);
    return {};
}

Qt::ItemFlags RecordListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList RecordListModel::mimeTypes() const
{
    return {QString::fromLatin1(tree::kRecordMimeType)};
}

QMimeData* RecordListModel::mimeData(const QModelIndexList& indexes) const
{
    if (indexes.isEmpty())
        return nullptr;
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(tree::kRecordMimeType), rows_[size_t(indexes.first().row())].key().toUtf8());
    return mime;
}

void RecordListModel::setRows(std::vector<Row> rows)
{
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int RecordListModel::find(const QString& key) const
{
    bool ok = false;
    const qint64 id = QStringView(key).chopped(std::min<qsizetype>(3, key.size())).toLongLong(&ok);
    if (!ok || key != itemKeyFor(QString::number(id)))
        return -1;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].id == id)
            return int(i);
    }
    return -1;
}

void RecordListModel::removeAt(int i)
{
    beginRemoveRows({}, i, i);
    rows_.erase(rows_.begin() + i);
    endRemoveRows();
}

void RecordListModel::sortBy(int column, Qt::SortOrder order)
{
    // One key per row, then a stable sort of indexes: fast for many rows.
    // Keys ignore case, full/half width and hiragana/katakana, as search does.
    std::vector<QString> keys;
    keys.reserve(rows_.size());
    for (const Row& r : rows_)
        keys.push_back(store::foldForCompare(r.texts[size_t(column)]));
    std::vector<size_t> order_(rows_.size());
    std::iota(order_.begin(), order_.end(), 0);
    std::stable_sort(order_.begin(), order_.end(), [&](size_t a, size_t b) {
        const int c = keys[a].compare(keys[b]);
        return order == Qt::AscendingOrder ? c < 0 : c > 0;
    });
    std::vector<Row> sorted;
    sorted.reserve(rows_.size());
    for (size_t i : order_)
        sorted.push_back(std::move(rows_[i]));
    emit layoutAboutToBeChanged();
    rows_ = std::move(sorted);
    emit layoutChanged();
}

// --- view ----------------------------------------------------------------------

RecordList::RecordList(QWidget* parent) : QTreeView(parent), model_(new RecordListModel(this))
{
    setObjectName(QStringLiteral("ListView1"));
    setModel(model_);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(false);
    header()->setSortIndicatorShown(false);
    for (int c = 0; c < 5; ++c)
        setColumnWidthTwips(c, kInitialWidths[c]);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int section) { ColumnClick(section); });
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (!filling_)
            emit itemChosen();
    });
}

void RecordList::setColumnWidthTwips(int column, double twips)
{
    setColumnWidth(column, std::max(1, shell::twipsToPixels(twips)));
}

double RecordList::columnWidthTwips(int column) const
{
    return shell::pixelsToTwips(columnWidth(column));
}

int RecordList::FillRecordList(store::Recordset& rs)
{
    static const QStringList fields = {QStringLiteral("id"), QStringLiteral("title"), QStringLiteral("kijitudate"),
                                       QStringLiteral("kousindate"), QStringLiteral("kousintime"),
                                       QStringLiteral("sinkidate")};
    const std::vector<QString> texts = rs.columnTexts(fields);
    const size_t n = texts.size() / 6;
    std::vector<RecordListModel::Row> rows(n);
    for (size_t i = 0; i < n; ++i) {
        const QString* t = &texts[i * 6];
        RecordListModel::Row& r = rows[i];
        r.id = t[0].toLongLong();
        r.texts = {t[1], t[2], t[3] + QLatin1Char(' ') + t[4], t[5], t[0]};
    }
    filling_ = true;
    model_->setRows(std::move(rows));
    model_->sortBy(sortColumn_, sortOrder_);
    filling_ = false;
    if (rs.recordCount() > 0)
        rs.moveFirst();
    return model_->rowCount();
}

int RecordList::count() const
{
    return model_->rowCount();
}

int RecordList::selectedPosition() const
{
    const QModelIndex current = selectionModel()->currentIndex();
    return current.isValid() ? current.row() + 1 : 0;
}

QString RecordList::selectedKey() const
{
    return keyAt(selectedPosition());
}

QString RecordList::keyAt(int position) const
{
    if (position < 1 || position > count())
        return {};
    return model_->row(position - 1).key();
}

bool RecordList::selectKey(const QString& key)
{
    const int i = model_->find(key);
    if (i < 0)
        return false;
    selectPosition(i + 1);
    return true;
}

void RecordList::selectPosition(int position)
{
    if (position < 1 || position > count())
        return;
    const QModelIndex index = model_->index(position - 1, 0);
    filling_ = true;
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    filling_ = false;
    scrollTo(index);
}

int RecordList::removeKey(const QString& key)
{
    const int i = model_->find(key);
    if (i < 0)
        return 0;
    filling_ = true;
    model_->removeAt(i);
    filling_ = false;
    return i + 1;
}

void RecordList::ColumnClick(int column)
{
    if (column != sortColumn_)
        sortOrder_ = Qt::AscendingOrder;
    else
        sortOrder_ = sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    sortColumn_ = column;
    const QString key = selectedKey();
    filling_ = true;
    model_->sortBy(sortColumn_, sortOrder_);
    filling_ = false;
    if (!key.isEmpty())
        selectKey(key);
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(sortColumn_, sortOrder_);
    emit sortChanged(sortColumn_, lastSortOrder());
}

void RecordList::mouseReleaseEvent(QMouseEvent* event)
{
    QTreeView::mouseReleaseEvent(event);
    if (event->button() == Qt::RightButton)
        emit popupRequested(event->globalPosition().toPoint());
}

void RecordList::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit itemOpened();
}

void RecordList::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit itemOpened();
        return;
    case Qt::Key_Delete:
        emit deletePressed();
        return;
    default:
        QTreeView::keyPressEvent(event);
    }
}

} // namespace zumilo::records
