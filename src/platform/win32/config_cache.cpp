// The cache is the string value version_file under HKEY_CURRENT_USER\SOFTWARE\QIV\QIV_START; a
// signed launcher's is the binary value version_file.signed. The registry replaces each value
// whole, so, unlike the files of other systems, it leaves no temporaries behind.
#include "platform/config_cache.h"

#include <windows.h>

#include <cstring>
#include <optional>
#include <string>

#include "platform/config_cache_backend.h"
#include "platform/error.h"
#include "platform/win32/wide.h"

namespace qiv_start::platform {
namespace {

const wchar_t* const kKey = L"SOFTWARE\\QIV\\QIV_START";
const wchar_t* const kValue = L"version_file";
const wchar_t* const kReleaseValue = L"version_file.release";
const wchar_t* const kSerialValue = L"release_serial";
const wchar_t* const kSignedValue = L"version_file.signed";

[[noreturn]] void fail(const std::string& what, LSTATUS status, const wchar_t* value = kValue) {
    throw TIoError(what + " HKEY_CURRENT_USER\\SOFTWARE\\QIV\\QIV_START\\" +
                   win32::from_wide(value) + " (error " + std::to_string(status) + ")");
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

struct TRawValue {
    DWORD type = 0;
    std::string bytes;
};

// The value's type and bytes, or nothing when it does not exist.
std::optional<TRawValue> query_value(HKEY key, const wchar_t* name) {
    TRawValue value;
    for (;;) {
        auto size = static_cast<DWORD>(value.bytes.size());
        const LSTATUS status = ::RegQueryValueExW(
            key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.bytes.data()), &size);
        if (status == ERROR_FILE_NOT_FOUND)
            return std::nullopt;
        if (status == ERROR_MORE_DATA) {
            value.bytes.resize(size + sizeof(wchar_t));
            continue;
        }
        if (status != ERROR_SUCCESS)
            fail("Cannot read", status, name);
        value.bytes.resize(size);
        return value;
    }
}

// The value's text; the string may or may not carry its terminating zero.
std::optional<std::string> query_text(HKEY key, const wchar_t* name) {
    const auto value = query_value(key, name);
    if (!value)
        return std::nullopt;
    if (value->type != REG_SZ && value->type != REG_EXPAND_SZ)
        fail("Not a string value:", ERROR_INVALID_DATA, name);
    std::wstring text(value->bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), value->bytes.data(), text.size() * sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return win32::from_wide(text);
}

// The key, or nothing when it does not exist.
bool open_key(TRegistryKey& key) {
    const LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, key.out());
    if (status == ERROR_FILE_NOT_FOUND)
        return false;
    if (status != ERROR_SUCCESS)
        fail("Cannot open", status);
    return true;
}

// A single value is replaced by the registry as a whole, never left half-written.
void set_value(const wchar_t* name, DWORD type, const void* data, std::size_t size) {
    TRegistryKey key;
    LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_SET_VALUE, nullptr, key.out(), nullptr);
    if (status != ERROR_SUCCESS)
        fail("Cannot create", status, name);
    status = ::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data),
                              static_cast<DWORD>(size));
    if (status != ERROR_SUCCESS)
        fail("Cannot write", status, name);
}

void set_text(const wchar_t* name, const std::string& text) {
    const std::wstring wide = win32::to_wide(text);
    set_value(name, REG_SZ, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
}

}  // namespace

std::optional<std::string> read_version_file() {
    TRegistryKey key;
    if (!open_key(key))
        return std::nullopt;
    return query_text(key.get(), kValue);
}

void write_version_file(const std::string& text) {
    set_text(kValue, text);
}

// The document and its release are one binary value, so that its bytes, whatever their
// encoding, stay exact and one write replaces both. Earlier versions kept them apart: the
// release as text, the document as binary (a text value there was not written by a launcher
// that checks signatures); such a pair is read while there is no signed value.
std::optional<TSignedDocument> read_signed_version_file() {
    TRegistryKey key;
    if (!open_key(key))
        return std::nullopt;
    if (const auto unit = query_value(key.get(), kSignedValue)) {
        if (unit->type != REG_BINARY)
            return std::nullopt;
        return backend::from_signed_unit(unit->bytes);
    }
    auto release = query_text(key.get(), kReleaseValue);
    auto document = query_value(key.get(), kValue);
    if (!release || !document || document->type != REG_BINARY)
        return std::nullopt;
    return TSignedDocument{std::move(document->bytes), std::move(*release)};
}

void write_signed_version_file(const TSignedDocument& document) {
    const std::string unit = backend::signed_unit(document);
    set_value(kSignedValue, REG_BINARY, unit.data(), unit.size());
}

std::uint64_t read_release_serial() {
    TRegistryKey key;
    if (!open_key(key))
        return 0;
    const auto value = query_value(key.get(), kSerialValue);
    if (!value)
        return 0;
    std::uint64_t serial = 0;
    if (value->type != REG_QWORD || value->bytes.size() != sizeof serial)
        fail("Not a release serial number:", ERROR_INVALID_DATA, kSerialValue);
    std::memcpy(&serial, value->bytes.data(), sizeof serial);
    return serial;
}

void write_release_serial(std::uint64_t serial) {
    set_value(kSerialValue, REG_QWORD, &serial, sizeof serial);
}

namespace backend {

std::optional<std::string> read_cache_value(const char* name) {
    TRegistryKey key;
    if (!open_key(key))
        return std::nullopt;
    return query_text(key.get(), win32::to_wide(name).c_str());
}

void write_cache_value(const char* name, const std::string& text) {
    set_text(win32::to_wide(name).c_str(), text);
}

}  // namespace backend
}  // namespace qiv_start::platform
