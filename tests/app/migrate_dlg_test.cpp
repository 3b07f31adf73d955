// The main dialog as a user meets it, driven from outside its own thread.
#include "tests/app/dialog_harness.h"

#include "app/migrate_app.h"
#include "res/resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>

using namespace qmtest;

namespace {

// Test workers follow the worker contract: buttons off first, back on last.
std::atomic<int> g_rowsToAdd{3};
std::atomic<int> g_migrateRuns{0};
std::atomic<bool> g_buttonsOffAtStart{false};
std::atomic<int> g_refreshRuns { 0 };
std::atomic<bool> g_hold{false};
HANDLE g_release = nullptr;
HANDLE g_leave = nullptr; // holds a migrate worker's thread open after its run has ended

DWORD WINAPI listingWorker(LPVOID parameter)
{
    auto* view = static_cast<CMigrationView*>(parameter);
    ++g_refreshRuns;
    view->disableWorkerButtons();
    view->ClearList();
    for (int i = 0; i < g_rowsToAdd; ++i) {
        std::wstring n = std::to_wstring(i);
        view->AddListItem(ITEM_RECIPIENTS, L"Recipients", L"r" + n + L".rcp", L"c:\\beta" + n, L"r" + n + L".rcp",
                          L"c:\\ga" + n, L"To unicode");
    }
    const bool rows = view->m_list.rowCount() > 0;
    if (rows)
        view->m_list.selectAndShowRow(0);
    view->m_status.setText(L"Ready");
    view->endRun(rows ? BUTTONS_ALL : BUTTON_REFRESH | BUTTON_DONE);
    return 0;
}

// Notes whether the dialog turned the buttons off before starting it, then
// holds its run open until g_release is set (at once unless g_hold).
DWORD WINAPI migrateWorker(LPVOID parameter)
{
    auto* view = static_cast<CMigrationView*>(parameter);
    g_buttonsOffAtStart = !view->m_btnMigrate.isEnabled() && !view->m_btnClearAll.isEnabled()
                          && !view->m_btnSelectAll.isEnabled() && !view->m_btnRefresh.isEnabled()
                          && !view->m_btnDone.isEnabled();
    ++g_migrateRuns;
    view->m_status.setText(L"Working...");
    if (g_hold)
        WaitForSingleObject(g_release, 20000);
    view->m_status.setText(L"Ready");
    view->endRun(BUTTONS_ALL);
    if (g_hold)
        WaitForSingleObject(g_leave, 20000);
    return 0;
}

bool allTicked(DialogHarness& ui, bool ticked)
{
    for (int row = 0; row < ui.dlg().m_list.rowCount(); ++row) {
        if (ui.dlg().m_list.isChecked(row) != ticked)
            return false;
    }
    return true;
}

class MainDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_rowsToAdd = 3;
        g_migrateRuns = 0;
        g_buttonsOffAtStart = false;
        g_refreshRuns = 0;
        g_hold = false;
        g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        g_leave = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override
    {
        SetEvent(g_release);
        SetEvent(g_leave);
        Sleep(50);
        CloseHandle(g_release);
        CloseHandle(g_leave);
    }
};

} // namespace

