#pragma once

#include <memory>

namespace zumilo::shell {
struct AppState;
class SharedCommands;
} // namespace zumilo::shell

namespace zumilo::app {

class MainWindow;

// Start-up: shows the splash, loads the main window (which opens the last
// database), then shows the view chosen as the start view. Returns the main
// window, which lives for the whole run.
std::unique_ptr<MainWindow> Main(shell::AppState& state);

// The commands every window shares, as the program has them: text tools,
// export, printing and options, the about box and the home page.
const shell::SharedCommands& programCommands();

} // namespace zumilo::app
