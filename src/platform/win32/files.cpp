#include "platform/files.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/files_backend.h"
#include "platform/win32/wide.h"

namespace qiv_start::platform {
namespace {

std::string describe(const std::string& what, const std::string& path, DWORD error) {
    return what + " \"" + path + "\": " + win32::system_message(error);
}

[[noreturn]] void fail(const std::string& what, const std::string& path, DWORD error) {
    throw TIoError(describe(what, path, error));
}

std::wstring wide(const std::string& path) {
    return win32::to_wide(path);
}

DWORD attributes_of(const std::string& path) {
    return ::GetFileAttributesW(wide(path).c_str());
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string directory_of(const std::string& path) {
    const auto separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

// A file in a missing folder fails with ERROR_PATH_NOT_FOUND, whatever kept the folder from being
// made: a read-only disk, no permission, a full disk. The system's refusal to make the first
// missing folder is then the reason worth reporting; the probe folder, should it be made, goes
// at once.
DWORD reason_for_missing_folder(const std::string& path, DWORD error) {
    if (error != ERROR_PATH_NOT_FOUND)
        return error;
    std::string missing;
    for (std::string folder = directory_of(path); !folder.empty() && folder != missing;
         folder = directory_of(folder)) {
        if (attributes_of(folder) != INVALID_FILE_ATTRIBUTES)
            break;
        const DWORD absent = ::GetLastError();
        if (absent != ERROR_FILE_NOT_FOUND && absent != ERROR_PATH_NOT_FOUND)
            break;
        missing = folder;
    }
    if (missing.empty())
        return error;
    if (!::CreateDirectoryW(wide(missing).c_str(), nullptr)) {
        const DWORD refusal = ::GetLastError();
        return refusal == ERROR_ALREADY_EXISTS ? error : refusal;
    }
    ::RemoveDirectoryW(wide(missing).c_str());
    return error;
}

[[noreturn]] void fail_to_create(const std::string& path, DWORD error) {
    fail("Cannot create file", path, reason_for_missing_folder(path, error));
}

HANDLE open_lock_file(const std::string& path, DWORD access, DWORD disposition) {
    return ::CreateFileW(wide(path).c_str(), access, kShareAll, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The largest piece that one ReadFile or WriteFile call takes.
DWORD chunk(std::size_t size) {
    return static_cast<DWORD>(std::min<std::size_t>(size, std::size_t{1} << 30));
}

void write_all(HANDLE handle, const char* data, std::size_t size, const std::string& path) {
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(handle, data, chunk(size), &written, nullptr)) {
            fail("Cannot write file", path, ::GetLastError());
        }
        data += written;
        size -= written;
    }
}

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

// A name beside the target that no other writer picks at the same time.
std::string temporary_name(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".part" + std::to_string(::GetCurrentProcessId()) + "_" +
           std::to_string(counter++);
}

}  // namespace

char path_separator() {
    return '\\';
}

bool file_exists(const std::string& path) {
    const DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool directory_exists(const std::string& path) {
    const DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool create_directories(const std::string& path) noexcept {
    try {
        if (path.empty())
            return false;
        // Parents first; the drive or share at the front cannot be created and needs not be, so
        // refusals on the way count only when the path itself is still missing at the end.
        for (std::size_t i = 1; i < path.size(); ++i) {
            if (is_separator(path[i]) && !is_separator(path[i - 1]) && path[i - 1] != ':') {
                ::CreateDirectoryW(wide(path.substr(0, i)).c_str(), nullptr);
            }
        }
        ::CreateDirectoryW(wide(path).c_str(), nullptr);
        return directory_exists(path);
    } catch (...) {
        return false;
    }
}

bool create_hard_link(const std::string& existing, const std::string& link) noexcept {
    try {
        return ::CreateHardLinkW(wide(link).c_str(), wide(existing).c_str(), nullptr) != 0;
    } catch (...) {
        return false;
    }
}

std::string full_path(const std::string& path) {
    const std::wstring name = wide(path);
    const DWORD size = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        fail("Cannot determine the full path of", path, ::GetLastError());
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(name.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        fail("Cannot determine the full path of", path, ::GetLastError());
    }
    full.resize(length);
    return win32::from_wide(full);
}

std::int64_t file_size(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow);
}

void delete_file(const std::string& path) {
    if (::DeleteFileW(wide(path).c_str()))
        return;
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        throw TFileInUseError(describe("Cannot delete file", path, error));
    }
    fail("Cannot delete file", path, error);
}

// A writer shares its temporary file with nobody: the system refuses to remove it meanwhile.
void remove_abandoned_temporary(const std::string& path) {
    delete_file(path);
}

// Opened for deletion and shared with nobody, as a replacement needs it, and let go at once.
void check_replaceable(const std::string& path) {
    const HANDLE handle = ::CreateFileW(wide(path).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        throw TFileInUseError(win32::system_message(error));
}

struct TFileReader::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string path;
};

// Others may read the file meanwhile but not write it.
TFileReader::TFileReader(const std::string& path) : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
    impl_->handle = ::CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (impl_->handle == INVALID_HANDLE_VALUE)
        fail("Cannot open file", path, ::GetLastError());
}

TFileReader::~TFileReader() {
    ::CloseHandle(impl_->handle);
}

std::size_t TFileReader::read(char* buffer, std::size_t size) {
    DWORD got = 0;
    if (!::ReadFile(impl_->handle, buffer, chunk(size), &got, nullptr)) {
        fail("Cannot read file", impl_->path, ::GetLastError());
    }
    return got;
}

void TFileReader::seek(std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) {
        fail("Cannot read file", impl_->path, ERROR_NEGATIVE_SEEK);
    }
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(impl_->handle, position, nullptr, FILE_BEGIN)) {
        fail("Cannot read file", impl_->path, ::GetLastError());
    }
}

