#include "support/test_proxy.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come before windows.h.
#include <windows.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

namespace qiv_start::test {
namespace {

#ifdef _WIN32
using TSocket = SOCKET;
const TSocket kNoSocket = INVALID_SOCKET;
void close_socket(TSocket socket) {
    ::closesocket(socket);
}
constexpr int kShutBoth = SD_BOTH;
constexpr int kSendFlags = 0;
using socklen_t = int;

// Winsock counts its users; each proxy is one for its lifetime.
struct TWinsock {
    TWinsock() {
        WSADATA data;
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
            throw std::runtime_error("test proxy: no Winsock");
    }
    ~TWinsock() { ::WSACleanup(); }
};
#else
using TSocket = int;
const TSocket kNoSocket = -1;
void close_socket(TSocket socket) {
    ::close(socket);
}
constexpr int kShutBoth = SHUT_RDWR;
constexpr int kSendFlags = MSG_NOSIGNAL;
struct TWinsock {};
#endif

bool send_all(TSocket socket, const char* data, std::size_t size) {
    while (size > 0) {
        const auto sent =
            ::send(socket, data, static_cast<int>(std::min<std::size_t>(size, 65536)), kSendFlags);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool send_all(TSocket socket, const std::string& text) {
    return send_all(socket, text.data(), text.size());
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string base64(const std::string& bytes) {
    std::string encoded(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    encoded.resize(static_cast<std::size_t>(length));
    return encoded;
}

struct TRequest {
    std::string method, target;
    std::vector<std::pair<std::string, std::string>> headers;  // names in lower case

    std::string header(const std::string& name) const {
        for (const auto& [key, value] : headers) {
            if (key == name)
                return value;
        }
        return {};
    }
};

// The request head, up to the blank line; nothing when the connection ends first.
std::optional<TRequest> read_head(TSocket socket, std::string& buffer) {
    std::size_t end;
    while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
        char piece[4096];
        const auto received = ::recv(socket, piece, static_cast<int>(sizeof piece), 0);
        if (received <= 0 || buffer.size() > 65536)
            return std::nullopt;
        buffer.append(piece, static_cast<std::size_t>(received));
    }
    const std::string head = buffer.substr(0, end);
    buffer.erase(0, end + 4);
    TRequest request;
    std::size_t line_end = head.find("\r\n");
    const std::string first = head.substr(0, line_end);
    const auto blank = first.find(' ');
    const auto second_blank = first.find(' ', blank + 1);
    if (blank == std::string::npos || second_blank == std::string::npos)
        return std::nullopt;
    request.method = first.substr(0, blank);
    request.target = first.substr(blank + 1, second_blank - blank - 1);
    while (line_end != std::string::npos) {
        const std::size_t start = line_end + 2;
        line_end = head.find("\r\n", start);
        const std::string line = head.substr(start, line_end - start);
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const auto value_start = line.find_first_not_of(' ', colon + 1);
        request.headers.emplace_back(
            lowered(line.substr(0, colon)),
            value_start == std::string::npos ? "" : line.substr(value_start));
    }
    return request;
}

}  // namespace

struct TTestProxy::Impl {
    TWinsock winsock;
    std::string credentials;
    TSocket listener = kNoSocket;
    int port = 0;
    std::thread acceptor;

    mutable std::mutex mutex;
    bool stopping = false;
    std::map<std::string, std::string> hosts;
    std::vector<std::string> requests;
    std::set<TSocket> open;
    std::vector<std::thread> handlers;

    explicit Impl(std::string needed);
    ~Impl();
    void accept_loop();
    void serve(TSocket client);
    void note(const std::string& request);
    TSocket connect_to(const std::string& host, int port);
    void forget(TSocket socket);
    bool authorised(const TRequest& request) const;
    static void relay(TSocket a, TSocket b);
};

TTestProxy::Impl::Impl(std::string needed) : credentials(std::move(needed)) {
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener == kNoSocket ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("test proxy cannot listen");
    }
    port = ntohs(address.sin_port);
    acceptor = std::thread([this] { accept_loop(); });
}

TTestProxy::Impl::~Impl() {
    std::vector<std::thread> running;
    {
        std::lock_guard lock(mutex);
        stopping = true;
        ::shutdown(listener, kShutBoth);
        for (const TSocket socket : open)
            ::shutdown(socket, kShutBoth);
    }
    close_socket(listener);
    acceptor.join();
    {
        std::lock_guard lock(mutex);
        running.swap(handlers);
    }
    for (std::thread& handler : running)
        handler.join();
}

void TTestProxy::Impl::accept_loop() {
    for (;;) {
        const TSocket client = ::accept(listener, nullptr, nullptr);
        std::lock_guard lock(mutex);
        if (client == kNoSocket || stopping) {
            if (client != kNoSocket)
                close_socket(client);
            return;
        }
        open.insert(client);
        handlers.emplace_back([this, client] { serve(client); });
    }
}

void TTestProxy::Impl::note(const std::string& request) {
    std::lock_guard lock(mutex);
    requests.push_back(request);
}

void TTestProxy::Impl::forget(TSocket socket) {
    std::lock_guard lock(mutex);
    open.erase(socket);
    close_socket(socket);
}

bool TTestProxy::Impl::authorised(const TRequest& request) const {
    return credentials.empty() ||
           request.header("proxy-authorization") == "Basic " + base64(credentials);
}

// Names the proxy maps, and 127.0.0.1 itself; nothing else is reached.
TSocket TTestProxy::Impl::connect_to(const std::string& host, int to_port) {
    std::string address = host;
    {
        std::lock_guard lock(mutex);
        const auto mapped = hosts.find(lowered(host));
        if (mapped != hosts.end())
            address = mapped->second;
        else if (host != "127.0.0.1")
            return kNoSocket;
        if (stopping)
            return kNoSocket;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<unsigned short>(to_port));
    if (::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1)
        return kNoSocket;
    const TSocket upstream = ::socket(AF_INET, SOCK_STREAM, 0);
    if (upstream == kNoSocket)
        return kNoSocket;
    {
        std::lock_guard lock(mutex);
        open.insert(upstream);
    }
    if (::connect(upstream, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        forget(upstream);
        return kNoSocket;
    }
    return upstream;
}

// Copies both ways until either side closes.
void TTestProxy::Impl::relay(TSocket a, TSocket b) {
    char piece[65536];
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(a, &readable);
        FD_SET(b, &readable);
        if (::select(static_cast<int>(std::max(a, b)) + 1, &readable, nullptr, nullptr, nullptr) <=
            0) {
            return;
        }
        for (const auto& [from, to] : {std::pair{a, b}, std::pair{b, a}}) {
            if (!FD_ISSET(from, &readable))
                continue;
            const auto received = ::recv(from, piece, static_cast<int>(sizeof piece), 0);
            if (received <= 0 || !send_all(to, piece, static_cast<std::size_t>(received)))
                return;
        }
    }
}

void TTestProxy::Impl::serve(TSocket client) {
    std::string buffer;
    while (const auto request = read_head(client, buffer)) {
        if (!authorised(*request)) {
            note(request->method + " " + request->target + " 407");
            if (!send_all(client,
                          "HTTP/1.1 407 Proxy Authentication Required\r\n"
                          "Proxy-Authenticate: Basic realm=\"test\"\r\n"
                          "Content-Length: 0\r\n\r\n")) {
                break;
            }
            continue;
        }
        note(request->method + " " + request->target);
        std::string host, path = "/";
        int to_port = 80;
        std::string authority = request->target;
        if (request->method != "CONNECT") {
            if (!authority.starts_with("http://"))
                break;
            authority.erase(0, 7);
            const auto slash = authority.find('/');
            if (slash != std::string::npos) {
                path = authority.substr(slash);
                authority.erase(slash);
            }
        }
        const auto colon = authority.rfind(':');
        host = authority.substr(0, colon);
        if (colon != std::string::npos)
            to_port = std::atoi(authority.c_str() + colon + 1);
        const TSocket upstream = connect_to(host, to_port);
        if (upstream == kNoSocket) {
            send_all(client, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
            break;
        }
        if (request->method == "CONNECT") {
            if (send_all(client, "HTTP/1.1 200 Connection established\r\n\r\n"))
                relay(client, upstream);
        } else {
            // One request per connection to the server, so its answer ends where the server
            // closes; the client is told so by the server's own Connection header.
            std::string head = request->method + " " + path + " HTTP/1.1\r\n";
            for (const auto& [name, value] : request->headers) {
                if (!name.starts_with("proxy-") && name != "connection")
                    head += name + ": " + value + "\r\n";
            }
            head += "connection: close\r\n\r\n";
            if (send_all(upstream, head))
                relay(client, upstream);
        }
        forget(upstream);
        break;
    }
    forget(client);
}

TTestProxy::TTestProxy(std::string credentials)
    : impl_(std::make_unique<Impl>(std::move(credentials))) {}

TTestProxy::~TTestProxy() = default;

void TTestProxy::map_host(const std::string& name, const std::string& address) {
    std::lock_guard lock(impl_->mutex);
    impl_->hosts[lowered(name)] = address;
}

std::string TTestProxy::url(const std::string& userinfo) const {
    return "http://" + (userinfo.empty() ? "" : userinfo + "@") +
           "127.0.0.1:" + std::to_string(impl_->port);
}

std::vector<std::string> TTestProxy::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

#ifdef _WIN32
namespace {

// The record that Windows keeps of a connection's proxy setting, as WinHTTP reads it: a version
// mark, a counter, the kind of setting, then the proxy, the bypass list and the script's address,
// each a length and its bytes.
std::string connection_settings(const std::string& proxy, const std::string& bypass,
                                const std::string& script) {
    constexpr std::uint32_t kDirect = 1, kFixed = 2, kScript = 4, kNone = 0;
    std::string record;
    const auto number = [&record](std::uint32_t value) {
        record.append(reinterpret_cast<const char*>(&value), sizeof value);
    };
    const auto text = [&](const std::string& value) {
        number(static_cast<std::uint32_t>(value.size()));
        record += value;
    };
    number(0x46);
    number(1);
    number(kDirect | (proxy.empty() ? kNone : kFixed) | (script.empty() ? kNone : kScript));
    text(proxy);
    text(bypass);
    text(script);
    record.append(32, '\0');
    return record;
}

}  // namespace

TScopedSystemProxy::TScopedSystemProxy(const std::string& proxy, const std::string& bypass,
                                       const std::string& script)
    : user_(std::make_unique<TPrivateUserRegistry>()) {
    // The setting names a proxy as "[user:password@]host:port".
    const std::string fixed = proxy.starts_with("http://") ? proxy.substr(7) : proxy;
    const std::string record = connection_settings(fixed, bypass, script);
    HKEY key = nullptr;
    if (::RegCreateKeyExA(
            HKEY_CURRENT_USER,
            "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections", 0,
            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot write the proxy setting");
    }
    const LSTATUS status = ::RegSetValueExA(key, "DefaultConnectionSettings", 0, REG_BINARY,
                                            reinterpret_cast<const BYTE*>(record.data()),
                                            static_cast<DWORD>(record.size()));
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        throw std::runtime_error("cannot write the proxy setting");
}
#else
TScopedSystemProxy::TScopedSystemProxy(const std::string& proxy, const std::string& bypass,
                                       const std::string& /*script*/) {
    for (const char* name : {"http_proxy", "https_proxy"})
        variables_.push_back(std::make_unique<TScopedEnv>(name, proxy));
    variables_.push_back(std::make_unique<TScopedEnv>("no_proxy", bypass));
    for (const char* name : {"HTTPS_PROXY", "all_proxy", "ALL_PROXY", "NO_PROXY"})
        variables_.push_back(std::make_unique<TScopedEnv>(name, std::nullopt));
}
#endif

TScopedSystemProxy::~TScopedSystemProxy() = default;

}  // namespace qiv_start::test
