#include "platform/network.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace qiv_start::platform {
namespace {

constexpr std::size_t kHostNameSize = 256;

using TAddressInfo = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

std::string dotted_quad(const sockaddr* address) {
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) == nullptr)
        return {};
    return text;
}

}  // namespace

std::string host_name() {
    char host[kHostNameSize] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return {};
    return host;
}

std::vector<std::string> local_ipv4_addresses() {
    char host[kHostNameSize] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return {};

    addrinfo hints{};
    hints.ai_family = AF_INET;
    // One answer per address: without a socket type every address comes once per protocol.
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0)
        return {};
    const TAddressInfo owner(found, &::freeaddrinfo);

    std::vector<std::string> addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr)
            continue;
        const std::string text = dotted_quad(entry->ai_addr);
        if (!text.empty())
            addresses.push_back(text);
    }
    return addresses;
}

}  // namespace qiv_start::platform
