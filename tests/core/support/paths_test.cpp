#include "core/support/paths.h"

#include <gtest/gtest.h>

#include "platform/files.h"

namespace qiv_start::core {
namespace {

std::string native(std::string path) {
    for (char& c : path) {
        if (c == '/')
            c = platform::path_separator();
    }
    return path;
}

TEST(Paths, BackslashesBecomeTheNativeSeparator) {
    EXPECT_EQ(native_path("config\\servers.cfg"), native("config/servers.cfg"));
    EXPECT_EQ(native_path("logs"), "logs");
    EXPECT_EQ(native_path(""), "");
}

TEST(Paths, JoinPutsOneSeparatorBetweenDirectoryAndName) {
    EXPECT_EQ(join_path("term\\bin", "app.exe"), native("term/bin/app.exe"));
    EXPECT_EQ(join_path(".", "lib\\a.dll"), native("./lib/a.dll"));
}

TEST(Paths, EmptyDirectoryMeansTheCurrentOneNeverTheRoot) {
    EXPECT_EQ(join_path("", "app.exe"), "app.exe");
}

TEST(Paths, InsideTheFolderResolvesLexically) {
    EXPECT_EQ(resolve_inside("terminale\\kasa"), native("terminale/kasa"));
    EXPECT_EQ(resolve_inside("a\\.\\b\\..\\c/"), native("a/c"));
    EXPECT_EQ(resolve_inside(""), "");
    EXPECT_EQ(resolve_inside("a\\.."), "");
}

TEST(Paths, WhatLeavesTheFolderIsRefused) {
    for (const char* path : {"..", "..\\x", "a\\..\\..\\x", "a/../../x", "/etc", "\\x",
                             "\\\\server\\share", "C:\\x", "c:x", "a\\d:x"}) {
        EXPECT_FALSE(resolve_inside(path)) << path;
    }
}

TEST(Paths, PlainNamesHaveNoFolderInThem) {
    EXPECT_TRUE(is_plain_name("kasa.exe"));
    EXPECT_TRUE(is_plain_name("a..b"));
    for (const char* name : {"", ".", "..", "../x", "..\\x", "a/b", "a\\b", "C:x"})
        EXPECT_FALSE(is_plain_name(name)) << name;
}

}  // namespace
}  // namespace qiv_start::core
