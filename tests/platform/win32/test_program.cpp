// A program that the Win32 platform tests start in other processes.
//   test_program [document]   writes started.txt into its working directory: that directory on
//                             the first line, the document (if any) on the second
//   test_program window TITLE shows a top-level window with that title until it is closed
//   test_program hold FILE    keeps FILE open, sharing only its reading, until it is ended;
//                             writes held.txt into its working directory once it holds it
//   test_program serials      stores release serials 2, 3, 4 ... until it is ended
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "platform/config_cache.h"

namespace {

std::string utf8(const std::wstring& wide) {
    const int size = static_cast<int>(wide.size());
    std::string bytes(static_cast<std::size_t>(::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size,
                                                                     nullptr, 0, nullptr, nullptr)),
                      '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, bytes.data(),
                          static_cast<int>(bytes.size()), nullptr, nullptr);
    return bytes;
}

// Written under another name and renamed, so the test never reads half of it.
int record_start(const wchar_t* document) {
    wchar_t directory[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, directory);
    {
        std::ofstream out("started.tmp", std::ios::binary);
        out << utf8(directory) << '\n' << (document ? utf8(document) : std::string()) << '\n';
    }
    return ::MoveFileExW(L"started.tmp", L"started.txt", MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, w, l);
}

int show_window(const wchar_t* title) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"qiv_test_window";
    ::RegisterClassW(&window_class);
    ::CreateWindowW(L"qiv_test_window", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                    nullptr, nullptr, window_class.hInstance, nullptr);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}

int hold_file(const wchar_t* path) {
    const HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    {
        std::ofstream out("held.tmp", std::ios::binary);
        out << "held\n";
    }
    if (!::MoveFileExW(L"held.tmp", L"held.txt", MOVEFILE_REPLACE_EXISTING))
        return 1;
    ::Sleep(INFINITE);
    return 0;
}

int write_serials() {
    for (std::uint64_t serial = 2;; ++serial)
        qiv_start::platform::write_release_serial(serial);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"window")
        return show_window(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"hold")
        return hold_file(argv[2]);
    if (argc == 2 && std::wstring(argv[1]) == L"serials")
        return write_serials();
    return record_start(argc > 1 ? argv[1] : nullptr);
}
