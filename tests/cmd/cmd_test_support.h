// Shared by the tests of the command and message libraries.
#pragma once
#include "common/notice.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

namespace qmtest {
// The system's short form of an existing path.
inline std::wstring shortForm(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(buffer, length) : L"<no short form of " + path + L">";
}

// Until stopped, records the text of everything the layers below the window
// tell the user, in order, from any thread: what the window shows in boxes.
class NoticeRecorder : public INoticeSink {
public:
    NoticeRecorder() : m_previous(setNoticeSink(this)) {}
    ~NoticeRecorder() override { Stop(); }
    std::vector<std::wstring> Stop()
    {
        if (!m_stopped) {
            setNoticeSink(m_previous);
            m_stopped = true;
        }
        std::lock_guard<std::mutex> hold(m_lock);
        return m_texts;
    }
    void Tell(const std::wstring& text, const std::wstring&, NoticeKind) override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_texts.push_back(text);
    }

private:
    INoticeSink* m_previous;
    bool m_stopped = false;
    std::mutex m_lock;
    std::vector<std::wstring> m_texts;
};
} // namespace qmtest
