// The compiled resources as Windows uses them: both dialogs created for real,
// the system-menu string, the icons at both sizes and the manifest's effect.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "res/resource.h"

namespace {

INT_PTR CALLBACK quietDialogProc(HWND, UINT msg, WPARAM, LPARAM) {
    return msg == WM_INITDIALOG;
}

class LiveDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
    }
    HWND create(int id) {
        m_dlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), nullptr, quietDialogProc, 0);
        return m_dlg;
    }
    void TearDown() override {
        if (m_dlg)
            DestroyWindow(m_dlg);
    }
    static std::wstring text(HWND w) {
        wchar_t buf[128] = {};
        GetWindowTextW(w, buf, 128);
        return buf;
    }
    HWND m_dlg = nullptr;
};

TEST_F(LiveDialog, MainDialogHasTheListButtonsAndStatusLine) {
    HWND dlg = create(IDD_QUARNREPT_MIGRATE_DIALOG);
    ASSERT_NE(dlg, nullptr) << "CreateDialogParam failed: " << GetLastError();

    HWND list = GetDlgItem(dlg, IDC_ITEM_LIST);
    ASSERT_NE(list, nullptr);
    wchar_t cls[64] = {};
    GetClassNameW(list, cls, 64);
    EXPECT_STREQ(cls, L"SysListView32");
    EXPECT_EQ(GetWindowLongW(list, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);

    const struct { int id; const wchar_t* text; } buttons[] = {
        {IDOK, L"&Migrate"}, {IDCANCEL, L"D&one"}, {IDC_REFRESH, L"&Refresh"},
        {IDC_CLEAR_ALL, L"&Clear All"}, {IDC_SELECT_ALL, L"&Select All"}, {IDC_HELP_BUTTON, L"Help"}};
    for (const auto& b : buttons) {
        HWND w = GetDlgItem(dlg, b.id);
        ASSERT_NE(w, nullptr) << "button " << b.id;
        EXPECT_EQ(text(w), b.text) << "button " << b.id;
    }
    EXPECT_EQ(LOWORD(SendMessageW(dlg, DM_GETDEFID, 0, 0)), IDC_REFRESH);

    // Directory names may contain '&': the path and status lines show them literally.
    for (int id : {IDC_STATUS, IDC_SOURCE_PATH, IDC_DEST_PATH}) {
        HWND w = GetDlgItem(dlg, id);
        ASSERT_NE(w, nullptr) << id;
        EXPECT_TRUE(GetWindowLongW(w, GWL_STYLE) & SS_NOPREFIX) << id;
    }
    EXPECT_EQ(text(GetDlgItem(dlg, IDC_STATUS)), L"Status:");
}

TEST_F(LiveDialog, AboutBoxCreatesWithOkAsDefault) {
    HWND dlg = create(IDD_ABOUTBOX);
    ASSERT_NE(dlg, nullptr) << "CreateDialogParam failed: " << GetLastError();
    EXPECT_EQ(text(dlg), L"About quarnrept_migrate");
    EXPECT_NE(GetDlgItem(dlg, IDOK), nullptr);
    EXPECT_EQ(LOWORD(SendMessageW(dlg, DM_GETDEFID, 0, 0)), IDOK);
}

TEST(Resources, SystemMenuStringAndIconsAtBothSizes) {
    wchar_t buf[64] = {};
    ASSERT_GT(LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, buf, 64), 0);
    EXPECT_STREQ(buf, L"&About quarnrept_migrate...");

    // Each icon carries its own 16 and 32 pixel images (no scaling), 32-bit
    // as the list's image list expects.
    for (int id : {IDR_MAINFRAME, IDI_DOCUMENT, IDI_REGISTRY, IDI_CORD}) {
        HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
        ASSERT_NE(group, nullptr) << "icon " << id;
        auto dir = static_cast<BYTE*>(LockResource(LoadResource(nullptr, group)));
        for (int size : {16, 32}) {
            SCOPED_TRACE("icon " + std::to_string(id) + " at " + std::to_string(size));
            int imageId = LookupIconIdFromDirectoryEx(dir, TRUE, size, size, LR_DEFAULTCOLOR);
            HRSRC image = FindResourceW(nullptr, MAKEINTRESOURCEW(imageId), MAKEINTRESOURCEW(3) /* RT_ICON */);
            ASSERT_NE(image, nullptr);
            auto bih = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, image)));
            EXPECT_EQ(bih->biWidth, size);
            EXPECT_EQ(bih->biBitCount, 32);
            HICON icon = static_cast<HICON>(
                LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
            EXPECT_NE(icon, nullptr);
            DestroyIcon(icon);
        }
    }
}

TEST(Resources, ManifestMakesTheProcessUseCommonControls6) {
    // comctl32 comes from the side-by-side assembly, not system32. (Wine's copy
    // reports 5.81 from DllGetVersion either way, so the path is what tells.)
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    CharLowerW(path);
    EXPECT_NE(std::wstring(path).find(L"microsoft.windows.common-controls"), std::wstring::npos)
        << std::string(path, path + lstrlenW(path));
}

} // namespace
