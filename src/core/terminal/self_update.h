// The launcher's own update. The outdated launcher fetches the published copy beside itself under
// the upgrade name and starts it; that copy puts its bytes in the launcher's place and starts the
// launcher again. The next ordinary start removes the copy.
#pragma once

#include <string>

#include "core/terminal/controller.h"

namespace qiv_start::core {

// The launcher's name and the upgrade copy's, with the platform's ending for programs.
std::string published_launcher_name();
std::string upgrade_name();

// The paths of the launcher and of its upgrade copy, both in the running executable's folder.
struct TLauncherFiles {
    std::string launcher;
    std::string upgrade;
};
TLauncherFiles launcher_files(const std::string& executable_path);

// Run by the upgrade copy at own_path: puts its bytes in place of the launcher in one rename, so a
// kill leaves the old launcher or the new one. Windows keeps a running program's file, so the
// replacement is tried again while the old launcher ends, until wait gives up. Raises TError.
void install_upgrade(const std::string& own_path, const std::string& launcher_path,
                     const TWaitStep& wait);

// Removes the copy an earlier update left; one that cannot go yet stays for the next start.
void remove_leftover_upgrade(const std::string& upgrade_path);

}  // namespace qiv_start::core
