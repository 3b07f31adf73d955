// A window handle with one-line helpers. It does not own the window: the
// dialog template creates the controls and the dialog destroys them.
//
// Called from a worker thread, each of these is a window call that the
// system carries out on the window's own thread before it returns.
#pragma once

#include <windows.h>

#include <string>

class CWindow {
public:
    CWindow() = default;
    explicit CWindow(HWND window)
        : m_window(window)
    {
    }
    virtual ~CWindow() = default;

    void Attach(HWND window) { m_window = window; }
    HWND Hwnd() const { return m_window; }
    operator HWND() const { return m_window; }

    bool Exists() const { return m_window && ::IsWindow(m_window); }
    bool OwnThread() const { return ::GetWindowThreadProcessId(m_window, nullptr) == ::GetCurrentThreadId(); }
    HWND Parent() const { return ::GetParent(m_window); }
    HWND Item(int id) const { return ::GetDlgItem(m_window, id); }
    bool Enable(bool on) const { return ::EnableWindow(m_window, on ? TRUE : FALSE) != FALSE; }
    bool IsEnabled() const { return ::IsWindowEnabled(m_window) != FALSE; }
    bool SetText(const std::wstring& text) const { return ::SetWindowTextW(m_window, text.c_str()) != FALSE; }
    std::wstring Text() const
    {
        int length = ::GetWindowTextLengthW(m_window);
        std::wstring text(length + 1, L'\0');
        length = ::GetWindowTextW(m_window, &text[0], length + 1);
        text.resize(length > 0 ? length : 0);
        return text;
    }
    bool GetRect(RECT& rect) const { return ::GetWindowRect(m_window, &rect) != FALSE; }
    bool GetClientRect(RECT& rect) const { return ::GetClientRect(m_window, &rect) != FALSE; }
    bool MoveTo(int x, int y) const
    {
        return ::SetWindowPos(m_window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
    }
    bool IsIconic() const { return ::IsIconic(m_window) != FALSE; }
    HMENU SystemMenu() const { return ::GetSystemMenu(m_window, FALSE); }
    void SetRedraw(bool on) const { Send(WM_SETREDRAW, on ? TRUE : FALSE); }
    bool Invalidate(const RECT* area = nullptr, bool erase = true) const
    {
        return ::InvalidateRect(m_window, area, erase ? TRUE : FALSE) != FALSE;
    }
    bool SetIcon(HICON icon, WPARAM size) const { return Send(WM_SETICON, size, reinterpret_cast<LPARAM>(icon)) != 0; }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageW(m_window, message, wParam, lParam);
    }
    bool Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageW(m_window, message, wParam, lParam) != FALSE;
    }

private:
    HWND m_window = nullptr;
};