TEST_F(MainDialog, ListTicksConfirmationAndAboutBox)
{
    TempDir scratch;
    const std::wstring trace = scratch / L"trace_quarnrept_migrate.txt";
    writeBytes(trace, "left over from an earlier run");
    DialogHarness ui(listingWorker, migrateWorker, scratch.path());
    ASSERT_TRUE(ui.hwnd());

    // Starting replaces the last run's trace.
    const std::string bytes = readBytes(trace);
    EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
    const std::wstring traced = fromUtf16le(bytes.substr(2));
    EXPECT_NE(std::wstring::npos, traced.find(L" # migrate_dlg.cpp # "));
    EXPECT_NE(std::wstring::npos, traced.find(L"quarnrept_migr: createthread Refresh\r\n"));

    EXPECT_EQ(L"Operational Reporting Beta to 5.2.2 Migration Tool", windowText(ui.hwnd()));
    const wchar_t* titles[] = {L"Description", L"Source", L"Conversion", L"Destination", L"State"};
    const int widths[] = {130, 150, 100, 200, 500};
    HWND list = ui.control(IDC_ITEM_LIST);
    for (int i = 0; i < 5; ++i) {
        wchar_t title[64] = {};
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.pszText = title;
        column.cchTextMax = 64;
        ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(titles[i], title);
        EXPECT_EQ(widths[i], column.cx);
        EXPECT_EQ(LVCFMT_LEFT, column.fmt & LVCFMT_JUSTIFYMASK);
    }
    EXPECT_EQ(DWORD(LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES),
              DWORD(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)));
    ASSERT_EQ(3, ui.dlg().m_list.rowCount());
    EXPECT_TRUE(allTicked(ui, true));
    EXPECT_EQ(L"Ready", windowText(ui.control(IDC_STATUS)));

    // The path lines follow the selected row, not a ticked one.
    auto paths = [&] { return windowText(ui.control(IDC_SOURCE_PATH)) + L"|" + windowText(ui.control(IDC_DEST_PATH)); };
    EXPECT_TRUE(waitUntil([&] { return paths() == L"c:\\beta0|c:\\ga0"; })) << narrow(paths());
    ui.dlg().m_list.selectAndShowRow(2);
    EXPECT_TRUE(waitUntil([&] { return paths() == L"c:\\beta2|c:\\ga2"; })) << narrow(paths());
    ui.dlg().m_list.setChecked(1, false);
    ui.settle();
    EXPECT_EQ(L"c:\\beta2|c:\\ga2", paths());

    ui.click(IDC_SELECT_ALL);
    EXPECT_TRUE(waitUntil([&] { return allTicked(ui, true); }));
    ui.click(IDC_CLEAR_ALL);
    EXPECT_TRUE(waitUntil([&] { return allTicked(ui, false); }));

    // Nothing ticked: a plain OK box and no run.
    ui.click(IDOK);
    HWND box = waitForDialogWithText(L"No items are selected.", ui.hwnd());
    ASSERT_TRUE(box);
    EXPECT_EQ(L"No items are selected.", messageBoxText(box));
    EXPECT_EQ(std::wstring(APP_TITLE), windowText(box));
    EXPECT_EQ(nullptr, GetDlgItem(box, IDNO));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(box); }));

    // Only the last row ticked: the confirmation still comes; No starts nothing.
    ui.dlg().m_list.setChecked(2, true);
    ui.click(IDOK);
    box = waitForDialogWithText(L"You are about to migrate", ui.hwnd());
    ASSERT_TRUE(box);
    EXPECT_EQ(L"You are about to migrate settings and files from the beta version of operational reporting to "
              L"the GA version. This will overwrite settings and files in the GA version.\n\nIf you are using the "
              L"web summary feature those files are converted to Unicode in place and you may want to make a "
              L"backup copy of those files before proceeding. The default location of those files is:\n"
              L"c:\\program files\\ostrel\\quarn\\console_reporting\\web\n\nAre you sure you want to continue?.",
              messageBoxText(box));
    // A question with Yes and No, and the question mark.
    EXPECT_TRUE(GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO) && !GetDlgItem(box, IDOK));
    HICON shown = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            shown = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    EXPECT_EQ(LoadIconW(nullptr, IDI_QUESTION), shown);
    PostMessageW(box, WM_COMMAND, IDNO, 0);
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(box); }));
    ui.settle();
    EXPECT_EQ(0, g_migrateRuns.load());
    EXPECT_EQ(L"Ready", windowText(ui.control(IDC_STATUS)));
    EXPECT_TRUE(IsWindowEnabled(ui.control(IDOK)));
    EXPECT_TRUE(ui.dlg().m_list.isChecked(2));

    ui.click(IDOK);
    box = waitForDialogWithText(L"You are about to migrate", ui.hwnd());
    ASSERT_TRUE(box);
    PostMessageW(box, WM_COMMAND, IDYES, 0);
    ASSERT_TRUE(waitUntil([] { return g_migrateRuns.load() == 1; }));
    EXPECT_TRUE(g_buttonsOffAtStart) << "the dialog disables the buttons before the worker starts";
    ASSERT_TRUE(waitUntil([&] { return !ui.dlg().workerRunning(); }));

    // The About box: in the system menu, modal, and back to the same list.
    wchar_t entry[128] = {};
    EXPECT_GT(GetMenuStringW(GetSystemMenu(ui.hwnd(), FALSE), IDM_ABOUTBOX, entry, 128, MF_BYCOMMAND), 0);
    PostMessageW(ui.hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = waitForDialogWithText(L"quarnrept_migrate Version 1.0", ui.hwnd());
    ASSERT_TRUE(about);
    EXPECT_FALSE(IsWindowEnabled(ui.hwnd()));
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(about) && IsWindowEnabled(ui.hwnd()); }));
    EXPECT_EQ(3, ui.dlg().m_list.rowCount());
    EXPECT_TRUE(ui.close());
}

