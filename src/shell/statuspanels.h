#pragma once

#include <QLabel>
#include <QString>
#include <array>
#include <functional>

class QStatusBar;
class QTimer;

namespace zumilo::shell {

// The six panels of a window's status bar: 1 messages and counts, 2 to 6 a
// note's number, oyaID, update date, update time and creation date.
class StatusPanels {
public:
    explicit StatusPanels(QStatusBar* bar);

    // Panels are numbered 1 to 6.
    QString text(int panel) const;
    void setText(int panel, const QString& text);
    void clear(); // all six
    QLabel* label(int panel) const { return labels_.at(panel - 1); }

private:
    std::array<QLabel*, 6> labels_{};
};

// A notice in a status bar, beside its panels: whole wherever the bar has
// room for it, shortened with "…" only when it has not (the panels keep
// their widths), its whole text then its tool tip.
class StatusNotice : public QLabel {
public:
    explicit StatusNotice(const QString& text, QWidget* parent = nullptr);
    QSize minimumSizeHint() const override;
    // A tip of its own, shown shortened or not, in place of the whole
    // text; empty: none.
    void setNoticeTip(const QString& tip);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateTip();
    QString tip_;
};

// That the search index of the window's file is being built (searches
// read every note meanwhile), shown in its status bar while it is.
class IndexBuildNotice : public StatusNotice {
public:
    IndexBuildNotice(QStatusBar* bar, std::function<bool()> building);
    // Shown or hidden now, and looked at again every half second while the
    // build runs.
    void watch();

private:
    std::function<bool()> building_;
    QTimer* timer_;
};

// While a write waits for the check of its file's pages, the status bar
// of the window it was made in says so (the window cannot repaint itself
// meanwhile: it is repainted at once).
extern const QString kCheckingFile;
void sayWhenWritesWait();

// "ｱｲﾃﾞｱ数:  3 / 12"
QString statusCountText(int position, int count);

} // namespace zumilo::shell
