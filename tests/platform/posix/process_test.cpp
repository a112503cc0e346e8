#include "platform/process.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/error.h"
#include "support/temp_dir.h"

namespace qiv_start::platform {
namespace {

namespace fs = std::filesystem;

// Waits a bounded while for a file that a started process writes (renamed into place whole).
std::string wait_for(const fs::path& file) {
    for (int attempt = 0; attempt < 2000 && !fs::exists(file); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return fs::exists(file) ? test::read_bytes(file) : std::string("(never written)");
}

// The processes that this process has started and not yet reaped, zombies included.
std::string own_children() {
    std::string children;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::ifstream in(task.path() / "children");
        children += std::string(std::istreambuf_iterator<char>(in), {});
    }
    return children;
}

void write_program(const fs::path& file, const std::string& text) {
    test::write_bytes(file, text);
    fs::permissions(file, fs::perms::owner_all);
}

// A desktop opener on PATH that records its working directory and argument.
class StartProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        write_program(dir_.path() / "bin" / "xdg-open",
                      "#!/bin/sh\necho \"$(pwd -P) $1\" > '" + record_.string() + ".tmp' && mv '" +
                          record_.string() + ".tmp' '" + record_.string() + "'\n");
        const char* path = std::getenv("PATH");
        old_path_ = path == nullptr ? "/usr/bin:/bin" : path;
        ::setenv("PATH", ((dir_.path() / "bin").string() + ":" + old_path_).c_str(), 1);
        fs::create_directories(terminal_);
    }
    void TearDown() override { ::setenv("PATH", old_path_.c_str(), 1); }

    test::TTempDir dir_;
    fs::path terminal_ = dir_.path() / "terminale" / "kasa";
    fs::path record_ = dir_.path() / "opened.txt";
    std::string old_path_;
};

TEST_F(StartProgram, ScriptWithoutPermissionBitsRunsDetachedInItsDirectory) {
    // As it arrives from the repository: no execute bit.
    test::write_bytes(terminal_ / "kasa.sh",
                      "#!/bin/sh\npwd -P > started.tmp && mv started.tmp started.txt\n");
    const test::TCurrentDir current(dir_.path());

    start_program("terminale/kasa", "kasa.sh");

    EXPECT_EQ(own_children(), "");
    EXPECT_EQ(wait_for(terminal_ / "started.txt"), fs::canonical(terminal_).string() + "\n");
    EXPECT_NE(fs::status(terminal_ / "kasa.sh").permissions() & fs::perms::owner_exec,
              fs::perms::none);
    EXPECT_FALSE(fs::exists(record_));
}

TEST_F(StartProgram, FileThatIsNoProgramGoesToTheDesktopOpener) {
    test::write_bytes(terminal_ / "instrukcja.pdf", "%PDF-1.4 not a program");

    start_program(terminal_.string(), "instrukcja.pdf");

    EXPECT_EQ(own_children(), "");
    EXPECT_EQ(wait_for(record_), fs::canonical(terminal_).string() + " ./instrukcja.pdf\n");
}

// Even where a search would find a program of that name: in the current folder, on the path.
TEST_F(StartProgram, ProgramThatCannotBeStartedRaisesTheSystemsReason) {
    for (const fs::path& found : {dir_.path() / "brak.sh", dir_.path() / "bin" / "brak.sh"})
        write_program(found, "#!/bin/sh\ntouch started.txt\n");
    const test::TCurrentDir current(dir_.path());
    try {
        start_program("terminale/kasa", "brak.sh");
        ADD_FAILURE() << "a missing program passed for started";
    } catch (const TError& failure) {
        EXPECT_STREQ(failure.what(), "No such file or directory");
    }
    EXPECT_THROW(start_program("terminale/nie_ma", "kasa.sh"), TError);
    EXPECT_EQ(own_children(), "");
    EXPECT_FALSE(fs::exists(record_));
}

