#include "platform/proxy.h"

#include <cstdlib>

namespace qiv_start::platform {
namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The lower-case name first; an upper-case HTTP_PROXY is not read, since a web server's CGI
// programs get a client's Proxy header under that name.
std::string first_set(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        std::string value = variable(name);
        if (!value.empty())
            return value;
    }
    return {};
}

}  // namespace

TProxyRoute setting_proxy_route(const std::string& /*url*/, const std::string& scheme,
                                const std::string& host) {
    TProxyRoute route;
    route.source = TProxySource::kEnvironment;
    route.proxy =
        scheme == "https" ? first_set({"https_proxy", "HTTPS_PROXY"}) : first_set({"http_proxy"});
    if (route.proxy.empty())
        route.proxy = first_set({"all_proxy", "ALL_PROXY"});
    if (!route.proxy.empty() && is_bypassed_by_no_proxy(host, first_set({"no_proxy", "NO_PROXY"})))
        route.proxy.clear();
    return route;
}

}  // namespace qiv_start::platform
