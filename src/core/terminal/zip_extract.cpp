#include "core/terminal/zip_extract.h"

#include <zip.h>

#include <algorithm>
#include <limits>
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
const char* const kTooManyMembers =
    "Archiwum \"%0:s\" zawiera zbyt wiele plików: %1:d (dopuszczalne %2:d).";
const char* const kTooLarge =
    "Archiwum \"%0:s\" po rozpakowaniu zajęłoby %1:d bajtów (dopuszczalne %2:d).";
const char* const kLargerThanRecorded =
    "Archiwum \"%0:s\": plik \"%1:s\" po rozpakowaniu jest większy niż zapisany w archiwum "
    "rozmiar %2:d bajtów.";

// Unix file modes as zip archives record them in the high half of the external attributes.
constexpr zip_uint32_t kTypeMask = 0170000;
constexpr zip_uint32_t kSymbolicLinkType = 0120000;
constexpr zip_uint32_t kPermissionMask = 0777;

constexpr std::size_t kBlockSize = 64 * 1024;

using TArchive = std::unique_ptr<zip_t, decltype(&::zip_discard)>;
using TMemberFile = std::unique_ptr<zip_file_t, decltype(&::zip_fclose)>;

struct TMember {
    std::string name;       // decoded, backslashes turned into '/'
    std::string inside;     // the name resolved inside the target, in native form
    zip_uint32_t mode = 0;  // Unix mode when the archive records one, else 0
    zip_uint64_t size = 0;  // uncompressed size as the archive records it
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

TMember read_member(zip_t* archive, zip_uint64_t index, const std::string& archive_path) {
    const char* name = ::zip_get_name(archive, index, ZIP_FL_ENC_STRICT);
    if (name == nullptr)
        throw TError(format(kCannotRead, {archive_path, ::zip_strerror(archive)}));
    TMember member{name, {}, 0, 0};
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
    // No absolute path, drive letter or ".." that climbs out may take a member out of the target.
    const auto inside = resolve_lexically(member.name);
    if (!inside || member.name.empty())
        throw TError(format(kOutsideTarget, {archive_path, name}));
    member.inside = *inside;
    if ((member.mode & kTypeMask) == kSymbolicLinkType) {
        throw TError(format(kSymbolicLink, {archive_path, name}));
    }
    return member;
}

zip_stat_t stat_member(zip_t* archive, zip_uint64_t index, const std::string& archive_path) {
    zip_stat_t stat;
    ::zip_stat_init(&stat);
    if (::zip_stat_index(archive, index, 0, &stat) != 0) {
        throw TError(format(kCannotRead, {archive_path, ::zip_strerror(archive)}));
    }
    return stat;
}

void check_method(zip_t* archive, zip_uint64_t index, const TMember& member,
                  const std::string& archive_path) {
    const zip_stat_t stat = stat_member(archive, index, archive_path);
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

// Member names use '/', the target folder the platform's own separator.
void parent_directories(const std::string& path) {
    const char separators[] = {'/', platform::path_separator(), '\0'};
    const auto separator = path.find_last_of(separators);
    // A parent that cannot be created shows as the failure to create the file in it.
    if (separator != std::string::npos && separator > 0) {
        platform::create_directories(path.substr(0, separator));
    }
}

// Committed without a flush of its own: the archive's files are flushed together at the end.
void write_member(zip_t* archive, zip_uint64_t index, const TMember& member,
                  const std::string& path, const std::string& archive_path) {
    parent_directories(path);
    const TMemberFile file(::zip_fopen_index(archive, index, 0), &::zip_fclose);
    if (!file)
        throw TError(format(kCannotRead, {archive_path, ::zip_strerror(archive)}));
    platform::TAtomicFileWriter writer(path);
    std::vector<char> block(kBlockSize);
    zip_int64_t count = 0;
    // The ceilings count the sizes the archive records, so a member may not unpack past its own.
    zip_uint64_t left = member.size;
    while ((count = ::zip_fread(file.get(), block.data(), block.size())) > 0) {
        if (static_cast<zip_uint64_t>(count) > left) {
            throw TError(format(kLargerThanRecorded, {archive_path, member.name,
                                                      static_cast<std::int64_t>(member.size)}));
        }
        left -= static_cast<zip_uint64_t>(count);
        writer.write(block.data(), static_cast<std::size_t>(count));
    }
    if (count < 0) {
        throw TError(format(kCannotRead, {archive_path, ::zip_file_strerror(file.get())}));
    }
    writer.commit(platform::TDurability::kDeferred);
    const zip_uint32_t permissions = member.mode & kPermissionMask;
    if (permissions != 0)
        platform::set_permissions(path, permissions);
}

// Every name and the sizes are checked before anything is written, so a refused archive changes
// nothing.
std::vector<TMember> read_members(zip_t* archive, const std::string& archive_path,
                                  const TArchiveLimits& limits) {
    const auto count =
        static_cast<zip_uint64_t>(std::max<zip_int64_t>(0, ::zip_get_num_entries(archive, 0)));
    if (count > limits.max_members) {
        throw TError(format(kTooManyMembers, {archive_path, static_cast<std::int64_t>(count),
                                              static_cast<std::int64_t>(limits.max_members)}));
    }
    std::vector<TMember> members;
    zip_uint64_t total = 0;
    for (zip_uint64_t index = 0; index < count; ++index) {
        TMember member = read_member(archive, index, archive_path);
        const zip_stat_t stat = stat_member(archive, index, archive_path);
        member.size = (stat.valid & ZIP_STAT_SIZE) != 0 ? stat.size : 0;
        if (member.size > limits.max_uncompressed_size - total) {
            const zip_uint64_t claimed = std::min<zip_uint64_t>(
                member.size, std::numeric_limits<std::int64_t>::max() - total);
            throw TError(
                format(kTooLarge, {archive_path, static_cast<std::int64_t>(total + claimed),
                                   static_cast<std::int64_t>(limits.max_uncompressed_size)}));
        }
        total += member.size;
        members.push_back(std::move(member));
    }
    return members;
}

}  // namespace

void check_archive(const std::string& archive_path) {
    const TArchive archive = open_archive(archive_path);
    const std::vector<TMember> members = read_members(archive.get(), archive_path, {});
    for (zip_uint64_t index = 0; index < members.size(); ++index) {
        if (members[index].name.back() != '/')
            check_method(archive.get(), index, members[index], archive_path);
    }
}

void extract_missing_members(const std::string& archive_path, const std::string& target_path,
                             const TArchiveLimits& limits) {
    const TArchive archive = open_archive(archive_path);
    const std::vector<TMember> members = read_members(archive.get(), archive_path, limits);
    // Nor may a link that the target holds already; all are checked before anything is written.
    for (const TMember& member : members) {
        if (!platform::stays_inside(target_path, member.inside))
            throw TError(format(kOutsideTarget, {archive_path, member.name}));
    }
    std::vector<std::string> written;
    for (zip_uint64_t index = 0; index < members.size(); ++index) {
        const TMember& member = members[index];
        if (member.inside.empty())
            continue;  // the target itself
        const std::string path = join_path(target_path, member.inside);
        if (member.name.back() == '/') {
            if (!platform::directory_exists(path))
                create_directory(path);
        } else if (!platform::file_exists(path)) {
            check_method(archive.get(), index, member, archive_path);
            write_member(archive.get(), index, member, path, archive_path);
            written.push_back(path);
        }
    }
    platform::flush_files(written);
}

std::vector<std::string> member_files(const std::string& archive_path,
                                      const std::string& target_path) {
    const TArchive archive = open_archive(archive_path);
    std::vector<std::string> files;
    for (const TMember& member : read_members(archive.get(), archive_path, {})) {
        if (!member.inside.empty() && member.name.back() != '/')
            files.push_back(join_path(target_path, member.inside));
    }
    return files;
}

}  // namespace qiv_start::core
