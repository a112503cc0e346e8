// What the Win32 backend adds to the file contract: share modes, files in use, drive paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/temp_dir.h"
#include "win32_test_support.h"

namespace qiv_start::platform {
namespace {

namespace fs = std::filesystem;
using test::read_bytes;
using test::TTempDir;
using test::write_bytes;

// The error of opening the file for access with the share mode; ERROR_SUCCESS when it opened.
DWORD open_error(const std::string& path, DWORD access, DWORD share) {
    const HANDLE handle = ::CreateFileW(fs::path(path).wstring().c_str(), access, share, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return ::GetLastError();
    ::CloseHandle(handle);
    return ERROR_SUCCESS;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TEST(FilesWin32, RunLogIsSharedWithNobodyWhileOpen) {
    TTempDir dir;
    const std::string path = dir.file("run.log");
    {
        TLogFile log(path);
        log.write("a\r\n");
        EXPECT_EQ(open_error(path, GENERIC_READ, kShareAll), DWORD{ERROR_SHARING_VIOLATION});
        EXPECT_THROW(TLogFile{path}, TIoError);  // a second run writing the same log
    }
    EXPECT_EQ(open_error(path, GENERIC_READ, kShareAll), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(read_bytes(path), "a\r\n");
}

TEST(FilesWin32, ReaderLetsOthersReadButNotWrite) {
    TTempDir dir;
    const std::string path = dir.file("kasa.exe");
    write_bytes(path, "MZ");
    TFileReader reader(path);
    EXPECT_EQ(open_error(path, GENERIC_READ, kShareAll), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(open_error(path, GENERIC_WRITE, kShareAll), DWORD{ERROR_SHARING_VIOLATION});
    // Nor can the file be replaced or deleted under the reader.
    EXPECT_THROW(write_file_atomic(path, "new"), TIoError);
    EXPECT_THROW(delete_file(path), TIoError);
    char buffer[2];
    EXPECT_EQ(reader.read(buffer, 2), 2u);
    EXPECT_EQ(std::string(buffer, 2), "MZ");
}

TEST(FilesWin32, TheRunningProgramCanBeHashedWhileItRuns) {
    TFileReader reader(executable_path());
    char buffer[2];
    ASSERT_EQ(reader.read(buffer, 2), 2u);
    EXPECT_EQ(std::string(buffer, 2), "MZ");
}

TEST(FilesWin32, AFileInUseIsNotDeletedAndTheErrorSaysWhy) {
    TTempDir dir;
    const std::string path = dir.file("biblioteka.dll");
    write_bytes(path, "in use");
    const HANDLE holder = ::CreateFileW(fs::path(path).wstring().c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    try {
        delete_file(path);
        ADD_FAILURE() << "deleted while in use";
    } catch (const TIoError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("\"" + path + "\""), std::string::npos) << message;
        EXPECT_GT(message.size(), path.size() + 25) << "no reason given: " << message;
    }
    ::CloseHandle(holder);
    EXPECT_EQ(read_bytes(path), "in use");
    delete_file(path);
    EXPECT_FALSE(file_exists(path));
}

// A terminal that runs holds its files open without sharing their deletion: the probe tells so
// before anything is downloaded to replace them, and says nothing against a file nobody holds.
TEST(FilesWin32, AFileThatAnotherProcessHoldsOpenIsNotReplaceable) {
    TTempDir dir;
    const test::TCurrentDir current(dir.path());
    const std::string path = dir.file("biblioteka.dll");
    write_bytes(path, "in use");
    check_replaceable(path);
    check_replaceable(dir.file("missing.dll"));
    {
        const test::TChildProcess holder(L"hold \"" + fs::path(path).wstring() + L"\"");
        ASSERT_EQ(test::wait_for_file(dir.path() / "held.txt"), "held\n");
        try {
            check_replaceable(path);
            ADD_FAILURE() << "replaceable while held open";
        } catch (const TFileInUseError& e) {
            EXPECT_GT(std::string(e.what()).size(), 5u) << "no reason given";
        }
    }
    check_replaceable(path);
    EXPECT_EQ(read_bytes(path), "in use");
}

TEST(FilesWin32, PathsAreInTheDriveForm) {
    EXPECT_EQ(path_separator(), '\\');
    EXPECT_EQ(full_path("C:\\terminale\\kasa"), "C:\\terminale\\kasa");
    EXPECT_EQ(full_path("C:/terminale/./x/../kasa"), "C:\\terminale\\kasa");
    TTempDir dir;
    test::TCurrentDir current(dir.path());
    EXPECT_TRUE(fs::equivalent(full_path("."), dir.path()));
    EXPECT_TRUE(create_directories(dir.file("a\\b") + "\\c"));
    EXPECT_TRUE(directory_exists(dir.file("a") + "\\b\\c"));
}

// As the lock file that another user made may be to this one.
TEST(FilesWin32, AReadOnlyLockFileLocksAllTheSame) {
    TTempDir dir;
    const std::string path = dir.file("qiv_start_2.lock");
    write_bytes(path, "");
    ASSERT_TRUE(::SetFileAttributesW(fs::path(path).wstring().c_str(), FILE_ATTRIBUTE_READONLY));
    {
        TFolderLock first(path);
        TFolderLock second(path);
        EXPECT_TRUE(first.try_lock());
        EXPECT_FALSE(second.try_lock());
    }
    ::SetFileAttributesW(fs::path(path).wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FilesWin32, PolishNamesAreKept) {
    TTempDir dir;
    const std::string path = dir.file("zażółć gęślą jaźń.txt");
    write_file_atomic(path, "ż");
    EXPECT_TRUE(file_exists(path));
    EXPECT_EQ(read_file(path), "ż");
    EXPECT_TRUE(fs::exists(dir.path() / fs::path(u8"zażółć gęślą jaźń.txt")));
}

}  // namespace
}  // namespace qiv_start::platform
