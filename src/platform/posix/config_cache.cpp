// The cache is the file QIV/QIV_START/version_file in the user's configuration directory, readable
// by the user alone.
#include "platform/config_cache.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/error.h"
#include "platform/files.h"

namespace qiv_start::platform {
namespace {

const char* const kCacheDirectory = "QIV/QIV_START";
const char* const kCacheFile = "version_file";

[[noreturn]] void fail(const std::string& what, const std::string& path, int error_number) {
    throw TIoError(what + " \"" + path + "\": " + std::strerror(error_number));
}

std::string home_directory() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    const passwd* user = ::getpwuid(::getuid());
    if (user && user->pw_dir)
        return user->pw_dir;
    throw TIoError("Cannot find the home directory for the configuration cache");
}

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::string config_home() {
    const char* configured = std::getenv("XDG_CONFIG_HOME");
    if (configured && configured[0] == '/')
        return configured;
    return home_directory() + "/.config";
}

std::string cache_directory() {
    return config_home() + "/" + kCacheDirectory;
}

std::string cache_path() {
    return cache_directory() + "/" + kCacheFile;
}

// Creates the missing directories of path for the user alone.
void create_private_directories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (!directory_exists(prefix) && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            fail("Cannot create directory", prefix, errno);
        }
        if (slash == std::string::npos)
            return;
    }
}

void write_all(int fd, const std::string& text, const std::string& path) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail("Cannot write file", path, errno);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

// A temporary file of mode 0600 beside the target; removed again unless committed.
class TPrivateTemporaryFile {
  public:
    explicit TPrivateTemporaryFile(const std::string& target) : name_(target + ".partXXXXXX") {
        fd_ = ::mkostemp(name_.data(), O_CLOEXEC);
        if (fd_ < 0)
            fail("Cannot create file", target, errno);
    }
    ~TPrivateTemporaryFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!committed_)
            ::unlink(name_.c_str());
    }
    TPrivateTemporaryFile(const TPrivateTemporaryFile&) = delete;
    TPrivateTemporaryFile& operator=(const TPrivateTemporaryFile&) = delete;

    void write(const std::string& text, const std::string& target) { write_all(fd_, text, target); }

    // Flushes the content to disk and renames it over the target.
    void commit(const std::string& target) {
        if (::fchmod(fd_, 0600) != 0 || ::fsync(fd_) != 0)
            fail("Cannot write file", target, errno);
        const int closed = ::close(fd_);
        fd_ = -1;
        if (closed != 0)
            fail("Cannot write file", target, errno);
        if (::rename(name_.c_str(), target.c_str()) != 0)
            fail("Cannot write file", target, errno);
        committed_ = true;
    }

  private:
    std::string name_;
    int fd_ = -1;
    bool committed_ = false;
};

void sync_directory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::optional<std::string> read_version_file() {
    const std::string path = cache_path();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        fail("Cannot read file", path, errno);
    }
    return read_file(path);
}

void write_version_file(const std::string& text) {
    const std::string directory = cache_directory();
    const std::string path = cache_path();
    create_private_directories(directory);
    TPrivateTemporaryFile file(path);
    file.write(text, path);
    file.commit(path);
    sync_directory(directory);
}

}  // namespace qiv_start::platform
