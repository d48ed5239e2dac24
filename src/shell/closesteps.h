#pragma once

#include <functional>

class QCloseEvent;

namespace zumilo::shell {

// A window's closing steps, run once however often it is asked to close:
// `queryUnload` may keep the window open (false), then `unload` lets go of
// its connection and the rest.
void runCloseSteps(QCloseEvent* event, bool& unloaded, const std::function<bool()>& queryUnload,
                   const std::function<void()>& unload);

} // namespace zumilo::shell
