#include "app/html_help.h"

#include "window/handle.h"

#include <mutex>

namespace {

using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

} // namespace

bool htmlHelpControlPath(wchar_t* path, DWORD capacity)
{
    // The machine's classes only: HKEY_CLASSES_ROOT also shows the user's
    // own (HKCU\Software\Classes) first, which any unelevated program of
    // the administrator may write, and the control is loaded as code.
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"SOFTWARE\\Classes\\CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32", 0,
                      KEY_READ, &opened)
        != ERROR_SUCCESS)
        return false;
    const CKeyHandle key(opened);
    DWORD type = 0;
    DWORD bytes = (capacity - 1) * sizeof(wchar_t);
    LONG rc = RegQueryValueExW(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &bytes);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    path[bytes / sizeof(wchar_t)] = L'\0';
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[MAX_PATH];
        DWORD n = ExpandEnvironmentStringsW(path, expanded, MAX_PATH);
        if (n == 0 || n > MAX_PATH || n > capacity)
            return false;
        lstrcpynW(path, expanded, int(capacity));
    }
    return path[0] != L'\0';
}

namespace {

HtmlHelpFn loadHtmlHelp()
{
    wchar_t path[MAX_PATH];
    if (!htmlHelpControlPath(path, MAX_PATH))
        return nullptr;
    // Stays loaded for the rest of the run.
    HMODULE module = LoadLibraryW(path);
    if (!module)
        return nullptr;
    return reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(module, "HtmlHelpW")));
}

} // namespace


HWND callHtmlHelp(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data)
{
    static std::once_flag once;
    static HtmlHelpFn htmlHelp = nullptr;
    std::call_once(once, [] { htmlHelp = loadHtmlHelp(); });
    return htmlHelp ? htmlHelp(caller, file, command, data) : nullptr;
}

namespace {

BOOL CALLBACK destroyHelpWindow(HWND window, LPARAM)
{
    wchar_t className[32] = L"";
    if (GetClassNameW(window, className, 32) && lstrcmpW(className, L"HH Parent") == 0)
        DestroyWindow(window);
    return TRUE;
}

} // namespace

void closeAllHtmlHelp()
{
    callHtmlHelp(nullptr, nullptr, QM_HH_CLOSE_ALL, 0);
    EnumThreadWindows(GetCurrentThreadId(), destroyHelpWindow, 0);
}
