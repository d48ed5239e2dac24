#include "tabstrip.h"

#include <QTabBar>

namespace zumilo::shell {

namespace {
struct Tab {
    const char* key;
    const char* caption;
    const char* tip;
};
const Tab kTabs[5] = {
    {"BunTab", "分類ﾂﾘｰ", "データを分類別にツリー構造で表示します"},
    {"FindTab", "検索", "全データから検索します"},
    {"JyuyoTab", "重要", "重要チェックのあるものを一覧表示します"},
    {"KijituTab", "予定", "期日の指定があるが、完了チェックの無いものを一覧表示します"},
    {"SaikinTab", "最近", "更新時間の新しい順に一覧表示します"},
};
} // namespace

TabStrip::TabStrip(QWidget* parent) : QFrame(parent), bar_(new QTabBar(this))
{
    setObjectName(QStringLiteral("TabStrip1"));
    setFrameShape(QFrame::StyledPanel);
    bar_->setObjectName(QStringLiteral("TabStrip1_Tabs"));
    bar_->setAccessibleName(QStringLiteral("一覧の切り替え"));
    bar_->setExpanding(false);
    bar_->setUsesScrollButtons(true);
    bar_->setDrawBase(false);
    for (const Tab& t : kTabs) {
        const int i = bar_->addTab(QString::fromUtf8(t.caption));
        bar_->setTabToolTip(i, QString::fromUtf8(t.tip));
        bar_->setTabData(i, QString::fromLatin1(t.key));
    }
    // Compact tabs, so that all five fit the narrow pane.
    bar_->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 3px 6px; }"));
    connect(bar_, &QTabBar::currentChanged, this, [this](int index) {
        if (index >= 0 && !programmatic_)
            emit tabClicked(index);
    });
}

QStringList TabStrip::keys()
{
    QStringList list;
    for (const Tab& t : kTabs)
        list << QString::fromLatin1(t.key);
    return list;
}

QString TabStrip::selectedKey() const
{
    return bar_->tabData(bar_->currentIndex()).toString();
}

void TabStrip::selectKey(const QString& key)
{
    programmatic_ = true;
    bar_->setCurrentIndex(int(keys().indexOf(key)));
    programmatic_ = false;
}

void TabStrip::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    bar_->setGeometry(0, 0, width(), bar_->sizeHint().height());
}

} // namespace zumilo::shell
