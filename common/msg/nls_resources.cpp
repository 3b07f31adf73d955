#include "common/msg/nls_resources.h"

#include "common/notice.h"
#include "common/text.h"

#include "common/cmd/console_path.h"
#include "common/cmd/registry_key.h"
#include "common/trace/trace.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr wchar_t LIBRARY_NAME_FORMAT[] = L"%smsg%su.dll";
constexpr wchar_t MISSING_STRING_FORMAT[] = L"Could not obtain string resource %u from msg dll %s\n";

constexpr wchar_t NO_CONSOLE_TEXT[] =
    L"The Quarn Management Console is not properly installed.\n\n"
    L"The Console's registry key could not be located.\n\n"
    L"Please re-install the Quarn server.\n";
constexpr wchar_t NO_LIBRARY_FORMAT[] =
    L" Module: %s\n Could not load the NLS resource dll -- %s\n\n"
    L" Either re-install or replace the copy of the missing DLL file.\n";

// printf-style formatting with Microsoft's wide conventions (msvcrt's
// _vsnwprintf, not mingw's own). The buffer grows until the text fits, up to
// a limit past which the text is cut.
std::wstring formatPrintf(const wchar_t* format, va_list args)
{
    constexpr size_t LIMIT = size_t(1) << 22;
    for (size_t capacity = 1024;; capacity *= 2) {
        std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[capacity]);
        if (!buffer)
            return std::wstring();
        va_list copy;
        va_copy(copy, args);
        int written = _vsnwprintf(buffer.get(), capacity - 1, format, copy);
        va_end(copy);
        buffer[capacity - 1] = L'\0';
        if (written >= 0 || capacity >= LIMIT)
            return std::wstring(buffer.get());
    }
}

std::wstring formatPrintf(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring text = formatPrintf(format, args);
    va_end(args);
    return text;
}


std::wstring modulePath()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length >= MAX_PATH)
        length = MAX_PATH - 1;
    return std::wstring(path, length);
}

// The application's name for box captions: the program's file name without
// directory and extension.
std::wstring applicationName()
{
    std::wstring name = modulePath();
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0)
        name.erase(dot);
    return name;
}

// Loads string `id` from the chosen-language library, then from the default
// one. A null chosen-language handle searches the program's own strings.
int loadMessage(UINT id, std::wstring& out)
{
    out.clear();
    const NlsState& state = nlsState();
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[NLS_MESSAGE_CHARS]);
    if (!buffer)
        return 0;
    int length = LoadStringW(state.hMessageLibrary, id, buffer.get(), NLS_MESSAGE_CHARS);
    if (length <= 0)
        length = LoadStringW(state.hDefaultMessageLibrary, id, buffer.get(), NLS_MESSAGE_CHARS);
    if (length <= 0)
        return 0;
    out.assign(buffer.get(), size_t(length));
    return length;
}

// Loads one message library, by its full path only; a path that does not fit
// MAX_PATH is refused rather than handed to the loader cut short. Only its
// strings are read, so it is mapped as data: nothing of it runs in the tool.
HMODULE loadLibrary(const std::wstring& path)
{
    if (path.size() >= MAX_PATH || !isFullPath(path))
        return nullptr;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

} // namespace

NlsState& nlsState()
{
    static NlsState state;
    return state;
}

CNlsResources::CNlsResources()
{
    NlsState& state = nlsState();
    if (state.noLoad) {
        state.initialised = 1;
        return;
    }
    if (state.initialised)
        return;
    if (nlsLoadLibraries() == 0)
        state.initialised = 1;
}

CNlsResources::CNlsResources(int noLoad)
{
    nlsState().noLoad = noLoad;
}

int CNlsResources::GetMessageText(UINT id, std::wstring& out) const
{
    return loadMessage(id, out);
}

void CNlsResources::FormatMessageText(std::wstring& out, UINT id, ...) const
{
    va_list args;
    va_start(args, id);
    FormatMessageTextV(out, id, args);
    va_end(args);
}

