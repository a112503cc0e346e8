#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "platform/error.h"
#include "platform/files_backend.h"

namespace qiv_start::platform {
namespace {

std::string reason(int error_number) {
    return std::strerror(error_number);
}

[[noreturn]] void fail(const std::string& what, const std::string& path, int error_number) {
    throw TIoError(what + " \"" + path + "\": " + reason(error_number));
}

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A file in a missing folder fails with ENOENT, whatever kept the folder from being made: a
// read-only disk, no permission, a full disk. The system's refusal to make the first missing
// folder is then the reason worth reporting; the probe folder, should it be made, goes at once.
int reason_for_missing_folder(const std::string& path, int error_number) {
    if (error_number != ENOENT)
        return error_number;
    std::string missing;
    struct stat info {};
    for (std::string folder = directory_of(path); folder != missing;
         folder = directory_of(folder)) {
        if (::lstat(folder.c_str(), &info) == 0 || errno != ENOENT)
            break;
        missing = folder;
    }
    if (missing.empty())
        return ENOENT;
    if (::mkdir(missing.c_str(), 0700) != 0)
        return errno == EEXIST ? ENOENT : errno;
    ::rmdir(missing.c_str());
    return ENOENT;
}

[[noreturn]] void fail_to_create(const std::string& path, int error_number) {
    fail("Cannot create file", path, reason_for_missing_folder(path, error_number));
}

// Every user of the folder must be able to open the lock file, so a new one is readable by all
// whatever the file-creation mask; writing it stays as the mask allows.
int create_lock_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0)
        ::fchmod(fd, (info.st_mode & 0666) | 0444);
    return fd;
}

// A lock file that another user made may be read-only to this one; flock needs no more than a
// read descriptor. A link in its place is not followed: nothing is created or opened elsewhere.
int open_lock_file(const std::string& path) {
    int fd = create_lock_file(path);
    if (fd >= 0)
        return fd;
    if (errno != EEXIST)
        fail_to_create(path, errno);
    fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    const int error_number = errno;
    if (fd < 0 && (error_number == EACCES || error_number == EROFS))
        fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        fail("Cannot open file", path, error_number);
    return fd;
}

void write_all(int fd, const char* data, std::size_t size, const std::string& path) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail("Cannot write file", path, errno);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// Makes a rename durable by flushing the directory entry as well.
void sync_directory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

char path_separator() {
    return '/';
}

bool file_exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool directory_exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool create_directories(const std::string& path) noexcept {
    if (path.empty() || directory_exists(path))
        return !path.empty();
    std::string prefix;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const auto end = slash == std::string::npos ? path.size() : slash;
        prefix = path.substr(0, end);
        if (!prefix.empty() && !directory_exists(prefix) && ::mkdir(prefix.c_str(), 0777) != 0 &&
            errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return directory_exists(path);
}

bool create_hard_link(const std::string& existing, const std::string& link) noexcept {
    return ::link(existing.c_str(), link.c_str()) == 0;
}

std::string full_path(const std::string& path) {
    if (!path.empty() && path.front() == '/')
        return path;
    std::string directory(256, '\0');
    while (::getcwd(directory.data(), directory.size()) == nullptr) {
        if (errno != ERANGE) {
            throw TIoError("Cannot determine the current directory: " + reason(errno));
        }
        directory.resize(directory.size() * 2);
    }
    directory.resize(std::strlen(directory.c_str()));
    if (directory.back() != '/')
        directory += '/';
    return directory + path;
}

std::int64_t file_size(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        return -1;
    return static_cast<std::int64_t>(info.st_size);
}

void delete_file(const std::string& path) {
    if (::unlink(path.c_str()) != 0)
        fail("Cannot delete file", path, errno);
}

// A writer holds its temporary file locked until it is renamed into place (see hold_temporary).
void remove_abandoned_temporary(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        fail("Cannot delete file", path, errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        throw TFileInUseError("Cannot delete file \"" + path + "\": " + reason(EBUSY));
    }
    const int result = ::unlink(path.c_str());
    const int error_number = errno;
    ::close(fd);
    if (result != 0)
        fail("Cannot delete file", path, error_number);
}

void check_replaceable(const std::string& /*path*/) {}

std::vector<std::string> list_directory(const std::string& path) {
    std::vector<std::string> names;
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr)
        return names;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(directory);
    return names;
}

