#include "platform/process.h"

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <string>

namespace qiv_start::platform {
namespace {

std::wstring widen(const std::string& text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

}  // namespace

void start_program(const std::string& directory, const std::string& file) {
    const std::wstring wide_file = widen(file);
    const std::wstring wide_directory = widen(directory);
    const wchar_t* const working = directory.empty() ? nullptr : wide_directory.c_str();
    ::ShellExecuteW(nullptr, L"open", wide_file.c_str(), L"", working, SW_SHOW);
}

void open_url(const std::string& url) {
    const std::wstring wide_url = widen(url);
    ::ShellExecuteW(nullptr, L"open", wide_url.c_str(), L"", nullptr, SW_SHOW);
}

}  // namespace qiv_start::platform
