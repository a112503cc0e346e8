// Texts read from files and downloads: byte-order marks, code pages and lines.
#pragma once

#include <string>
#include <vector>

namespace qiv_start::core {

// Decodes bytes to UTF-8. A byte-order mark (UTF-8, UTF-16 LE, UTF-16 BE) selects the encoding
// and is dropped; without one the bytes are taken in code_page.
std::string decode_text(const std::string& bytes, unsigned code_page);

// decode_text in the workstation's ANSI code page.
std::string decode_text(const std::string& bytes);

// Splits at CR LF, CR or LF. A break at the very end adds no empty line; empty lines inside stay.
std::vector<std::string> split_lines(const std::string& text);

// Replaces every ill-formed UTF-8 sequence with U+FFFD.
std::string sanitize_utf8(const std::string& bytes);

// Takes a text to its bytes in code_page and reads those bytes as UTF-8: the repair for UTF-8
// that was decoded in an 8-bit code page. A text that those bytes cannot hold, or whose bytes are
// not UTF-8, was not misread that way and comes back as it is.
std::string redecode_as_utf8(const std::string& text, unsigned code_page);

}  // namespace qiv_start::core
