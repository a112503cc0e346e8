// The administrator's values under HKEY_LOCAL_MACHINE\SOFTWARE\QIV\QIV_START: "servers" and
// "release_serial", which the installer package writes from its properties SERVERS and
// RELEASE_SERIAL, and "shared_folder".
#include "platform/machine_settings.h"

#include <charconv>
#include <string>

#include "platform/error.h"
#include "platform/win32/wide.h"

namespace qiv_start::platform {
namespace {

const wchar_t* const kKey = L"SOFTWARE\\QIV\\QIV_START";
const wchar_t* const kSharedFolder = L"shared_folder";

[[noreturn]] void fail(const std::wstring& name, const std::string& reason) {
    throw TIoError("Cannot read HKEY_LOCAL_MACHINE\\SOFTWARE\\QIV\\QIV_START\\" +
                   win32::from_wide(name) + " (" + reason + ")");
}

[[noreturn]] void fail(const std::wstring& name, LSTATUS status) {
    fail(name, "error " + std::to_string(status));
}

// The string value, nothing when it or the key is missing.
std::optional<std::string> read_text(const wchar_t* name) {
    // The 64-bit view, where the package writes, whatever this build's word size.
    HKEY key = nullptr;
    LSTATUS status =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    if (status != ERROR_SUCCESS)
        fail(name, status);
    const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    std::wstring text;
    DWORD size = 0;
    status = ::RegGetValueW(key, nullptr, name, flags, nullptr, nullptr, &size);
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        text.assign(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        status = ::RegGetValueW(key, nullptr, name, flags, nullptr, text.data(), &size);
        if (status == ERROR_SUCCESS)
            break;
    }
    ::RegCloseKey(key);
    if (status == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    if (status != ERROR_SUCCESS)
        fail(name, status);
    text.resize(size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return win32::from_wide(text);
}

}  // namespace

std::optional<std::string> read_machine_servers() {
    return read_text(L"servers");
}

std::optional<std::uint64_t> read_machine_release_serial() {
    const wchar_t* const name = L"release_serial";
    const auto text = read_text(name);
    if (!text || text->empty())
        return std::nullopt;
    std::uint64_t serial = 0;
    const char* const end = text->data() + text->size();
    const auto [last, failure] = std::from_chars(text->data(), end, serial);
    if (failure != std::errc() || last != end)
        fail(name, "not a number");
    return serial;
}

bool shared_folder_allowed() {
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS status =
        ::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kSharedFolder,
                       RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value, &size);
    return status == ERROR_SUCCESS && value == 1;
}

}  // namespace qiv_start::platform