std::vector<std::string> list_directory(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(wide(path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = win32::from_wide(found.cFileName);
        if (name != "." && name != "..")
            names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

// Windows has no flush of a whole volume for ordinary users: each file is flushed in turn.
void flush_files(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        const HANDLE handle =
            ::CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            fail("Cannot write file", path, ::GetLastError());
        const bool flushed = ::FlushFileBuffers(handle) != 0;
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        if (!flushed)
            fail("Cannot write file", path, error);
    }
}

struct TAtomicFileWriter::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string temporary;
    bool flushed = false;  // nothing written since the last flush
};

// Files take their folder's permissions on Windows, so both kinds of access are created alike;
// the per-user places the launcher writes to are private to the user already.
TAtomicFileWriter::TAtomicFileWriter(const std::string& path, TFileAccess /*access*/)
    : path_(path), impl_(std::make_unique<Impl>()) {
    for (;;) {
        impl_->temporary = temporary_name(path);
        impl_->handle = ::CreateFileW(wide(impl_->temporary).c_str(), GENERIC_WRITE | DELETE, 0,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (impl_->handle != INVALID_HANDLE_VALUE)
            return;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS)
            fail_to_create(path, error);
    }
}

// Not shared, as a new temporary file is not; a link in its place is opened as the link itself,
// which is no regular file and is refused.
TAtomicFileWriter::TAtomicFileWriter(const std::string& path, const TKeptTemporary& kept)
    : path_(path), impl_(std::make_unique<Impl>()) {
    impl_->temporary = kept.path;
    impl_->handle =
        ::CreateFileW(wide(kept.path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (impl_->handle == INVALID_HANDLE_VALUE)
        fail("Cannot write file", path, ::GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER none{};
    const bool plain =
        ::GetFileInformationByHandle(impl_->handle, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
    if (!plain || !::SetFilePointerEx(impl_->handle, none, nullptr, FILE_END)) {
        const DWORD error = plain ? ::GetLastError() : ERROR_INVALID_PARAMETER;
        ::CloseHandle(impl_->handle);
        impl_->handle = INVALID_HANDLE_VALUE;
        fail("Cannot write file", path, error);
    }
}

const std::string& TAtomicFileWriter::temporary() const {
    return impl_->temporary;
}

void TAtomicFileWriter::keep() {
    const HANDLE handle = impl_->handle;
    impl_->handle = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(handle))
        fail("Cannot write file", path_, ::GetLastError());
}

TAtomicFileWriter::~TAtomicFileWriter() {
    if (impl_->handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(impl_->handle);
        ::DeleteFileW(wide(impl_->temporary).c_str());
    }
}

void TAtomicFileWriter::write(const char* data, std::size_t size) {
    impl_->flushed = false;
    write_all(impl_->handle, data, size, path_);
}

void TAtomicFileWriter::truncate() {
    impl_->flushed = false;
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(impl_->handle, start, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(impl_->handle)) {
        fail("Cannot write file", path_, ::GetLastError());
    }
}

void TAtomicFileWriter::flush() {
    if (!::FlushFileBuffers(impl_->handle))
        fail("Cannot write file", path_, ::GetLastError());
    impl_->flushed = true;
}

namespace {

// The file of the open handle takes the full path target, replacing a file there. Through the
// handle, so that no other program (a virus scanner's sweep) can open the temporary file between
// the last write and the rename, as it could once the handle were closed.
bool rename_open_file(HANDLE handle, const std::wstring& target) {
    const std::size_t name_bytes = target.size() * sizeof(wchar_t);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(info->FileName, target.c_str(), name_bytes + sizeof(wchar_t));
    return ::SetFileInformationByHandle(handle, FileRenameInfo, info,
                                        static_cast<DWORD>(buffer.size())) != 0;
}

}  // namespace

// A flush with nothing written since spares the second one. A durable commit flushes again once
// renamed, so that the new name is on the disk too.
void TAtomicFileWriter::commit(TDurability durability) {
    if (durability == TDurability::kFlushed && !impl_->flushed)
        flush();
    const std::wstring target = wide(full_path(path_));
    const HANDLE handle = std::exchange(impl_->handle, INVALID_HANDLE_VALUE);
    if (!rename_open_file(handle, target)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        ::DeleteFileW(wide(impl_->temporary).c_str());
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
            throw TFileInUseError(win32::system_message(error));
        fail("Cannot write file", path_, error);
    }
    const bool flushed = durability != TDurability::kFlushed || ::FlushFileBuffers(handle);
    const DWORD flush_error = ::GetLastError();
    if (!::CloseHandle(handle))
        fail("Cannot write file", path_, ::GetLastError());
    if (!flushed)
        fail("Cannot write file", path_, flush_error);
}

struct TLogFile::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string path;
};

// Not shared: no other process may open the log while the run writes it.
TLogFile::TLogFile(const std::string& path) : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
    impl_->handle = ::CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (impl_->handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS)
            throw TFileExistsError("Cannot create file \"" + path +
                                   "\": " + win32::system_message(error));
        fail_to_create(path, error);
    }
}

TLogFile::~TLogFile() {
    ::CloseHandle(impl_->handle);
}

void TLogFile::write(const std::string& data) {
    write_all(impl_->handle, data.data(), data.size(), impl_->path);
}

// How long a waiting launcher sleeps between its attempts at the lock.
constexpr DWORD kLockRetryMilliseconds = 100;

struct TFolderLock::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string path;
    bool locked = false;

    // Every launcher opens the lock file shared and locks it with LockFileEx, which a handle for
    // reading allows as well: a lock file that another user made read-only to this one still
    // locks. A link in its place is opened itself, never followed. False while a launcher that
    // opens the file unshared holds it.
    bool open() {
        handle = open_lock_file(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
        DWORD error = ::GetLastError();
        if (handle == INVALID_HANDLE_VALUE && error == ERROR_ACCESS_DENIED) {
            handle = open_lock_file(path, GENERIC_READ, OPEN_EXISTING);
            if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION)
                error = ERROR_SHARING_VIOLATION;
        }
        if (handle != INVALID_HANDLE_VALUE)
            return true;
        if (error != ERROR_SHARING_VIOLATION)
            fail_to_create(path, error);
        return false;
    }
};

