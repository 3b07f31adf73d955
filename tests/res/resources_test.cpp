// The compiled resources, read back the way Windows reads them: dialog
// templates parsed from their binary form, strings, icons at both sizes, the
// version block and the manifest, plus the two dialogs created for real.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "res/resource.h"

namespace {

constexpr DWORD kNoId = 0xFFFFFFFFu; // IDC_STATIC (-1) as a DIALOGEX item id

// One control of a DLGTEMPLATEEX. `className` is the name, or for the
// predefined classes "#" and the atom number; `text` likewise for ordinals.
struct Item {
    DWORD id;
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    std::wstring className;
    std::wstring text;
};

struct Dialog {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring caption;
    WORD pointSize = 0;
    std::wstring typeface;
    std::vector<Item> items;
};

// Reads the DLGTEMPLATEEX layout (see "DLGTEMPLATEEX structure" and
// "DLGITEMTEMPLATEEX structure"): variable-length strings or 0xFFFF ordinals,
// items aligned on DWORDs from the start of the template.
class TemplateReader {
public:
    TemplateReader(const BYTE* data, size_t size) : m_base(data), m_size(size) {}

    Dialog read() {
        Dialog d;
        WORD version = word();
        WORD signature = word();
        if (version != 1 || signature != 0xFFFF) {
            ADD_FAILURE() << "not a DLGTEMPLATEEX";
            return d;
        }
        dword(); // help id
        d.exStyle = dword();
        d.style = dword();
        WORD count = word();
        d.x = short(word());
        d.y = short(word());
        d.cx = short(word());
        d.cy = short(word());
        stringOrOrdinal(); // menu
        stringOrOrdinal(); // class
        d.caption = string();
        if (d.style & (DS_SETFONT | DS_SHELLFONT)) {
            d.pointSize = word();
            word(); // weight
            byte(); // italic
            byte(); // charset
            d.typeface = string();
        }
        for (WORD i = 0; i < count && m_pos < m_size; ++i) {
            align();
            Item it{};
            dword(); // help id
            it.exStyle = dword();
            it.style = dword();
            it.x = short(word());
            it.y = short(word());
            it.cx = short(word());
            it.cy = short(word());
            it.id = dword();
            it.className = classAtom(stringOrOrdinal());
            it.text = stringOrOrdinal();
            WORD extra = word();
            m_pos += extra;
            d.items.push_back(it);
        }
        EXPECT_LE(m_pos, m_size) << "template read past its end";
        return d;
    }

private:
    BYTE byte() { return m_pos < m_size ? m_base[m_pos++] : 0; }
    WORD word() {
        WORD lo = byte();
        return WORD(lo | (byte() << 8));
    }
    DWORD dword() {
        DWORD lo = word();
        return lo | (DWORD(word()) << 16);
    }
    void align() { m_pos = (m_pos + 3) & ~size_t(3); }
    std::wstring string() {
        std::wstring s;
        for (WORD c = word(); c != 0 && m_pos < m_size; c = word())
            s += wchar_t(c);
        return s;
    }
    // rc.exe stores the predefined classes as atoms, windres by name.
    static std::wstring classAtom(std::wstring name) {
        static const wchar_t* const names[] = {L"Button", L"Edit", L"Static", L"ListBox", L"ScrollBar", L"ComboBox"};
        for (int i = 0; i < 6; ++i)
            if (lstrcmpiW(name.c_str(), names[i]) == 0)
                return L"#" + std::to_wstring(0x80 + i);
        return name;
    }
    std::wstring stringOrOrdinal() {
        if (m_pos + 2 > m_size)
            return {};
        WORD first = WORD(m_base[m_pos] | (m_base[m_pos + 1] << 8));
        if (first == 0xFFFF) {
            m_pos += 2;
            return L"#" + std::to_wstring(word());
        }
        return string();
    }

    const BYTE* m_base;
    size_t m_size;
    size_t m_pos = 0;
};

Dialog loadTemplate(int id) {
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    if (!res) {
        ADD_FAILURE() << "dialog template " << id << " missing";
        return {};
    }
    auto data = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, res)));
    return TemplateReader(data, SizeofResource(nullptr, res)).read();
}

