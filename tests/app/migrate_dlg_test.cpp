// The main dialog as a user meets it, driven from outside its own thread.
#include "tests/app/dialog_harness.h"

#include "common/trace/trace.h"
#include "res/resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>

using namespace qmtest;

namespace {

// Test workers. Like the real ones they follow the worker contract: buttons
// off first, back on last.
std::atomic<int> g_rowsToAdd{3};
std::atomic<int> g_migrateRuns{0};
std::atomic<bool> g_buttonsOffAtStart{false};
HANDLE g_release = nullptr;

DWORD WINAPI listingWorker(LPVOID parameter)
{
    auto* view = static_cast<CMigrationView*>(parameter);
    view->disableWorkerButtons();
    view->m_status.setText(L"Working");
    view->ClearList();
    for (int i = 0; i < g_rowsToAdd; ++i) {
        std::wstring n = std::to_wstring(i);
        view->AddListItem(ITEM_RECIPIENTS, L"Recipients", L"r" + n + L".rcp", L"c:\\beta" + n, L"r" + n + L".rcp",
                          L"c:\\ga" + n, L"To unicode");
    }
    const bool rows = view->m_list.rowCount() > 0;
    if (rows)
        view->m_list.selectAndShowRow(0);
    view->enableWorkerButtons(rows, rows, rows, true, true);
    view->m_status.setText(L"Ready");
    return 0;
}

DWORD WINAPI countingMigrateWorker(LPVOID parameter)
{
    auto* view = static_cast<CMigrationView*>(parameter);
    g_buttonsOffAtStart = !view->m_btnMigrate.isEnabled() && !view->m_btnClearAll.isEnabled()
                          && !view->m_btnSelectAll.isEnabled() && !view->m_btnRefresh.isEnabled()
                          && !view->m_btnDone.isEnabled();
    ++g_migrateRuns;
    view->enableWorkerButtons(true, true, true, true, true);
    return 0;
}

// Holds its run open until the test sets g_release.
DWORD WINAPI blockingWorker(LPVOID parameter)
{
    auto* view = static_cast<CMigrationView*>(parameter);
    view->disableWorkerButtons();
    view->m_status.setText(L"Working...");
    WaitForSingleObject(g_release, 20000);
    view->enableWorkerButtons(true, true, true, true, true);
    view->m_status.setText(L"Ready");
    return 0;
}

BOOL CALLBACK countHelpWindows(HWND window, LPARAM counter)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[64];
    GetClassNameW(window, name, 64);
    if (process == GetCurrentProcessId() && std::wstring(name) == L"HH Parent" && IsWindowVisible(window))
        ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

bool ticked(CMigrateDlg& dlg, int row)
{
    return dlg.m_list.isChecked(row);
}

class MainDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_rowsToAdd = 3;
        g_migrateRuns = 0;
        g_buttonsOffAtStart = false;
        g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override
    {
        SetEvent(g_release);
        CloseHandle(g_release);
    }
};

} // namespace

TEST_F(MainDialog, ShowsItsWindowListAndTheFirstRowsPaths)
{
    DialogHarness ui(listingWorker, countingMigrateWorker);
    ASSERT_TRUE(ui.hwnd());
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
    for (int row = 0; row < 3; ++row)
        EXPECT_TRUE(ticked(ui.dlg(), row));
    // Row 0 was selected by the worker; its roots show in the path lines.
    EXPECT_TRUE(waitUntil([&] { return windowText(ui.control(IDC_SOURCE_PATH)) == L"c:\\beta0"; }));
    EXPECT_EQ(L"c:\\ga0", windowText(ui.control(IDC_DEST_PATH)));
    EXPECT_EQ(L"Ready", windowText(ui.control(IDC_STATUS)));
    EXPECT_TRUE(ui.close());
}

TEST_F(MainDialog, SelectingARowShowsItsRootsAndTickingAnotherDoesNot)
{
    DialogHarness ui(listingWorker, countingMigrateWorker);
    CCheckListCtrl& list = ui.dlg().m_list;
    list.selectAndShowRow(2);
    EXPECT_TRUE(waitUntil([&] { return windowText(ui.control(IDC_SOURCE_PATH)) == L"c:\\beta2"; }));
    EXPECT_EQ(L"c:\\ga2", windowText(ui.control(IDC_DEST_PATH)));

    list.setChecked(1, false);
    ui.settle();
    EXPECT_EQ(L"c:\\beta2", windowText(ui.control(IDC_SOURCE_PATH)));
    EXPECT_EQ(L"c:\\ga2", windowText(ui.control(IDC_DEST_PATH)));
}

