#include "platform/network.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace qiv_start::platform {
namespace {

// Four decimal numbers 0..255 joined by dots, nothing else.
bool is_dotted_quad(const std::string& text) {
    std::istringstream in(text);
    for (int part = 0; part < 4; ++part) {
        int number = -1;
        if (!(in >> number) || number < 0 || number > 255)
            return false;
        if (part < 3 && in.get() != '.')
            return false;
    }
    return in.peek() == std::char_traits<char>::eof();
}

TEST(LocalIpv4Addresses, AreDottedQuadsInAStableOrder) {
    const auto addresses = local_ipv4_addresses();
    for (const auto& address : addresses)
        EXPECT_TRUE(is_dotted_quad(address)) << address;
    EXPECT_EQ(local_ipv4_addresses(), addresses);
}

}  // namespace
}  // namespace qiv_start::platform
