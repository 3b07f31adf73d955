// A modal dialog built from a template, with one static dialog procedure that
// hands every message to the object's virtual handlers.
#pragma once

#include "window/window.h"

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>

// Sent to a dialog by RunOnOwnThread; wParam is the call's ticket.
constexpr UINT WM_DIALOG_RUN = WM_APP + 0x3A0;

class CDialog : public CWindow {
public:
    CDialog(UINT templateId, HWND parent);
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog until EndDialog; returns its result, or -1 when the
    // dialog could not be created.
    INT_PTR DoModal();

    // Runs `work` on the dialog's own thread and returns when it is done:
    // many window operations in one window call, for work from a worker's
    // thread. An exception thrown by `work` comes out here, on the caller's
    // thread. The call travels as a private message that carries no pointer:
    // the dialog runs only the call its own caller placed, so a stray message
    // from anywhere else runs nothing.
    void RunOnOwnThread(const std::function<void()>& work);

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
    void OnRunCall(WPARAM ticket);

    UINT m_templateId;
    HWND m_parent;

    // The one call in flight from another thread, and its ticket.
    struct Call {
        const std::function<void()>* work = nullptr;
        std::exception_ptr error;
    };
    std::mutex m_callLock;
    std::atomic<Call*> m_call { nullptr };
    std::atomic<WPARAM> m_callTicket { 0 };
};
