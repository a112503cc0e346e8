#include "core/download/request_url.h"

#include <curl/curl.h>

#include <cstring>
#include <memory>

#include "core/support/error.h"

namespace qiv_start::core {
namespace {

using TUrl = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

std::string part(CURLU* url, CURLUPart which, unsigned flags = 0) {
    char* value = nullptr;
    if (curl_url_get(url, which, &value, flags) != CURLUE_OK || value == nullptr)
        return {};
    std::string text = value;
    curl_free(value);
    return text;
}

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The characters of a URL: letters, digits, the unreserved and reserved marks, and '%' where it
// starts an escape, which is kept so that an escaped name goes out unchanged.
bool allowed_at(const std::string& name, std::size_t i) {
    const char c = name[i];
    if (c == '%')
        return i + 2 < name.size() && is_hex_digit(name[i + 1]) && is_hex_digit(name[i + 2]);
    const bool alphanumeric =
        (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return alphanumeric || (c != '\0' && std::strchr("-._~:/?#[]@!$&'()*+,;=", c) != nullptr);
}

std::string escaped(const std::string& bytes) {
    const std::unique_ptr<char, decltype(&curl_free)> text(
        curl_easy_escape(nullptr, bytes.data(), static_cast<int>(bytes.size())), &curl_free);
    if (!text)
        throw TError("Out of memory while forming a request address");
    return text.get();
}

}  // namespace

std::string request_url(const std::string& base_url, const std::string& file_name) {
    std::string url = base_url;
    std::size_t i = 0;
    while (i < file_name.size()) {
        const std::size_t start = i;
        const bool allowed = allowed_at(file_name, i);
        while (i < file_name.size() && allowed_at(file_name, i) == allowed)
            ++i;
        const std::string run = file_name.substr(start, i - start);
        url += allowed ? run : escaped(run);
    }
    return url;
}

std::optional<TServer> server_of(const std::string& url) {
    TUrl parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    TServer server;
    server.scheme = part(parsed.get(), CURLUPART_SCHEME);
    server.host = part(parsed.get(), CURLUPART_HOST);
    server.origin = server.scheme + "://" + server.host + ":" +
                    part(parsed.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    return server;
}

std::string proxy_without_password(const std::string& proxy) {
    TUrl parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, proxy.c_str(),
                                CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        // Not an address: nothing of it can be shown safely but that.
        return "(nieprawidłowy adres)";
    }
    curl_url_set(parsed.get(), CURLUPART_PASSWORD, nullptr, 0);
    curl_url_set(parsed.get(), CURLUPART_PATH, nullptr, 0);
    std::string shown = part(parsed.get(), CURLUPART_URL);
    if (shown.ends_with('/'))
        shown.pop_back();
    return shown;
}

std::string without_user_info(std::string text, const std::string& proxy) {
    const auto at = proxy.rfind('@');
    if (at == std::string::npos)
        return text;
    const auto scheme = proxy.find("://");
    const std::size_t start = scheme != std::string::npos && scheme < at ? scheme + 3 : 0;
    const std::string user_info = proxy.substr(start, at + 1 - start);
    for (auto found = text.find(user_info); found != std::string::npos;
         found = text.find(user_info, found)) {
        text.erase(found, user_info.size());
    }
    return text;
}

}  // namespace qiv_start::core
