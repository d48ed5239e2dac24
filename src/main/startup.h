#pragma once

#include <chrono>
#include <memory>

namespace zumilo::shell {
struct AppState;
class SharedCommands;
} // namespace zumilo::shell

namespace zumilo::app {

class MainWindow;

// Start-up: loads the main window (which opens the last database), then
// shows the view chosen as the start view. The splash shows while it loads
// once the program has been starting, since `started`, for longer than
// kSlowStart. Returns the main window, which lives for the whole run.
std::unique_ptr<MainWindow> Main(shell::AppState& state,
                                 std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now());

// A faster start would only flash the splash, whose drawing costs more than
// a tenth of the whole start.
inline constexpr std::chrono::milliseconds kSlowStart{250};

// The commands every window shares, as the program has them: text tools,
// export, printing and options, the about box and the home page.
const shell::SharedCommands& programCommands();

} // namespace zumilo::app
