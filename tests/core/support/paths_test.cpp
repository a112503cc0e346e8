#include "core/support/paths.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/temp_dir.h"

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

// The working folder is the current directory; a link in it may lead around it, never out.
TEST(Paths, ALinkThatLeadsOutOfTheWorkingFolderIsRefused) {
    const test::TTempDir dir;
    if (!test::make_folder_with_links(dir.path() / "w"))
        GTEST_SKIP() << "no symbolic links here";
    const test::TCurrentDir current(dir.path() / "w");
    EXPECT_FALSE(resolve_inside("out\\kasa"));
    EXPECT_FALSE(resolve_inside("plik"));
    EXPECT_EQ(resolve_inside("wew\\kasa"), native("wew/kasa"));
    EXPECT_EQ(resolve_lexically("out\\kasa"), native("out/kasa"));
}

TEST(Paths, PlainNamesHaveNoFolderInThem) {
    EXPECT_TRUE(is_plain_name("kasa.exe"));
    EXPECT_TRUE(is_plain_name("a..b"));
    for (const char* name : {"", ".", "..", "../x", "..\\x", "a/b", "a\\b", "C:x"})
        EXPECT_FALSE(is_plain_name(name)) << name;
}

// Repositories are written for Windows workstations: a name Windows takes for a device, or
// alters or refuses, is no plain file there, whatever system the launcher runs on.
TEST(Paths, NamesWindowsDoesNotStoreAsTheyAreAreRefusedAnywhereInAPath) {
    for (const std::string& name : std::initializer_list<std::string>{
             "CON",         "nul",     "Aux.txt",  "prn.log",     "com1",
             "COM9.tar.gz", "lpt5",    "nul .txt", "COM\xC2\xB9", "lpt\xC2\xB3.txt",
             "raport.",     "raport ", "a<b",      "a>b",         "a\"b",
             "a|b",         "a?b",     "a*b",      "a:b",         std::string("a\0b", 3),
             "a\x01b",      "a\x1F",   "a\tb",     "...",         "CONIN$",
             "conout$.txt"}) {
        EXPECT_FALSE(is_plain_name(name)) << name;
        for (const std::string& path :
             {name, "dane\\" + name, name + "\\a.txt", "a/" + name + "/b"})
            EXPECT_FALSE(resolve_inside(path)) << path;
    }
    for (const std::string name :
         {"console.txt", "com10", "lpt", "nul_", "auxiliary", ".hidden", " przed", "com\xC2\xB9x",
          "\xC5\xBC\xC3\xB3\xC5\x82w", "conin", "con$"}) {
        EXPECT_TRUE(is_plain_name(name)) << name;
        EXPECT_EQ(resolve_inside("dane\\" + name), native("dane/" + name)) << name;
    }
}

}  // namespace
}  // namespace qiv_start::core
