// The main dialog as a user meets it, driven from outside its own thread.
#include "tests/app/dialog_harness.h"

#include "app/migrate_app.h"
#include "res/resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

using namespace qmtest;

namespace {

// Test workers follow the worker contract: buttons off first, back on last.
// They and the one dialog test share these, which start as declared.
std::atomic<int> g_rowsToAdd{3};
std::atomic<int> g_migrateRuns{0};
std::atomic<bool> g_buttonsOffAtStart{false};
std::atomic<int> g_refreshRuns { 0 };
const HANDLE g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
// Holds a migrate worker's thread open after its run has ended.
const HANDLE g_leave = CreateEventW(nullptr, TRUE, FALSE, nullptr);

DWORD WINAPI listingWorker(LPVOID parameter)
{
    auto* view = static_cast<IMigrationView*>(parameter);
    ++g_refreshRuns;
    view->EnableWorkerButtons(BUTTONS_NONE);
    view->ClearList();
    for (int i = 0; i < g_rowsToAdd; ++i) {
        std::wstring n = std::to_wstring(i);
        view->AddListItem(ITEM_RECIPIENTS, L"Recipients", L"r" + n + L".rcp", L"c:\\beta" + n, L"r" + n + L".rcp",
                          L"c:\\ga" + n, L"To unicode");
    }
    view->EndRun(g_rowsToAdd > 0 ? BUTTONS_ALL : BUTTON_REFRESH | BUTTON_DONE);
    return 0;
}

// Notes whether the dialog turned the buttons off before starting it, then
// holds its run open until g_release is set.
DWORD WINAPI migrateWorker(LPVOID parameter)
{
    auto* view = static_cast<IMigrationView*>(parameter);
    const HWND dialog = static_cast<CMigrateDlg*>(view)->Hwnd();
    g_buttonsOffAtStart = true;
    for (int id : {IDOK, IDC_CLEAR_ALL, IDC_SELECT_ALL, IDC_REFRESH, IDCANCEL})
        g_buttonsOffAtStart = g_buttonsOffAtStart && !IsWindowEnabled(GetDlgItem(dialog, id));
    ++g_migrateRuns;
    WaitForSingleObject(g_release, 20000);
    view->EndRun(BUTTONS_ALL);
    WaitForSingleObject(g_leave, 60000);
    return 0;
}

} // namespace

// The user's own classes name another library as the help control (what
// Windows shows first in HKEY_CLASSES_ROOT; Wine shows only the machine's, so
// the test has HKEY_CLASSES_ROOT show these).
class PlantedHelpControl {
public:
    PlantedHelpControl()
    {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\qm planted classes", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &m_classes, nullptr);
        HKEY server = nullptr;
        RegCreateKeyExW(m_classes, L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &server, nullptr);
        const std::wstring path = widen(QM_ANY_DLL);
        RegSetValueExW(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       DWORD((path.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(server);
        RegOverridePredefKey(HKEY_CLASSES_ROOT, m_classes);
    }
    ~PlantedHelpControl()
    {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        RegCloseKey(m_classes);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\qm planted classes");
    }
    bool Planted() const
    {
        HKEY key = nullptr;
        const bool shown = RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}"
                                         L"\\InprocServer32", 0, KEY_READ, &key) == ERROR_SUCCESS;
        wchar_t path[MAX_PATH] = L"";
        DWORD bytes = sizeof path - sizeof(wchar_t);
        const bool planted = shown && RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(path),
                                                       &bytes) == ERROR_SUCCESS && widen(QM_ANY_DLL) == path;
        if (key)
            RegCloseKey(key);
        return planted;
    }

private:
    HKEY m_classes = nullptr;
};