void CNlsResources::FormatMessageTextV(std::wstring& out, UINT id, va_list args) const
{
    std::wstring text;
    if (loadMessage(id, text) == 0) {
        out = formatPrintf(MISSING_STRING_FORMAT, id, nlsState().defaultMessageLibraryPath.c_str());
        return;
    }
    if (text.find(L"%1!") == std::wstring::npos) {
        out = formatPrintf(text.c_str(), args);
        return;
    }

    wchar_t* formatted = nullptr;
    va_list copy;
    va_copy(copy, args);
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                  text.c_str(), 0, 0, reinterpret_cast<wchar_t*>(&formatted), 0, &copy);
    va_end(copy);
    if (length > 0 && formatted) {
        out.assign(formatted, length);
    } else {
        // A text the formatter rejects is still better shown than lost.
        QM_TRACE(TRACE_CAT_NLS, L"FormatMessage of string %u failed: %u\n", id, unsigned(GetLastError()));
        out = text;
    }
    if (formatted)
        LocalFree(formatted);
}

int nlsLoadLibraries()
{
    NlsState& state = nlsState();
    const std::wstring program = modulePath();

    std::wstring directory;
    const ConsolePathLookup found = FindConsoleInstallPath(L"", directory);
    if (found == ConsolePathLookup::NoKey || found == ConsolePathLookup::NoPathValue) {
        nlsErrorBox(NLS_ERROR_NO_CONSOLE);
        return NLS_LOAD_FAILED;
    }
    directory += L"\\";
    if (found == ConsolePathLookup::NotADirectory) {
        // No library is looked for anywhere else (the current directory
        // least of all): the box names the one that is missing.
        nlsErrorBox(NLS_ERROR_NO_LIBRARY, program.c_str(),
                    formatPrintf(LIBRARY_NAME_FORMAT, directory.c_str(), NLS_DEFAULT_LANGUAGE).c_str());
        return NLS_LOAD_FAILED;
    }

    nlsChooseLanguage();
    state.defaultMessageLibraryPath = formatPrintf(LIBRARY_NAME_FORMAT, directory.c_str(), NLS_DEFAULT_LANGUAGE);
    state.messageLibraryPath = formatPrintf(LIBRARY_NAME_FORMAT, directory.c_str(),
                                            state.languageFound ? state.languageCode.c_str()
                                                                : NLS_DEFAULT_LANGUAGE);

    int result = 0;
    state.hDefaultMessageLibrary = loadLibrary(state.defaultMessageLibraryPath);
    if (state.hDefaultMessageLibrary) {
        state.hMessageLibrary = state.hDefaultMessageLibrary;
    } else {
        nlsErrorBox(NLS_ERROR_NO_LIBRARY, program.c_str(), state.defaultMessageLibraryPath.c_str());
        result = NLS_LOAD_FAILED;
    }

    if (state.languageFound) {
        state.hMessageLibrary = loadLibrary(state.messageLibraryPath);
        if (!state.hMessageLibrary) {
            nlsErrorBox(NLS_ERROR_NO_LIBRARY, program.c_str(), state.messageLibraryPath.c_str());
            result = NLS_LOAD_FAILED;
        }
    }
    return result;
}

void nlsChooseLanguage()
{
    nlsChooseLanguageFor(GetSystemDefaultLCID());
}

