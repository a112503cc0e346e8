#include "platform/proxy.h"

#include <atomic>
#include <memory>
#include <optional>

#include "platform/win32/wide.h"

// After windows.h, which wide.h brings.
#include <winhttp.h>

namespace qiv_start::platform {
namespace {

using win32::from_wide;
using win32::to_wide;

// The strings that WinHTTP hands over are the caller's to free.
struct TGlobalText {
    LPWSTR text = nullptr;
    ~TGlobalText() {
        if (text != nullptr)
            ::GlobalFree(text);
    }
    std::string utf8() const { return text != nullptr ? from_wide(text) : std::string(); }
};

struct TSessionCloser {
    void operator()(void* session) const { ::WinHttpCloseHandle(session); }
};

// Auto-detection that found no script once is not tried again in the run: each try may cost
// seconds of lookups.
std::atomic<bool> g_detection_failed{false};

// The proxy that one way of auto-configuration names for the URL; nothing when it does not
// answer. WinHTTP applies the script's own bypass.
std::optional<TProxyRoute> ask_auto_proxy(HINTERNET session, const std::wstring& url,
                                          WINHTTP_AUTOPROXY_OPTIONS options,
                                          const std::string& scheme, TProxySource source) {
    WINHTTP_PROXY_INFO info{};
    if (!::WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) {
        if (source == TProxySource::kAutoDetect &&
            ::GetLastError() == ERROR_WINHTTP_AUTODETECTION_FAILED)
            g_detection_failed.store(true);
        return std::nullopt;
    }
    const TGlobalText proxy{info.lpszProxy}, bypass{info.lpszProxyBypass};
    TProxyRoute route;
    route.source = source;
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY)
        route.proxy = proxy_for_scheme(proxy.utf8(), scheme);
    route.system_credentials = offers_system_credentials(source, route.proxy);
    return route;
}

// Auto-detection first, then the configuration script, as Windows tries them; nothing when
// neither answers, so that the fixed setting applies. Each answer keeps its source, since only a
// script of a set address is trusted with the user's credentials.
std::optional<TProxyRoute> auto_route(const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config,
                                      const std::string& url, const std::string& scheme) {
    const std::unique_ptr<void, TSessionCloser> session(
        ::WinHttpOpen(L"qiv_start_2", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                      WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        return std::nullopt;
    const std::wstring wide_url = to_wide(url);
    if (config.fAutoDetect && !g_detection_failed.load()) {
        WINHTTP_AUTOPROXY_OPTIONS options{};
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        if (auto found =
                ask_auto_proxy(session.get(), wide_url, options, scheme, TProxySource::kAutoDetect))
            return found;
    }
    if (config.lpszAutoConfigUrl == nullptr)
        return std::nullopt;
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = config.lpszAutoConfigUrl;
    // A script on a server that asks who is there gets the logged-on user.
    options.fAutoLogonIfChallenged = TRUE;
    return ask_auto_proxy(session.get(), wide_url, options, scheme, TProxySource::kAutoConfig);
}

}  // namespace

// Read for each server anew; the core keeps the answer for the run.
TProxyRoute setting_proxy_route(const std::string& url, const std::string& scheme,
                                const std::string& host) {
    TProxyRoute route;
    route.source = TProxySource::kSystemSetting;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&config))
        return route;
    const TGlobalText auto_config{config.lpszAutoConfigUrl}, fixed{config.lpszProxy},
        bypass{config.lpszProxyBypass};
    if (config.fAutoDetect || config.lpszAutoConfigUrl != nullptr) {
        if (auto found = auto_route(config, url, scheme))
            return *found;
    }
    const std::string proxy = proxy_for_scheme(fixed.utf8(), scheme);
    if (proxy.empty() || is_bypassed_by_windows_list(host, bypass.utf8()))
        return route;
    route.proxy = proxy;
    // A proxy written with its own user name and password gets those; any other the user's own.
    route.system_credentials = offers_system_credentials(route.source, proxy);
    return route;
}

}  // namespace qiv_start::platform