TEST_F(MainDialog, SelectAllAndClearAllTickAndUntickEveryRow)
{
    DialogHarness ui(listingWorker, countingMigrateWorker);
    ui.click(IDC_CLEAR_ALL);
    EXPECT_TRUE(waitUntil([&] { return !ticked(ui.dlg(), 0) && !ticked(ui.dlg(), 1) && !ticked(ui.dlg(), 2); }));
    ui.click(IDC_SELECT_ALL);
    EXPECT_TRUE(waitUntil([&] { return ticked(ui.dlg(), 0) && ticked(ui.dlg(), 1) && ticked(ui.dlg(), 2); }));
    ui.click(IDC_CLEAR_ALL);
    EXPECT_TRUE(waitUntil([&] { return !ticked(ui.dlg(), 0) && !ticked(ui.dlg(), 1) && !ticked(ui.dlg(), 2); }));
}

TEST_F(MainDialog, EmptyListLeavesMigrateSelectAllAndClearAllOff)
{
    g_rowsToAdd = 0;
    DialogHarness ui(listingWorker, countingMigrateWorker);
    EXPECT_FALSE(IsWindowEnabled(ui.control(IDOK)));
    EXPECT_FALSE(IsWindowEnabled(ui.control(IDC_SELECT_ALL)));
    EXPECT_FALSE(IsWindowEnabled(ui.control(IDC_CLEAR_ALL)));
    EXPECT_TRUE(IsWindowEnabled(ui.control(IDC_REFRESH)));
    EXPECT_TRUE(IsWindowEnabled(ui.control(IDCANCEL)));

    // Even reached by command, none of them does anything on an empty list.
    ui.command(IDC_SELECT_ALL);
    ui.command(IDC_CLEAR_ALL);
    ui.command(IDOK);
    ui.settle();
    EXPECT_EQ(nullptr, findDialogWithText(L"", ui.hwnd()));
    EXPECT_EQ(0, g_migrateRuns.load());
    EXPECT_EQ(0, ui.dlg().m_list.rowCount());
    EXPECT_TRUE(ui.close());
}

TEST_F(MainDialog, MigrateWithNothingTickedSaysSoAndStartsNothing)
{
    DialogHarness ui(listingWorker, countingMigrateWorker);
    ui.click(IDC_CLEAR_ALL);
    ASSERT_TRUE(waitUntil([&] { return !ticked(ui.dlg(), 2); }));
    ui.click(IDOK);
    HWND box = waitForDialogWithText(L"No items are selected.", ui.hwnd());
    ASSERT_TRUE(box);
    EXPECT_EQ(L"No items are selected.", messageBoxText(box));
    EXPECT_EQ(std::wstring(APP_TITLE), windowText(box));
    EXPECT_EQ(nullptr, GetDlgItem(box, IDNO)) << "a single OK button";
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(box); }));
    EXPECT_EQ(0, g_migrateRuns.load());
}

TEST_F(MainDialog, ConfirmationShowsTheWholeTextAndOnlyYesStartsTheWorker)
{
    DialogHarness ui(listingWorker, countingMigrateWorker);
    ui.click(IDC_CLEAR_ALL);
    ASSERT_TRUE(waitUntil([&] { return !ticked(ui.dlg(), 2); }));
    ui.dlg().m_list.setChecked(2, true); // the first ticked row may be the last one

    ui.click(IDOK);
    HWND box = waitForDialogWithText(L"You are about to migrate", ui.hwnd());
    ASSERT_TRUE(box);
    EXPECT_EQ(L"You are about to migrate settings and files from the beta version of operational reporting to "
              L"the GA version. This will overwrite settings and files in the GA version.\n\nIf you are using the "
              L"web summary feature those files are converted to Unicode in place and you may want to make a "
              L"backup copy of those files before proceeding. The default location of those files is:\n"
              L"c:\\program files\\ostrel\\quarn\\console_reporting\\web\n\nAre you sure you want to continue?.",
              messageBoxText(box));
    EXPECT_TRUE(GetDlgItem(box, IDYES));
    EXPECT_TRUE(GetDlgItem(box, IDNO));

    const std::wstring statusBefore = windowText(ui.control(IDC_STATUS));
    PostMessageW(box, WM_COMMAND, IDNO, 0);
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(box); }));
    ui.settle();
    EXPECT_EQ(0, g_migrateRuns.load());
    EXPECT_EQ(statusBefore, windowText(ui.control(IDC_STATUS)));
    EXPECT_TRUE(IsWindowEnabled(ui.control(IDOK)));
    EXPECT_EQ(3, ui.dlg().m_list.rowCount());
    EXPECT_TRUE(ticked(ui.dlg(), 2));

    ui.click(IDOK);
    box = waitForDialogWithText(L"You are about to migrate", ui.hwnd());
    ASSERT_TRUE(box);
    PostMessageW(box, WM_COMMAND, IDYES, 0);
    ASSERT_TRUE(waitUntil([] { return g_migrateRuns.load() == 1; }));
    EXPECT_TRUE(g_buttonsOffAtStart) << "the dialog disables the buttons before the worker starts";
    EXPECT_TRUE(waitUntil([&] { return !ui.dlg().workerRunning(); }));
    EXPECT_TRUE(ui.close());
}

