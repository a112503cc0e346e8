// The proxy of each server, asked of the workstation's settings once per run.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "core/download/request_url.h"
#include "platform/proxy.h"

namespace qiv_start::core {

class TProxyRoutes {
  public:
    using TAsk = std::function<platform::TProxyRoute(
        const std::string& url, const std::string& scheme, const std::string& host)>;

    // ask: where routes come from; the workstation's settings by default.
    explicit TProxyRoutes(TAsk ask = platform::proxy_route);

    struct TChoice {
        platform::TProxyRoute route;
        // The first time a server is asked for: the line for the run log that says how it is
        // reached (never with a password).
        std::optional<std::string> note;
    };
    // The route for a request to url, the same for every request to its server (scheme, host and
    // port). Safe on several threads at once.
    TChoice route_for(const std::string& url);

  private:
    TAsk ask_;
    std::mutex mutex_;
    std::map<std::string, platform::TProxyRoute> routes_;
};

}  // namespace qiv_start::core
