// Conversion between UTF-8 and the workstation's 8-bit code pages.
#pragma once

#include <string>

namespace qiv_start::platform {

// Code pages are numbered as Windows numbers them.
constexpr unsigned kCodePageUtf8 = 65001;
constexpr unsigned kCodePageUtf16Le = 1200;
constexpr unsigned kCodePageUtf16Be = 1201;

// The workstation's ANSI code page (Windows: GetACP; POSIX: the locale's codeset, where the
// C/POSIX locale counts as UTF-8).
unsigned ansi_code_page();

// Bytes in the code page to UTF-8. Bytes that the code page does not define become U+FFFD.
std::string decode_bytes(const std::string& bytes, unsigned code_page);

// UTF-8 to bytes in the code page. Characters that the code page cannot hold become '?'.
std::string encode_text(const std::string& text, unsigned code_page);

}  // namespace qiv_start::platform
