#include "platform/network.h"

#include <winsock2.h>

#include <cstring>

namespace qiv_start::platform {
namespace {

constexpr int kHostNameSize = 64;
constexpr WORD kWinsockVersion = 257;  // 1.1

// Starts Winsock for the lifetime of one lookup; a failed start shows as a failed lookup.
class TWinsock {
  public:
    TWinsock() { ::WSAStartup(kWinsockVersion, &data_); }
    ~TWinsock() { ::WSACleanup(); }
    TWinsock(const TWinsock&) = delete;
    TWinsock& operator=(const TWinsock&) = delete;

  private:
    WSADATA data_{};
};

}  // namespace

std::string host_name() {
    const TWinsock winsock;
    char host[kHostNameSize] = {};
    if (::gethostname(host, kHostNameSize) != 0)
        return {};
    return host;
}

std::vector<std::string> local_ipv4_addresses() {
    const TWinsock winsock;
    char host[kHostNameSize] = {};
    if (::gethostname(host, kHostNameSize) != 0)
        return {};
    const hostent* entry = ::gethostbyname(host);
    if (entry == nullptr || entry->h_addrtype != AF_INET)
        return {};

    std::vector<std::string> addresses;
    for (char** item = entry->h_addr_list; *item != nullptr; ++item) {
        in_addr address{};
        std::memcpy(&address, *item, sizeof address);
        addresses.emplace_back(::inet_ntoa(address));
    }
    return addresses;
}

}  // namespace qiv_start::platform
