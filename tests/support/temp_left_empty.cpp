// Run after every other test: names what the tests left in the prefix's
// temp directory, where each made its scratch directories, and fails if
// anything is there.
#include <windows.h>

#include <cstdio>

int wmain()
{
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    if (!length || length >= MAX_PATH - 2)
        return 2;
    wchar_t pattern[MAX_PATH];
    lstrcpyW(pattern, temp);
    lstrcatW(pattern, L"*");
    int left = 0;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(pattern, &entry);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry))
        if (lstrcmpW(entry.cFileName, L".") && lstrcmpW(entry.cFileName, L"..") && ++left)
            wprintf(L"left in %ls: %ls\n", temp, entry.cFileName);
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return left ? 1 : 0;
}
