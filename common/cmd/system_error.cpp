#include "common/cmd/system_error.h"

std::wstring systemErrorText(DWORD osError, const std::wstring& subject)
{
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS
                                      | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                  nullptr, osError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result;
    if (length > 0 && text)
        result.assign(text, length);
    if (text)
        LocalFree(text);
    while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' '))
        result.pop_back();
    if (result.empty())
        result = L"Unknown error " + std::to_wstring(osError);
    for (size_t at = result.find(L"%1"); at != std::wstring::npos; at = result.find(L"%1", at + subject.size()))
        result.replace(at, 2, subject);
    return result;
}
