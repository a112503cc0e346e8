#include "core/terminal/self_update.h"

#include <chrono>

#include "core/support/error.h"
#include "platform/files.h"
#include "platform/process.h"

namespace qiv_start::core {
namespace {

const char* const kLauncherName = "qiv_start_2";
const char* const kUpgradeEnding = "_upgr";
constexpr std::chrono::milliseconds kRetryStep(150);

}  // namespace

std::string published_launcher_name() {
    return kLauncherName + platform::executable_suffix();
}

std::string upgrade_name() {
    return std::string(kLauncherName) + kUpgradeEnding + platform::executable_suffix();
}

TLauncherFiles launcher_files(const std::string& executable_path) {
    const std::size_t separator = executable_path.find_last_of(platform::path_separator());
    const std::string folder =
        separator == std::string::npos ? std::string() : executable_path.substr(0, separator + 1);
    return {folder + published_launcher_name(), folder + upgrade_name()};
}

void install_upgrade(const std::string& own_path, const std::string& launcher_path,
                     const TWaitStep& wait) {
    const std::string bytes = platform::read_file(own_path);
    for (;;) {
        try {
            platform::write_file_atomic(launcher_path, bytes, platform::TFileAccess::kProgram);
            return;
        } catch (const TError&) {
            if (!wait(kRetryStep))
                throw;
        }
    }
}

void remove_leftover_upgrade(const std::string& upgrade_path) {
    try {
        if (platform::file_exists(upgrade_path))
            platform::delete_file(upgrade_path);
    } catch (const TError&) {
    }
}

}  // namespace qiv_start::core
