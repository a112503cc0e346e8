#include "platform/desktop.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide.h"

namespace qiv_start::platform {
namespace {

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

}  // namespace

void close_windows_titled(const std::string& title) {
    const std::wstring wanted = win32::to_wide(title);
    const HWND top = GetTopWindow(nullptr);
    if (top == nullptr)
        return;
    // From the bottom of the Z-order up to its top.
    for (HWND window = GetWindow(top, GW_HWNDLAST); window != nullptr;
         window = GetWindow(window, GW_HWNDPREV)) {
        if (belongs_to_this_process(window))
            continue;
        if (window_title(window) == wanted)
            PostMessageW(window, WM_CLOSE, 0, 0);
    }
}

}  // namespace qiv_start::platform
