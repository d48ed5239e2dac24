#include "startup.h"

#include "appstate.h"
#include "mainwindow.h"
#include "settingsstore.h"
#include "splash.h"

#include <QApplication>

namespace zumilo::shell {

std::unique_ptr<MainWindow> Main(AppState& state)
{
    Splash splash;
    splash.show();
    QApplication::processEvents();

    auto main = std::make_unique<MainWindow>(state);
    main->Form_Load();
    splash.close();

    state.CurrentTab = state.settings().read(Settings::Position, QStringLiteral("OpenTab"), QStringLiteral("BunTab"));
    // The grid views open in the main window's place once the grid exists;
    // until then, and for any unknown value, the main window is shown.
    main->show();
    return main;
}

} // namespace zumilo::shell
