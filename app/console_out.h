// The console the tool was started from, and the notices of the lower
// layers printed there: the unattended run's output.
#pragma once

#include "common/notice.h"
#include "common/text.h"
#include "window/handle.h"

#include <windows.h>

#include <mutex>
#include <string>

// Prints to the console the tool was started from, or to where its output
// was sent. A program with a window has no console of its own.
class CConsoleOut {
public:
    CConsoleOut()
    {
        m_out = GetStdHandle(STD_OUTPUT_HANDLE);
        if ((m_out == nullptr || m_out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
            m_own = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
            m_out = m_own;
            Write(L"\r\n"); // off the prompt the console has printed meanwhile
        }
    }
    ~CConsoleOut()
    {
        if (m_own != INVALID_HANDLE_VALUE)
            CloseHandle(m_own);
    }
    CConsoleOut(const CConsoleOut&) = delete;
    CConsoleOut& operator=(const CConsoleOut&) = delete;

    void Line(const std::wstring& text) { Write(text + L"\r\n"); }

    // Waits for a key where someone can press one: a restore.cmd started by
    // a double-click would close its window before anyone read it. Input
    // from a file, a pipe or nowhere (a remote shell, a script) waits for
    // nothing.
    void PauseIfInteractive()
    {
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        CFileHandle own;
        if ((in == nullptr || in == INVALID_HANDLE_VALUE) && m_own != INVALID_HANDLE_VALUE) {
            own.Attach(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
            in = own.Get();
        }
        DWORD mode = 0;
        if (in == nullptr || in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode))
            return;
        Write(L"Press any key to close this window . . .");
        FlushConsoleInputBuffer(in);
        for (INPUT_RECORD record; ;) {
            DWORD read = 0;
            if (!ReadConsoleInputW(in, &record, 1, &read) || read == 0)
                break;
            if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
                break;
        }
        Line(L"");
    }

    void Write(const std::wstring& text)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_out == nullptr || m_out == INVALID_HANDLE_VALUE || text.empty())
            return;
        DWORD done = 0;
        DWORD mode = 0;
        if (GetConsoleMode(m_out, &mode)) {
            WriteConsoleW(m_out, text.data(), DWORD(text.size()), &done, nullptr);
            return;
        }
        const std::string bytes = utf8(text);
        WriteFile(m_out, bytes.data(), DWORD(bytes.size()), &done, nullptr);
    }

    static std::string utf8(const std::wstring& text)
    {
        const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
        std::string bytes(size > 0 ? size_t(size) : 0, '\0');
        if (size > 0)
            WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &bytes[0], size, nullptr, nullptr);
        return bytes;
    }

private:
    HANDLE m_out = nullptr;
    HANDLE m_own = INVALID_HANDLE_VALUE;
    std::mutex m_lock;
};

// What the lower layers tell the user goes to the console, in the words the
// window's boxes would show.
class CConsoleNotices : public INoticeSink {
public:
    explicit CConsoleNotices(CConsoleOut& out) : m_out(out), m_previous(setNoticeSink(this)) {}
    ~CConsoleNotices() override { setNoticeSink(m_previous); }
    CConsoleNotices(const CConsoleNotices&) = delete;
    CConsoleNotices& operator=(const CConsoleNotices&) = delete;
    void Tell(const std::wstring& text, const std::wstring& caption, NoticeKind kind) override
    {
        m_out.Line((kind == NoticeKind::Error ? L"ERROR (" : L"WARNING (") + caption + L"): " + trimmedRight(text));
    }

private:
    CConsoleOut& m_out;
    INoticeSink* m_previous;
};
