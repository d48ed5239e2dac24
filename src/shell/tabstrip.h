#pragma once

#include <QFrame>
#include <QString>

class QTabBar;

namespace zumilo::shell {

// The five view tabs (TabStrip1) of the main and the grid window: a panel
// with the tabs along its top; the window lays its tree or grid over it.
class TabStrip : public QFrame {
    Q_OBJECT
public:
    explicit TabStrip(QWidget* parent);

    static QStringList keys(); // "BunTab", "FindTab", "JyuyoTab", "KijituTab", "SaikinTab"
    QTabBar* bar() const { return bar_; }
    QString selectedKey() const;
    // Selects a tab without counting as the user's click.
    void selectKey(const QString& key);

signals:
    // The user chose a tab.
    void tabClicked(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QTabBar* bar_;
    bool programmatic_ = false;
};

} // namespace zumilo::shell
