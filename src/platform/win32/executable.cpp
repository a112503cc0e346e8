#include "platform/error.h"
#include "platform/process.h"
#include "platform/win32/wide.h"
// After windows.h, which it needs.
#include <shellapi.h>

namespace qiv_start::platform {

std::vector<std::string> command_line_arguments(int argc, char* argv[]) {
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words == nullptr)  // out of memory: the narrow arguments are better than none
        return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                        : std::vector<std::string>();
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(win32::from_wide(words[i]));
    ::LocalFree(words);
    return arguments;
}

std::string executable_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), size);
        if (length == 0) {
            throw TIoError("Cannot find the running program: " +
                           win32::system_message(::GetLastError()));
        }
        if (length < size) {
            path.resize(length);
            return win32::from_wide(path);
        }
        path.resize(path.size() * 2);  // the name was cut to fit the buffer
    }
}

std::string executable_suffix() {
    return ".exe";
}

}  // namespace qiv_start::platform
