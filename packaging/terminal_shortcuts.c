/*
 * The package's custom actions: a Start-menu shortcut for every code in TERMINALS, once SERVERS
 * and RELEASE_SERIAL have been checked; and, on the upgrade from an earlier package, the users'
 * write access taken from the working folder that that package opened to them.
 *
 * Windows Installer takes a shortcut's name from its table as it stands, never from a property,
 * so the rows are made here, for this session only, before costing. The standard actions then
 * create them on install and remove them on uninstall, where TERMINALS holds the codes that the
 * installed package kept in the registry.
 */
// The installer's headers need the system's first.
#include <windows.h>

#include <aclapi.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>
#include <wchar.h>

#define MAX_CODES 64
#define MAX_CODE 64
#define MAX_SERVERS 4096
#define MAX_SERIAL 19

static void report(MSIHANDLE install, INSTALLMESSAGE kind, const wchar_t* text) {
    MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, text);
    MsiProcessMessage(install, kind, record);
    MsiCloseHandle(record);
}

/* A code becomes a file name and an argument: only characters that are safe in both. */
/* Fails the install, naming the value (cut at MAX_CODE characters) in the format's one %.*ls. */
static UINT refuse_value(MSIHANDLE install, const wchar_t* format, const wchar_t* value,
                         size_t length) {
    wchar_t text[MAX_CODE + 160];
    swprintf(text, sizeof text / sizeof text[0], format,
             (int)(length < MAX_CODE ? length : MAX_CODE), value);
    report(install, INSTALLMESSAGE_ERROR, text);
    return ERROR_INSTALL_FAILURE;
}

static int is_valid_code(const wchar_t* code, size_t length) {
    static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
    if (length == 0 || length >= MAX_CODE || code[length - 1] == L'.')
        return 0;
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = code[i];
        if (c < 0x80 && !iswalnum(c) && c != L'_' && c != L'-' && c != L'.')
            return 0;
    }
    for (size_t i = 0; i < sizeof devices / sizeof devices[0]; ++i) {
        if (length == 3 && _wcsnicmp(code, devices[i], 3) == 0)
            return 0;
    }
    if (length == 4 && (_wcsnicmp(code, L"COM", 3) == 0 || _wcsnicmp(code, L"LPT", 3) == 0) &&
        code[3] >= L'0' && code[3] <= L'9')
        return 0;
    return 1;
}

static int is_blank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

/*
 * An address without its scheme would go out over plain HTTP to a guessed server: the install
 * fails instead. A removal takes the installed value as it is.
 */
static UINT check_servers(MSIHANDLE install) {
    wchar_t servers[MAX_SERVERS];
    DWORD size = sizeof servers / sizeof servers[0];
    if (MsiEvaluateConditionW(install, L"REMOVE=\"ALL\"") == MSICONDITION_TRUE)
        return ERROR_SUCCESS;
    if (MsiGetPropertyW(install, L"SERVERS", servers, &size) != ERROR_SUCCESS) {
        report(install, INSTALLMESSAGE_ERROR, L"SERVERS is too long.");
        return ERROR_INSTALL_FAILURE;
    }
    for (const wchar_t* p = servers; *p;) {
        while (is_blank(*p))
            ++p;
        const wchar_t* start = p;
        while (*p && !is_blank(*p))
            ++p;
        const size_t length = (size_t)(p - start);
        if (length == 0 || (length >= 7 && _wcsnicmp(start, L"http://", 7) == 0) ||
            (length >= 8 && _wcsnicmp(start, L"https://", 8) == 0))
            continue;
        return refuse_value(install, L"SERVERS: \"%.*ls\" does not start with http:// or https://.",
                            start, length);
    }
    return ERROR_SUCCESS;
}

/* The serial is a number, written into the registry for the launcher to read; empty is none. */
static UINT check_release_serial(MSIHANDLE install) {
    wchar_t serial[MAX_SERIAL + 1];
    DWORD size = sizeof serial / sizeof serial[0];
    if (MsiEvaluateConditionW(install, L"REMOVE=\"ALL\"") == MSICONDITION_TRUE)
        return ERROR_SUCCESS;
    const UINT status = MsiGetPropertyW(install, L"RELEASE_SERIAL", serial, &size);
    int digits = status == ERROR_SUCCESS;
    for (const wchar_t* p = serial; digits && *p; ++p)
        digits = *p >= L'0' && *p <= L'9';
    if (digits)
        return ERROR_SUCCESS;
    report(install, INSTALLMESSAGE_ERROR, L"RELEASE_SERIAL is not a number of up to 19 digits.");
    return ERROR_INSTALL_FAILURE;
}

static UINT insert_shortcut(MSIHANDLE view, int number, const wchar_t* code) {
    wchar_t key[32];
    swprintf(key, sizeof key / sizeof key[0], L"Terminal%d", number);
    MSIHANDLE record = MsiCreateRecord(8);
    MsiRecordSetStringW(record, 1, key);
    MsiRecordSetStringW(record, 2, L"ShortcutFolder");
    MsiRecordSetStringW(record, 3, code);
    MsiRecordSetStringW(record, 4, L"Shortcuts");
    MsiRecordSetStringW(record, 5, L"[#LauncherExe]");
    MsiRecordSetStringW(record, 6, code);
    MsiRecordSetStringW(record, 7, code);
    MsiRecordSetStringW(record, 8, L"LauncherFolder");
    const UINT status = MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, record);
    MsiCloseHandle(record);
    return status;
}

