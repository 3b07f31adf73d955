#include "common/cmd/console_path.h"

#include "common/text.h"

#include "common/cmd/path_util.h"
#include "common/cmd/registry_key.h"
#include "common/trace/trace.h"

#include <cwctype>

namespace {


} // namespace

bool isFullPath(const std::wstring& path)
{
    return (path.size() > 2 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'))
           || (path.size() > 2 && path.compare(0, 2, L"\\\\") == 0 && path[2] != L'\\');
}

ConsolePathLookup FindConsoleInstallPath(const std::wstring& fileName, std::wstring& out)
{
    out.clear();
    CRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, GA_INSTALL_KEY) != ERROR_SUCCESS)
        return ConsolePathLookup::NoKey;
    std::wstring directory;
    if (key.QueryString(INSTALL_PATH_VALUE, directory) != ERROR_SUCCESS)
        return ConsolePathLookup::NoPathValue;

    std::wstring name = fileName;
    name = trimmedRight(name);
    auto place = [&name](std::wstring& in) {
        if (name.empty())
            return;
        in = trimmedRight(in);
        if (!in.empty() && in.back() != L'\\')
            in += L'\\';
        in += name;
    };

    // Nothing of the console is ever taken from a relative place (the current
    // directory, the root of the current drive): only a full path of a
    // directory that is there.
    const DWORD attributes = GetFileAttributesW(directory.c_str());
    wchar_t shortPath[MAX_PATH];
    if (!isFullPath(directory) || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)
        || w32GetShortPath(directory.c_str(), shortPath, MAX_PATH) != SHORTPATH_OK) {
        out = directory;
        place(out);
        return ConsolePathLookup::NotADirectory;
    }
    // The short form keeps the path free of blanks for the callers that
    // build command lines and library paths from it.
    out = shortPath;
    place(out);
    return ConsolePathLookup::Found;
}

bool GetConsoleInstallPath(const std::wstring& fileName, std::wstring& out)
{
    if (FindConsoleInstallPath(fileName, out) == ConsolePathLookup::Found)
        return true;
    out.clear();
    return false;
}
