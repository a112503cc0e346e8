// The cache is the string value version_file under HKEY_CURRENT_USER\SOFTWARE\QIV\QIV_START.
#include "platform/config_cache.h"

#include <windows.h>

#include <optional>
#include <string>

#include "platform/error.h"
#include "platform/win32/wide.h"

namespace qiv_start::platform {
namespace {

const wchar_t* const kKey = L"SOFTWARE\\QIV\\QIV_START";
const wchar_t* const kValue = L"version_file";

[[noreturn]] void fail(const std::string& what, LSTATUS status) {
    throw TIoError(what + " HKEY_CURRENT_USER\\SOFTWARE\\QIV\\QIV_START\\version_file (error " +
                   std::to_string(status) + ")");
}

class TRegistryKey {
  public:
    TRegistryKey() = default;
    ~TRegistryKey() {
        if (key_)
            ::RegCloseKey(key_);
    }
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;

    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

// The value's text; the string may or may not carry its terminating zero.
std::optional<std::string> query_text(HKEY key) {
    std::wstring buffer;
    for (;;) {
        DWORD type = 0;
        DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        const LSTATUS status = ::RegQueryValueExW(key, kValue, nullptr, &type,
                                                  reinterpret_cast<BYTE*>(buffer.data()), &bytes);
        if (status == ERROR_FILE_NOT_FOUND)
            return std::nullopt;
        if (status == ERROR_MORE_DATA) {
            buffer.resize(bytes / sizeof(wchar_t) + 1);
            continue;
        }
        if (status != ERROR_SUCCESS)
            fail("Cannot read", status);
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            fail("Not a string value:", ERROR_INVALID_DATA);
        buffer.resize(bytes / sizeof(wchar_t));
        while (!buffer.empty() && buffer.back() == L'\0')
            buffer.pop_back();
        return win32::from_wide(buffer);
    }
}

}  // namespace

std::optional<std::string> read_version_file() {
    TRegistryKey key;
    const LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, key.out());
    if (status == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    if (status != ERROR_SUCCESS)
        fail("Cannot open", status);
    return query_text(key.get());
}

// A single value is replaced by the registry as a whole, never left half-written.
void write_version_file(const std::string& text) {
    TRegistryKey key;
    LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_SET_VALUE, nullptr, key.out(), nullptr);
    if (status != ERROR_SUCCESS)
        fail("Cannot create", status);
    const std::wstring wide = win32::to_wide(text);
    const auto bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
    status = ::RegSetValueExW(key.get(), kValue, 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(wide.c_str()), bytes);
    if (status != ERROR_SUCCESS)
        fail("Cannot write", status);
}

}  // namespace qiv_start::platform
