#pragma once

namespace zumilo::store {

// Whether this thread is inside Database::transaction() on any connection,
// so that code which must not run while the file is locked can check.
bool writingOnThisThread();

} // namespace zumilo::store
