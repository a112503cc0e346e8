// The window scan asks other processes' windows with exactly the given title to close.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/desktop.h"
#include "win32_test_support.h"

namespace qiv_start::platform {
namespace {

using test::TChildProcess;

struct TSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK match_process(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<TSearch*>(parameter);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process != search->process || !::IsWindowVisible(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

// Waits a bounded while for the child's window to be shown.
bool wait_for_window_of(const TChildProcess& child) {
    for (int attempt = 0; attempt < 2000; ++attempt) {
        TSearch search{child.id(), nullptr};
        ::EnumWindows(match_process, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Lets this thread's windows handle what was posted to them.
void pump_messages() {
    MSG message;
    for (int round = 0; round < 20; ++round) {
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&message);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TEST(CloseWindowsWin32, ClosesOnlyOtherProcessesWindowsWithExactlyThatTitle) {
    TChildProcess exact(L"window qiv_start_2");
    TChildProcess longer(L"window \"qiv_start_2 - Kasa\"");
    TChildProcess capitals(L"window QIV_START_2");
    TChildProcess polish(L"window \"Zażółć – qiv\"");
    for (const TChildProcess* child : {&exact, &longer, &capitals, &polish})
        ASSERT_TRUE(wait_for_window_of(*child));
    const HWND own = ::CreateWindowW(L"STATIC", L"qiv_start_2", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                     0, 100, 50, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(own, nullptr);

    close_windows_titled("qiv_start_2");
    close_windows_titled("Zażółć – qiv");

    EXPECT_TRUE(exact.ended(10000));
    EXPECT_TRUE(polish.ended(10000));
    pump_messages();
    EXPECT_TRUE(::IsWindow(own)) << "the process's own window was closed";
    EXPECT_FALSE(longer.ended(0));
    EXPECT_FALSE(capitals.ended(0));
    ::DestroyWindow(own);
}

TEST(CloseWindowsWin32, NoMatchingWindowIsNoError) {
    EXPECT_NO_THROW(close_windows_titled("qiv_start_2 (żaden)"));
}

}  // namespace
}  // namespace qiv_start::platform
