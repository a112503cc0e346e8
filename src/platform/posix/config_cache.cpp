// The cache is the file QIV/QIV_START/version_file in the user's configuration directory, readable
// by the user alone; a signed launcher's is version_file.signed beside it.
#include "platform/config_cache.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/config_cache_backend.h"
#include "platform/error.h"
#include "platform/files.h"

namespace qiv_start::platform {
namespace {

const char* const kCacheDirectory = "QIV/QIV_START";
const char* const kCacheFile = "version_file";
const char* const kReleaseFile = "version_file.release";
const char* const kSerialFile = "release_serial";
const char* const kSignedFile = "version_file.signed";
// The names that config_cache_common.cpp keeps its values under.
const char* const kWorkstationFile = "workstation";
const char* const kSequenceFile = "report_sequence";
const char* const kUnsentFile = "unsent_reports";

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

std::string cache_path(const char* name = kCacheFile) {
    return cache_directory() + "/" + name;
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

std::optional<std::string> read_cache_file(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        fail("Cannot read file", path, errno);
    }
    return read_file(path);
}

bool is_cache_temporary(const std::string& entry) {
    for (const char* name : {kCacheFile, kReleaseFile, kSerialFile, kSignedFile, kWorkstationFile,
                             kSequenceFile, kUnsentFile}) {
        if (is_temporary_name_of(name, entry))
            return true;
    }
    return false;
}

// The temporary files that killed writers left; one that another launcher still writes is held
// by its writer and stays, as does one that cannot be removed.
void remove_abandoned_temporaries() {
    const std::string directory = cache_directory();
    for (const std::string& entry : list_directory(directory)) {
        if (!is_cache_temporary(entry))
            continue;
        try {
            remove_abandoned_temporary(directory + "/" + entry);
        } catch (const TIoError&) {
        }
    }
}

void write_cache_file(const std::string& path, const std::string& bytes) {
    create_private_directories(cache_directory());
    remove_abandoned_temporaries();
    write_file_atomic(path, bytes, TFileAccess::kOwnerOnly);
}

}  // namespace

std::optional<std::string> read_version_file() {
    return read_cache_file(cache_path());
}

void write_version_file(const std::string& text) {
    write_cache_file(cache_path(), text);
}

// The pair of files that earlier versions kept is read while there is no signed file.
std::optional<TSignedDocument> read_signed_version_file() {
    if (const auto unit = read_cache_file(cache_path(kSignedFile)))
        return backend::from_signed_unit(*unit);
    auto release = read_cache_file(cache_path(kReleaseFile));
    if (!release)
        return std::nullopt;
    auto bytes = read_cache_file(cache_path());
    if (!bytes)
        return std::nullopt;
    return TSignedDocument{std::move(*bytes), std::move(*release)};
}

void write_signed_version_file(const TSignedDocument& document) {
    write_cache_file(cache_path(kSignedFile), backend::signed_unit(document));
}

// The number in decimal digits and a line end, so that the file reads well.
std::uint64_t read_release_serial() {
    const std::string path = cache_path(kSerialFile);
    const auto text = read_cache_file(path);
    if (!text)
        return 0;
    std::uint64_t serial = 0;
    const char* const end = text->data() + text->size();
    const auto [last, failure] = std::from_chars(text->data(), end, serial);
    if (failure != std::errc() || text->empty() || std::string_view(last, end - last) != "\n")
        throw TIoError("Not a release serial number in \"" + path + "\"");
    return serial;
}

void write_release_serial(std::uint64_t serial) {
    write_cache_file(cache_path(kSerialFile), std::to_string(serial) + "\n");
}

namespace backend {

std::optional<std::string> read_cache_value(const char* name) {
    return read_cache_file(cache_path(name));
}

void write_cache_value(const char* name, const std::string& text) {
    write_cache_file(cache_path(name), text);
}

}  // namespace backend
}  // namespace qiv_start::platform
