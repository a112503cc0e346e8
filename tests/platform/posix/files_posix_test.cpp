// What the POSIX backend adds to the file contract: absolute paths start at the root, and files
// carry permission bits.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace qiv_start::platform {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

TEST(FilesPosix, AbsolutePathsStayAsTheyAre) {
    EXPECT_EQ(path_separator(), '/');
    EXPECT_EQ(full_path("/etc/x"), "/etc/x");
}

TEST(AtomicFileWriter, NewFilesAreReadableAsTheSystemAllowsOrByTheOwnerOnly) {
    TTempDir dir;
    write_file_atomic(dir.file("public"), "a");
    write_file_atomic(dir.file("private"), "b", TFileAccess::kOwnerOnly);
    const auto permissions = [&](const char* name) {
        return fs::status(dir.path() / name).permissions() & fs::perms::all;
    };
    EXPECT_NE(permissions("public") & fs::perms::owner_read, fs::perms::none);
    EXPECT_EQ(permissions("private"), fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
}  // namespace qiv_start::platform
