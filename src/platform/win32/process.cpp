#include "platform/process.h"

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <string>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/win32/wide.h"

namespace qiv_start::platform {

namespace {

// The program's file, held open from before its start until the start returns, so that no one
// can write, delete or rename it meanwhile; one that someone holds open for writing is refused.
HANDLE hold_unchangeable(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw TError(win32::system_message(::GetLastError()));
    return file;
}

}  // namespace

// The file goes to the shell by its full path: given a bare name, the shell searches other
// folders for a program of that name when the file is missing, and the program would see its
// own path relative to the launcher's folder.
void start_program(const std::string& directory, const std::string& file) {
    const std::string folder = full_path(directory.empty() ? "." : directory);
    const std::wstring wide_file = win32::to_wide(full_path(folder + "\\" + file));
    const std::wstring wide_directory = win32::to_wide(folder);
    const HANDLE held = hold_unchangeable(wide_file);
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", wide_file.c_str(), L"", wide_directory.c_str(), SW_SHOW));
    // A result of 32 or less is a failure; the system's last error says why.
    const DWORD error = ::GetLastError();
    ::CloseHandle(held);
    if (result <= 32)
        throw TError(win32::system_message(error));
}

namespace {

// One argument as CommandLineToArgvW reads it back: quoted when it holds a blank or a quote or is
// empty; backslashes count only before a quote, where they are doubled.
std::wstring quoted_argument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

}  // namespace

namespace {

// The started process's handles; raises TError with the system's reason. An empty directory is
// the current one.
PROCESS_INFORMATION create_process(const std::string& path,
                                   const std::vector<std::string>& arguments,
                                   const std::string& directory) {
    const std::wstring program = win32::to_wide(path);
    const std::wstring folder = win32::to_wide(directory);
    std::wstring command = quoted_argument(program);
    for (const std::string& argument : arguments)
        command += L" " + quoted_argument(win32::to_wide(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        throw TError(win32::system_message(::GetLastError()));
    }
    ::CloseHandle(process.hThread);
    return process;
}

}  // namespace

void start_program_with(const std::string& path, const std::vector<std::string>& arguments) {
    ::CloseHandle(create_process(path, arguments, std::string()).hProcess);
}

int run_program(const std::string& path, const std::vector<std::string>& arguments,
                const std::string& directory) {
    const PROCESS_INFORMATION process = create_process(path, arguments, directory);
    DWORD exit_code = 1;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &exit_code);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(exit_code);
}

int run_tool(const std::string& program, const std::vector<std::string>& arguments) {
    std::wstring command = quoted_argument(win32::to_wide(program));
    for (const std::string& argument : arguments)
        command += L" " + quoted_argument(win32::to_wide(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Without an application name, the system looks the program up on the search path.
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        throw TError(win32::system_message(::GetLastError()));
    }
    ::CloseHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 0;
    const bool known = ::GetExitCodeProcess(process.hProcess, &exit_code) != 0;
    ::CloseHandle(process.hProcess);
    return known ? static_cast<int>(exit_code) : -1;
}

void open_url(const std::string& url) {
    const std::wstring wide_url = win32::to_wide(url);
    ::ShellExecuteW(nullptr, L"open", wide_url.c_str(), L"", nullptr, SW_SHOW);
}

// ExitProcess would stop the other threads wherever they stand and then run the libraries' detach
// code, which may wait for a lock that a stopped thread held.
void end_process_now(int exit_code) {
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exit_code));
    ::ExitProcess(static_cast<UINT>(exit_code));
}

}  // namespace qiv_start::platform
