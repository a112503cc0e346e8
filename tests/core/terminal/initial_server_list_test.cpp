#include "core/terminal/initial_server_list.h"

#include <gtest/gtest.h>

namespace qiv_start::core {
namespace {

const std::string kDefault = "https://default/qiv-repository/";

// Catches lost or reordered addresses, lines without CR, and empty lines from runs of blanks.
TEST(InitialServerList, AdministratorsAddressesOnePerLineInTheirOrder) {
    EXPECT_EQ(initial_server_list(" http://b/\thttp://a/  https://c/\r\n", kDefault),
              "http://b/\r\nhttp://a/\r\nhttps://c/\r\n");
}

// Catches a blank value that would leave the folder with no server at all.
TEST(InitialServerList, DefaultServerWhenTheAdministratorSetNone) {
    EXPECT_EQ(initial_server_list(std::nullopt, kDefault), kDefault + "\r\n");
    EXPECT_EQ(initial_server_list(" \t ", kDefault), kDefault + "\r\n");
}

}  // namespace
}  // namespace qiv_start::core
