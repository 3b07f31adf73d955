// A modal dialog built from a template, with one static dialog procedure that
// hands every message to the object's virtual handlers.
#pragma once

#include "window/window.h"

class CDialog : public CWindow {
public:
    CDialog(UINT templateId, HWND parent);
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog until EndDialog; returns its result, or -1 when the
    // dialog could not be created.
    INT_PTR DoModal();

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

    void EndDialog(INT_PTR result) { ::EndDialog(Hwnd(), result); }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HWND m_parent;
};
