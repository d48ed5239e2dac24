#include "statuspanels.h"

#include "store/database.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QStyle>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

namespace zumilo::shell {

StatusPanels::StatusPanels(QStatusBar* bar)
{
    static const char* const tips[6] = {"", "ID : 連番", "oyaID : 親の連番", "更新日", "更新時刻", "初回作成日"};
    static const char* const samples[6] = {"", "000000", "000000", "0000/00/00", "00:00:00", "0000/00/00"};
    bar->setSizeGripEnabled(true);
    for (int i = 0; i < 6; ++i) {
        auto* label = new QLabel(bar);
        label->setObjectName(QStringLiteral("StatusBar1_Panel%1").arg(i + 1));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setToolTip(QString::fromUtf8(tips[i]));
        if (i == 0) {
            // The count of a large category stays readable.
            label->setMinimumWidth(label->fontMetrics().horizontalAdvance(statusCountText(88888, 88888)) + 12);
            bar->addWidget(label, 1);
        } else {
            // Wide enough for its usual content so the bar does not jump.
            label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QString::fromUtf8(samples[i])) + 12);
            label->setAlignment(Qt::AlignCenter);
            bar->addPermanentWidget(label);
        }
        labels_[i] = label;
    }
}

StatusNotice::StatusNotice(const QString& text, QWidget* parent) : QLabel(text, parent) {}

IndexBuildNotice::IndexBuildNotice(QStatusBar* bar, std::function<bool()> building)
    : StatusNotice(QStringLiteral("索引を再作成中（検索が遅くなります）")), building_(std::move(building)),
      timer_(new QTimer(this))
{
    setObjectName(QStringLiteral("IndexNotice"));
    hide();
    bar->addPermanentWidget(this);
    timer_->setInterval(500);
    connect(timer_, &QTimer::timeout, this, [this] { watch(); });
}

void IndexBuildNotice::watch()
{
    const bool building = building_();
    setVisible(building);
    if (building)
        timer_->start();
    else
        timer_->stop();
}

QSize StatusNotice::minimumSizeHint() const
{
    const QMargins m = contentsMargins();
    return {fontMetrics().horizontalAdvance(text().left(3) + QStringLiteral("…")) + m.left() + m.right(),
            QLabel::minimumSizeHint().height()};
}

void StatusNotice::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QRect r = contentsRect();
    style()->drawItemText(&painter, r, int(alignment()), palette(), isEnabled(),
                          fontMetrics().elidedText(text(), Qt::ElideRight, r.width()), foregroundRole());
}

void StatusNotice::setNoticeTip(const QString& tip)
{
    tip_ = tip;
    updateTip();
}

void StatusNotice::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    updateTip();
}

void StatusNotice::updateTip()
{
    if (!tip_.isEmpty())
        setToolTip(tip_);
    else
        setToolTip(fontMetrics().horizontalAdvance(text()) > contentsRect().width() ? text() : QString());
}

const QString kCheckingFile = QStringLiteral("ファイルを点検しています。終わるまでお待ちください…");

void sayWhenWritesWait()
{
    store::Database::setWaitNotice([](bool waiting) {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            return;
        auto* window = qobject_cast<QMainWindow*>(QApplication::activeWindow());
        if (!window)
            return;
        QStatusBar* bar = window->statusBar();
        if (waiting && bar->currentMessage() != kCheckingFile)
            bar->showMessage(kCheckingFile);
        else if (!waiting && bar->currentMessage() == kCheckingFile)
            bar->clearMessage();
        bar->repaint();
    });
}

QString StatusPanels::text(int panel) const
{
    return labels_.at(panel - 1)->text();
}

void StatusPanels::setText(int panel, const QString& text)
{
    labels_.at(panel - 1)->setText(text);
}

void StatusPanels::clear()
{
    for (QLabel* l : labels_)
        l->clear();
}

QString statusCountText(int position, int count)
{
    return QStringLiteral("ｱｲﾃﾞｱ数:  ") + QString::number(position) + QStringLiteral(" / ") + QString::number(count);
}

} // namespace zumilo::shell
