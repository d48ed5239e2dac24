#pragma once

#include <memory>

namespace zumilo::shell {

struct AppState;
class MainWindow;

// Start-up: shows the splash, loads the main window (which opens the last
// database), then shows the view chosen as the start view. Returns the main
// window, which lives for the whole run.
std::unique_ptr<MainWindow> Main(AppState& state);

} // namespace zumilo::shell
