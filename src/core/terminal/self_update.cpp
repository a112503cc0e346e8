#include "core/terminal/self_update.h"
#include "core/support/repository_names.h"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <vector>

#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/md5.h"
#include "core/terminal/file_version.h"
#include "platform/files.h"
#include "platform/process.h"

namespace qiv_start::core {
namespace {

const char* const kLockEnding = ".lock";
const char* const kAttemptsEnding = ".attempts";
constexpr std::chrono::milliseconds kRetryStep(150);

const char* const kNotAProgram =
    "Pobrany plik \"%0:s\" nie jest programem dla tego systemu; nie zostanie uruchomiony.";
const char* const kOlderVersion =
    "Opublikowany program ma starszą wersję (%0:s) niż uruchomiony (%1:s); nie zastąpi go.";
const char* const kNoVersion =
    "Opublikowany program nie ma informacji o wersji, a uruchomiony ma wersję %0:s; nie zastąpi "
    "go.";

std::optional<std::string> version_of(const std::string& path) {
    try {
        return get_file_version(path);
    } catch (const TError&) {
        return std::nullopt;
    }
}

// The numbers of a version text: runs of digits, whatever separates them.
std::vector<unsigned long> numbers_of(const std::string& text) {
    std::vector<unsigned long> numbers;
    std::size_t at = 0;
    while ((at = text.find_first_of("0123456789", at)) != std::string::npos) {
        const std::size_t end = std::min(text.find_first_not_of("0123456789", at), text.size());
        numbers.push_back(std::stoul(text.substr(at, std::min<std::size_t>(end - at, 9))));
        at = end;
    }
    return numbers;
}

// The digest and count of the record, or nothing when it is missing or unreadable.
std::optional<std::pair<std::string, int>> read_attempts(const std::string& path) {
    try {
        if (!platform::file_exists(path))
            return std::nullopt;
        std::istringstream record(platform::read_file(path));
        std::string digest;
        int count = 0;
        if (record >> digest >> count)
            return std::make_pair(digest, count);
    } catch (const TError&) {
    }
    return std::nullopt;
}

// The upgrade copy already in the launcher's place, from another copy that ran first.
bool already_installed(const std::string& own_path, const std::string& launcher_path) {
    return platform::file_exists(launcher_path) &&
           same_digest(get_file_md5(launcher_path), get_file_md5(own_path));
}

std::optional<std::string> upgrade_refusal(const std::string& own_path,
                                           const std::string& upgrade_path) {
    if (!platform::is_native_program(upgrade_path))
        return format(kNotAProgram, {upgrade_name()});
    const auto running = version_of(own_path);
    if (!running)
        return std::nullopt;
    const auto candidate = version_of(upgrade_path);
    if (!candidate)
        return format(kNoVersion, {*running});
    if (is_lower_version(*candidate, *running))
        return format(kOlderVersion, {*candidate, *running});
    return std::nullopt;
}

// One attempt under the lock; false when another launcher holds it.
bool try_install(const std::string& own_path, const TLauncherFiles& files) {
    platform::TFolderLock lock(files.lock);
    if (!lock.try_lock())
        return false;
    if (!already_installed(own_path, files.launcher)) {
        platform::write_file_atomic(files.launcher, platform::read_file(own_path),
                                    platform::TFileAccess::kProgram);
    }
    return true;
}

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
    const std::string upgrade_base = folder + kLauncherName + kUpgradeEnding;
    return {folder + published_launcher_name(), folder + upgrade_name(), upgrade_base + kLockEnding,
            upgrade_base + kAttemptsEnding};
}

std::optional<std::string> refuse_upgrade(const std::string& own_path,
                                          const std::string& upgrade_path) {
    auto refusal = upgrade_refusal(own_path, upgrade_path);
    if (refusal) {
        try {
            platform::delete_file(upgrade_path);
        } catch (const TError&) {
        }
    }
    return refusal;
}

bool is_lower_version(const std::string& candidate, const std::string& running) {
    std::vector<unsigned long> a = numbers_of(candidate);
    std::vector<unsigned long> b = numbers_of(running);
    if (a.empty() || b.empty())
        return a.empty() && !b.empty();
    const std::size_t length = std::max(a.size(), b.size());
    a.resize(length);
    b.resize(length);
    return a < b;
}

int update_attempts(const std::string& attempts_path, const std::string& published_md5) {
    const auto record = read_attempts(attempts_path);
    return record && same_digest(record->first, published_md5) ? record->second : 0;
}

// The record is the launcher's own: one that cannot be written leaves the count where it was.
void count_update_attempt(const std::string& attempts_path, const std::string& published_md5) {
    const int count = update_attempts(attempts_path, published_md5) + 1;
    try {
        platform::write_file_atomic(attempts_path,
                                    published_md5 + " " + std::to_string(count) + "\n");
    } catch (const TError&) {
    }
}

void forget_update_attempts(const std::string& attempts_path) {
    try {
        if (platform::file_exists(attempts_path))
            platform::delete_file(attempts_path);
    } catch (const TError&) {
    }
}

void install_upgrade(const std::string& own_path, const TLauncherFiles& files,
                     const TWaitStep& wait) {
    for (;;) {
        try {
            if (try_install(own_path, files))
                return;
        } catch (const TError&) {
            if (!wait(kRetryStep))
                throw;
            continue;
        }
        if (!wait(kRetryStep))
            throw TError("Inny program aktualizuje właśnie ten program.");
    }
}

// Under the lock, so that no launcher is between saving a copy and starting it.
void remove_leftover_upgrade(const TLauncherFiles& files) {
    try {
        if (!platform::file_exists(files.upgrade))
            return;
        platform::TFolderLock lock(files.lock);
        if (lock.try_lock() && !platform::is_program_running(files.upgrade))
            platform::delete_file(files.upgrade);
    } catch (const TError&) {
    }
}

}  // namespace qiv_start::core
