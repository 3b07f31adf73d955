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
