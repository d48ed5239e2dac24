#include "recordlist.h"

#include "recordeditor.h"

#include "tree/categorytree.h"

#include "shell/recordsetmodel.h"
#include "shell/twips.h"
#include "store/jetlike.h"
#include "store/error.h"
#include "store/recordset.h"

#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyle>

#include <algorithm>
#include <numeric>
#include <unordered_map>

namespace zumilo::records {

namespace {

const char* const kCaptions[5] = {"タイトル", "期日", "更新日", "初回作成日", "No"};
const double kInitialWidths[5] = {3000, 1100, 1700, 1100, 500};

// Measures its captions in the font they are painted in. Qt measures them
// in bold, for sections it highlights, which a list's header never does:
// the bold face of the Japanese font would be read for that alone, some
// 3 % of the start.
class PlainHeader : public QHeaderView {
public:
    explicit PlainHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
    {
        // As the list's own header was.
        setSectionsMovable(true);
        setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }

protected:
    QSize sectionSizeFromContents(int logicalIndex) const override
    {
        if (!model())
            return {};
        QStyleOptionHeaderV2 option;
        initStyleOption(&option);
        option.section = logicalIndex;
        option.text = model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString();
        QSize size = style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), this);
        if (isSortIndicatorShown())
            size.rwidth() += size.height() + style()->pixelMetric(QStyle::PM_HeaderMargin, &option, this);
        return size;
    }
};

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
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        // No more than a title holds.
        return shell::cellText(textAt(index.row(), index.column()), kTitleLength);
    case Qt::UserRole:
        return keyAt(index.row());
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
    // A flat list: the view need not look up whether a row is expanded.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
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
    mime->setData(QString::fromLatin1(tree::kRecordMimeType), keyAt(indexes.first().row()).toUtf8());
    return mime;
}

void RecordListModel::setSource(std::shared_ptr<store::Recordset> source)
{
    beginResetModel();
    source_ = std::move(source);
    bookmarks_.clear();
    rows_.clear();
    gone_.clear();
    ids_.clear();
    if (source_) {
        static const char* const names[6] = {"id", "title", "kijitudate", "kousindate", "kousintime", "sinkidate"};
        for (size_t k = 0; k < fields_.size(); ++k)
            fields_[k] = source_->fieldIndex(QString::fromLatin1(names[k]));
        const int n = source_->recordCount();
        bookmarks_.resize(size_t(n));
        for (int p = 0; p < n; ++p)
            bookmarks_[size_t(p)] = source_->bookmarkAt(p);
        rows_.resize(size_t(n));
        std::iota(rows_.begin(), rows_.end(), 0);
        gone_.assign(size_t(n), false);
        // Numbers that are not the rows' own are read once, for finding rows.
        try {
            if (!source_->isRowidField(QStringLiteral("id"))) {
                for (const QString& t : columnOfSource(4))
                    ids_.push_back(t.toLongLong());
            }
        } catch (const store::StoreError&) {
            source_.reset();
            bookmarks_.clear();
            rows_.clear();
            gone_.clear();
            endResetModel();
            throw;
        }
    }
    endResetModel();
}

qint64 RecordListModel::idAt(int i) const
{
    if (i < 0 || size_t(i) >= rows_.size())
        return 0;
    const size_t index = size_t(rows_[size_t(i)]);
    return ids_.empty() ? bookmarks_[index] : ids_[index];
}

QString RecordListModel::textAt(int i, int column) const
{
    if (i < 0 || size_t(i) >= rows_.size() || column < 0 || column > 4)
        return {};
    const qint64 bookmark = bookmarks_[size_t(rows_[size_t(i)])];
    auto field = [&](int k) {
        return fields_[size_t(k)] < 0 ? QString() : source_->textOf(bookmark, fields_[size_t(k)]);
    };
    try {
        switch (column) {
        case 0:
            return field(1);
        case 1:
            return field(2);
        case 2:
            return field(3) + QLatin1Char(' ') + field(4);
        case 3:
            return field(5);
        default:
            return QString::number(idAt(i));
        }
    } catch (const store::StoreError&) {
        return {}; // the file went away under the list; the next refill tells
    }
}

