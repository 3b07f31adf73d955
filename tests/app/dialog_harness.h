// Runs the real main dialog on a thread of its own, the way the tool runs it,
// so that a test can act on it from outside: post clicks and key presses,
// find and answer message boxes, and read what a user would see.
#pragma once

#include "app/migrate_dlg.h"
#include "tests/support/test_support.h"

#include <functional>
#include <string>
#include <thread>

namespace qmtest {

// Polls `done` every 10 ms until it holds or `ms` milliseconds pass.
bool waitUntil(const std::function<bool()>& done, int ms = 5000);

// A top-level dialog window of this process (a message box, the About box)
// other than `except`, whose caption or static text contains `text`; null if none.
HWND findDialogWithText(const std::wstring& text, HWND except = nullptr);
HWND waitForDialogWithText(const std::wstring& text, HWND except = nullptr, int ms = 5000);
// The message text of a message box.
std::wstring messageBoxText(HWND box);
std::wstring windowText(HWND window);

class DialogHarness {
public:
    // Starts the dialog with the given worker routines in a scratch current
    // directory (the trace file lands there) and waits until a refresh has
    // ended, i.e. Refresh is enabled again.
    // With `directory` the dialog starts there instead of in a fresh one.
    DialogHarness(LPTHREAD_START_ROUTINE refresh, LPTHREAD_START_ROUTINE migrate, bool waitForRefresh = true,
                  const std::wstring& directory = L"");
    ~DialogHarness();

    CMigrateDlg& dlg() { return m_dialog; }
    HWND hwnd() const { return m_hwnd; }
    HWND control(int id) const { return GetDlgItem(m_hwnd, id); }
    const std::wstring& dir() const { return m_directory; }

    // Presses a push button the way a click does (BM_CLICK, posted so that a
    // message box it opens does not block the test).
    void click(int id);
    void command(int id);
    // Posts a key press to the focused control of the dialog.
    void key(UINT virtualKey);
    // Lets the dialog thread handle everything posted so far.
    void settle();

    // Ends the dialog with Done; true when it closed within the time.
    bool close(int ms = 5000);
    bool closed() const { return m_closed; }

private:
    TempDir m_dir;
    std::wstring m_directory;
    std::wstring m_previousDirectory;
    // Tests start the dialog without the console's message libraries: the
    // language loader and its error boxes have tests of their own.
    CNlsResources m_languageOff{1};
    CMigrateDlg m_dialog;
    HWND m_hwnd = nullptr;
    std::thread m_thread;
    volatile bool m_closed = false;
};

} // namespace qmtest
