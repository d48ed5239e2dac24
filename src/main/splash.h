#pragma once

#include <QSplashScreen>

namespace zumilo::app {

// The picture shown while the main window loads (frmFirst).
class Splash : public QSplashScreen {
    Q_OBJECT
public:
    Splash();
    static QPixmap picture();
};

} // namespace zumilo::app
