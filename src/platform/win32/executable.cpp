#include "platform/error.h"
#include "platform/process.h"
#include "platform/win32/wide.h"

namespace qiv_start::platform {

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
