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

    void attach(HWND window) { m_window = window; }
    HWND hwnd() const { return m_window; }
    operator HWND() const { return m_window; }

    bool exists() const { return m_window && ::IsWindow(m_window); }
    bool ownThread() const { return ::GetWindowThreadProcessId(m_window, nullptr) == ::GetCurrentThreadId(); }
    HWND parent() const { return ::GetParent(m_window); }
    HWND item(int id) const { return ::GetDlgItem(m_window, id); }
    bool enable(bool on) const { return ::EnableWindow(m_window, on ? TRUE : FALSE) != FALSE; }
    bool isEnabled() const { return ::IsWindowEnabled(m_window) != FALSE; }
    bool setText(const std::wstring& text) const { return ::SetWindowTextW(m_window, text.c_str()) != FALSE; }
    std::wstring text() const
    {
        int length = ::GetWindowTextLengthW(m_window);
        std::wstring text(length + 1, L'\0');
        length = ::GetWindowTextW(m_window, &text[0], length + 1);
        text.resize(length > 0 ? length : 0);
        return text;
    }
    bool getRect(RECT& rect) const { return ::GetWindowRect(m_window, &rect) != FALSE; }
    bool getClientRect(RECT& rect) const { return ::GetClientRect(m_window, &rect) != FALSE; }
    bool moveTo(int x, int y) const
    {
        return ::SetWindowPos(m_window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
    }
    bool isIconic() const { return ::IsIconic(m_window) != FALSE; }
    HMENU systemMenu() const { return ::GetSystemMenu(m_window, FALSE); }
    void setRedraw(bool on) const { send(WM_SETREDRAW, on ? TRUE : FALSE); }
    bool invalidate(const RECT* area = nullptr, bool erase = true) const
    {
        return ::InvalidateRect(m_window, area, erase ? TRUE : FALSE) != FALSE;
    }
    bool setIcon(HICON icon, WPARAM size) const { return send(WM_SETICON, size, reinterpret_cast<LPARAM>(icon)) != 0; }
    LRESULT send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageW(m_window, message, wParam, lParam);
    }
    bool post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageW(m_window, message, wParam, lParam) != FALSE;
    }

private:
    HWND m_window = nullptr;
};
