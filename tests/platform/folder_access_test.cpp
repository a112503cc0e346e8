#include "platform/folder_access.h"

#include <gtest/gtest.h>

#include "support/environment.h"
#include "support/temp_dir.h"

namespace qiv_start::platform {
namespace {

const std::string kUser = "S-1-5-21-1004336348-1177238915-682003330-1001";
const std::string kOtherUser = "S-1-5-21-1004336348-1177238915-682003330-1002";
const std::string kSystem = "S-1-5-18";
const std::string kAdministrators = "S-1-5-32-544";
const std::string kUsers = "S-1-5-32-545";
const std::string kAuthenticatedUsers = "S-1-5-11";
const std::string kCreatorOwner = "S-1-3-0";
const std::string kTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

constexpr std::uint32_t kFullControl = 0x001F01FF;
constexpr std::uint32_t kModify = 0x001301BF;
constexpr std::uint32_t kReadExecute = 0x001200A9;
constexpr std::uint32_t kAddFileAndFolder = 0x00000006;
constexpr std::uint32_t kGenericAll = 0x10000000;

// The entries that every folder under the user's profile carries.
std::vector<TAccessEntry> own(std::vector<TAccessEntry> more = {}) {
    std::vector<TAccessEntry> dacl = {
        {kSystem, kFullControl}, {kAdministrators, kFullControl}, {kUser, kFullControl}};
    dacl.insert(dacl.end(), more.begin(), more.end());
    return dacl;
}

TEST(FolderAccess, OnlyTheUserTheSystemAndAdministratorsMayChangeAFolder) {
    using enum TFolderRole;
    struct TCase {
        const char* what;
        TFolderSecurity security;
        TFolderRole role;
        std::optional<std::string> who;  // the start of the reason
    };
    const std::vector<TCase> cases = {
        {"the user's own", {kUser, own()}, kContents, std::nullopt},
        {"others may read", {kUser, own({{kUsers, kReadExecute}})}, kContents, std::nullopt},
        {"a deny entry changes nothing",
         {kUser, own({{kUsers, kModify, false}})},
         kContents,
         std::nullopt},
        {"owned by Administrators, CREATOR OWNER full control",
         {kAdministrators, own({{kCreatorOwner, kFullControl, true, true}})},
         kContents,
         std::nullopt},
        {"owned by TrustedInstaller", {kTrustedInstaller, own()}, kParent, std::nullopt},
        {"owned by another user", {kOtherUser, own()}, kContents, "the owner " + kOtherUser},
        {"no DACL", {kUser, std::nullopt}, kContents, "everyone"},
        {"Users may modify", {kUser, own({{kUsers, kModify}})}, kContents, kUsers},
        {"another user may add files",
         {kUser, own({{kOtherUser, kAddFileAndFolder}})},
         kContents,
         kOtherUser},
        {"what is created inside, Users may modify",
         {kUser, own({{kUsers, kModify, true, true}})},
         kContents,
         kUsers},
        {"Everyone generic all", {kUser, own({{"S-1-1-0", kGenericAll}})}, kContents, "S-1-1-0"},
        // The root of a system drive: users may add folders to it and modify what they create.
        {"a parent where users add folders",
         {kTrustedInstaller, own({{kAuthenticatedUsers, kAddFileAndFolder},
                                  {kAuthenticatedUsers, kModify, true, true}})},
         kParent,
         std::nullopt},
        {"a parent that users may modify", {kUser, own({{kUsers, kModify}})}, kParent, kUsers},
        {"a parent owned by another user", {kOtherUser, own()}, kParent, "the owner"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto who = foreign_dacl_writer(c.security, kUser, c.role);
        ASSERT_EQ(who.has_value(), c.who.has_value()) << who.value_or("");
        if (who) {
            EXPECT_TRUE(who->starts_with(*c.who)) << *who;
        }
    }
}

// The real system's answer: a folder that the test made is its own. Wine keeps no permissions.
TEST(FolderAccess, AFolderTheUserMadeIsTheUsersOwn) {
    if (test::running_under_wine())
        GTEST_SKIP() << "wine keeps no permissions";
    const test::TTempDir dir;
    EXPECT_EQ(foreign_writer(dir.file("")), std::nullopt);
}

}  // namespace
}  // namespace qiv_start::platform
