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

// text, the HTTP library's words about a failure, without the user information ("user:password@")
// of the proxy address that it may quote: a mistyped address is quoted whole, and a password in it
// must not reach the run log. The address is taken as typed, so that any shape of typo is covered.
std::string without_user_info(std::string text, const std::string& proxy);

}  // namespace qiv_start::core
