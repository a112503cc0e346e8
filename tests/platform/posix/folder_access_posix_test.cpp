// Two ordinary users of one workstation, as children of the test with their own uids (root only).
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/error.h"
#include "platform/folder_access.h"
#include "support/temp_dir.h"

namespace qiv_start::platform {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kUserA = 61001;
constexpr uid_t kUserB = 61002;

// What the body returns, run as the user (with the user's number as its group, and no others).
int as_user(uid_t user, const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

// 0 when the folder is the user's own, 1 when someone else may change it, 2 when it cannot be
// examined.
int checked_by(uid_t user, const fs::path& folder) {
    return as_user(user, [&] {
        try {
            return foreign_writer(folder.string()) ? 1 : 0;
        } catch (const TError&) {
            return 2;
        }
    });
}

bool may_write(uid_t user, const fs::path& folder) {
    return as_user(user, [&] {
               const int fd = ::open((folder / "planted").c_str(), O_WRONLY | O_CREAT, 0755);
               return fd < 0 ? 0 : 1;
           }) == 1;
}

void make_folder(const fs::path& folder, uid_t owner, gid_t group, mode_t mode) {
    fs::create_directories(folder);
    ASSERT_EQ(::chown(folder.c_str(), owner, group), 0);
    ASSERT_EQ(::chmod(folder.c_str(), mode), 0);
}

TEST(FolderAccessUsers, AUserWritesOnlyTheirOwnFolderAndTrustsOnlyAFolderNoOneElseMayChange) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as two users";
    const test::TTempDir dir;
    const fs::path root = dir.path();
    make_folder(root, 0, 0, 0755);
    make_folder(root / "a", kUserA, kUserA, 0755);
    make_folder(root / "b", kUserB, kUserB, 0755);
    EXPECT_FALSE(may_write(kUserA, root / "b"));
    EXPECT_FALSE(may_write(kUserB, root / "a"));

    make_folder(root / "b-group", kUserB, kUserA, 0775);
    make_folder(root / "b-open", kUserB, kUserB, 0777);
    make_folder(root / "a" / "b-inside", kUserB, kUserB, 0755);
    make_folder(root / "tmp", 0, 0, 01777);
    make_folder(root / "tmp" / "b", kUserB, kUserB, 0755);
    make_folder(root / "root-open", 0, 0, 0777);
    make_folder(root / "root-open" / "b", kUserB, kUserB, 0755);
    fs::create_directory_symlink(root / "a", root / "b-link");
    struct TCase {
        fs::path folder;
        int verdict;
    };
    const std::vector<TCase> cases = {
        {"b", 0},            // B's own
        {"tmp/b", 0},        // the sticky bit keeps A from renaming it
        {"a", 1},            // A's
        {"b-link", 1},       // leads to A's
        {"b-group", 1},      // A's group may write
        {"b-open", 1},       // everyone may write
        {"a/b-inside", 1},   // A may rename it away
        {"root-open/b", 1},  // so may everyone
        {"missing", 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.folder.string());
        EXPECT_EQ(checked_by(kUserB, root / c.folder), c.verdict);
    }
    EXPECT_TRUE(may_write(kUserA, root / "b-group"));
    EXPECT_EQ(checked_by(kUserA, root / "a"), 0);
}

}  // namespace
}  // namespace qiv_start::platform