TFolderLock::TFolderLock(const std::string& lock_file) : impl_(std::make_unique<Impl>()) {
    impl_->path = lock_file;
}

TFolderLock::~TFolderLock() {
    if (impl_->handle == INVALID_HANDLE_VALUE)
        return;
    if (impl_->locked)
        ::UnlockFile(impl_->handle, 0, 0, 1, 0);
    ::CloseHandle(impl_->handle);
}

bool TFolderLock::try_lock() {
    if (impl_->locked)
        return true;
    if (impl_->handle == INVALID_HANDLE_VALUE && !impl_->open())
        return false;
    OVERLAPPED start{};
    if (::LockFileEx(impl_->handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                     &start)) {
        impl_->locked = true;
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_LOCK_VIOLATION)
        fail("Cannot lock file", impl_->path, error);
    return false;
}

void TFolderLock::lock() {
    while (!try_lock())
        ::Sleep(kLockRetryMilliseconds);
}

namespace backend {

bool entry_exists(const std::string& path) {
    return attributes_of(path) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> final_path(const std::string& path) {
    const HANDLE handle =
        ::CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    std::wstring name(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle, name.data(), MAX_PATH, kFlags);
    if (length >= MAX_PATH) {
        name.resize(length);
        length = ::GetFinalPathNameByHandleW(handle, name.data(), length, kFlags);
    }
    ::CloseHandle(handle);
    if (length == 0 || length >= name.size())
        return std::nullopt;
    name.resize(length);
    return win32::from_wide(name);
}

}  // namespace backend

}  // namespace qiv_start::platform
