// The folder's owner and DACL as the system keeps them, handed to the portable decision; the
// working folder as the folder whose contents are used, each parent up to the drive's root as
// one that only must not let it be renamed away.
#include "platform/folder_access.h"

#include "platform/win32/wide.h"
// after windows.h, which they need
#include <aclapi.h>
#include <sddl.h>

#include <memory>

#include "platform/files.h"

namespace qiv_start::platform {
namespace {

std::string sid_text(PSID sid) {
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        throw TIoError("Cannot read a SID: " + win32::system_message(::GetLastError()));
    std::string result = win32::from_wide(text);
    ::LocalFree(text);
    return result;
}

std::string user_sid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        throw TIoError("Cannot read the user: " + win32::system_message(::GetLastError()));
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<char[]> buffer(new char[size]);
    const BOOL read = ::GetTokenInformation(token, TokenUser, buffer.get(), size, &size);
    const DWORD error = ::GetLastError();
    ::CloseHandle(token);
    if (!read)
        throw TIoError("Cannot read the user: " + win32::system_message(error));
    return sid_text(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid);
}

// Allow and deny entries of the plain and the callback kinds share one layout; object entries,
// which folders do not carry, are left out.
std::optional<TAccessEntry> entry_of(const ACE_HEADER* header) {
    const bool allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                        header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    if (!allows && header->AceType != ACCESS_DENIED_ACE_TYPE)
        return std::nullopt;
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    return TAccessEntry{sid_text(const_cast<DWORD*>(&ace->SidStart)), ace->Mask, allows,
                        (header->AceFlags & INHERIT_ONLY_ACE) != 0};
}

TFolderSecurity security_of(const std::string& path) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status =
        ::GetNamedSecurityInfoW(win32::to_wide(path).c_str(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                nullptr, &dacl, nullptr, &descriptor);
    if (status != ERROR_SUCCESS)
        throw TIoError("Cannot examine \"" + path + "\": " + win32::system_message(status));
    const std::unique_ptr<void, decltype(&::LocalFree)> held(descriptor, &::LocalFree);
    TFolderSecurity security{sid_text(owner), std::nullopt};
    if (dacl == nullptr)
        return security;
    security.dacl.emplace();
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace))
            throw TIoError("Cannot examine \"" + path +
                           "\": " + win32::system_message(::GetLastError()));
        if (auto entry = entry_of(static_cast<const ACE_HEADER*>(ace)))
            security.dacl->push_back(std::move(*entry));
    }
    return security;
}

std::optional<std::string> check(const std::string& path, const std::string& user,
                                 TFolderRole role) {
    if (auto who = foreign_dacl_writer(security_of(path), user, role))
        return "\"" + path + "\" may be changed by " + *who;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> foreign_writer(const std::string& folder) {
    const std::string user = user_sid();
    std::string path = full_path(folder);
    while (path.size() > 1 && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    if (auto reason = check(path, user, TFolderRole::kContents))
        return reason;
    for (auto slash = path.find_last_of("\\/"); slash != std::string::npos && slash > 0;
         slash = path.find_last_of("\\/")) {
        path.resize(slash);
        // "C:" alone names the drive's current folder; its root is "C:\".
        if (auto reason =
                check(path.back() == ':' ? path + "\\" : path, user, TFolderRole::kParent))
            return reason;
    }
    return std::nullopt;
}

}  // namespace qiv_start::platform