__declspec(dllexport) UINT __stdcall TerminalShortcuts(MSIHANDLE install) {
    UINT checked = check_servers(install);
    if (checked == ERROR_SUCCESS)
        checked = check_release_serial(install);
    if (checked != ERROR_SUCCESS)
        return checked;
    wchar_t codes[MAX_CODES * MAX_CODE];
    DWORD size = sizeof codes / sizeof codes[0];
    if (MsiGetPropertyW(install, L"TERMINALS", codes, &size) != ERROR_SUCCESS) {
        report(install, INSTALLMESSAGE_ERROR, L"TERMINALS is too long.");
        return ERROR_INSTALL_FAILURE;
    }

    /* Every code is checked before any row is made: a bad one fails the whole install. */
    wchar_t* starts[MAX_CODES];
    size_t lengths[MAX_CODES];
    int count = 0;
    for (wchar_t* p = codes; *p;) {
        while (*p == L' ' || *p == L'\t')
            ++p;
        if (!*p)
            break;
        wchar_t* start = p;
        while (*p && *p != L' ' && *p != L'\t')
            ++p;
        const size_t length = (size_t)(p - start);
        if (!is_valid_code(start, length)) {
            return refuse_value(
                install,
                L"TERMINALS: \"%.*ls\" is not a terminal code (letters, digits, _ - . only).",
                start, length);
        }
        int seen = 0;
        for (int i = 0; i < count; ++i)
            seen |= lengths[i] == length && _wcsnicmp(starts[i], start, length) == 0;
        if (seen)
            continue;
        if (count == MAX_CODES) {
            report(install, INSTALLMESSAGE_ERROR, L"TERMINALS: more than 64 codes.");
            return ERROR_INSTALL_FAILURE;
        }
        starts[count] = start;
        lengths[count++] = length;
    }
    for (int i = 0; i < count; ++i)
        starts[i][lengths[i]] = L'\0';

    MSIHANDLE database = MsiGetActiveDatabase(install);
    MSIHANDLE view = 0;
    UINT status = MsiDatabaseOpenViewW(
        database,
        L"SELECT `Shortcut`, `Directory_`, `Name`, `Component_`, `Target`, `Arguments`, "
        L"`Description`, `WkDir` FROM `Shortcut`",
        &view);
    if (status == ERROR_SUCCESS)
        status = MsiViewExecute(view, 0);
    for (int i = 0; i < count && status == ERROR_SUCCESS; ++i)
        status = insert_shortcut(view, i + 1, starts[i]);
    if (view)
        MsiCloseHandle(view);
    MsiCloseHandle(database);
    if (status != ERROR_SUCCESS) {
        report(install, INSTALLMESSAGE_ERROR, L"The terminals' shortcuts could not be prepared.");
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

/*
 * The owner of the folder that the earlier package made: the administrators, the system, or the
 * account that runs this installation. A user who had replaced the folder would own the new one.
 */
static int is_installers_folder(HANDLE folder) {
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL,
                        NULL, &descriptor) != ERROR_SUCCESS)
        return 0;
    int trusted = IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                  IsWellKnownSid(owner, WinLocalSystemSid);
    HANDLE token = NULL;
    if (!trusted && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        unsigned char buffer[256];
        DWORD size = 0;
        if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size))
            trusted = EqualSid(owner, ((TOKEN_USER*)buffer)->User.Sid);
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return trusted;
}

/*
 * The earlier packages gave the built-in Users group Modify on their working folder. Only the
 * folder itself loses it, through a handle that no link redirects, and only when it still is the
 * folder that the package made: the files in it stay as they are, for the administrator to
 * remove, and nothing runs from there any more.
 */
__declspec(dllexport) UINT __stdcall CloseEarlierFolder(MSIHANDLE install) {
    static const wchar_t* const closed =
        L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    wchar_t path[MAX_PATH + 1];
    DWORD size = sizeof path / sizeof path[0];
    if (MsiGetPropertyW(install, L"CustomActionData", path, &size) != ERROR_SUCCESS || !*path)
        return ERROR_SUCCESS;
    const HANDLE folder = CreateFileW(
        path, READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (folder == INVALID_HANDLE_VALUE)
        return ERROR_SUCCESS;
    BY_HANDLE_FILE_INFORMATION info;
    const int genuine = GetFileInformationByHandle(folder, &info) &&
                        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                        is_installers_folder(folder);
    PSECURITY_DESCRIPTOR descriptor = NULL;
    int done = 0;
    if (genuine && ConvertStringSecurityDescriptorToSecurityDescriptorW(closed, SDDL_REVISION_1,
                                                                        &descriptor, NULL)) {
        done = SetKernelObjectSecurity(folder, DACL_SECURITY_INFORMATION, descriptor);
        LocalFree(descriptor);
    }
    CloseHandle(folder);
    report(install, INSTALLMESSAGE_INFO,
           done ? L"CloseEarlierFolder: the users' write access to the earlier working folder was "
                  L"removed."
           : genuine ? L"CloseEarlierFolder: the users' write access could not be removed."
                     : L"CloseEarlierFolder: the earlier working folder was replaced; left alone.");
    return ERROR_SUCCESS;
}
