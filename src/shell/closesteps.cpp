#include "closesteps.h"

#include <QCloseEvent>

namespace zumilo::shell {

void runCloseSteps(QCloseEvent* event, bool& unloaded, const std::function<bool()>& queryUnload,
                   const std::function<void()>& unload)
{
    if (!unloaded) {
        if (!queryUnload()) {
            event->ignore();
            return;
        }
        unloaded = true;
        unload();
    }
    event->accept();
}

} // namespace zumilo::shell
