#include "core/terminal/seed.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/paths.h"
#include "core/support/repository_names.h"
#include "core/terminal/controller_prod.h"
#include "core/terminal/self_update.h"
#include "platform/files.h"
#include "platform/machine_settings.h"
#include "platform/user_folder.h"

namespace qiv_start::core {
namespace {

const char* const kCannotPrepare =
    "Nie można przygotować katalogu roboczego użytkownika %0:s: %1:s";
const char* const kNotWritable = "zapis w nim nie jest możliwy.";

std::string folder_of(const std::string& path) {
    const std::size_t separator = path.find_last_of(platform::path_separator());
    return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
}

// The number of a serial file, decimal digits and a line end; nothing when it is missing or
// holds anything else, which the floor then replaces.
std::optional<std::uint64_t> read_serial(const std::string& path) {
    if (!platform::file_exists(path))
        return std::nullopt;
    const std::string text = platform::read_file(path);
    std::uint64_t serial = 0;
    const char* const end = text.data() + text.size();
    const auto [last, failure] = std::from_chars(text.data(), end, serial);
    if (failure != std::errc() ||
        text.find_first_not_of("\r\n", last - text.data()) != std::string::npos)
        return std::nullopt;
    return serial;
}

std::uint64_t seed_floor(const std::string& seed_folder) {
    const auto machine = platform::read_machine_release_serial();
    const auto own = read_serial(join_path(seed_folder, kLocalReleaseSerial));
    return std::max(machine.value_or(0), own.value_or(0));
}

void copy_if_missing(const std::string& from, const std::string& to, platform::TFileAccess access) {
    if (!platform::file_exists(to) && platform::file_exists(from))
        platform::write_file_atomic(to, platform::read_file(from), access);
}

// A floor never lowers what the folder accepts already.
void raise_floor(const std::string& path, std::uint64_t floor) {
    if (floor > read_serial(path).value_or(0))
        platform::write_file_atomic(path, std::to_string(floor) + "\n");
}

TUserCopy prepare(const std::string& executable_path, const std::string& seed_folder,
                  const std::string& folder) {
    platform::create_private_folder(folder);
    // A copy in a folder that refuses it would be a seed again, and hand over to itself.
    if (!platform::can_write_folder(folder))
        throw TError(kNotWritable);
    const std::string settings = join_path(folder, kSettingsFolder);
    if (!platform::create_directories(settings))
        throw TIoError("Cannot create the folder \"" + settings + "\"");
    const TUserCopy copy{folder, join_path(folder, published_launcher_name())};
    copy_if_missing(executable_path, copy.launcher, platform::TFileAccess::kProgram);
    copy_if_missing(join_path(seed_folder, kLocalServerList), join_path(folder, kLocalServerList),
                    platform::TFileAccess::kDefault);
    raise_floor(join_path(folder, kLocalReleaseSerial), seed_floor(seed_folder));
    return copy;
}

}  // namespace

std::optional<TUserCopy> prepare_user_copy(const std::string& executable_path) {
    const std::string seed_folder = folder_of(executable_path);
    if (platform::can_write_folder(seed_folder))
        return std::nullopt;
    std::string folder;
    try {
        folder = platform::user_working_folder();
        return prepare(executable_path, seed_folder, folder);
    } catch (const TError& failure) {
        throw TError(format(kCannotPrepare, {folder, failure.what()}));
    }
}

}  // namespace qiv_start::core
