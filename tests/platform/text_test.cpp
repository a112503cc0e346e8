#include "platform/text.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace qiv_start::platform {
namespace {

TEST(Text, AnsiCodePageIsAKnownCodePage) {
    const unsigned code_page = ansi_code_page();
    EXPECT_EQ(code_page, ansi_code_page());
    EXPECT_EQ(decode_bytes("abc", code_page), "abc");
}

TEST(Text, Cp1250RoundTripsPolishLetters) {
    const std::string polish = "ZAŻÓŁĆ gęślą jaźń";
    const std::string bytes = "ZA\xAF\xD3\xA3\xC6 g\xEA\x9Cl\xB9 ja\x9F\xF1";
    EXPECT_EQ(encode_text(polish, 1250), bytes);
    EXPECT_EQ(decode_bytes(bytes, 1250), polish);
}

TEST(Text, Cp437IsTheOldDosPage) {
    EXPECT_EQ(decode_bytes("\x82\x9B\xC9", 437), "é¢╔");
    EXPECT_EQ(encode_text("é¢╔", 437), "\x82\x9B\xC9");
}

TEST(Text, WhatACodePageLacksIsReplaced) {
    EXPECT_EQ(encode_text("a€ż", 437), "a??");
    // Never by a look-alike: fullwidth quote and backslash must not become '"' and '\\'.
    EXPECT_EQ(encode_text("C:\uFF3Cx\uFF02", 1250), "C:?x?");
    EXPECT_EQ(encode_text("\u0141\u2215", 1252), "??");  // Ł and the division slash
    EXPECT_EQ(encode_text("a\xFF"
                          "b",
                          1250),
              "a?b");  // not UTF-8 at all
}

TEST(Text, BytesACodePageLeavesUndefinedRoundTripAsOnWindows) {
    // 0x81 and 0x98 are undefined in CP1250; they stand for U+0081 and U+0098 and come back.
    EXPECT_EQ(decode_bytes("a\x81\x98", 1250), "a\u0081\u0098");
    EXPECT_EQ(encode_text("a\u0081\u0098", 1250), "a\x81\x98");
    // UTF-8 for "ŁĘŃ" holds such bytes: read in CP1250 and written back, it stays intact.
    EXPECT_EQ(encode_text(decode_bytes("ŁĘŃ", 1250), 1250), "ŁĘŃ");
}

TEST(Text, BrokenUtf16IsReplaced) {
    EXPECT_EQ(decode_bytes(std::string("\x00\xD8", 2), kCodePageUtf16Le), "\xEF\xBF\xBD");
}

TEST(Text, Utf16BothByteOrders) {
    EXPECT_EQ(encode_text("aż", kCodePageUtf16Le), std::string("a\0\x7C\x01", 4));
    EXPECT_EQ(encode_text("aż", kCodePageUtf16Be), std::string("\0a\x01\x7C", 4));
    EXPECT_EQ(decode_bytes(std::string("\x3D\xD8\x00\xDE", 4), kCodePageUtf16Le), "😀");
}

TEST(Text, UnknownCodePageIsAnError) {
    EXPECT_THROW(decode_bytes("a", 99999), TError);
}

}  // namespace
}  // namespace qiv_start::platform