int RecordListModel::find(const QString& key) const
{
    bool ok = false;
    const qint64 id = QStringView(key).chopped(std::min<qsizetype>(3, key.size())).toLongLong(&ok);
    if (!ok || key != itemKeyFor(QString::number(id)))
        return -1;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (idAt(int(i)) == id)
            return int(i);
    }
    return -1;
}

void RecordListModel::removeAt(int i)
{
    beginRemoveRows({}, i, i);
    gone_[size_t(rows_[size_t(i)])] = true;
    rows_.erase(rows_.begin() + i);
    endRemoveRows();
}

std::vector<QString> RecordListModel::columnOfSource(int column) const
{
    static const QStringList fields[5] = {{QStringLiteral("title")},
                                          {QStringLiteral("kijitudate")},
                                          {QStringLiteral("kousindate"), QStringLiteral("kousintime")},
                                          {QStringLiteral("sinkidate")},
                                          {QStringLiteral("id")}};
    std::unordered_map<qint64, size_t> indexOf;
    indexOf.reserve(bookmarks_.size());
    for (size_t i = 0; i < bookmarks_.size(); ++i)
        indexOf.emplace(bookmarks_[i], i);
    std::vector<QString> out(bookmarks_.size());
    std::vector<int> positions;
    const QStringList& wanted = fields[column];
    const std::vector<QString> texts = source_->columnTexts(wanted, &positions);
    for (size_t i = 0; i < positions.size(); ++i) {
        const auto at = indexOf.find(source_->bookmarkAt(positions[i]));
        if (at == indexOf.end())
            continue; // added since the list was filled
        const QString* t = &texts[i * size_t(wanted.size())];
        out[at->second] = wanted.size() == 2 ? t[0] + QLatin1Char(' ') + t[1] : t[0];
    }
    return out;
}

void RecordListModel::sortBy(int column, Qt::SortOrder order)
{
    std::vector<int> sorted;
    sorted.reserve(rows_.size());
    for (size_t p = 0; p < gone_.size(); ++p) {
        if (!gone_[p])
            sorted.push_back(int(p));
    }
    // The source comes by title already, the way the list sorts it.
    if (source_ && !(column == 0 && order == Qt::AscendingOrder)) {
        // One key per row, then a stable sort: fast for many rows. Keys
        // ignore case, full/half width and hiragana/katakana, as search does.
        std::vector<QString> keys;
        try {
            keys = columnOfSource(column);
        } catch (const store::StoreError&) {
            return; // unreadable now: the rows keep their order
        }
        for (QString& k : keys)
            k = store::foldForCompare(k);
        std::stable_sort(sorted.begin(), sorted.end(), [&](int a, int b) {
            const int c = keys[size_t(a)].compare(keys[size_t(b)]);
            return order == Qt::AscendingOrder ? c < 0 : c > 0;
        });
    }
    emit layoutAboutToBeChanged();
    rows_ = std::move(sorted);
    emit layoutChanged();
}

// --- view ----------------------------------------------------------------------

RecordList::RecordList(QWidget* parent) : QTreeView(parent), model_(new RecordListModel(this))
{
    setHeader(new PlainHeader(this));
    setObjectName(QStringLiteral("ListView1"));
    setAccessibleName(QStringLiteral("データの一覧"));
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

int RecordList::FillRecordList(const std::shared_ptr<store::Recordset>& rs)
{
    filling_ = true;
    model_->setSource(rs);
    if (sortColumn_ != 0 || sortOrder_ != Qt::AscendingOrder)
        model_->sortBy(sortColumn_, sortOrder_);
    filling_ = false;
    if (rs && rs->recordCount() > 0)
        rs->moveFirst();
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
    return model_->keyAt(position - 1);
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