std::wstring resourceText(int id, LPCWSTR type) {
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
    if (!res)
        return {};
    auto data = static_cast<const char*>(LockResource(LoadResource(nullptr, res)));
    std::string bytes(data, SizeofResource(nullptr, res));
    return std::wstring(bytes.begin(), bytes.end()); // the manifest is ASCII
}

const std::wstring kButton = L"#128";
const std::wstring kStatic = L"#130";

struct Expected {
    DWORD id;
    std::wstring className;
    std::wstring text;
    short x, y, cx, cy;
    DWORD typeBits; // BS_/SS_ type in the low bits
};

void expectItem(const Item& got, const Expected& want, size_t index) {
    SCOPED_TRACE("control " + std::to_string(index) + " (id " + std::to_string(int(want.id)) + ")");
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(0, lstrcmpiW(got.className.c_str(), want.className.c_str()))
        << "class " << std::string(got.className.begin(), got.className.end());
    EXPECT_EQ(got.text, want.text);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.cx, want.cx);
    EXPECT_EQ(got.cy, want.cy);
    EXPECT_EQ(got.style & (WS_CHILD | WS_VISIBLE), DWORD(WS_CHILD | WS_VISIBLE));
    if (want.className == kButton) {
        EXPECT_EQ(got.style & BS_TYPEMASK, want.typeBits);
        EXPECT_TRUE(got.style & WS_TABSTOP);
    } else if (want.className == kStatic) {
        EXPECT_EQ(got.style & SS_TYPEMASK, want.typeBits);
    }
}

TEST(DialogTemplates, MainDialogHasEveryControlInTabOrder) {
    Dialog d = loadTemplate(IDD_QUARNREPT_MIGRATE_DIALOG);
    EXPECT_EQ(d.caption, L"Operational Reporting Beta to 5.2.2 Migration Tool");
    EXPECT_EQ(d.cx, 458);
    EXPECT_EQ(d.cy, 242);
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(d.typeface, L"MS Shell Dlg");
    const DWORD frame = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    EXPECT_EQ(d.style & frame, frame);
    EXPECT_TRUE(d.exStyle & WS_EX_APPWINDOW);

    const std::vector<Expected> want = {
        {IDC_ITEM_LIST, L"SysListView32", L"", 7, 42, 444, 150, 0},
        {IDC_REFRESH, kButton, L"&Refresh", 7, 199, 51, 14, BS_DEFPUSHBUTTON},
        {IDC_CLEAR_ALL, kButton, L"&Clear All", 115, 199, 51, 14, BS_PUSHBUTTON},
        {IDC_SELECT_ALL, kButton, L"&Select All", 61, 199, 51, 14, BS_PUSHBUTTON},
        {IDOK, kButton, L"&Migrate", 169, 199, 50, 14, BS_PUSHBUTTON},
        {IDCANCEL, kButton, L"D&one", 222, 199, 50, 14, BS_PUSHBUTTON},
        {kNoId, kStatic, L"", 7, 219, 444, 1, SS_ETCHEDHORZ},
        {IDC_STATUS, kStatic, L"Status:", 7, 226, 444, 8, SS_LEFT},
        {kNoId, kStatic,
         L"Select the checkbox of each item you would like to migrate and then click Migrate.",
         7, 5, 444, 14, SS_LEFT},
        {IDC_HELP_BUTTON, kButton, L"Help", 275, 199, 50, 14, BS_PUSHBUTTON},
        {kNoId, kStatic, L"Source:", 7, 17, 42, 8, SS_LEFT},
        {kNoId, kStatic, L"Destination:", 7, 28, 42, 8, SS_LEFT},
        {IDC_SOURCE_PATH, kStatic, L"source path", 54, 17, 313, 8, SS_LEFT},
        {IDC_DEST_PATH, kStatic, L"destination path", 54, 28, 313, 8, SS_LEFT},
    };
    ASSERT_EQ(d.items.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i)
        expectItem(d.items[i], want[i], i);

    const DWORD listStyle = LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER | WS_TABSTOP;
    EXPECT_EQ(d.items[0].style & listStyle, listStyle);
    EXPECT_EQ(d.items[0].style & LVS_TYPEMASK, DWORD(LVS_REPORT));
    // Directory names may contain '&': the path and status lines show them literally.
    for (size_t i : {7u, 12u, 13u})
        EXPECT_TRUE(d.items[i].style & SS_NOPREFIX) << "control " << i;
}

