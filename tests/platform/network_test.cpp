#include "platform/network.h"

#include <gtest/gtest.h>

#include <sstream>

namespace qiv_start::platform {
namespace {

bool is_dotted_quad(const std::string& text) {
    std::istringstream in(text);
    std::string part;
    int parts = 0;
    while (std::getline(in, part, '.')) {
        if (part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos || std::stoi(part) > 255) {
            return false;
        }
        ++parts;
    }
    return parts == 4 && text.back() != '.';
}

TEST(LocalAddresses, AreDottedQuadsWhenTheHostNameResolves) {
    for (const auto& address : local_ipv4_addresses())
        EXPECT_TRUE(is_dotted_quad(address)) << address;
}

}  // namespace
}  // namespace qiv_start::platform
