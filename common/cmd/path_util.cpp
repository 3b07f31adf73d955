#include "common/cmd/path_util.h"

#include "common/trace/trace.h"

#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

void setEmpty(wchar_t* out)
{
    if (out)
        out[0] = L'\0';
}

// Copies `text` into an output of MAX_PATH characters; the caller has made
// sure it fits.
void copyOut(wchar_t* out, const wchar_t* text)
{
    if (out)
        wcsncpy_s(out, MAX_PATH, text, _TRUNCATE);
}

} // namespace

void splitanypath(const wchar_t* path, wchar_t* drive, wchar_t* dir, wchar_t* name, wchar_t* ext)
{
    setEmpty(drive);
    setEmpty(dir);
    setEmpty(name);
    setEmpty(ext);
    if (!path)
        return;
    while (*path && iswspace(*path))
        ++path;

    // Below MAX_PATH characters no part can outgrow the MAX_PATH buffers.
    const size_t length = wcslen(path);
    if (length >= MAX_PATH)
        return;

    wchar_t d[MAX_PATH] = L"";
    wchar_t p[MAX_PATH] = L"";
    wchar_t n[MAX_PATH] = L"";
    wchar_t e[MAX_PATH] = L"";

    if (length < 2 || path[0] != L'\\' || path[1] != L'\\') {
        if (_wsplitpath_s(path, d, MAX_PATH, p, MAX_PATH, n, MAX_PATH, e, MAX_PATH) != 0)
            return;
    } else {
        // \\server\share\rest: the fourth backslash ends the "drive".
        size_t slashes = 0;
        size_t i = 0;
        for (; i < length; ++i) {
            if (path[i] == L'\\' && ++slashes == 4)
                break;
        }
        wcsncpy_s(d, MAX_PATH, path, i);
        if (slashes == 4
            && _wsplitpath_s(path + i, nullptr, 0, p, MAX_PATH, n, MAX_PATH, e, MAX_PATH) != 0) {
            return;
        }
    }
    copyOut(drive, d);
    copyOut(dir, p);
    copyOut(name, n);
    copyOut(ext, e);
}

int w32SplitDirFile(const wchar_t* path, wchar_t* dirPart, wchar_t* filePart)
{
    wchar_t drive[MAX_PATH];
    wchar_t dir[MAX_PATH];
    wchar_t name[MAX_PATH];
    wchar_t ext[MAX_PATH];
    splitanypath(path, drive, dir, name, ext);
    // The parts come from a path shorter than MAX_PATH, so each pair fits.
    if (dirPart) {
        copyOut(dirPart, drive);
        wcsncat_s(dirPart, MAX_PATH, dir, _TRUNCATE);
    }
    if (filePart) {
        copyOut(filePart, name);
        wcsncat_s(filePart, MAX_PATH, ext, _TRUNCATE);
    }
    return 0;
}

int w32GetShortPath(const wchar_t* longPath, wchar_t* shortPath, DWORD capacity)
{
    if (!shortPath || capacity == 0)
        return SHORTPATH_TOO_LONG;
    // The output may be the input: keep the long path before anything is written.
    const std::wstring longCopy = longPath ? longPath : L"";

    // An answer of `capacity` or more is the size the short form needs, not a success.
    DWORD answer = GetShortPathNameW(longCopy.c_str(), shortPath, capacity);
    if (answer != 0 && answer < capacity)
        return SHORTPATH_OK;
    if (answer != 0) {
        QM_TRACE(TRACE_CAT_UTIL, L"Path too long %u vs max %u\n", unsigned(answer - 1), unsigned(capacity));
        shortPath[0] = L'\0';
        return SHORTPATH_TOO_LONG;
    }
    QM_TRACE(TRACE_CAT_UTIL, L"GetShortPathName() failed. Reason: %u. Calling splitanypath()\n",
             unsigned(GetLastError()));

    wchar_t drive[MAX_PATH];
    wchar_t dir[MAX_PATH];
    wchar_t name[MAX_PATH];
    wchar_t ext[MAX_PATH];
    splitanypath(longCopy.c_str(), drive, dir, name, ext);
    std::wstring tmpPath = std::wstring(drive) + dir;
    QM_TRACE(TRACE_CAT_UTIL, L"After splitpath. tmpPath %s\n", tmpPath.c_str());

    shortPath[0] = L'\0';
    answer = GetShortPathNameW(tmpPath.c_str(), shortPath, capacity);
    if (answer == 0) {
        DWORD error = GetLastError();
        shortPath[0] = L'\0';
        QM_TRACE(TRACE_CAT_UTIL, L" GetShortPathName(2) failed. Reason: %u. tmpPath %s, shortpath %s\n",
                 unsigned(error), tmpPath.c_str(), shortPath);
        return SHORTPATH_NONE;
    }

    const size_t nameLength = wcslen(name) + wcslen(ext);
    const size_t pathLength = tmpPath.size() + nameLength;
    QM_TRACE(TRACE_CAT_UTIL, L"Pathlen %u\n", unsigned(pathLength));
    // The short directory is normally no longer than the long one, but it is
    // the one that is actually written.
    const size_t shortLength = answer < capacity ? answer + nameLength : size_t(-1);
    if (pathLength >= capacity || shortLength >= capacity) {
        QM_TRACE(TRACE_CAT_UTIL, L"Path too long %u vs max %u\n", unsigned(pathLength), unsigned(capacity));
        shortPath[0] = L'\0';
        return SHORTPATH_TOO_LONG;
    }
    wcscat_s(shortPath, capacity, name);
    wcscat_s(shortPath, capacity, ext);
    QM_TRACE(TRACE_CAT_UTIL, L"ok - shortpath: %s\n", shortPath);
    return SHORTPATH_OK;
}
