// What the benchmarks share: a clock and the bare directory enumeration they
// measure the tool against.
#pragma once

#include <windows.h>

#include <string>

namespace qmbench {

inline double nowSeconds()
{
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

// Enumerates the directory once and touches each name, nothing more.
inline size_t enumerateDirectory(const std::wstring& directory)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    size_t seen = 0;
    do {
        seen += entry.cFileName[0] != 0;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return seen;
}

} // namespace qmbench
