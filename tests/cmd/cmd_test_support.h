// Shared by the tests of the command and message libraries.
#pragma once
#include "tests/support/test_support.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace qmtest {
// The system's short form of an existing path.
inline std::wstring shortForm(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(buffer, length) : L"<no short form of " + path + L">";
}

// Until stopped, records the text of every message box this process shows
// and answers it with OK, so that no box can hang a test.
class BoxWatcher {
public:
    BoxWatcher() : m_thread([this] { run(); }) {}
    ~BoxWatcher() { stop(); }
    // The texts of the boxes shown so far, in order.
    std::vector<std::wstring> stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_texts;
    }

private:
    void run()
    {
        while (!m_stop) {
            HWND box = findDialogWithText(L"");
            if (!box) {
                Sleep(10);
                continue;
            }
            m_texts.push_back(messageBoxText(box));
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            waitUntil([box] { return !IsWindow(box); });
        }
    }

    std::atomic<bool> m_stop{false};
    std::vector<std::wstring> m_texts;
    std::thread m_thread; // last: starts once the members above exist
};
} // namespace qmtest