void nlsChooseLanguageFor(LCID lcid)
{
    NlsState& state = nlsState();
    QM_TRACE(TRACE_CAT_NLS, L"sysLCID %8.8X\n", unsigned(lcid));

    state.languageFound = 0;
    CRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, LANGUAGES_KEY) != ERROR_SUCCESS) {
        QM_TRACE(TRACE_CAT_NLS, L"Failed to open languages key\n");
        return;
    }
    DWORD subKeyCount = 0;
    DWORD valueCount = 0;
    if (key.QueryInfo(&subKeyCount, &valueCount) != ERROR_SUCCESS) {
        QM_TRACE(TRACE_CAT_NLS, L"Languages key contains no entries\n");
        return;
    }
    QM_TRACE(TRACE_CAT_NLS, L"subKeyCnt=%d  valueCnt=%d\n", int(subKeyCount), int(valueCount));

    for (DWORD index = 0; index < valueCount; ++index) {
        std::wstring name;
        DWORD type = 0;
        if (key.EnumValue(index, name, type) != ERROR_SUCCESS)
            break;
        QM_TRACE(TRACE_CAT_NLS, L"Language %d: %s\n", int(index), name.c_str());

        std::wstring lcids;
        CRegistryKey valueKey;
        if (valueKey.Open(HKEY_LOCAL_MACHINE, LANGUAGES_KEY) == ERROR_SUCCESS)
            valueKey.QueryString(name, lcids);
        lcids = trimmedWhiteSpace(lcids);
        QM_TRACE(TRACE_CAT_NLS, L"LCIDs  %s\n", lcids.c_str());

        if (!nlsLcidListMatches(lcid, lcids))
            continue;
        // A name that cannot be a language code would make a library name
        // that no console has; such a value is passed over.
        if (name.empty() || name.size() > NLS_LANGUAGE_CODE_CHARS) {
            QM_TRACE(TRACE_CAT_NLS, L"Language name %s is not a language code\n", name.c_str());
            continue;
        }
        for (wchar_t& c : name)
            c = wchar_t(towlower(c));
        state.languageFound = 1;
        state.languageCode = name;
        return;
    }
}

bool nlsLcidListMatches(LCID lcid, const std::wstring& list)
{
    QM_TRACE(TRACE_CAT_NLS, L"sizeof( LCID ) %d\n", int(sizeof(LCID)));

    size_t taken = 0;
    size_t pos = 0;
    while (taken < NLS_MAX_LCID_TOKENS && pos < list.size()) {
        size_t comma = list.find(L',', pos);
        if (comma == std::wstring::npos)
            comma = list.size();
        if (comma > pos) {
            std::wstring token = list.substr(pos, comma - pos);
            DWORD value = nlsParseHex(token);
            QM_TRACE(TRACE_CAT_NLS, L"Reg LCID%d Token %s\n", int(taken), token.c_str());
            QM_TRACE(TRACE_CAT_NLS, L"Reg dwLCID%d %4.4X\n", int(taken), unsigned(value));
            QM_TRACE(TRACE_CAT_NLS, L"Reg LCID%d %4.4X\n", int(taken), unsigned(value));
            if (value == lcid)
                return true;
            ++taken;
        }
        pos = comma + 1;
    }
    return false;
}

DWORD nlsParseHex(const std::wstring& token)
{
    DWORD value = 0;
    DWORD weight = 1;
    for (size_t i = token.size(); i-- > 0;) {
        const wchar_t c = token[i];
        DWORD count = 0;
        if (c >= L'A' && c <= L'F')
            count = DWORD(c - L'A' + 10);
        else if (c >= L'a' && c <= L'f')
            count = DWORD(c - L'a' + 10);
        else if (c >= L'0' && c <= L'9')
            count = DWORD(c - L'0');
        value += count * weight;
        weight *= 16;
    }
    return value;
}

int nlsErrorBox(int code, ...)
{
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[NLS_ERROR_BOX_CHARS]);
    if (!text)
        return 1;
    text[0] = L'\0';

    va_list args;
    va_start(args, code);
    if (code == NLS_ERROR_NO_CONSOLE) {
        wcsncpy(text.get(), NO_CONSOLE_TEXT, NLS_ERROR_BOX_CHARS - 1);
    } else if (code == NLS_ERROR_NO_LIBRARY) {
        _vsnwprintf(text.get(), NLS_ERROR_BOX_CHARS - 1, NO_LIBRARY_FORMAT, args);
    }
    va_end(args);
    text[NLS_ERROR_BOX_CHARS - 1] = L'\0';

    tellUser(text.get(), applicationName(), NoticeKind::Error);
    return 1;
}
