// Runs the real main dialog on a thread of its own, as the tool does, so a
// test can post clicks and keys, answer message boxes and read the screen.
#pragma once

#include "app/migrate_dlg.h"
#include "res/resource.h"
#include "tests/support/test_support.h"

#include <functional>
#include <string>
#include <thread>

namespace qmtest {

class DialogHarness {
public:
    // Starts the dialog with the given workers in `directory` (a fresh scratch
    // directory if empty; the trace file lands there) and waits until the
    // first refresh has ended.
    DialogHarness(LPTHREAD_START_ROUTINE refresh, LPTHREAD_START_ROUTINE migrate, const std::wstring& directory = L"");
    ~DialogHarness();

    CMigrateDlg& dlg() { return m_dialog; }
    // The dialog's list and a row's record, read and clicked as a user would.
    CCheckListCtrl& list() { return m_dialog.m_list; }
    const MigrationItem* record(int row) const { return m_dialog.rowRecord(row); }
    HWND hwnd() const { return m_hwnd; }
    HWND control(int id) const { return GetDlgItem(m_hwnd, id); }

    // Posted, so that a message box the button opens does not block the test.
    void click(int id) { PostMessageW(control(id), BM_CLICK, 0, 0); }
    void command(int id)
    {
        PostMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control(id)));
    }
    // Lets the dialog thread handle everything posted so far.
    void settle();
    // Ends the dialog with Done; true when it closed in time.
    bool close(int ms = 5000);
    bool closed() const { return m_closed; }

private:
    TempDir m_dir;
    std::wstring m_previousDirectory;
    // No console message libraries: the language loader is tested on its own.
    CNlsResources m_languageOff{1};
    CMigrateDlg m_dialog;
    HWND m_hwnd = nullptr;
    std::thread m_thread;
    volatile bool m_closed = false;
};

} // namespace qmtest
