#include "tests/app/dialog_harness.h"

#include "common/trace/trace.h"

#include <commctrl.h>

namespace qmtest {

DialogHarness::DialogHarness(LPTHREAD_START_ROUTINE refresh, LPTHREAD_START_ROUTINE migrate,
                             const std::wstring& directory)
{
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    m_previousDirectory = current;
    SetCurrentDirectoryW(directory.empty() ? m_dir.Path().c_str() : directory.c_str());

    m_dialog.SetWorkerRoutines(refresh, migrate);
    m_thread = std::thread([this] {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        m_dialog.DoModal();
        m_closed = true;
    });
    // Generous: a Wine prefix that other tests load at the same time is slow
    // to show the first window.
    waitUntil([this] { return m_dialog.Hwnd() && IsWindowVisible(m_dialog.Hwnd()); }, 30000);
    m_hwnd = m_dialog.Hwnd();
    if (m_hwnd)
        waitUntil([this] { return IsWindowEnabled(Control(IDC_REFRESH)) && !m_dialog.WorkerRunning(); }, 30000);
    Settle();
}

DialogHarness::~DialogHarness()
{
    // Leave nothing behind: Done also answers any message box left open.
    for (int i = 0; i < 20 && m_hwnd && !m_closed; ++i) {
        PostMessageW(m_hwnd, WM_COMMAND, IDCANCEL, 0);
        waitUntil([this] { return bool(m_closed); }, 250);
    }
    if (!m_closed && m_hwnd)
        EndDialog(m_hwnd, IDCANCEL);
    if (m_thread.joinable())
        m_thread.join();
    SetCurrentDirectoryW(m_previousDirectory.c_str());
    // The dialog's trace stays open for the process; an open file keeps its
    // scratch directory from going.
    traceOpen(TRACE_DISABLED, nullptr, TRACE_TRUNCATE);
}

void DialogHarness::Settle()
{
    // Sent messages overtake posted ones, so give the posted ones time first.
    Sleep(100);
    DWORD_PTR result;
    SendMessageTimeoutW(m_hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
    Sleep(50);
}

bool DialogHarness::Close(int ms)
{
    Click(IDCANCEL);
    return waitUntil([this] { return bool(m_closed); }, ms);
}

} // namespace qmtest
