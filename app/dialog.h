// A modal dialog built from a template, with one static dialog procedure that
// hands every message to the object's virtual handlers.
#pragma once

#include <windows.h>

class CDialog {
public:
    CDialog(UINT templateId, HWND parent);
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog until EndDialog; returns its result, or -1 when the
    // dialog could not be created.
    INT_PTR DoModal();

    HWND hwnd() const { return m_hwnd; }
    HWND item(int id) const { return ::GetDlgItem(m_hwnd, id); }

protected:
    // Return FALSE when the handler set the focus itself.
    virtual BOOL OnInitDialog() { return TRUE; }
    // True when handled; IDOK and IDCANCEL reach OnOK and OnCancel otherwise.
    virtual bool OnCommand(WORD id, WORD code, HWND control);
    virtual bool OnNotify(const NMHDR* header, LRESULT& result);
    // Any other message; true when handled, with `result` as the dialog
    // procedure's answer (see SetWindowLongPtr DWLP_MSGRESULT for which
    // messages want their answer there).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    void EndDialog(INT_PTR result) { ::EndDialog(m_hwnd, result); }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HWND m_parent;
    HWND m_hwnd = nullptr;
};
