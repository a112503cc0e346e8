#include "platform/error.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/win32/wide.h"
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstring>

namespace qiv_start::platform {
namespace {

// The bytes of the file from offset on, as many of size as it holds.
std::string read_at(const std::string& path, std::uint64_t offset, std::size_t size) {
    TFileReader reader(path);
    reader.seek(offset);
    std::string bytes(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const std::size_t n = reader.read(bytes.data() + got, size - got);
        if (n == 0)
            break;
        got += n;
    }
    bytes.resize(got);
    return bytes;
}

// The file's PE headers, when it is a program image (not a library).
std::optional<IMAGE_NT_HEADERS> program_headers(const std::string& path) {
    try {
        const std::string dos = read_at(path, 0, sizeof(IMAGE_DOS_HEADER));
        IMAGE_DOS_HEADER dos_header{};
        if (dos.size() != sizeof dos_header)
            return std::nullopt;
        std::memcpy(&dos_header, dos.data(), sizeof dos_header);
        if (dos_header.e_magic != IMAGE_DOS_SIGNATURE || dos_header.e_lfanew <= 0)
            return std::nullopt;
        const std::string nt = read_at(path, static_cast<std::uint64_t>(dos_header.e_lfanew),
                                       sizeof(IMAGE_NT_HEADERS));
        IMAGE_NT_HEADERS headers{};
        if (nt.size() != sizeof headers)
            return std::nullopt;
        std::memcpy(&headers, nt.data(), sizeof headers);
        const WORD flags = headers.FileHeader.Characteristics;
        if (headers.Signature != IMAGE_NT_SIGNATURE || (flags & IMAGE_FILE_EXECUTABLE_IMAGE) == 0 ||
            (flags & IMAGE_FILE_DLL) != 0)
            return std::nullopt;
        return headers;
    } catch (const TError&) {
        return std::nullopt;
    }
}

}  // namespace

std::vector<std::string> command_line_arguments(int argc, char* argv[]) {
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words == nullptr)  // out of memory: the narrow arguments are better than none
        return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                        : std::vector<std::string>();
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(win32::from_wide(words[i]));
    ::LocalFree(words);
    return arguments;
}

std::string executable_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), size);
        if (length == 0) {
            throw TIoError("Cannot find the running program: " +
                           win32::system_message(::GetLastError()));
        }
        if (length < size) {
            path.resize(length);
            return win32::from_wide(path);
        }
        path.resize(path.size() * 2);  // the name was cut to fit the buffer
    }
}

std::string executable_suffix() {
    return ".exe";
}

// The machine and the kind of optional header are read off the running program's image, so that
// every build compares with what it is itself.
bool is_native_program(const std::string& path) {
    const auto headers = program_headers(path);
    const auto* own_dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(::GetModuleHandleW(nullptr));
    const auto* own = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        reinterpret_cast<const char*>(own_dos) + own_dos->e_lfanew);
    return headers && headers->FileHeader.Machine == own->FileHeader.Machine &&
           headers->OptionalHeader.Magic == own->OptionalHeader.Magic;
}

// The system keeps a running program's file from being opened for writing.
bool is_program_running(const std::string& path) {
    const HANDLE file = ::CreateFileW(win32::to_wide(path).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        return false;
    }
    return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

void set_environment(const std::string& name, const std::string& value) {
    if (!::SetEnvironmentVariableW(win32::to_wide(name).c_str(), win32::to_wide(value).c_str()))
        throw TError(win32::system_message(::GetLastError()));
}

std::optional<std::string> take_environment(const std::string& name) {
    const std::wstring wide_name = win32::to_wide(name);
    const DWORD size = ::GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::wstring value(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
    value.resize(length < size ? length : 0);
    ::SetEnvironmentVariableW(wide_name.c_str(), nullptr);
    return win32::from_wide(value);
}

}  // namespace qiv_start::platform
