// An HTTP proxy on 127.0.0.1 for tests: CONNECT tunnels and plain forwarding, Basic
// authentication, and host names that only it resolves.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/environment.h"

namespace qiv_start::test {

// Listens on an ephemeral port from construction to destruction.
class TTestProxy {
  public:
    // credentials: "user:password" that every request must carry as Basic; empty: none needed.
    // A request without them is answered 407 with a Basic challenge.
    explicit TTestProxy(std::string credentials = {});
    ~TTestProxy();
    TTestProxy(const TTestProxy&) = delete;
    TTestProxy& operator=(const TTestProxy&) = delete;

    // A host name that the proxy resolves to the address (dotted quad); other names than
    // 127.0.0.1 are refused with 502.
    void map_host(const std::string& name, const std::string& address);
    // "http://127.0.0.1:PORT", with "USERINFO@" after the scheme when given.
    std::string url(const std::string& userinfo = {}) const;

    // Requests so far, in order: "CONNECT repo.invalid:443", "GET http://repo.invalid:80/a.txt";
    // one turned away for want of credentials ends in " 407".
    std::vector<std::string> requests() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The workstation's proxy setting for one test: on Windows the user's setting as WinHTTP reads it
// (in a private HKEY_CURRENT_USER), elsewhere the http_proxy family of variables.
class TScopedSystemProxy {
  public:
    // proxy: "http://[userinfo@]host:port", or empty for none; bypass: the system's own list
    // (no_proxy, or the Windows bypass list); script: a proxy configuration script's address,
    // which only Windows reads.
    TScopedSystemProxy(const std::string& proxy, const std::string& bypass,
                       const std::string& script = {});
    ~TScopedSystemProxy();
    TScopedSystemProxy(const TScopedSystemProxy&) = delete;
    TScopedSystemProxy& operator=(const TScopedSystemProxy&) = delete;

  private:
    std::unique_ptr<TPrivateUserRegistry> user_;
    std::vector<std::unique_ptr<TScopedEnv>> variables_;
};

// The host name that tests give a repository reachable only through a proxy.
inline constexpr const char* kProxyOnlyHost = "repo.invalid";

}  // namespace qiv_start::test
