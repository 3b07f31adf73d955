// The few text rules every layer shares: white space off the ends, and names
// compared as the file system and the registry compare them (case does not
// count, ordinally).
#pragma once

#include <windows.h>

#include <cwctype>
#include <string>

// `text` without white space at either end.
inline std::wstring trimmedWhiteSpace(const std::wstring& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && std::iswspace(text[begin]))
        ++begin;
    while (end > begin && std::iswspace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// `text` without white space at its end.
inline std::wstring trimmedRight(const std::wstring& text)
{
    size_t end = text.size();
    while (end > 0 && std::iswspace(text[end - 1]))
        --end;
    return text.substr(0, end);
}

inline bool sameIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE)
        == CSTR_EQUAL;
}

// Whether `text` begins with `prefix`, compared as sameIgnoringCase does.
inline bool startsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix)
{
    return text.size() >= prefix.size() && sameIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// `name` in upper case, as a key under which names that differ only in case
// are one.
inline std::wstring foldedCase(std::wstring name)
{
    if (!name.empty())
        CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}
