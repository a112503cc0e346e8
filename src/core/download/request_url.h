// The address under which a server offers a file.
#pragma once

#include <string>

namespace qiv_start::core {

// The base URL followed directly by the file name, no separator added. Characters of the name
// that a URL may not carry (blanks, control characters, non-ASCII bytes, "<>\^`{|}, and a '%'
// that starts no escape) are percent-encoded; every other character stays as it is. Raises
// TError when memory runs out.
std::string request_url(const std::string& base_url, const std::string& file_name);

}  // namespace qiv_start::core
