#include "platform/config_cache.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace qiv_start::platform {
namespace {

namespace fs = std::filesystem;
using test::read_bytes;
using test::TTempDir;

// Sets or clears an environment variable for the object's lifetime.
class TScopedVariable {
  public:
    TScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* previous = std::getenv(name))
            previous_ = previous;
        assign(value);
    }
    ~TScopedVariable() { assign(previous_); }
    TScopedVariable(const TScopedVariable&) = delete;
    TScopedVariable& operator=(const TScopedVariable&) = delete;

  private:
    void assign(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> previous_;
};

// Runs work in a child process and returns its exit status (0 when work returned true).
int in_child_process(const std::function<bool()>& work) {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(work() ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

fs::perms mode_of(const fs::path& path) {
    return fs::status(path).permissions() & fs::perms::mask;
}

class ConfigCache : public ::testing::Test {
  protected:
    TTempDir home;
    TScopedVariable config_home{"XDG_CONFIG_HOME", home.path().string()};
    fs::path directory = home.path() / "QIV" / "QIV_START";
    fs::path file = directory / "version_file";
};

TEST_F(ConfigCache, NoFileIsNoCache) {
    EXPECT_EQ(read_version_file(), std::nullopt);
    fs::create_directories(directory);
    EXPECT_EQ(read_version_file(), std::nullopt);
}

TEST_F(ConfigCache, HoldsTheWholeTextForTheUserAlone) {
    const std::string text = "<qiv_start>\r\nżółć\r\n</qiv_start>\r\n";
    write_version_file(text);
    EXPECT_EQ(read_bytes(file), text);
    EXPECT_EQ(mode_of(file), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(mode_of(directory), fs::perms::owner_all);
    EXPECT_EQ(mode_of(directory.parent_path()), fs::perms::owner_all);
    EXPECT_EQ(read_version_file(), text);

    write_version_file("");
    EXPECT_EQ(read_version_file(), std::string());
    EXPECT_EQ(fs::directory_iterator(directory)->path(), file);  // no temporary file left
}

// In one file, so that one write replaces both; the pair that earlier versions kept apart is
// read while there is none.
TEST_F(ConfigCache, ASignedDocumentKeepsItsExactBytesTogetherWithTheRelease) {
    EXPECT_EQ(read_signed_version_file(), std::nullopt);
    const std::string bytes("\xFF\xFE<\0q\0\n\0", 8);  // UTF-16 with LF, as published
    test::write_bytes(file, "earlier bytes");
    test::write_bytes(directory / "version_file.release", "earlier release\n");
    EXPECT_EQ(read_signed_version_file(), (TSignedDocument{"earlier bytes", "earlier release\n"}));
    // Either part alone is no signed cache.
    fs::remove(file);
    EXPECT_EQ(read_signed_version_file(), std::nullopt);

    write_signed_version_file({bytes, "qiv_start_2 release 1\n"});
    const fs::path signed_file = directory / "version_file.signed";
    EXPECT_EQ(mode_of(signed_file), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(read_signed_version_file(), (TSignedDocument{bytes, "qiv_start_2 release 1\n"}));
    for (const char* damaged : {"", "22", "23\nqiv_start_2 release 1\n", "x\n", "-1\n"}) {
        test::write_bytes(signed_file, damaged);
        EXPECT_EQ(read_signed_version_file(), std::nullopt) << damaged;
    }
}

TEST_F(ConfigCache, TheReleaseSerialSurvivesAKillDuringItsWrite) {
    EXPECT_EQ(read_release_serial(), 0u);
    write_release_serial(18446744073709551615u);
    EXPECT_EQ(read_release_serial(), 18446744073709551615u);
    for (const char* damaged : {"", "12", "12\n\n", "x\n", "-1\n", "18446744073709551616\n"}) {
        test::write_bytes(directory / "release_serial", damaged);
        EXPECT_THROW(read_release_serial(), TIoError) << damaged;
    }

    write_release_serial(1);
    const pid_t child = ::fork();
    if (child == 0) {
        for (std::uint64_t serial = 2;; ++serial)
            write_release_serial(serial);
    }
    // Killed while it writes, at whatever step: every read sees a whole number.
    while (read_release_serial() < 3)
        ::usleep(1000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_GE(read_release_serial(), 3u);
}

// What killed writers left goes when the cache is next written; a temporary file that a writer
// still holds stays, and so does every other file.
TEST_F(ConfigCache, AWriteRemovesTheTemporaryFilesThatKilledWritersLeft) {
    write_version_file("x");
    const std::vector<std::pair<std::string, bool>> entries = {
        // name, kept
        {"version_file.part1", false},
        {"version_file.release.part22", false},
        {"release_serial.part333", false},
        {"version_file.signed.part4444", false},
        {"version_file.part", true},
        {"version_file.partx1", true},
        {"notes.part5", true},
        {"version_file.signed", true}};
    for (const auto& [name, kept] : entries)
        test::write_bytes(directory / name, "debris");
    const TAtomicFileWriter held(file.string(), TFileAccess::kOwnerOnly);

    write_release_serial(1);
    for (const auto& [name, kept] : entries)
        EXPECT_EQ(fs::exists(directory / name), kept) << name;
    EXPECT_TRUE(fs::exists(held.temporary()));
}

TEST_F(ConfigCache, WithoutConfigHomeItLivesUnderHomeDotConfig) {
    TTempDir user_home;
    TScopedVariable home_variable("HOME", user_home.path().string());
    TScopedVariable unset("XDG_CONFIG_HOME", std::nullopt);
    write_version_file("x");
    EXPECT_EQ(read_bytes(user_home.path() / ".config" / "QIV" / "QIV_START" / "version_file"), "x");
    TScopedVariable relative("XDG_CONFIG_HOME", std::string("relative"));  // ignored, not absolute
    EXPECT_EQ(read_version_file(), "x");
}

TEST_F(ConfigCache, SurvivesTheProcessThatWroteIt) {
    EXPECT_EQ(in_child_process([] {
                  write_version_file("from another run");
                  return true;
              }),
              0);
    EXPECT_EQ(read_version_file(), "from another run");
}

TEST_F(ConfigCache, AReplacementIsANewFileNeverTheOldOneRewritten) {
    write_version_file("old text");
    const fs::path old_link = home.path() / "old";
    fs::create_hard_link(file, old_link);
    write_version_file("new text");
    EXPECT_EQ(read_bytes(old_link), "old text");
    EXPECT_EQ(read_version_file(), "new text");
}

// The child may write no more than 16 bytes to any file: the write breaks off midway. The former
// cache stays whole: the text, or the document with its own release.
TEST_F(ConfigCache, AnInterruptedWriteLeavesTheFormerCacheAndNoDebris) {
    const std::string big(100000, 'x');
    const std::vector<std::pair<std::string, std::function<void()>>> writes = {
        {"text", [&] { write_version_file(big); }},
        {"signed document", [&] {
             write_signed_version_file({big, "nowe wydanie\n"});
         }}};
    write_version_file("former text");
    write_signed_version_file({"former bytes", "former release\n"});
    const auto entries = [&] {
        return std::distance(fs::directory_iterator(directory), fs::directory_iterator());
    };
    const auto former_entries = entries();
    for (const auto& [what, write] : writes) {
        SCOPED_TRACE(what);
        const int status = in_child_process([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{16, 16};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            try {
                write();
            } catch (const TIoError&) {
                return true;
            }
            return false;
        });
        EXPECT_EQ(status, 0);
        EXPECT_EQ(read_version_file(), "former text");
        EXPECT_EQ(read_signed_version_file(),
                  (TSignedDocument{"former bytes", "former release\n"}));
        EXPECT_EQ(entries(), former_entries);
    }
}

// A cloned disk brings the identifier to another host, which makes its own; a long time offline
// keeps only the newest reports.
TEST_F(ConfigCache, TheWorkstationIdStaysWithItsHostAndTheUnsentReportsKeepTheNewest) {
    const std::string id = workstation_id("kasa1");
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(workstation_id("kasa1"), id);
    const std::string clone = workstation_id("kasa2");
    EXPECT_NE(clone, id);
    EXPECT_EQ(workstation_id("kasa2"), clone);

    EXPECT_EQ(next_report_sequence(), 1u);
    EXPECT_EQ(next_report_sequence(), 2u);
    std::vector<std::string> queries;
    for (int i = 0; i < 25; ++i)
        queries.push_back("v=1&seq=" + std::to_string(i));
    write_unsent_reports(queries);
    const std::vector<std::string> kept = read_unsent_reports();
    ASSERT_EQ(kept.size(), kMaxUnsentReports);
    EXPECT_EQ(kept.front(), "v=1&seq=5");
    EXPECT_EQ(kept.back(), "v=1&seq=24");
    write_unsent_reports({});
    EXPECT_TRUE(read_unsent_reports().empty());
    EXPECT_EQ(mode_of(directory / "workstation"), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ConfigCache, AnUnreadableCacheIsAnError) {
    fs::create_directories(file);  // a directory where the file belongs
    EXPECT_THROW(read_version_file(), TIoError);
    EXPECT_THROW(write_version_file("x"), TIoError);
}

}  // namespace
}  // namespace qiv_start::platform
