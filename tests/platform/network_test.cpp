#include "platform/network.h"

#include <gtest/gtest.h>

#include <regex>

namespace qiv_start::platform {
namespace {

TEST(LocalAddresses, AreDottedQuadsWhenTheHostNameResolves) {
    const std::regex dotted_quad(R"(\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3})");
    for (const auto& address : local_ipv4_addresses()) {
        EXPECT_TRUE(std::regex_match(address, dotted_quad)) << address;
    }
}

}  // namespace
}  // namespace qiv_start::platform