TEST_F(MainDialog, EmptyListDisablesItsButtonsAndHelpNeverHangs)
{
    g_rowsToAdd = 0;
    DialogHarness ui(listingWorker, migrateWorker);
    std::string enabled;
    for (int id : {IDOK, IDC_SELECT_ALL, IDC_CLEAR_ALL, IDC_REFRESH, IDCANCEL})
        enabled += IsWindowEnabled(ui.control(id)) ? '1' : '0';
    EXPECT_EQ("00011", enabled);
    // Even reached by command, none of them does anything on an empty list.
    ui.command(IDC_SELECT_ALL);
    ui.command(IDC_CLEAR_ALL);
    ui.command(IDOK);
    ui.settle();
    EXPECT_EQ(nullptr, findDialogWithText(L"", ui.hwnd()));
    EXPECT_EQ(0, g_migrateRuns.load());

    // The help file stands beside this test, as beside the tool: Help opens it
    // without holding up the dialog, and Done closes it.
    auto helpShown = [] {
        HWND help = FindWindowW(L"HH Parent", nullptr);
        return help && IsWindowVisible(help);
    };
    ui.click(IDC_HELP_BUTTON);
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(ui.hwnd(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer));
    ASSERT_TRUE(waitUntil(helpShown, 10000)) << "no help window to close";
    // Wine's help control keeps the dialog thread busy for some seconds after
    // its window shows, and closing it takes a few more.
    ui.command(IDCANCEL); // Done, while the help window has the focus
    EXPECT_TRUE(waitUntil([&] { return ui.closed(); }, 30000));
    EXPECT_TRUE(waitUntil([&] { return !helpShown(); })) << "closing leaves no help window";
}

// Once taken out of the search, a library beside the current directory is
// not found by name, though it is there.
TEST(StartUp, TheCurrentDirectoryIsNoPlaceToFindLibraries)
{
    TempDir dir;
    ASSERT_TRUE(CopyFileW(widen(QM_ANY_DLL).c_str(), (dir / L"qmplanted.dll").c_str(), FALSE));
    wchar_t previous[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(dir.path().c_str());
    removeCurrentDirectoryFromDllSearch();
    HMODULE planted = LoadLibraryW(L"qmplanted.dll");
    EXPECT_EQ(nullptr, planted);
    if (planted)
        FreeLibrary(planted);
    SetCurrentDirectoryW(previous);
}

TEST_F(MainDialog, EveryCloseRequestWaitsForTheRunningWorker)
{
    g_hold = true;
    DialogHarness ui(listingWorker, migrateWorker);
    ui.click(IDOK);
    HWND box = waitForDialogWithText(L"You are about to migrate", ui.hwnd());
    ASSERT_TRUE(box);
    PostMessageW(box, WM_COMMAND, IDYES, 0);
    ASSERT_TRUE(waitUntil([&] { return windowText(ui.control(IDC_STATUS)) == L"Working..."; }));
    EXPECT_FALSE(IsWindowEnabled(ui.control(IDCANCEL)));

    PostMessageW(ui.hwnd(), WM_CLOSE, 0, 0);             // the close box
    PostMessageW(ui.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0); // Alt+F4, the system menu
    PostMessageW(ui.hwnd(), WM_COMMAND, IDCANCEL, 0);    // Done, however it is reached
    ui.key(VK_ESCAPE);
    ui.command(IDC_REFRESH); // no second worker either
    ui.settle();
    EXPECT_FALSE(ui.closed());
    EXPECT_EQ(L"Working...", windowText(ui.control(IDC_STATUS)));

    // The run is over when the worker says so, though its thread lingers:
    // a click at once is not lost, and the window may close.
    SetEvent(g_release);
    ASSERT_TRUE(waitUntil([&] { return IsWindowEnabled(ui.control(IDC_REFRESH)) != FALSE; }));
    ui.click(IDC_REFRESH);
    EXPECT_TRUE(waitUntil([&] { return g_refreshRuns.load() == 2 && !ui.dlg().workerRunning(); }));
    EXPECT_EQ(L"Ready", windowText(ui.control(IDC_STATUS)));
    PostMessageW(ui.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(waitUntil([&] { return ui.closed(); }));
}
