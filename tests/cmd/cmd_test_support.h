// Shared by the path and console tests.
#pragma once
#include <windows.h>
#include <string>

namespace qmtest {
// What a (short) path names, in long form without a trailing backslash.
inline std::wstring longForm(const std::wstring& path)
{
    wchar_t buffer[1024];
    DWORD length = GetLongPathNameW(path.c_str(), buffer, 1024);
    std::wstring result = length && length < 1024 ? buffer : L"<missing " + path + L">";
    if (result.back() == L'\\')
        result.pop_back();
    return result;
}
} // namespace qmtest
