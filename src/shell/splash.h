#pragma once

#include <QSplashScreen>

namespace zumilo::shell {

// The picture shown while the main window loads (frmFirst).
class Splash : public QSplashScreen {
    Q_OBJECT
public:
    Splash();
    static QPixmap picture();
};

} // namespace zumilo::shell
