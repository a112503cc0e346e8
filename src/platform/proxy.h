// The proxy that the workstation's settings give for a request.
#pragma once

#include <string>

namespace qiv_start::platform {

// Where a route's proxy came from.
enum class TProxySource {
    kEnvironment,    // the http_proxy family of variables
    kSystemSetting,  // the user's fixed proxy setting (Windows)
    kAutoConfig,     // the configuration script whose address the user set (Windows)
    kAutoDetect,     // auto-detection on the local network, WPAD (Windows)
    kOverride,       // the workstation's own override, QIV_START_PROXY
};

struct TProxyRoute {
    // The proxy, "[scheme://][user:password@]host[:port]"; empty: straight to the server.
    std::string proxy;
    TProxySource source = TProxySource::kEnvironment;
    // The proxy is to be answered with the logged-on user's own credentials (Negotiate or NTLM
    // with no name given), since the setting carries none.
    bool system_credentials = false;
};

// True when a proxy from source is to be answered with the logged-on user's own credentials: one
// that the user or the administrator named, in a fixed setting, a configuration script of a set
// address or the override, and whose address carries no user of its own. A proxy that
// auto-detection found gets none: anyone on the local network can answer its queries, and a proxy
// of theirs would get an NTLM exchange (Negotiate, offered alone, falls back to NTLM too).
bool offers_system_credentials(TProxySource source, const std::string& proxy);

// The route for a request to url, whose scheme ("http" or "https") and host name or address are
// given apart. The variable QIV_START_PROXY, where set, overrides the settings below for every
// server: "direct" for none, else the proxy's address (answered as a fixed setting's would be).
TProxyRoute proxy_route(const std::string& url, const std::string& scheme, const std::string& host);

// The route that the workstation's settings give, without the override. Windows: the user's setting
// as WinHTTP reads it (a fixed proxy with its bypass list and <local>; auto-detection, then a
// configuration script). Elsewhere the variables as the HTTP library reads them: http_proxy (lower
// case only) for http, https_proxy or HTTPS_PROXY for https, else all_proxy or ALL_PROXY, and
// no_proxy or NO_PROXY for the hosts reached directly. A setting that cannot be read gives no
// proxy.
TProxyRoute setting_proxy_route(const std::string& url, const std::string& scheme,
                                const std::string& host);

// True when host is reached directly under a no_proxy list: "*", or an entry (separated by commas
// or blanks, a leading dot ignored) that is the host itself, a domain it lies in, or for an
// address the same address or an IPv4 network in CIDR form. Letter case is ignored.
bool is_bypassed_by_no_proxy(const std::string& host, const std::string& no_proxy);

// True when host is reached directly under the bypass list of a Windows proxy setting: entries
// separated by semicolons, commas or blanks, each a host pattern in which "*" stands for any run
// of characters (a scheme before it and a port after it are ignored), or "<local>" for a name
// without a dot. Letter case is ignored.
bool is_bypassed_by_windows_list(const std::string& host, const std::string& bypass);

// The proxy for scheme in a Windows proxy list: "host:port" for every scheme, or entries such as
// "http=host:port;https=host:port", the scheme's own preferred. "http://host:port"; empty when
// the list has none for the scheme.
std::string proxy_for_scheme(const std::string& list, const std::string& scheme);

}  // namespace qiv_start::platform
