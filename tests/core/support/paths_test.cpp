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

}  // namespace
}  // namespace qiv_start::core
