// What the POSIX backend adds to the file contract: absolute paths start at the root, files carry
// permission bits, and the folder lock and the errors hold for users other than the file's owner.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/error.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace qiv_start::platform {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

// The exit status of check run in a child process without privileges: as "nobody" when the tests
// run as root, so that permissions apply to it. An exception in it ends it with 101.
int status_as_unprivileged(const std::function<int()>& check) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(100);
        }
        int status = 101;
        try {
            status = check();
        } catch (...) {
        }
        ::_exit(status);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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

// The lock file of a folder that several users share: made by one launcher under a private
// file-creation mask, or left read-only to the others by an older one.
TEST(FolderLockPosix, AnotherUsersLockFileLocksAllTheSame) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can act as two users";
    TTempDir dir;
    fs::permissions(dir.path(), fs::perms{0755});
    const std::function<void(const std::string&)> makers[] = {
        [](const std::string& path) {
            const mode_t previous = ::umask(077);
            TFolderLock made(path);
            ::umask(previous);
        },
        [](const std::string& path) {
            test::write_bytes(path, "");
            fs::permissions(path, fs::perms{0644});
        }};
    for (const auto& make : makers) {
        const std::string path = dir.file("qiv_start_2.lock");
        fs::remove(path);
        make(path);
        TFolderLock holder(path);
        ASSERT_TRUE(holder.try_lock());
        // 0: the other user's launcher sees the lock held.
        EXPECT_EQ(status_as_unprivileged([&] { return TFolderLock(path).try_lock() ? 1 : 0; }), 0);
    }
}

// A file that cannot be made because its folder cannot be made fails for the folder's reason,
// not for the folder's absence.
TEST(FilesPosix, AFileInAFolderThatCannotBeMadeFailsForThatReason) {
    TTempDir dir;
    fs::permissions(dir.path(), fs::perms{0555});
    const std::string path = dir.file("config/servers.cfg");
    const std::function<void()> creators[] = {[&] { TAtomicFileWriter writer(path); },
                                              [&] { TLogFile log(path); },
                                              [&] { TFolderLock lock(path); }};
    for (const auto& create : creators) {
        EXPECT_EQ(status_as_unprivileged([&] {
                      create_directories(dir.file("config"));
                      try {
                          create();
                      } catch (const TIoError& failure) {
                          return std::string(failure.what()).ends_with(std::strerror(EACCES)) ? 0
                                                                                              : 2;
                      }
                      return 1;
                  }),
                  0);
    }
}

}  // namespace
}  // namespace qiv_start::platform
