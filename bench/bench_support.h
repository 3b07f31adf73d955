// What the benchmarks share: a clock, a large OEM text file, and the bare
// directory enumeration they measure the tool against.
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

constexpr DWORD BYTES_PER_MIB = 1u << 20;

// Writes `size` bytes of report-like OEM text (CR LF lines, some bytes above
// 127) one block at a time, so that making the input costs no memory.
inline void writeOemText(const std::wstring& path, DWORD size)
{
    std::string block;
    const char* line = "Quarterly report \x82t\x82 \x84 \x94 | col1 | col2 | 12345.67 | \xB0\xB1\xB2 totals\r\n";
    while (block.size() < BYTES_PER_MIB)
        block += line;
    block.resize(BYTES_PER_MIB);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    for (DWORD done = 0; done < size; done += BYTES_PER_MIB) {
        DWORD written = 0;
        WriteFile(file, block.data(), BYTES_PER_MIB, &written, nullptr);
    }
    CloseHandle(file);
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
