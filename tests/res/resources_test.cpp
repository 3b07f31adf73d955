// The manifest compiled into the resources, as Windows applies it.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

TEST(Resources, ManifestMakesTheProcessUseCommonControls6) {
    // comctl32 comes from the side-by-side assembly, not system32. (Wine's copy
    // reports 5.81 from DllGetVersion either way, so the path is what tells.)
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    CharLowerW(path);
    EXPECT_NE(std::wstring(path).find(L"microsoft.windows.common-controls"), std::wstring::npos)
        << std::string(path, path + lstrlenW(path));
}
