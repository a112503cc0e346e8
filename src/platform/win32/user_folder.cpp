#include "platform/user_folder.h"

#include "platform/win32/wide.h"
// after windows.h, which they need
#include <shlobj.h>

#include <vector>

#include "platform/error.h"
#include "platform/files.h"

namespace qiv_start::platform {
namespace {

const char* const kFolderName = "\\QIV\\qiv_start_2";

// The folder's owner, group and access list, which AccessCheck needs all three of; empty when
// they cannot be read.
std::vector<unsigned char> security_of(const std::wstring& folder) {
    const SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    ::GetFileSecurityW(folder.c_str(), parts, nullptr, 0, &size);
    std::vector<unsigned char> descriptor(size);
    if (size == 0 || !::GetFileSecurityW(folder.c_str(), parts, descriptor.data(), size, &size))
        descriptor.clear();
    return descriptor;
}

// AccessCheck takes an impersonation token; the process's own is a primary one.
HANDLE impersonation_token() {
    HANDLE process_token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process_token))
        return nullptr;
    HANDLE token = nullptr;
    if (!::DuplicateToken(process_token, SecurityImpersonation, &token))
        token = nullptr;
    ::CloseHandle(process_token);
    return token;
}

}  // namespace

bool can_write_folder(const std::string& folder) {
    std::vector<unsigned char> descriptor = security_of(win32::to_wide(folder));
    HANDLE token = descriptor.empty() ? nullptr : impersonation_token();
    if (token == nullptr)
        return false;
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                            FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privileges_size = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    const BOOL checked = ::AccessCheck(descriptor.data(), token, FILE_ADD_FILE, &mapping,
                                       &privileges, &privileges_size, &granted, &allowed);
    ::CloseHandle(token);
    return checked && allowed;
}

std::string user_working_folder() {
    PWSTR local = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local);
    const std::string folder = SUCCEEDED(result) ? win32::from_wide(local) : std::string();
    ::CoTaskMemFree(local);
    if (folder.empty())
        throw TIoError("The system names no local application data folder for the user");
    return folder + kFolderName;
}

void create_private_folder(const std::string& path) {
    if (!create_directories(path))
        throw TIoError("Cannot create the folder \"" + path + "\"");
}

}  // namespace qiv_start::platform
