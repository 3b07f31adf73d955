#include "tests/app/dialog_harness.h"

#include "res/resource.h"

#include <commctrl.h>

#include <vector>

namespace qmtest {

bool waitUntil(const std::function<bool()>& done, int ms)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (int(GetTickCount() - start) > ms)
            return false;
        Sleep(10);
    }
}

std::wstring windowText(HWND window)
{
    wchar_t text[4096];
    int n = GetWindowTextW(window, text, 4096);
    return std::wstring(text, n > 0 ? n : 0);
}

std::wstring messageBoxText(HWND box)
{
    // The message text of a message box is its static control 0xFFFF.
    return windowText(GetDlgItem(box, 0xFFFF));
}

namespace {

struct DialogSearch {
    std::wstring text;
    HWND except;
    HWND found;
};

BOOL CALLBACK collectChildText(HWND child, LPARAM parameter)
{
    auto* texts = reinterpret_cast<std::vector<std::wstring>*>(parameter);
    texts->push_back(windowText(child));
    return TRUE;
}

BOOL CALLBACK searchDialogs(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<DialogSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || window == search->except || !IsWindowVisible(window))
        return TRUE;
    wchar_t className[64];
    GetClassNameW(window, className, 64);
    if (std::wstring(className) != L"#32770")
        return TRUE;
    std::vector<std::wstring> texts{windowText(window)};
    EnumChildWindows(window, collectChildText, reinterpret_cast<LPARAM>(&texts));
    for (const std::wstring& t : texts) {
        if (t.find(search->text) != std::wstring::npos) {
            search->found = window;
            return FALSE;
        }
    }
    return TRUE;
}

} // namespace

HWND findDialogWithText(const std::wstring& text, HWND except)
{
    DialogSearch search{text, except, nullptr};
    EnumWindows(searchDialogs, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitForDialogWithText(const std::wstring& text, HWND except, int ms)
{
    HWND found = nullptr;
    waitUntil([&] { return (found = findDialogWithText(text, except)) != nullptr; }, ms);
    return found;
}

DialogHarness::DialogHarness(LPTHREAD_START_ROUTINE refresh, LPTHREAD_START_ROUTINE migrate, bool waitForRefresh,
                             const std::wstring& directory)
    : m_directory(directory.empty() ? m_dir.path() : directory)
{
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    m_previousDirectory = current;
    SetCurrentDirectoryW(m_directory.c_str());

    m_dialog.setWorkerRoutines(refresh, migrate);
    m_thread = std::thread([this] {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        m_dialog.DoModal();
        m_closed = true;
    });
    waitUntil([this] { return m_dialog.hwnd() && IsWindowVisible(m_dialog.hwnd()); });
    m_hwnd = m_dialog.hwnd();
    if (waitForRefresh && m_hwnd)
        waitUntil([this] { return IsWindowEnabled(control(IDC_REFRESH)) && !m_dialog.workerRunning(); });
    settle();
}

DialogHarness::~DialogHarness()
{
    if (!m_closed && m_hwnd) {
        // Leave nothing behind: answer any box left open, then end the dialog.
        for (int i = 0; i < 20 && !m_closed; ++i) {
            PostMessageW(m_hwnd, WM_COMMAND, IDCANCEL, 0);
            waitUntil([this] { return bool(m_closed); }, 250);
        }
        if (!m_closed)
            EndDialog(m_hwnd, IDCANCEL);
    }
    if (m_thread.joinable())
        m_thread.join();
    SetCurrentDirectoryW(m_previousDirectory.c_str());
}

void DialogHarness::click(int id)
{
    PostMessageW(control(id), BM_CLICK, 0, 0);
}

void DialogHarness::command(int id)
{
    PostMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control(id)));
}

void DialogHarness::key(UINT virtualKey)
{
    HWND target = control(IDC_ITEM_LIST);
    PostMessageW(target, WM_KEYDOWN, virtualKey, 1);
    PostMessageW(target, WM_KEYUP, virtualKey, 0xC0000001);
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
