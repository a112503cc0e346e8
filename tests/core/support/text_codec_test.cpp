#include "core/support/text_codec.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace qiv_start::core {
namespace {

using Lines = std::vector<std::string>;
constexpr unsigned kCp1250 = 1250;

TEST(DecodeText, ByteOrderMarkChoosesTheEncodingAndIsDropped) {
    EXPECT_EQ(decode_text("\xEF\xBB\xBFza\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87", kCp1250), "zażółć");
    EXPECT_EQ(decode_text(std::string("\xFF\xFE"
                                      "a\0\x05\x01",
                                      6),
                          kCp1250),
              "aą");
    EXPECT_EQ(decode_text(std::string("\xFE\xFF\0a\x01\x05", 6), kCp1250), "aą");
    EXPECT_EQ(decode_text("\xEF\xBB\xBF", kCp1250), "");
}

TEST(DecodeText, WithoutMarkTheBytesAreInTheGivenCodePage) {
    EXPECT_EQ(decode_text("za\xBF\xF3\xB3\xE6", kCp1250), "zażółć");
    // The same bytes read as UTF-8 are ill-formed and become replacement characters.
    EXPECT_EQ(decode_text("\xBF"
                          "a",
                          platform::kCodePageUtf8),
              "\xEF\xBF\xBD"
              "a");
}

TEST(DecodeText, OddUtf16TailIsReplacedNotDropped) {
    EXPECT_EQ(decode_text(std::string("\xFF\xFE"
                                      "a\0b",
                                      5),
                          kCp1250),
              "a\xEF\xBF\xBD");
}

TEST(SplitLines, AnyBreakSplitsAndAFinalBreakAddsNoLine) {
    EXPECT_EQ(split_lines("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(split_lines("a\r\n"), (Lines{"a"}));
    EXPECT_EQ(split_lines("a\n\nb\r\n\r\n"), (Lines{"a", "", "b", ""}));
    EXPECT_EQ(split_lines("\n"), (Lines{""}));
    EXPECT_EQ(split_lines("\n\r"), (Lines{"", ""}));
    EXPECT_EQ(split_lines(""), Lines{});
}

TEST(SanitizeUtf8, IllFormedSequencesBecomeReplacementCharacters) {
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(sanitize_utf8("zażółć €𝄞"), "zażółć €𝄞");
    EXPECT_EQ(sanitize_utf8("a\xC3(b"), "a" + r + "(b");
    EXPECT_EQ(sanitize_utf8("a\xE2\x82"), "a" + r);      // cut short at the end
    EXPECT_EQ(sanitize_utf8("\xC0\xAF"), r);             // overlong
    EXPECT_EQ(sanitize_utf8("\xED\xA0\x80x"), r + "x");  // a surrogate
    EXPECT_EQ(sanitize_utf8("\xF4\x90\x80\x80"), r);     // beyond U+10FFFF
    EXPECT_EQ(sanitize_utf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(RedecodeAsUtf8, RepairsUtf8ReadInAnEightBitCodePage) {
    const std::string misread =
        platform::decode_bytes("za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87", kCp1250);
    ASSERT_NE(misread, "zażółć");
    EXPECT_EQ(redecode_as_utf8(misread, kCp1250), "zażółć");
}

// Polish letters read right (from a document with a byte-order mark) are single bytes in cp1250
// and missing from cp1252: neither is UTF-8 that was misread.
TEST(RedecodeAsUtf8, LeavesATextThatWasReadRightAsItIs) {
    EXPECT_EQ(redecode_as_utf8("Kasa sprzedaży", kCp1250), "Kasa sprzedaży");
    EXPECT_EQ(redecode_as_utf8("Kasa sprzedaży", 1252), "Kasa sprzedaży");
    EXPECT_EQ(redecode_as_utf8("KASA 1.2", kCp1250), "KASA 1.2");
}

}  // namespace
}  // namespace qiv_start::core
