#include "datacontrol.h"

#include "shell/recordsetmodel.h"

#include "store/database.h"
#include "store/error.h"
#include "store/recordset.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include <algorithm>

namespace zumilo::grid {

DataControl::DataControl(QWidget* parent) : QFrame(parent), model_(new shell::RecordsetModel(this))
{
    setObjectName(QStringLiteral("Data1"));
    setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(1, 1, 1, 1);
    row->setSpacing(0);

    struct Button {
        const char* name;
        const char* text;
        const char* tip;
    };
    static const Button kButtons[4] = {
        {"Data1_First", "|◀", "先頭のデータ"},
        {"Data1_Previous", "◀", "前のデータ"},
        {"Data1_Next", "▶", "次のデータ"},
        {"Data1_Last", "▶|", "最後のデータ"},
    };
    for (int i = 0; i < 4; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(kButtons[i].name));
        b->setText(QString::fromUtf8(kButtons[i].text));
        b->setToolTip(QString::fromUtf8(kButtons[i].tip));
        b->setAccessibleName(b->toolTip());
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        buttons_[i] = b;
    }
    caption_ = new QLabel(this);
    caption_->setObjectName(QStringLiteral("Data1_Caption"));
    caption_->setAlignment(Qt::AlignCenter);
    row->addWidget(buttons_[0]);
    row->addWidget(buttons_[1]);
    row->addWidget(caption_, 1);
    row->addWidget(buttons_[2]);
    row->addWidget(buttons_[3]);

    connect(buttons_[0], &QToolButton::clicked, this, [this] { moveFirst(); });
    connect(buttons_[1], &QToolButton::clicked, this, [this] { movePrevious(); });
    connect(buttons_[2], &QToolButton::clicked, this, [this] { moveNext(); });
    connect(buttons_[3], &QToolButton::clicked, this, [this] { moveLast(); });
    updateCaption();
}

DataControl::~DataControl()
{
    // The model must not outlive the rows it points at.
    model_->setRecordset(nullptr);
}

void DataControl::setConnection(std::shared_ptr<store::Database> db, const QString& databaseName)
{
    model_->setRecordset(nullptr);
    rs_.reset();
    current_ = -1;
    adding_ = false;
    db_ = std::move(db);
    databaseName_ = databaseName;
    updateCaption();
}

void DataControl::closeConnection()
{
    model_->setRecordset(nullptr);
    rs_.reset();
    current_ = -1;
    adding_ = false;
    if (db_)
        store::tryStep([&] { db_->close(); }).ignoreFailure("given up: nothing shown reads it again");
    db_.reset();
    databaseName_.clear(); // on no file now: the next activation opens one
    updateCaption();
}

bool DataControl::refresh()
{
    if (validator_ && !validator_(DataAction::Close))
        return false;
    if (!db_)
        throw store::StoreError(store::ErrorKind::Other, QStringLiteral("no database"));
    auto rs = db_->openView(view_, store::RecordsetType::Dynaset);
    // The model lets go of the old rows before they are freed.
    model_->setRecordset(rs.get());
    rs_ = std::move(rs);
    setCurrentRow(0);
    return true;
}

int DataControl::recordCount() const
{
    return rs_ ? rs_->recordCount() : 0;
}

void DataControl::setCurrentRow(int row)
{
    adding_ = false;
    const int count = recordCount();
    current_ = count == 0 ? -1 : std::clamp(row, 0, count - 1);
    if (rs_ && current_ >= 0) {
        store::tryStep([&] {
            rs_->setAbsolutePosition(current_);
        }).ignoreFailure("the pane's read of the row meets it again and tells it");
    }
    model_->setCurrentRow(current_);
    updateCaption();
    emit repositioned();
}

bool DataControl::move(DataAction action, const std::function<int()>& target)
{
    if (!rs_ || (!adding_ && recordCount() == 0))
        return false;
    if (validator_ && !validator_(action))
        return false;
    // Asked only now: saving a new row may have added one.
    setCurrentRow(target());
    return true;
}

bool DataControl::moveFirst()
{
    return move(DataAction::MoveFirst, [] { return 0; });
}

bool DataControl::movePrevious()
{
    return move(DataAction::MovePrevious, [this] { return std::max(0, current_ - 1); });
}

bool DataControl::moveNext()
{
    return move(DataAction::MoveNext, [this] { return std::min(recordCount() - 1, current_ + 1); });
}

bool DataControl::moveLast()
{
    return move(DataAction::MoveLast, [this] { return recordCount() - 1; });
}

bool DataControl::moveTo(int row)
{
    if (!adding_ && row == current_)
        return true;
    return move(DataAction::Bookmark, [row] { return row; });
}

bool DataControl::deleteCurrent()
{
    if (!rs_ || (!adding_ && current_ < 0))
        return false;
    if (validator_ && !validator_(DataAction::Delete))
        return false;
    if (adding_) {
        // The new row was never stored: giving it up is all there is to do.
        setCurrentRow(current_);
        return true;
    }
    rs_->setAbsolutePosition(current_);
    rs_->deleteCurrent();
    model_->rowRemoved(current_);
    rs_->moveNext();
    if (rs_->isEOF())
        rs_->moveLast();
    setCurrentRow(rs_->absolutePosition());
    return true;
}

bool DataControl::beginAdd()
{
    if (!db_)
        return false;
    if (validator_ && !validator_(DataAction::AddNew))
        return false;
    adding_ = true;
    model_->setCurrentRow(-1);
    updateCaption();
    return true;
}

void DataControl::endAdd(bool appended)
{
    adding_ = false;
    if (appended)
        model_->rowAppended();
    updateCaption();
}

void DataControl::rowWritten()
{
    if (!rs_ || adding_ || current_ < 0)
        return;
    // Moving onto the row reads it afresh instead of from the cache.
    store::tryStep([&] {
        rs_->setBookmark(rs_->bookmark());
    }).ignoreFailure("only makes the row read afresh; the pane and the cells read it again");
    model_->rowChanged(current_);
}

void DataControl::dropRows()
{
    model_->setRecordset(nullptr);
    rs_.reset();
    setCurrentRow(-1);
}

QString DataControl::caption() const
{
    const int position = adding_ || current_ < 0 ? 0 : current_ + 1;
    return QString::number(position) + QStringLiteral(" / ") + QString::number(recordCount());
}

void DataControl::updateCaption()
{
    caption_->setText(caption());
}

} // namespace zumilo::grid