TEST(DialogTemplates, AboutBoxShowsIconVersionAndOk) {
    Dialog d = loadTemplate(IDD_ABOUTBOX);
    EXPECT_EQ(d.caption, L"About quarnrept_migrate");
    EXPECT_EQ(d.cx, 235);
    EXPECT_EQ(d.cy, 55);
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(d.typeface, L"MS Shell Dlg");
    const DWORD frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    EXPECT_EQ(d.style & frame, frame);
    EXPECT_FALSE(d.style & WS_VISIBLE);

    ASSERT_EQ(d.items.size(), 5u);
    expectItem(d.items[0], {kNoId, kStatic, L"#128", 11, 17, 21, 20, SS_ICON}, 0);
    expectItem(d.items[1], {kNoId, kStatic, L"quarnrept_migrate Version 1.0", 40, 10, 119, 8, SS_LEFT}, 1);
    EXPECT_TRUE(d.items[1].style & SS_NOPREFIX);
    expectItem(d.items[2], {IDOK, kButton, L"OK", 178, 7, 50, 16, BS_DEFPUSHBUTTON}, 2);
    // The wording of the last two lines is free; their places are not.
    expectItem(d.items[3], {kNoId, kStatic, d.items[3].text, 40, 25, 119, 8, SS_LEFT}, 3);
    expectItem(d.items[4], {kNoId, kStatic, d.items[4].text, 39, 40, 135, 8, SS_LEFT}, 4);
    EXPECT_FALSE(d.items[3].text.empty());
    EXPECT_FALSE(d.items[4].text.empty());
}

TEST(Resources, SystemMenuString) {
    wchar_t buf[64] = {};
    ASSERT_GT(LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, buf, 64), 0);
    EXPECT_STREQ(buf, L"&About quarnrept_migrate...");
}

TEST(Resources, EveryIconHasA16And32PixelImage) {
    for (int id : {IDR_MAINFRAME, IDI_DOCUMENT, IDI_REGISTRY, IDI_CORD}) {
        // The group directory names exactly the two sizes, as 32-bit images
        // (the list's image list is 32-bit with a mask).
        HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
        ASSERT_NE(group, nullptr) << "icon " << id;
        auto dir = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
        for (int size : {16, 32}) {
            SCOPED_TRACE("icon " + std::to_string(id) + " at " + std::to_string(size));
            int imageId = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(dir), TRUE, size, size, LR_DEFAULTCOLOR);
            ASSERT_NE(imageId, 0);
            HRSRC image = FindResourceW(nullptr, MAKEINTRESOURCEW(imageId), MAKEINTRESOURCEW(3) /* RT_ICON */);
            ASSERT_NE(image, nullptr);
            auto bih = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, image)));
            EXPECT_EQ(bih->biWidth, size);
            EXPECT_EQ(bih->biHeight, size * 2); // colour and mask
            EXPECT_EQ(bih->biBitCount, 32);

            HICON icon = static_cast<HICON>(
                LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
            ASSERT_NE(icon, nullptr);
            ICONINFO info = {};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP bm = {};
            GetObjectW(info.hbmColor, sizeof bm, &bm);
            EXPECT_EQ(bm.bmWidth, size);
            EXPECT_EQ(bm.bmHeight, size);
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
    }
}

