// Addresses: of a file on a server, of the server itself, of a proxy as the run log shows it.
#pragma once

#include <optional>
#include <string>

namespace qiv_start::core {

// The base URL followed directly by the file name, no separator added. Characters of the name
// that a URL may not carry (blanks, control characters, non-ASCII bytes, "<>\^`{|}, and a '%'
// that starts no escape) are percent-encoded; every other character stays as it is. Raises
// TError when memory runs out.
std::string request_url(const std::string& base_url, const std::string& file_name);

// The server a URL names: its scheme (in lower case), its host, and its origin
// "scheme://host:port", the scheme's own port when none is given.
struct TServer {
    std::string scheme, host, origin;
};
// Nothing when the URL does not read.
std::optional<TServer> server_of(const std::string& url);

// A proxy's address as the run log may show it: the password left out.
std::string proxy_without_password(const std::string& proxy);

}  // namespace qiv_start::core
