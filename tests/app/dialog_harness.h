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

// The dialog's list as the test's thread reaches it: by window messages to
// its window, as any other program could, never through the dialog's own
// objects.
class CListReader : public CListView {
public:
    explicit CListReader(HWND list) { Attach(list); }
    int RowCount() const { return ItemCount(); }
    // Any state image but the unticked box counts as ticked, as in the list.
    bool IsChecked(int row) const { return GetItemState(row, LVIS_STATEIMAGEMASK) != INDEXTOSTATEIMAGEMASK(1); }
    // Ticks or unticks the box, as a click on it does.
    void SetChecked(int row, bool ticked) const
    {
        SetItemState(row, INDEXTOSTATEIMAGEMASK(ticked ? 2 : 1), LVIS_STATEIMAGEMASK);
    }
    void SelectAndShowRow(int row) const
    {
        SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        EnsureVisible(row, false);
    }
};

class DialogHarness {
public:
    // Starts the dialog with the given workers in `directory` (a fresh scratch
    // directory if empty; the trace file lands there) and waits until the
    // first refresh has ended.
    DialogHarness(LPTHREAD_START_ROUTINE refresh, LPTHREAD_START_ROUTINE migrate, const std::wstring& directory = L"");
    ~DialogHarness();

    CMigrateDlg& Dlg() { return m_dialog; }
    // The dialog's list, read and clicked as a user would, and a row's record.
    CListReader List() const { return CListReader(Control(IDC_ITEM_LIST)); }
    const MigrationItem* Record(int row) const { return m_dialog.RowRecord(row); }
    HWND Hwnd() const { return m_hwnd; }
    HWND Control(int id) const { return GetDlgItem(m_hwnd, id); }

    // Posted, so that a message box the button opens does not block the test.
    void Click(int id) { PostMessageW(Control(id), BM_CLICK, 0, 0); }
    void Command(int id)
    {
        PostMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
    }
    // Lets the dialog thread handle everything posted so far.
    void Settle();
    // Ends the dialog with Done; true when it closed in time.
    bool Close(int ms = 5000);
    bool Closed() const { return m_closed; }

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