// One flush of the whole file system that holds the files, instead of one per file.
void flush_files(const std::vector<std::string>& paths) {
    if (paths.empty())
        return;
    const int fd = ::open(paths.front().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail("Cannot write file", paths.front(), errno);
    const int result = ::syncfs(fd);
    const int error_number = errno;
    ::close(fd);
    if (result != 0)
        fail("Cannot write file", paths.front(), error_number);
}

struct TFileReader::Impl {
    int fd = -1;
    std::string path;
};

TFileReader::TFileReader(const std::string& path) : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
    impl_->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (impl_->fd < 0)
        fail("Cannot open file", path, errno);
    struct stat info {};
    if (::fstat(impl_->fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(impl_->fd);
        fail("Cannot open file", path, EISDIR);
    }
    ::posix_fadvise(impl_->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

TFileReader::~TFileReader() {
    ::close(impl_->fd);
}

std::size_t TFileReader::read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(impl_->fd, buffer, size);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            fail("Cannot read file", impl_->path, errno);
    }
}

void TFileReader::seek(std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        fail("Cannot read file", impl_->path, EINVAL);
    }
    if (::lseek(impl_->fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        fail("Cannot read file", impl_->path, errno);
    }
}

struct TAtomicFileWriter::Impl {
    int fd = -1;
    std::string temporary;
    bool flushed = false;  // nothing written since the last flush
};

namespace {

// A writer keeps its temporary file locked until the rename, so that a launcher sweeping the
// folder for a killed run's leftovers never removes a file that is being written. One that a
// sweep holds or has removed before the lock was taken is lost to the writer: false. A file
// system without locks leaves the file unguarded, as it leaves the folder unlocked.
bool hold_temporary(int fd, const std::string& temporary) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return false;
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(temporary.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

TAtomicFileWriter::TAtomicFileWriter(const std::string& path, TFileAccess access)
    : path_(path), impl_(std::make_unique<Impl>()) {
    // The system applies the process's file-creation mask to the mode, as for any new file.
    const mode_t mode = access == TFileAccess::kOwnerOnly ? 0600
                        : access == TFileAccess::kProgram ? 0777
                                                          : 0666;
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; impl_->fd < 0; ++attempt) {
        impl_->temporary = path + ".part" + std::to_string(random() % 1000000000);
        impl_->fd = ::open(impl_->temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (impl_->fd < 0 && (errno != EEXIST || attempt == 100))
            fail_to_create(path, errno);
        if (impl_->fd >= 0 && !hold_temporary(impl_->fd, impl_->temporary)) {
            ::close(impl_->fd);
            impl_->fd = -1;
        }
    }
}

TAtomicFileWriter::TAtomicFileWriter(const std::string& path, const TKeptTemporary& kept)
    : path_(path), impl_(std::make_unique<Impl>()) {
    impl_->temporary = kept.path;
    impl_->fd = ::open(kept.path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (impl_->fd < 0)
        fail("Cannot write file", path, errno);
    struct stat info {};
    const int refusal = ::fstat(impl_->fd, &info) != 0 || !S_ISREG(info.st_mode) ? EINVAL
                        : !hold_temporary(impl_->fd, kept.path)                  ? ENOENT
                                                                                 : 0;
    if (refusal != 0) {
        ::close(impl_->fd);
        impl_->fd = -1;
        fail("Cannot write file", path, refusal);
    }
}

const std::string& TAtomicFileWriter::temporary() const {
    return impl_->temporary;
}

void TAtomicFileWriter::keep() {
    const int fd = impl_->fd;
    impl_->fd = -1;
    if (::close(fd) != 0)
        fail("Cannot write file", path_, errno);
}

TAtomicFileWriter::~TAtomicFileWriter() {
    if (impl_->fd >= 0) {
        ::unlink(impl_->temporary.c_str());
        ::close(impl_->fd);
    }
}

void TAtomicFileWriter::write(const char* data, std::size_t size) {
    impl_->flushed = false;
    write_all(impl_->fd, data, size, path_);
}

void TAtomicFileWriter::truncate() {
    impl_->flushed = false;
    if (::ftruncate(impl_->fd, 0) != 0 || ::lseek(impl_->fd, 0, SEEK_SET) != 0) {
        fail("Cannot write file", path_, errno);
    }
}

void TAtomicFileWriter::flush() {
    if (::fsync(impl_->fd) != 0)
        fail("Cannot write file", path_, errno);
    impl_->flushed = true;
}

// A flush with nothing written since spares the second one: each costs a disk cache flush. The
// rename comes before the close, which would let go of the temporary file's lock.
void TAtomicFileWriter::commit(TDurability durability) {
    if (durability == TDurability::kFlushed && !impl_->flushed)
        flush();
    const int fd = std::exchange(impl_->fd, -1);
    if (::rename(impl_->temporary.c_str(), path_.c_str()) != 0) {
        const int error_number = errno;
        ::unlink(impl_->temporary.c_str());
        ::close(fd);
        fail("Cannot write file", path_, error_number);
    }
    if (::close(fd) != 0)
        fail("Cannot write file", path_, errno);
    if (durability == TDurability::kFlushed)
        sync_directory(directory_of(path_));
}

struct TLogFile::Impl {
    int fd = -1;
    std::string path;
};

TLogFile::TLogFile(const std::string& path) : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
    impl_->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (impl_->fd < 0 && errno == EEXIST)
        throw TFileExistsError("Cannot create file \"" + path + "\": " + reason(EEXIST));
    if (impl_->fd < 0)
        fail_to_create(path, errno);
}

TLogFile::~TLogFile() {
    ::close(impl_->fd);
}

void TLogFile::write(const std::string& data) {
    write_all(impl_->fd, data.data(), data.size(), impl_->path);
}

struct TFolderLock::Impl {
    int fd = -1;
    std::string path;
};

TFolderLock::TFolderLock(const std::string& lock_file) : impl_(std::make_unique<Impl>()) {
    impl_->path = lock_file;
    impl_->fd = open_lock_file(lock_file);
}

// Closing the descriptor releases the lock.
TFolderLock::~TFolderLock() {
    ::close(impl_->fd);
}

bool TFolderLock::try_lock() {
    while (::flock(impl_->fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return false;
        if (errno != EINTR)
            fail("Cannot lock file", impl_->path, errno);
    }
    return true;
}

void TFolderLock::lock() {
    while (::flock(impl_->fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            fail("Cannot lock file", impl_->path, errno);
    }
}

namespace backend {

bool entry_exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::optional<std::string> final_path(const std::string& path) {
    char* const resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return std::nullopt;
    std::string result = resolved;
    std::free(resolved);
    return result;
}

}  // namespace backend

}  // namespace qiv_start::platform
