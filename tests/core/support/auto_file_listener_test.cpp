#include "core/support/auto_file_listener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>

#include "core/support/error.h"
#include "support/temp_dir.h"

namespace qiv_start::core {
namespace {

namespace fs = std::filesystem;
using test::read_bytes;

// The log files under dir/logs, by name.
std::vector<fs::path> log_files(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir / "logs"))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

bool is_log_name(const std::string& name, const std::string& prefix) {
    // prefix, "_", yyyymmdd, "_", hhnnsszzz, ".log"
    if (name.size() != prefix.size() + 1 + 18 + 4 || name.rfind(prefix + "_", 0) != 0)
        return false;
    const std::string stamp = name.substr(prefix.size() + 1, 18);
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    return std::all_of(stamp.begin(), stamp.begin() + 8, digit) && stamp[8] == '_' &&
           std::all_of(stamp.begin() + 9, stamp.end(), digit) && name.ends_with(".log");
}

TEST(AutoFileListener, EachListenerWritesItsOwnFileOfLines) {
    test::TTempDir dir;
    test::TCurrentDir cd(dir.path());
    {
        TAutoFileListener check("check_version");
        TAutoFileListener run;
        check.notify(TCoreMessage(info, "file_size|1024"));
        run.notify(TCoreMessage(error, "zażółć gęślą jaźń"));
        run.notify(TCoreMessage(warning, "pierwsza\r\ndruga"));
    }
    const auto files = log_files(dir.path());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(is_log_name(files[0].filename().string(), "check_version")) << files[0];
    EXPECT_TRUE(is_log_name(files[1].filename().string(), "qiv_start")) << files[1];
    EXPECT_EQ(read_bytes(files[0]), "informacja: file_size|1024\r\n");
    // UTF-8 from the first byte, no byte-order mark; a break inside a value stays as it is.
    EXPECT_EQ(read_bytes(files[1]), "błąd: zażółć gęślą jaźń\r\nuwaga: pierwsza\r\ndruga\r\n");
}

// Launchers started in the same millisecond never share a log.
TEST(AutoFileListener, ListenersMadeAtOnceKeepFilesOfTheirOwn) {
    test::TTempDir dir;
    test::TCurrentDir cd(dir.path());
    {
        std::vector<std::unique_ptr<TAutoFileListener>> runs;
        for (int i = 0; i < 20; ++i) {
            runs.push_back(std::make_unique<TAutoFileListener>());
            runs.back()->notify(TCoreMessage(info, std::to_string(i)));
        }
    }
    const auto files = log_files(dir.path());
    ASSERT_EQ(files.size(), 20u);
    std::vector<std::string> lines;
    for (const auto& file : files)
        lines.push_back(read_bytes(file));
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(std::unique(lines.begin(), lines.end()), lines.end());
}

TEST(AutoFileListener, EachLineIsInTheFileWhenNotifyReturns) {
#ifdef _WIN32
    GTEST_SKIP() << "On Windows nobody else may open the run log while it is written; "
                    "FilesWin32.RunLogIsSharedWithNobodyWhileOpen checks that";
#endif
    test::TTempDir dir;
    test::TCurrentDir cd(dir.path());
    auto listener = std::make_shared<TAutoFileListener>("qiv_start");
    const auto files = log_files(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(read_bytes(files[0]), "");
    listener->notify(TCoreMessage(info, "a"));
    EXPECT_EQ(read_bytes(files[0]), "informacja: a\r\n");
}

TEST(AutoFileListener, CreatesMissingLogsFolderAndLeavesAnExistingOneAlone) {
    test::TTempDir dir;
    test::TCurrentDir cd(dir.path());
    { TAutoFileListener first; }
    test::write_bytes(dir.path() / "logs" / "older.log", "kept");
    { TAutoFileListener second("check_version"); }
    EXPECT_EQ(log_files(dir.path()).size(), 3u);
    EXPECT_EQ(read_bytes(dir.path() / "logs" / "older.log"), "kept");
}

TEST(AutoFileListener, FileNamedLogsFailsWithTheErrorOfCreatingTheLogFile) {
    test::TTempDir dir;
    test::TCurrentDir cd(dir.path());
    test::write_bytes(dir.path() / "logs", "not a folder");
    try {
        TAutoFileListener listener("qiv_start");
        FAIL() << "constructed";
    } catch (const TIoError& e) {
        EXPECT_NE(std::string(e.what()).find("qiv_start_"), std::string::npos) << e.what();
    }
    EXPECT_EQ(read_bytes(dir.path() / "logs"), "not a folder");
}

// The run log is never written through a link that leads out of the working folder.
TEST(AutoFileListener, LogsLinkedOutOfTheWorkingFolderAreRefused) {
    test::TTempDir dir, outside;
    test::TCurrentDir cd(dir.path());
    std::error_code error;
    fs::create_directory_symlink(outside.path(), dir.path() / "logs", error);
    if (error)
        GTEST_SKIP() << "no links here: " << error.message();
    try {
        TAutoFileListener listener;
        FAIL() << "constructed";
    } catch (const TError& e) {
        EXPECT_STREQ(e.what(),
                     "Błąd podczas zakładania folderu logów: folder logs leży poza "
                     "katalogiem roboczym");
    }
    EXPECT_TRUE(fs::is_empty(outside.path()));
}

TEST(AutoFileListener, VanishedCurrentFolderFailsWithTheFolderMessage) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows does not remove a folder that is a process's current folder";
#endif
    test::TTempDir dir;
    const fs::path gone = dir.path() / "gone";
    fs::create_directory(gone);
    test::TCurrentDir cd(gone);
    fs::remove(gone);
    try {
        TAutoFileListener listener;
        FAIL() << "constructed";
    } catch (const TIoError& e) {
        FAIL() << "the file error instead: " << e.what();
    } catch (const TError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Błąd podczas zakładania folderu logów: ", 0), 0u)
            << e.what();
    }
}

}  // namespace
}  // namespace qiv_start::core
