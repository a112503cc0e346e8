#include "core/terminal/zip_extract.h"

#include <zip.h>

#include <cctype>
#include <memory>
#include <vector>

#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/paths.h"
#include "platform/files.h"

namespace qiv_start::core {
namespace {

const char* const kCannotOpen = "Nie można otworzyć archiwum \"%0:s\": %1:s";
const char* const kCannotRead = "Błąd odczytu archiwum \"%0:s\": %1:s";
const char* const kOutsideTarget =
    "Archiwum \"%0:s\" zawiera plik \"%1:s\" spoza katalogu docelowego.";
const char* const kSymbolicLink = "Archiwum \"%0:s\" zawiera dowiązanie symboliczne \"%1:s\".";
const char* const kUnsupportedMethod =
    "Archiwum \"%0:s\": plik \"%1:s\" jest skompresowany nieobsługiwaną metodą %2:d.";
const char* const kCannotCreateDirectory = "Nie można utworzyć katalogu \"%0:s\".";

// Unix file modes as zip archives record them in the high half of the external attributes.
constexpr zip_uint32_t kTypeMask = 0170000;
constexpr zip_uint32_t kSymbolicLinkType = 0120000;
constexpr zip_uint32_t kPermissionMask = 0777;

constexpr std::size_t kBlockSize = 64 * 1024;

using TArchive = std::unique_ptr<zip_t, decltype(&::zip_discard)>;
using TMemberFile = std::unique_ptr<zip_file_t, decltype(&::zip_fclose)>;

struct TMember {
    std::string name;       // decoded, backslashes turned into '/'
    zip_uint32_t mode = 0;  // Unix mode when the archive records one, else 0
};

TArchive open_archive(const std::string& path) {
    int code = 0;
    zip_t* archive = ::zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (archive == nullptr) {
        zip_error_t error;
        ::zip_error_init_with_code(&error, code);
        const std::string reason = ::zip_error_strerror(&error);
        ::zip_error_fini(&error);
        throw TError(format(kCannotOpen, {path, reason}));
    }
    return TArchive(archive, &::zip_discard);
}

// No absolute path, drive letter or ".." component may take a member out of the target.
bool stays_inside(const std::string& name) {
    if (name.empty() || name.front() == '/')
        return false;
    if (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':') {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        const auto slash = name.find('/', start);
        const auto end = slash == std::string::npos ? name.size() : slash;
        if (name.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

TMember read_member(zip_t* archive, zip_uint64_t index, const std::string& archive_path) {
    const char* name = ::zip_get_name(archive, index, ZIP_FL_ENC_STRICT);
    if (name == nullptr)
        throw TError(format(kCannotRead, {archive_path, ::zip_strerror(archive)}));
    TMember member{name, 0};
    for (char& c : member.name) {
        if (c == '\\')
            c = '/';
    }
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (::zip_file_get_external_attributes(archive, index, 0, &system, &attributes) == 0 &&
        system == ZIP_OPSYS_UNIX) {
        member.mode = attributes >> 16;
    }
    if (!stays_inside(member.name))
        throw TError(format(kOutsideTarget, {archive_path, name}));
    if ((member.mode & kTypeMask) == kSymbolicLinkType) {
        throw TError(format(kSymbolicLink, {archive_path, name}));
    }
    return member;
}

void check_method(zip_t* archive, zip_uint64_t index, const TMember& member,
                  const std::string& archive_path) {
    zip_stat_t stat;
    ::zip_stat_init(&stat);
    if (::zip_stat_index(archive, index, 0, &stat) != 0) {
        throw TError(format(kCannotRead, {archive_path, ::zip_strerror(archive)}));
    }
    const bool known = (stat.valid & ZIP_STAT_COMP_METHOD) != 0;
    if (known && stat.comp_method != ZIP_CM_STORE && stat.comp_method != ZIP_CM_DEFLATE) {
        throw TError(
            format(kUnsupportedMethod, {archive_path, member.name, int{stat.comp_method}}));
    }
}

void create_directory(const std::string& path) {
    if (!platform::create_directories(path))
        throw TIoError(format(kCannotCreateDirectory, {path}));
}

void parent_directories(const std::string& path) {
    const auto separator = path.rfind(platform::path_separator());
    // A parent that cannot be created shows as the failure to create the file in it.
    if (separator != std::string::npos && separator > 0) {
        platform::create_directories(path.substr(0, separator));
    }
}

void write_member(zip_t* archive, zip_uint64_t index, const TMember& member,
                  const std::string& path, const std::string& archive_path) {
    parent_directories(path);
    const TMemberFile file(::zip_fopen_index(archive, index, 0), &::zip_fclose);
    if (!file)
        throw TError(format(kCannotRead, {archive_path, ::zip_strerror(archive)}));
    platform::TAtomicFileWriter writer(path);
    std::vector<char> block(kBlockSize);
    zip_int64_t count = 0;
    while ((count = ::zip_fread(file.get(), block.data(), block.size())) > 0) {
        writer.write(block.data(), static_cast<std::size_t>(count));
    }
    if (count < 0) {
        throw TError(format(kCannotRead, {archive_path, ::zip_file_strerror(file.get())}));
    }
    writer.commit();
    const zip_uint32_t permissions = member.mode & kPermissionMask;
    if (permissions != 0)
        platform::set_permissions(path, permissions);
}

std::vector<TMember> read_members(zip_t* archive, const std::string& archive_path) {
    const zip_int64_t count = ::zip_get_num_entries(archive, 0);
    std::vector<TMember> members;
    for (zip_uint64_t index = 0; index < static_cast<zip_uint64_t>(count); ++index) {
        members.push_back(read_member(archive, index, archive_path));
    }
    return members;
}

}  // namespace

void check_archive(const std::string& archive_path) {
    const TArchive archive = open_archive(archive_path);
    const std::vector<TMember> members = read_members(archive.get(), archive_path);
    for (zip_uint64_t index = 0; index < members.size(); ++index) {
        if (members[index].name.back() != '/')
            check_method(archive.get(), index, members[index], archive_path);
    }
}

void extract_missing_members(const std::string& archive_path, const std::string& target_path) {
    const TArchive archive = open_archive(archive_path);
    // Every name is checked before anything is written, so a refused archive changes nothing.
    const std::vector<TMember> members = read_members(archive.get(), archive_path);
    for (zip_uint64_t index = 0; index < members.size(); ++index) {
        const TMember& member = members[index];
        const std::string path = join_path(target_path, member.name);
        if (member.name.back() == '/') {
            if (!platform::directory_exists(path))
                create_directory(path);
        } else if (!platform::file_exists(path)) {
            check_method(archive.get(), index, member, archive_path);
            write_member(archive.get(), index, member, path, archive_path);
        }
    }
}

}  // namespace qiv_start::core
