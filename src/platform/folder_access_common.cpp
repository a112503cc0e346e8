// The decision over a Windows folder's security, in plain C++ so that it is tested everywhere.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "platform/folder_access.h"

namespace qiv_start::platform {
namespace {

// The rights of a folder's access mask that change what it holds: write data or add a file,
// append or add a folder, delete, delete a child, write the DACL or the owner, generic write or
// all.
constexpr std::uint32_t kDelete = 0x00010000;
constexpr std::uint32_t kDeleteChild = 0x00000040;
constexpr std::uint32_t kWriteDac = 0x00040000;
constexpr std::uint32_t kWriteOwner = 0x00080000;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kAddFile = 0x00000002;
constexpr std::uint32_t kAddFolder = 0x00000004;

// In a parent, only what removes or renames an entry or changes who may.
constexpr std::uint32_t kParentRights =
    kDelete | kDeleteChild | kWriteDac | kWriteOwner | kGenericAll;
constexpr std::uint32_t kContentsRights = kParentRights | kGenericWrite | kAddFile | kAddFolder;

constexpr std::array<std::string_view, 3> kSystemTrustees = {
    "S-1-5-18",                                                        // SYSTEM
    "S-1-5-32-544",                                                    // Administrators
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
};
// CREATOR OWNER and OWNER RIGHTS: whoever owns the folder or what is created in it.
constexpr std::array<std::string_view, 2> kOwnerTrustees = {"S-1-3-0", "S-1-3-4"};

bool is_trusted(const std::string& trustee, const std::string& user) {
    return trustee == user || std::ranges::find(kSystemTrustees, trustee) != kSystemTrustees.end();
}

bool stands_for_owner(const std::string& trustee) {
    return std::ranges::find(kOwnerTrustees, trustee) != kOwnerTrustees.end();
}

std::string hex(std::uint32_t mask) {
    std::array<char, 11> text{};
    std::snprintf(text.data(), text.size(), "0x%08X", mask);
    return text.data();
}

}  // namespace

std::optional<std::string> foreign_dacl_writer(const TFolderSecurity& security,
                                               const std::string& user, TFolderRole role) {
    if (!is_trusted(security.owner, user))
        return "the owner " + security.owner;
    if (!security.dacl)
        return std::string("everyone (no DACL)");
    const std::uint32_t rights = role == TFolderRole::kParent ? kParentRights : kContentsRights;
    for (const TAccessEntry& entry : *security.dacl) {
        // What a parent hands down reaches only new entries; the contents' files are such entries.
        if (!entry.allows || (role == TFolderRole::kParent && entry.inherit_only))
            continue;
        if ((entry.mask & rights) == 0 || is_trusted(entry.trustee, user) ||
            stands_for_owner(entry.trustee))
            continue;
        return entry.trustee + " (rights " + hex(entry.mask & rights) + ")";
    }
    return std::nullopt;
}

}  // namespace qiv_start::platform
