/*
 * The package's one custom action: a Start-menu shortcut for every code in TERMINALS, once
 * SERVERS has been checked.
 *
 * Windows Installer takes a shortcut's name from its table as it stands, never from a property,
 * so the rows are made here, for this session only, before costing. The standard actions then
 * create them on install and remove them on uninstall, where TERMINALS holds the codes that the
 * installed package kept in the registry.
 */
// The installer's headers need the system's first.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include <wchar.h>

#define MAX_CODES 64
#define MAX_CODE 64
#define MAX_SERVERS 4096

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
    MsiRecordSetStringW(record, 8, L"INSTALLFOLDER");
    const UINT status = MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, record);
    MsiCloseHandle(record);
    return status;
}

__declspec(dllexport) UINT __stdcall TerminalShortcuts(MSIHANDLE install) {
    const UINT servers = check_servers(install);
    if (servers != ERROR_SUCCESS)
        return servers;
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