TEST(MainDialog, ConfirmedRunHoldsTheWindowAndAfterItEverythingAnswers)
{
    PlantedHelpControl planted;
    ASSERT_TRUE(planted.Planted());
    DialogHarness ui(listingWorker, migrateWorker);
    const CListReader list = ui.List();
    ASSERT_EQ(3, list.RowCount());

    // Work from another thread runs on the dialog's, and its exception comes
    // back to the caller; a stray call message, as any process on the
    // desktop could send, runs nothing.
    SendMessageW(ui.Hwnd(), WM_DIALOG_RUN, 1, 0x10);
    DWORD ranOn = 0;
    ui.Dlg().RunOnOwnThread([&] { ranOn = GetCurrentThreadId(); });
    EXPECT_EQ(GetWindowThreadProcessId(ui.Hwnd(), nullptr), ranOn);
    EXPECT_THROW(ui.Dlg().RunOnOwnThread([] { throw std::runtime_error("dialog call failed"); }),
                 std::runtime_error);

    // The path lines follow the selected row, not a ticked one.
    auto paths = [&] { return windowText(ui.Control(IDC_SOURCE_PATH)) + L"|" + windowText(ui.Control(IDC_DEST_PATH)); };
    list.SelectAndShowRow(2);
    EXPECT_TRUE(waitUntil([&] { return paths() == L"c:\\beta2|c:\\ga2"; })) << narrow(paths());
    list.SetChecked(1, false);
    ui.Settle();
    EXPECT_EQ(L"c:\\beta2|c:\\ga2", paths());

    auto ticked = [&] { return list.IsChecked(0) + list.IsChecked(1) + list.IsChecked(2); };
    ui.Click(IDC_SELECT_ALL);
    EXPECT_TRUE(waitUntil([&] { return ticked() == 3; }));
    ui.Click(IDC_CLEAR_ALL);
    EXPECT_TRUE(waitUntil([&] { return ticked() == 0; }));

    // Nothing ticked: only a note, and no run.
    ui.Click(IDOK);
    HWND box = waitForDialogWithText(L"No items are selected.", ui.Hwnd());
    ASSERT_TRUE(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(box); }));

    // Only the last row ticked: the confirmation still comes, a question with
    // Yes, No and the question mark; No starts nothing.
    list.SetChecked(2, true);
    ui.Click(IDOK);
    box = waitForDialogWithText(L"You are about to migrate", ui.Hwnd());
    ASSERT_TRUE(box);
    EXPECT_TRUE(GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO) && !GetDlgItem(box, IDOK));
    HICON shown = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            shown = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    EXPECT_EQ(LoadIconW(nullptr, IDI_QUESTION), shown);
    PostMessageW(box, WM_COMMAND, IDNO, 0);
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(box); }));
    ui.Settle();
    EXPECT_EQ(0, g_migrateRuns.load());

    // Yes: the buttons go off before the worker starts, and while it runs no
    // close request and no second worker gets through.
    ui.Click(IDOK);
    box = waitForDialogWithText(L"You are about to migrate", ui.Hwnd());
    ASSERT_TRUE(box);
    PostMessageW(box, WM_COMMAND, IDYES, 0);
    ASSERT_TRUE(waitUntil([&] { return g_migrateRuns.load() == 1; }));
    EXPECT_TRUE(g_buttonsOffAtStart);
    PostMessageW(ui.Hwnd(), WM_CLOSE, 0, 0); // the close box
    PostMessageW(ui.Hwnd(), WM_COMMAND, IDCANCEL, 0); // Done, however it is reached
    ui.Command(IDC_REFRESH);
    ui.Settle();
    EXPECT_FALSE(ui.Closed());
    EXPECT_EQ(1, g_migrateRuns.load());
    EXPECT_EQ(1, g_refreshRuns.load());

    // The run is over when the worker says so, though its thread lingers to
    // the end of the test: a click at once is not lost.
    SetEvent(g_release);
    ASSERT_TRUE(waitUntil([&] { return IsWindowEnabled(ui.Control(IDC_REFRESH)) != FALSE; }));
    g_rowsToAdd = 0;
    ui.Click(IDC_REFRESH);
    ASSERT_TRUE(waitUntil([&] { return g_refreshRuns.load() == 2 && !ui.Dlg().WorkerRunning(); }));

    // An empty list: even reached by command, Migrate asks nothing and
    // starts nothing.
    ui.Command(IDOK);
    ui.Settle();
    EXPECT_EQ(nullptr, findDialogWithText(L"", ui.Hwnd()));
    EXPECT_EQ(1, g_migrateRuns.load());

    // The About box, from its entry in the system menu.
    wchar_t entry[128] = {};
    EXPECT_GT(GetMenuStringW(GetSystemMenu(ui.Hwnd(), FALSE), IDM_ABOUTBOX, entry, 128, MF_BYCOMMAND), 0);
    PostMessageW(ui.Hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = waitForDialogWithText(L"quarnrept_migrate Version 1.0", ui.Hwnd());
    ASSERT_TRUE(about);
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(about) && IsWindowEnabled(ui.Hwnd()); }));

    // The help file stands beside this test, as beside the tool: its window
    // opens with the dialog; once closed, Help opens it again without holding
    // up the dialog, and Done closes it.
    auto help = [] {
        HWND window = FindWindowW(L"HH Parent", nullptr);
        return window && IsWindowVisible(window) ? window : nullptr;
    };
    ASSERT_TRUE(waitUntil([&] { return help() != nullptr; }, 10000)) << "no help window at start";
    EXPECT_EQ(nullptr, GetModuleHandleW(widen(QM_ANY_DLL).c_str())) << "the user's classes chose the help control";
    PostMessageW(help(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return !help(); }, 10000));
    ui.Click(IDC_HELP_BUTTON);
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(ui.Hwnd(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer));
    ASSERT_TRUE(waitUntil([&] { return help() != nullptr; }, 10000)) << "Help opened no window";
    // Wine's help control keeps the dialog thread busy for some seconds after
    // its window shows, and closing it takes a few more.
    ui.Command(IDCANCEL); // Done, while the help window has the focus
    EXPECT_TRUE(waitUntil([&] { return ui.Closed(); }, 30000));
    EXPECT_TRUE(waitUntil([&] { return !help(); })) << "closing leaves no help window";
    SetEvent(g_leave);
}

// Once the search is limited, a library beside the current directory or
// beside the exe is not found by name, though it is there.
TEST(StartUp, NeitherTheCurrentDirectoryNorTheExesFolderIsAPlaceToFindLibraries)
{
    TempDir dir;
    wchar_t exe[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring beside = exe;
    beside = beside.substr(0, beside.find_last_of(L'\\') + 1) + L"qmbeside.dll";
    ASSERT_TRUE(CopyFileW(widen(QM_ANY_DLL).c_str(), (dir / L"qmplanted.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(widen(QM_ANY_DLL).c_str(), beside.c_str(), FALSE));
    wchar_t previous[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(dir.Path().c_str());
    searchLibrariesInSystem32Only();
    EXPECT_EQ(nullptr, LoadLibraryW(L"qmplanted.dll"));
    EXPECT_EQ(nullptr, LoadLibraryW(L"qmbeside.dll"));
    EXPECT_NE(nullptr, LoadLibraryW(L"version.dll")) << "System32 is still searched";
    SetCurrentDirectoryW(previous);
    DeleteFileW(beside.c_str());
}