// A file that someone else could have written between its check and its start: through a link,
// through another name, or because others may write it.
TEST_F(StartProgram, ProgramThatOthersCouldChangeIsNotStarted) {
    const std::string script = "#!/bin/sh\ntouch started.txt\n";
    write_program(dir_.path() / "elsewhere.sh", script);
    const std::vector<std::pair<std::function<void(const fs::path&)>, std::string>> cases = {
        {[&](const fs::path& file) { fs::create_symlink(dir_.path() / "elsewhere.sh", file); },
         "Too many levels of symbolic links"},
        {[&](const fs::path& file) {
             write_program(file, script);
             fs::create_hard_link(file, dir_.path() / "second-name.sh");
         },
         "the file has another name"},
        {[&](const fs::path& file) {
             write_program(file, script);
             fs::permissions(file, fs::perms::others_write, fs::perm_options::add);
         },
         "others may write the file"}};
    for (const auto& [make, reason] : cases) {
        SCOPED_TRACE(reason);
        fs::remove(terminal_ / "kasa.sh");
        fs::remove(dir_.path() / "second-name.sh");
        make(terminal_ / "kasa.sh");
        try {
            start_program(terminal_.string(), "kasa.sh");
            ADD_FAILURE() << "started";
        } catch (const TError& failure) {
            EXPECT_EQ(failure.what(), reason);
        }
    }
    EXPECT_EQ(own_children(), "");
    EXPECT_FALSE(fs::exists(terminal_ / "started.txt"));
}

// A launcher's copy is started only as the program it is, and counts as running while it runs.
TEST_F(StartProgram, ProgramWithArgumentsRunsWithoutAShellAndHoldsItsFile) {
    const test::TCurrentDir current(dir_.path());
    const fs::path text = dir_.path() / "tekst";
    write_program(text, "touch ran.txt\n");
    EXPECT_THROW(start_program_with(text.string(), {}), TError);
    const fs::path script = dir_.path() / "czeka.sh";
    write_program(script, "#!/bin/sh\necho $$ >pid.tmp && mv pid.tmp pid.txt && exec sleep 60\n");
    EXPECT_FALSE(is_program_running(script.string()));
    start_program_with(script.string(), {});
    const std::string pid = wait_for(dir_.path() / "pid.txt");
    EXPECT_TRUE(is_program_running(script.string()));
    ASSERT_EQ(::kill(std::stoi(pid), SIGKILL), 0);
    for (int i = 0; i < 2000 && is_program_running(script.string()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(is_program_running(script.string()));
    EXPECT_FALSE(is_program_running((dir_.path() / "brak").string()));
    EXPECT_FALSE(fs::exists(dir_.path() / "ran.txt"));
    EXPECT_FALSE(fs::exists(record_));
}

// The seed waits for the user's copy, started in the user's folder, and ends with its exit code.
TEST_F(StartProgram, RunProgramWaitsInTheFolderAndGivesTheExitCode) {
    const fs::path script = dir_.path() / "kopia.sh";
    write_program(script, "#!/bin/sh\nsleep 0.2\necho \"$1\" >\"$(pwd -P)/ran.txt\"\nexit 3\n");
    EXPECT_EQ(run_program(script.string(), {"a b"}, terminal_.string()), 3);
    EXPECT_EQ(test::read_bytes(fs::canonical(terminal_) / "ran.txt"), "a b\n");
    EXPECT_EQ(own_children(), "");
    EXPECT_THROW(run_program((dir_.path() / "brak").string(), {}, terminal_.string()), TError);
}

TEST(NativeProgram, OnlyAnElfImageForThisMachineIsOne) {
    test::TTempDir dir;
    const std::string own = test::read_bytes("/proc/self/exe");
    std::string other_machine = own;
    other_machine[18] = static_cast<char>(other_machine[18] ^ 0x7F);  // e_machine
    const std::vector<std::pair<std::string, bool>> cases{
        {own, true},
        {other_machine, false},
        {test::read_bytes(QIV_TEST_DATA "/pe/no_version.exe"), false},
        {"#!/bin/sh\necho\n", false},
        {"\x7F"
         "ELF",
         false},
        {"", false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string path = dir.file("program" + std::to_string(i));
        test::write_bytes(path, cases[i].first);
        EXPECT_EQ(is_native_program(path), cases[i].second) << i;
    }
    EXPECT_FALSE(is_native_program(dir.file("brak")));
}

TEST_F(StartProgram, AddressIsOpenedByTheDesktopOpener) {
    open_url("https://repozytorium.example/qiv-repository/index.html");

    EXPECT_EQ(own_children(), "");
    const std::string record = wait_for(record_);
    EXPECT_TRUE(record.ends_with(" https://repozytorium.example/qiv-repository/index.html\n"))
        << record;
}

}  // namespace
}  // namespace qiv_start::platform
