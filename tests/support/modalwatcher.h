#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace zumilo::test {

// Hands every modal dialog that comes up to `act`, which must close it.
// Checks go after the prompt returns, so a failing one cannot leave a
// dialog open.
class ModalWatcher {
public:
    explicit ModalWatcher(std::function<void(QWidget*)> act) : act_(std::move(act))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal != seen_) {
                seen_ = modal;
                // Queued, so that a dialog opened by `act` is seen too: a
                // timer does not fire again while its own slot runs.
                QMetaObject::invokeMethod(
                    &timer_,
                    [this, w = QPointer<QWidget>(modal)] {
                        if (w)
                            act_(w);
                    },
                    Qt::QueuedConnection);
            }
        });
        timer_.start(0);
    }

private:
    std::function<void(QWidget*)> act_;
    QPointer<QWidget> seen_;
    QTimer timer_;
};

} // namespace zumilo::test
