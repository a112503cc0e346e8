// Conversions between the UTF-8 of the launcher and the UTF-16 of the Windows interfaces, and
// the system's own text for an error code.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <climits>
#include <string>

#include "platform/error.h"

namespace qiv_start::platform::win32 {

// Bytes in the code page (UTF-8 by default) to UTF-16. Ill-formed bytes become U+FFFD or what
// the system's conversion makes of them. Raises TError for a code page the system lacks.
inline std::wstring to_wide(const std::string& bytes, UINT code_page = CP_UTF8) {
    if (bytes.empty())
        return {};
    if (bytes.size() > INT_MAX)
        throw TError("Text too long to convert");
    const int size = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(code_page, 0, bytes.data(), size, nullptr, 0);
    if (length == 0)
        throw TError("Unsupported code page: " + std::to_string(code_page));
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(code_page, 0, bytes.data(), size, wide.data(), length);
    return wide;
}

// UTF-16 to bytes in the code page (UTF-8 by default). Characters that the code page lacks
// become the code page's default character ('?'), never a look-alike: a best fit could turn
// a character into a quote, slash or backslash inside a path or command line. The few code
// pages that refuse the flag (ISO 2022 and the like) convert as the system does by default.
inline std::string from_wide(const std::wstring& wide, UINT code_page = CP_UTF8) {
    if (wide.empty())
        return {};
    if (wide.size() > INT_MAX)
        throw TError("Text too long to convert");
    const int size = static_cast<int>(wide.size());
    DWORD flags = code_page == CP_UTF8 || code_page == CP_UTF7 ? 0 : WC_NO_BEST_FIT_CHARS;
    int length =
        ::WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length == 0 && flags != 0 && ::GetLastError() == ERROR_INVALID_FLAGS) {
        flags = 0;
        length =
            ::WideCharToMultiByte(code_page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    }
    if (length == 0)
        throw TError("Unsupported code page: " + std::to_string(code_page));
    std::string bytes(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(code_page, flags, wide.data(), size, bytes.data(), length, nullptr,
                          nullptr);
    return bytes;
}

// The system's description of an error code, in UTF-8, without the closing line break.
inline std::string system_message(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length =
        ::FormatMessageW(flags, nullptr, error, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr)
        return "system error " + std::to_string(error);
    std::wstring text(buffer, length);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.pop_back();
    }
    return from_wide(text);
}

}  // namespace qiv_start::platform::win32
