// The launcher's own update. The outdated launcher fetches the published copy beside itself under
// the upgrade name and starts it; that copy puts its bytes in the launcher's place and starts the
// launcher again. The next ordinary start removes the copy, unless a program still runs from it.
// Launchers of one folder take these steps one at a time, under the update's lock file.
#pragma once

#include <optional>
#include <string>

#include "core/terminal/controller.h"

namespace qiv_start::core {

// The launcher's name and the upgrade copy's, with the platform's ending for programs.
std::string published_launcher_name();
std::string upgrade_name();

// The paths of the launcher, of its upgrade copy, of the lock file that the launchers updating it
// take, and of the record of the updates handed over to, all in the running executable's folder.
struct TLauncherFiles {
    std::string launcher;
    std::string upgrade;
    std::string lock;
    std::string attempts;
};
TLauncherFiles launcher_files(const std::string& executable_path);

// Why the copy at upgrade_path may not take the place of the running launcher at own_path, or
// nothing: it is no program of this system, or its version resource gives a lower version than
// the running launcher's, or it has none while the running launcher has one. Where the running
// launcher has none (Linux, a build without one), its digest and the release decide alone. A
// refused copy is removed.
std::optional<std::string> refuse_upgrade(const std::string& own_path,
                                          const std::string& upgrade_path);

// Whether the version text candidate (such as "2.1.0.7") is lower than running, number by
// number, missing numbers counting as 0. A text without numbers is lower than one with.
bool is_lower_version(const std::string& candidate, const std::string& running);

// How often the launcher handed over to an update to the published digest without the update
// taking its place; counting one more, and forgetting them all once the launcher is current.
int update_attempts(const std::string& attempts_path, const std::string& published_md5);
void count_update_attempt(const std::string& attempts_path, const std::string& published_md5);
void forget_update_attempts(const std::string& attempts_path);

// Run by the upgrade copy at own_path: puts its bytes in place of the launcher in one rename, so a
// kill leaves the old launcher or the new one; nothing when another copy did so already. Windows
// keeps a running program's file, so the replacement is tried again while the old launchers end,
// until wait gives up. Raises TError.
void install_upgrade(const std::string& own_path, const TLauncherFiles& files,
                     const TWaitStep& wait);

// Removes the copy an earlier update left; one that a program still runs from, or that cannot go
// yet, stays for a later start.
void remove_leftover_upgrade(const TLauncherFiles& files);

}  // namespace qiv_start::core
