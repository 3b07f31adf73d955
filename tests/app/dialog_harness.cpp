#include "tests/app/dialog_harness.h"

#include <commctrl.h>

namespace qmtest {

bool waitUntil(const std::function<bool()>& done, int ms)
{
    for (const DWORD start = GetTickCount(); !done(); Sleep(10)) {
        if (int(GetTickCount() - start) > ms)
            return false;
    }
    return true;
}

std::wstring windowText(HWND window)
{
    wchar_t text[4096];
    int n = GetWindowTextW(window, text, 4096);
    return std::wstring(text, n > 0 ? n : 0);
}

HWND findDialogWithText(const std::wstring& text, HWND except)
{
    // Message boxes and the About box are top-level windows of the dialog class.
    for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr;) {
        DWORD process = 0;
        GetWindowThreadProcessId(box, &process);
        if (process != GetCurrentProcessId() || box == except || !IsWindowVisible(box))
            continue;
        bool found = windowText(box).find(text) != std::wstring::npos;
        for (HWND child = GetWindow(box, GW_CHILD); child && !found; child = GetWindow(child, GW_HWNDNEXT))
            found = windowText(child).find(text) != std::wstring::npos;
        if (found)
            return box;
    }
    return nullptr;
}

HWND waitForDialogWithText(const std::wstring& text, HWND except, int ms)
{
    HWND found = nullptr;
    waitUntil([&] { return (found = findDialogWithText(text, except)) != nullptr; }, ms);
    return found;
}

DialogHarness::DialogHarness(LPTHREAD_START_ROUTINE refresh, LPTHREAD_START_ROUTINE migrate,
                             const std::wstring& directory)
{
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    m_previousDirectory = current;
    SetCurrentDirectoryW(directory.empty() ? m_dir.path().c_str() : directory.c_str());

    m_dialog.setWorkerRoutines(refresh, migrate);
    m_thread = std::thread([this] {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        m_dialog.DoModal();
        m_closed = true;
    });
    // Generous: a Wine prefix that other tests load at the same time is slow
    // to show the first window.
    waitUntil([this] { return m_dialog.hwnd() && IsWindowVisible(m_dialog.hwnd()); }, 30000);
    m_hwnd = m_dialog.hwnd();
    if (m_hwnd)
        waitUntil([this] { return IsWindowEnabled(control(IDC_REFRESH)) && !m_dialog.workerRunning(); }, 30000);
    settle();
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
}

void DialogHarness::settle()
{
    // Sent messages overtake posted ones, so give the posted ones time first.
    Sleep(100);
    DWORD_PTR result;
    SendMessageTimeoutW(m_hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
    Sleep(50);
}

bool DialogHarness::close(int ms)
{
    click(IDCANCEL);
    return waitUntil([this] { return bool(m_closed); }, ms);
}

} // namespace qmtest
