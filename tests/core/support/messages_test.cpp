#include "core/support/messages.h"

#include <gtest/gtest.h>

namespace qiv_start::core {
namespace {

TEST(Messages, ToStringIsTypeTextColonBlankValue) {
    EXPECT_EQ(TCoreMessage(info, "abc").to_string(), "informacja: abc");
    EXPECT_EQ(TCoreMessage(error, "").to_string(), "błąd: ");
    // The value is never read as a format: percent signs and bars pass through.
    EXPECT_EQ(TCoreMessage(warning, "100% file_size|%0:d").to_string(),
              "uwaga: 100% file_size|%0:d");
}

TEST(Messages, MessageKeepsItsOwnCopyOfTheValue) {
    std::string value = "file_count|3";
    const TCoreMessage message(info, value);
    value = "changed";
    EXPECT_EQ(message.get_value(), "file_count|3");
    EXPECT_EQ(&message.get_type(), &info);
}

TEST(Messages, TypesAreEqualByExactCode) {
    EXPECT_EQ(error.get_code(), "error");
    EXPECT_EQ(warning.get_code(), "warning");
    EXPECT_EQ(info.get_code(), "info");
    EXPECT_EQ(warning.get_text(), "uwaga");
    EXPECT_FALSE(info.is_equals(TMessageType("INFO", "informacja")));
    EXPECT_TRUE(info.is_equals(TMessageType("info", "inny tekst")));
    EXPECT_FALSE(info.is_equals(error));
}

}  // namespace
}  // namespace qiv_start::core
