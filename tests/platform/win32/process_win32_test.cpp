// ShellExecuteW starts a terminal's executable in its folder and opens documents with the program
// that their type is registered to.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/error.h"
#include "platform/process.h"
#include "support/environment.h"
#include "support/temp_dir.h"
#include "win32_test_support.h"

namespace qiv_start::platform {
namespace {

namespace fs = std::filesystem;
using test::wait_for_file;

// The first and second line of what the test program recorded.
std::pair<std::string, std::string> lines_of(const std::string& text) {
    const auto first = text.find('\n');
    const auto second = text.find('\n', first + 1);
    if (first == std::string::npos || second == std::string::npos)
        return {text, ""};
    return {text.substr(0, first), text.substr(first + 1, second - first - 1)};
}

void set_default(HKEY root, const std::wstring& key, const std::wstring& value) {
    HKEY handle = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                                nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(handle);
}

// Registers the test program as the opener of *.qivdoc files for the test's lifetime.
class TDocumentType {
  public:
    TDocumentType() {
        // Windows shows the user's classes (HKCU\Software\Classes) in HKEY_CLASSES_ROOT; wine's
        // HKEY_CLASSES_ROOT does not, so there the type goes to the machine's classes as well.
        roots_.push_back(HKEY_CURRENT_USER);
        if (test::running_under_wine())
            roots_.push_back(HKEY_LOCAL_MACHINE);
        const std::wstring command = L"\"" + test::test_program().wstring() + L"\" \"%1\"";
        for (const HKEY root : roots_) {
            set_default(root, L"Software\\Classes\\.qivdoc", L"qiv_test.document");
            set_default(root, L"Software\\Classes\\qiv_test.document\\shell\\open\\command",
                        command);
        }
    }
    ~TDocumentType() {
        for (const HKEY root : roots_) {
            ::RegDeleteTreeW(root, L"Software\\Classes\\.qivdoc");
            ::RegDeleteTreeW(root, L"Software\\Classes\\qiv_test.document");
        }
    }
    TDocumentType(const TDocumentType&) = delete;
    TDocumentType& operator=(const TDocumentType&) = delete;

  private:
    std::vector<HKEY> roots_;
};

class StartProgramWin32 : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(terminal_); }

    test::TTempDir dir_;
    fs::path terminal_ = dir_.path() / "terminale" / "kasa";
};

TEST_F(StartProgramWin32, ExecutableRunsInItsFolderGivenRelativeToTheCurrentOne) {
    fs::copy_file(test::test_program(), terminal_ / "kasa.exe");
    const test::TCurrentDir current(dir_.path());

    start_program("terminale\\kasa", "kasa.exe");

    const auto [directory, document] = lines_of(wait_for_file(terminal_ / "started.txt"));
    EXPECT_TRUE(fs::exists(directory) && fs::equivalent(directory, terminal_)) << directory;
    EXPECT_EQ(document, "");
}

TEST_F(StartProgramWin32, DocumentOpensWithItsRegisteredProgramInTheFolder) {
    const TDocumentType type;
    test::write_bytes(terminal_ / "instrukcja.qivdoc", "dokument");

    start_program(terminal_.string(), "instrukcja.qivdoc");

    const auto [directory, document] = lines_of(wait_for_file(terminal_ / "started.txt"));
    EXPECT_TRUE(fs::exists(directory) && fs::equivalent(directory, terminal_)) << directory;
    // The program may get the document as a full path or, as under wine, as the name that was
    // passed, relative to the working folder. Both must name the same file.
    const fs::path opened = fs::path(directory) / document;
    EXPECT_TRUE(fs::exists(opened) && fs::equivalent(opened, terminal_ / "instrukcja.qivdoc"))
        << document;
}

// ShellExecuteW's refusal reaches the caller, so a failed start is never reported as a success,
// even where the shell's search would find a program of that name: in the current folder, on the
// search path.
TEST_F(StartProgramWin32, AMissingProgramIsReported) {
    fs::copy_file(test::test_program(), dir_.path() / "brak.exe");
    const test::TCurrentDir current(dir_.path());
    const char* const search = std::getenv("PATH");
    const test::TScopedEnv path("PATH", dir_.path().string() + ";" + (search ? search : ""));
    EXPECT_THROW(start_program(terminal_.string(), "brak.exe"), TError);
    EXPECT_THROW(start_program("terminale\\kasa", "brak.exe"), TError);
}

// The program's file is held from before its start so that no one writes it meanwhile: one that
// another program holds open for writing is not started.
TEST_F(StartProgramWin32, AProgramThatAnotherWritesIsNotStarted) {
    fs::copy_file(test::test_program(), terminal_ / "kasa.exe");
    const HANDLE writer = ::CreateFileW((terminal_ / "kasa.exe").c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_THROW(start_program(terminal_.string(), "kasa.exe"), TError);
    ::CloseHandle(writer);
    EXPECT_FALSE(fs::exists(terminal_ / "started.txt"));
}

}  // namespace
}  // namespace qiv_start::platform
