#include "common/cmd/console_path.h"

#include "common/text.h"

#include "common/cmd/checked_file.h"
#include "common/cmd/path_util.h"
#include "common/cmd/registry_key.h"
#include "common/fs/owner.h"
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

HMODULE loadConsoleLibrary(const std::wstring& path, FileFailure& failure)
{
    // A relative path would be looked for in the current directory and along
    // PATH, where others may have put a library of theirs.
    if (!isFullPath(path)) {
        failure = systemFailure(ERROR_BAD_PATHNAME);
        return nullptr;
    }
    // The library runs as code in the elevated tool. It is opened by handle
    // and checked there (no link, no second name), and held, shared for
    // reading only, until the loader has mapped it: nobody can write, rename
    // or replace it in between.
    CCheckedDir folder;
    CInFile file;
    std::wstring name;
    if (!folder.OpenFolderOf(path, name, failure) || !file.OpenToRun(folder, name, failure)) {
        QM_TRACE(TRACE_CAT_APP, L"%s is not loaded: %s\n", path.c_str(), describeFileFailure(failure).c_str());
        return nullptr;
    }
    QM_TRACE(TRACE_CAT_APP, L"Loading %s, which belongs to %s\n", path.c_str(), ownerName(file.Get()).c_str());
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Systems without the search flags (before update KB2533623) refuse them;
    // the altered search path also starts in the library's directory.
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module)
        failure = lastSystemFailure();
    return module;
}
