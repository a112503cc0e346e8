#include "platform/desktop.h"

#include <windows.h>

#include <set>
#include <string>

#include "platform/win32/wide.h"

namespace qiv_start::platform {
namespace {

// Windows that other programs destroy meanwhile start the walk again, at most this often.
constexpr int kMostWalks = 8;

bool belongs_to_this_process(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId();
}

// Titles are read into 256 characters, so longer titles are compared cut to 255.
std::wstring window_title(HWND window) {
    wchar_t buffer[256] = {};
    const int length = GetWindowTextW(window, buffer, 256);
    return std::wstring(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
}

// One walk from the bottom of the Z-order up to its top. False when the walk was cut short below
// the top: a window destroyed while the walk stood on it has no neighbours any more.
bool walk_posting_close(const std::wstring& wanted, std::set<HWND>& visited) {
    const HWND top = GetTopWindow(nullptr);
    for (HWND window = top != nullptr ? GetWindow(top, GW_HWNDLAST) : nullptr; window != nullptr;) {
        if (visited.insert(window).second && !belongs_to_this_process(window) &&
            window_title(window) == wanted) {
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        const HWND previous = GetWindow(window, GW_HWNDPREV);
        if (previous == nullptr && window != GetTopWindow(nullptr))
            return false;
        window = previous;
    }
    return true;
}

}  // namespace

// A walk cut short starts again from the bottom and passes over the windows it has been to.
void close_windows_titled(const std::string& title) {
    const std::wstring wanted = win32::to_wide(title);
    std::set<HWND> visited;
    for (int walk = 0; walk < kMostWalks && !walk_posting_close(wanted, visited); ++walk) {
    }
}

}  // namespace qiv_start::platform
