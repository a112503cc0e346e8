#include "core/download/proxy_routes.h"

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
        case platform::TProxySource::kAutoDetect:
            return "automatyczne wykrywanie";
        case platform::TProxySource::kOverride:
            return "zmienna QIV_START_PROXY";
    }
    return "";
}

}  // namespace

TProxyRoutes::TProxyRoutes(TAsk ask) : ask_(std::move(ask)) {}

TProxyRoutes::TChoice TProxyRoutes::route_for(const std::string& url) {
    // A URL that does not read is its own server, with no host: no bypass entry matches it.
    const TServer server = server_of(url).value_or(TServer{"http", "", url});
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
