#include "platform/text.h"

#include "platform/win32/wide.h"

namespace qiv_start::platform {
namespace {

bool is_utf16(unsigned code_page) {
    return code_page == kCodePageUtf16Le || code_page == kCodePageUtf16Be;
}

std::wstring from_utf16_bytes(const std::string& bytes, bool big_endian) {
    std::wstring wide;
    wide.reserve(bytes.size() / 2 + 1);
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const unsigned unit = big_endian ? byte(i) << 8 | byte(i + 1) : byte(i) | byte(i + 1) << 8;
        wide += static_cast<wchar_t>(unit);
    }
    if (bytes.size() % 2 != 0)
        wide += L'\xFFFD';  // a unit cut short
    return wide;
}

std::string to_utf16_bytes(const std::wstring& wide, bool big_endian) {
    std::string bytes;
    bytes.reserve(wide.size() * 2);
    for (const wchar_t unit : wide) {
        const char high = static_cast<char>((unit >> 8) & 0xFF);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += big_endian ? high : low;
        bytes += big_endian ? low : high;
    }
    return bytes;
}

}  // namespace

unsigned ansi_code_page() {
    return ::GetACP();
}

std::string decode_bytes(const std::string& bytes, unsigned code_page) {
    if (is_utf16(code_page)) {
        return win32::from_wide(from_utf16_bytes(bytes, code_page == kCodePageUtf16Be));
    }
    return win32::from_wide(win32::to_wide(bytes, code_page));
}

std::string encode_text(const std::string& text, unsigned code_page) {
    const std::wstring wide = win32::to_wide(text);
    if (is_utf16(code_page))
        return to_utf16_bytes(wide, code_page == kCodePageUtf16Be);
    return win32::from_wide(wide, code_page);
}

}  // namespace qiv_start::platform
