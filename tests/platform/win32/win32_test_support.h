// Helpers for the Win32 backend's own tests: processes of the test program, wine detection.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/environment.h"
#include "support/temp_dir.h"

namespace qiv_start::test {

// The program in test_program.cpp.
inline std::filesystem::path test_program() {
    return std::filesystem::path(QIV_TEST_PROGRAM);
}

// Waits a bounded while for a file that another process renames into place whole; wine may
// still refuse to open it for a moment after the rename.
inline std::string wait_for_file(const std::filesystem::path& file) {
    for (int attempt = 0; attempt < 3000; ++attempt) {
        try {
            if (std::filesystem::exists(file))
                return read_bytes(file);
        } catch (const std::runtime_error&) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "(never written)";
}

// A process of the test program; one still running at the end of the test is ended.
class TChildProcess {
  public:
    explicit TChildProcess(const std::wstring& arguments) {
        std::wstring command = L"\"" + test_program().wstring() + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info_)) {
            throw std::runtime_error("cannot start the test program");
        }
        ::CloseHandle(info_.hThread);
    }
    ~TChildProcess() {
        if (!ended(0))
            ::TerminateProcess(info_.hProcess, 1);
        ::WaitForSingleObject(info_.hProcess, INFINITE);
        ::CloseHandle(info_.hProcess);
    }
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    DWORD id() const { return info_.dwProcessId; }
    bool ended(DWORD wait_ms) const {
        return ::WaitForSingleObject(info_.hProcess, wait_ms) == WAIT_OBJECT_0;
    }

  private:
    PROCESS_INFORMATION info_{};
};

}  // namespace qiv_start::test
