#include "ui/message_items.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qiv_start::ui {
namespace {

using TItems = std::vector<std::string>;

TEST(SplitMessageValue, BarSeparatesCodeFromArgument) {
    EXPECT_EQ(split_message_value("downloaded_prc|37"), (TItems{"downloaded_prc", "37"}));
    EXPECT_EQ(split_message_value("file_size|1024|extra"), (TItems{"file_size", "1024", "extra"}));
}

TEST(SplitMessageValue, BlanksAndControlCharactersSplitAndAreSkipped) {
    EXPECT_EQ(split_message_value("download_start|a b.txt"),
              (TItems{"download_start", "a", "b.txt"}));
    EXPECT_EQ(split_message_value(" \t\r\ncode \x01|\x1F arg \n"), (TItems{"code", "arg"}));
    // Bytes of letters outside ASCII are no blanks.
    EXPECT_EQ(split_message_value("pobieranie plików wspólnych"),
              (TItems{"pobieranie", "plików", "wspólnych"}));
}

TEST(SplitMessageValue, EmptyItemsAppearOnlyBetweenBarsOrAtTheVeryEnd) {
    EXPECT_EQ(split_message_value("code|"), (TItems{"code", ""}));
    EXPECT_EQ(split_message_value("code| "), (TItems{"code"}));
    EXPECT_EQ(split_message_value("a||b"), (TItems{"a", "", "b"}));
    EXPECT_EQ(split_message_value("|a"), (TItems{"", "a"}));
    EXPECT_EQ(split_message_value(""), TItems{});
    EXPECT_EQ(split_message_value(" \t "), TItems{});
}

TEST(SplitMessageValue, QuotedItemsKeepBlanksAndBarsAndUndoubleQuotes) {
    EXPECT_EQ(split_message_value("download_start|\"a b|c \"\"d\"\".txt\""),
              (TItems{"download_start", "a b|c \"d\".txt"}));
    EXPECT_EQ(split_message_value("\"\"|x"), (TItems{"", "x"}));
    // Text right after a closing quote starts the next item.
    EXPECT_EQ(split_message_value("\"ab\"cd|x"), (TItems{"ab", "cd", "x"}));
    // Without a closing quote the item runs to the end, nothing lost.
    EXPECT_EQ(split_message_value("code|\"open end"), (TItems{"code", "open end"}));
    EXPECT_EQ(split_message_value("code|\"ends in doubled\"\""),
              (TItems{"code", "ends in doubled\""}));
}

TEST(SplitMessageValue, ValueEndsAtNul) {
    EXPECT_EQ(split_message_value(std::string("a|b\0c|d", 7)), (TItems{"a", "b"}));
}

}  // namespace
}  // namespace qiv_start::ui
