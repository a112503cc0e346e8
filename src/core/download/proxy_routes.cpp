#include "core/download/proxy_routes.h"

#include <curl/curl.h>

#include <memory>

#include "core/support/format.h"

namespace qiv_start::core {
namespace {

const char* const kThroughProxy = "Połączenia z serwerem %0:s idą przez proxy %1:s (%2:s)";
const char* const kDirect = "Połączenia z serwerem %0:s idą bez proxy";

const char* source_text(platform::TProxySource source) {
    switch (source) {
        case platform::TProxySource::kEnvironment:
            return "zmienne środowiska";
        case platform::TProxySource::kSystemSetting:
            return "ustawienia systemu";
        case platform::TProxySource::kAutoConfig:
            return "automatyczna konfiguracja";
    }
    return "";
}

using TUrl = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

std::string part(CURLU* url, CURLUPart which, unsigned flags = 0) {
    char* value = nullptr;
    if (curl_url_get(url, which, &value, flags) != CURLUE_OK || value == nullptr)
        return {};
    std::string text = value;
    curl_free(value);
    return text;
}

struct TServer {
    std::string scheme, host, origin;
};

// A URL that does not read is its own server, with no host: no bypass entry matches it.
TServer server_of(const std::string& url) {
    TUrl parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return {"http", "", url};
    TServer server;
    server.scheme = part(parsed.get(), CURLUPART_SCHEME);  // in lower case
    server.host = part(parsed.get(), CURLUPART_HOST);
    server.origin = server.scheme + "://" + server.host + ":" +
                    part(parsed.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    return server;
}

}  // namespace

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

TProxyRoutes::TProxyRoutes(TAsk ask) : ask_(std::move(ask)) {}

TProxyRoutes::TChoice TProxyRoutes::route_for(const std::string& url) {
    const TServer server = server_of(url);
    std::lock_guard lock(mutex_);
    const auto known = routes_.find(server.origin);
    if (known != routes_.end())
        return {known->second, std::nullopt};
    TChoice choice;
    try {
        choice.route = ask_(url, server.scheme, server.host);
    } catch (...) {
        // A setting that cannot be read is no proxy.
        choice.route = {};
    }
    routes_.emplace(server.origin, choice.route);
    choice.note =
        choice.route.proxy.empty()
            ? format(kDirect, {server.origin})
            : format(kThroughProxy, {server.origin, proxy_without_password(choice.route.proxy),
                                     source_text(choice.route.source)});
    return choice;
}

}  // namespace qiv_start::core
