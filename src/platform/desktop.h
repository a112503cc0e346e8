// The desktop's top-level windows.
#pragma once

#include <string>

namespace qiv_start::platform {

// Asks every top-level window of other processes whose title equals title exactly to close, and
// does not wait. Does nothing where no window system is reachable.
void close_windows_titled(const std::string& title);

}  // namespace qiv_start::platform