TEST_F(MainDialog, EveryCloseRequestWaitsForTheRunningWorker)
{
    DialogHarness ui(listingWorker, blockingWorker);
    ui.click(IDOK);
    HWND box = waitForDialogWithText(L"You are about to migrate", ui.hwnd());
    ASSERT_TRUE(box);
    PostMessageW(box, WM_COMMAND, IDYES, 0);
    ASSERT_TRUE(waitUntil([&] { return windowText(ui.control(IDC_STATUS)) == L"Working..."; }));
    EXPECT_FALSE(IsWindowEnabled(ui.control(IDCANCEL)));

    PostMessageW(ui.hwnd(), WM_CLOSE, 0, 0);                 // the close box
    PostMessageW(ui.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);     // Alt+F4, the system menu
    PostMessageW(ui.hwnd(), WM_COMMAND, IDCANCEL, 0);        // Done, however it is reached
    ui.key(VK_ESCAPE);                                       // Escape
    ui.command(IDC_REFRESH);                                 // no second worker either
    ui.settle();
    EXPECT_FALSE(ui.closed());
    EXPECT_TRUE(IsWindow(ui.hwnd()));
    EXPECT_EQ(L"Working...", windowText(ui.control(IDC_STATUS)));

    SetEvent(g_release);
    ASSERT_TRUE(waitUntil([&] { return !ui.dlg().workerRunning(); }));
    EXPECT_EQ(L"Ready", windowText(ui.control(IDC_STATUS)));
    PostMessageW(ui.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(waitUntil([&] { return ui.closed(); }));
}

TEST_F(MainDialog, AboutBoxOpensFromTheSystemMenuAndReturns)
{
    DialogHarness ui(listingWorker, countingMigrateWorker);
    HMENU menu = GetSystemMenu(ui.hwnd(), FALSE);
    ASSERT_TRUE(menu);
    wchar_t entry[128] = {};
    ASSERT_GT(GetMenuStringW(menu, IDM_ABOUTBOX, entry, 128, MF_BYCOMMAND), 0);
    EXPECT_STREQ(L"&About quarnrept_migrate...", entry);

    PostMessageW(ui.hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = waitForDialogWithText(L"About quarnrept_migrate", ui.hwnd());
    ASSERT_TRUE(about);
    EXPECT_TRUE(findDialogWithText(L"quarnrept_migrate Version 1.0", ui.hwnd()));
    EXPECT_FALSE(IsWindowEnabled(ui.hwnd())) << "the About box is modal";
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(about); }));
    EXPECT_TRUE(waitUntil([&] { return IsWindowEnabled(ui.hwnd()) != FALSE; }));
    EXPECT_EQ(3, ui.dlg().m_list.rowCount());
    EXPECT_TRUE(ui.close());
}

TEST_F(MainDialog, HelpNeverHangsAndClosingLeavesNoHelpWindow)
{
    DialogHarness ui(listingWorker, countingMigrateWorker);
    ui.click(IDC_HELP_BUTTON);
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(ui.hwnd(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer));
    EXPECT_TRUE(ui.close(10000));
    auto helpWindows = [] {
        int count = 0;
        EnumWindows(countHelpWindows, reinterpret_cast<LPARAM>(&count));
        return count;
    };
    EXPECT_TRUE(waitUntil([&] { return helpWindows() == 0; }));
}

TEST_F(MainDialog, StartingReplacesTheTraceOfTheLastRun)
{
    TempDir scratch;
    const std::wstring trace = scratch / L"trace_quarnrept_migrate.txt";
    writeBytes(trace, "left over from an earlier run");

    DialogHarness ui(listingWorker, countingMigrateWorker, true, scratch.path());
    std::string bytes = readBytes(trace);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
    std::wstring text = fromUtf16le(bytes.substr(2));
    EXPECT_EQ(std::wstring::npos, text.find(L"left over"));
    EXPECT_NE(std::wstring::npos, text.find(L"* trace started "));
    EXPECT_NE(std::wstring::npos, text.find(L" # migrate_dlg.cpp # "));
    EXPECT_NE(std::wstring::npos, text.find(L"quarnrept_migr: createthread Refresh\r\n"));
    EXPECT_TRUE(ui.close());
}
