// Who besides the running user may change a folder. A till is shared by several accounts: a
// working folder that another ordinary user can write would let them replace the launcher or a
// terminal's program that the next user starts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qiv_start::platform {

// Why someone other than the running user, the system and its administrators (root) could change
// what the folder holds: write or delete in it, change its permissions, or, through one of its
// parents, rename it away. Nothing when no one else can. The reason names the folder and who, in
// English, for the run log. Raises TIoError when the folder or a parent cannot be examined.
std::optional<std::string> foreign_writer(const std::string& folder);

// Windows decides over a folder's owner and DACL; this is their portable form, so that the
// decision is checked on every system.
struct TAccessEntry {
    std::string trustee;  // a SID in its string form, "S-1-5-32-545"
    std::uint32_t mask = 0;
    bool allows = true;         // false: a deny entry
    bool inherit_only = false;  // reaches only what is created inside, not the folder itself
};

struct TFolderSecurity {
    std::string owner;
    std::optional<std::vector<TAccessEntry>> dacl;  // nothing: no DACL, which lets everyone in
};

// The folder whose contents the launcher uses, or one of its parents, which only must not let
// that folder be renamed away or be given other permissions.
enum class TFolderRole { kContents, kParent };

// The first trustee other than user, SYSTEM, Administrators and TrustedInstaller that may change
// the folder in its role, with the rights that let it, as text; nothing when there is none. Deny
// entries are not counted: they would have to come first and match exactly to take a right away.
std::optional<std::string> foreign_dacl_writer(const TFolderSecurity& security,
                                               const std::string& user, TFolderRole role);

}  // namespace qiv_start::platform
