#include "common/cmd/console_path.h"

#include "common/cmd/path_util.h"
#include "common/cmd/registry_key.h"

#include <cwctype>

namespace {

void trimRight(std::wstring& text)
{
    size_t end = text.size();
    while (end > 0 && iswspace(text[end - 1]))
        --end;
    text.erase(end);
}

} // namespace

bool GetConsoleInstallPath(const std::wstring& fileName, std::wstring& out)
{
    out.clear();
    CRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, CONSOLE_KEY) != ERROR_SUCCESS)
        return false;
    const LONG read = key.QueryString(CONSOLE_PATH_VALUE, out);

    // The short form keeps the path free of blanks for the callers that
    // build command lines and library paths from it.
    wchar_t shortPath[MAX_PATH];
    if (w32GetShortPath(out.c_str(), shortPath, MAX_PATH) == SHORTPATH_OK)
        out = shortPath;
    else
        out = L".\\";
    if (read != ERROR_SUCCESS)
        return false;

    std::wstring name = fileName;
    trimRight(name);
    if (!name.empty()) {
        trimRight(out);
        if (!out.empty() && out.back() != L'\\')
            out += L'\\';
        out += name;
    }
    return true;
}

HMODULE loadConsoleLibrary(const std::wstring& path)
{
    // The search flags need a full path; ".\" (no install path) is loaded as
    // it always was.
    const bool full = (path.size() > 2 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'))
                      || path.compare(0, 2, L"\\\\") == 0;
    if (!full)
        return LoadLibraryW(path.c_str());
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    // Systems without the search flags (before update KB2533623) refuse them;
    // the altered search path also starts in the library's directory.
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module;
}