TEST(Resources, VersionBlockNamesTheProduct) {
    wchar_t exe[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(exe, &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe, 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));

    auto value = [&](const wchar_t* name) {
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        wchar_t* text = nullptr;
        UINT n = 0;
        if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &n) || !text)
            return std::wstring();
        return std::wstring(text);
    };
    EXPECT_EQ(value(L"ProductName"), L"quarnrept_migrate");
    EXPECT_EQ(value(L"FileDescription"), L"Operational Reporting Beta to 5.2.2 Migration Tool");
    EXPECT_EQ(value(L"CompanyName"), L"Norvale");
    EXPECT_EQ(value(L"FileVersion"), L"1.0.0.0");
}

TEST(Resources, ManifestAsksForCommonControls6WithoutElevation) {
    std::wstring manifest = resourceText(1, MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find(L"name=\"Microsoft.Windows.Common-Controls\""), std::wstring::npos);
    EXPECT_NE(manifest.find(L"version=\"6.0.0.0\""), std::wstring::npos);
    EXPECT_NE(manifest.find(L"level=\"asInvoker\""), std::wstring::npos);
    EXPECT_NE(manifest.find(L">true</dpiAware>"), std::wstring::npos);

    // The loader honours it: comctl32 comes from the side-by-side common-controls
    // assembly, not from system32. (Wine's copy reports 5.81 from DllGetVersion
    // either way, so the path is what tells.)
    ACTCTX_SECTION_KEYED_DATA found = {};
    found.cbSize = sizeof found;
    EXPECT_TRUE(FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                         L"comctl32.dll", &found));
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    CharLowerW(path);
    EXPECT_NE(std::wstring(path).find(L"microsoft.windows.common-controls"), std::wstring::npos)
        << std::string(path, path + lstrlenW(path));
}

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
        HWND w = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), nullptr, quietDialogProc, 0);
        m_windows.push_back(w);
        return w;
    }
    void TearDown() override {
        for (HWND w : m_windows)
            if (w)
                DestroyWindow(w);
    }
    std::vector<HWND> m_windows;
};

TEST_F(LiveDialog, MainDialogCreatesWithRefreshAsDefaultAndTabsThroughTheButtons) {
    HWND dlg = create(IDD_QUARNREPT_MIGRATE_DIALOG);
    ASSERT_NE(dlg, nullptr) << "CreateDialogParam failed: " << GetLastError();

    HWND list = GetDlgItem(dlg, IDC_ITEM_LIST);
    ASSERT_NE(list, nullptr);
    wchar_t cls[64] = {};
    GetClassNameW(list, cls, 64);
    EXPECT_STREQ(cls, L"SysListView32");
    for (int id : {IDC_STATUS, IDC_SOURCE_PATH, IDC_DEST_PATH})
        EXPECT_NE(GetDlgItem(dlg, id), nullptr) << id;

    LRESULT def = SendMessageW(dlg, DM_GETDEFID, 0, 0);
    EXPECT_EQ(HIWORD(def), DC_HASDEFID);
    EXPECT_EQ(LOWORD(def), IDC_REFRESH);

    // Tab order: the list, then the buttons in template order, then round again.
    std::vector<int> order;
    HWND at = list;
    for (int i = 0; i < 7; ++i) {
        at = GetNextDlgTabItem(dlg, at, FALSE);
        ASSERT_NE(at, nullptr);
        order.push_back(GetDlgCtrlID(at));
    }
    EXPECT_EQ(order, (std::vector<int>{IDC_REFRESH, IDC_CLEAR_ALL, IDC_SELECT_ALL, IDOK, IDCANCEL,
                                       IDC_HELP_BUTTON, IDC_ITEM_LIST}));
}

TEST_F(LiveDialog, AboutBoxCreatesWithOkAsDefault) {
    HWND dlg = create(IDD_ABOUTBOX);
    ASSERT_NE(dlg, nullptr) << "CreateDialogParam failed: " << GetLastError();
    LRESULT def = SendMessageW(dlg, DM_GETDEFID, 0, 0);
    EXPECT_EQ(HIWORD(def), DC_HASDEFID);
    EXPECT_EQ(LOWORD(def), IDOK);
    wchar_t text[64] = {};
    GetWindowTextW(dlg, text, 64);
    EXPECT_STREQ(text, L"About quarnrept_migrate");
}

} // namespace
