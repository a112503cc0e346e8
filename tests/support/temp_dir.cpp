#include "support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#ifndef _WIN32
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace qiv_start::test {

#ifdef _WIN32
// The user's temporary folder is private to the user already; a random name that nobody holds
// yet is enough.
TTempDir::TTempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto name = "qiv_test_" + std::to_string(random());
        const auto path = std::filesystem::temp_directory_path() / name;
        if (std::filesystem::create_directory(path)) {
            path_ = path;
            return;
        }
    }
    throw std::runtime_error("no temporary directory could be created");
}
#else
TTempDir::TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qiv_test_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}
#endif

std::string TTempDir::file(const std::string& name) const {
    const std::u8string path = (path_ / std::u8string(name.begin(), name.end())).u8string();
    return {path.begin(), path.end()};
}

TTempDir::~TTempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

TCurrentDir::TCurrentDir(const std::filesystem::path& directory)
    : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(directory);
}

TCurrentDir::~TCurrentDir() {
    std::filesystem::current_path(previous_);
}

bool make_folder_with_links(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    const fs::path outside = fs::path("..") / "poza";
    fs::create_directories(folder / "dane");
    write_bytes(folder / outside / "plik", "poza");
    std::error_code error;
    fs::create_directory_symlink(outside, folder / "out", error);
    if (!error)
        fs::create_symlink(outside / "plik", folder / "plik", error);
    if (!error)
        fs::create_directory_symlink("dane", folder / "wew", error);
    if (!error)
        fs::create_symlink(outside / "brak", folder / "pusty", error);
    return !error;
}

#ifdef _WIN32
TUnwritableFolder::TUnwritableFolder(std::filesystem::path folder) : folder_(std::move(folder)) {}
TUnwritableFolder::~TUnwritableFolder() = default;
#else
namespace {

bool set_immutable(const std::filesystem::path& folder, bool on) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

}  // namespace

TUnwritableFolder::TUnwritableFolder(std::filesystem::path folder) : folder_(std::move(folder)) {
    immutable_ = set_immutable(folder_, true);
    read_only_ = !immutable_ && ::geteuid() != 0;
    if (read_only_) {
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
    }
}

TUnwritableFolder::~TUnwritableFolder() {
    if (immutable_)
        set_immutable(folder_, false);
    if (read_only_) {
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
}
#endif

std::string read_bytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const std::filesystem::path& file, const std::string& bytes) {
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

}  // namespace qiv_start::test
