#include "window/dialog.h"

#include <mutex>

CDialog::CDialog(UINT templateId, HWND parent)
    : m_templateId(templateId)
    , m_parent(parent)
{
}

INT_PTR CDialog::DoModal()
{
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), m_parent,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

bool CDialog::OnCommand(WORD, WORD, HWND)
{
    return false;
}

bool CDialog::OnNotify(const NMHDR*, LRESULT&)
{
    return false;
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&)
{
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog* dialog;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->Attach(window);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    } else {
        dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    }
    if (!dialog)
        return FALSE;
    // Exceptions must not unwind through user32.
    try {
        return dialog->Dispatch(message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DIALOG_RUN:
        OnRunCall(wParam);
        return TRUE;
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND: {
        const WORD id = LOWORD(wParam);
        const WORD code = HIWORD(wParam);
        if (OnCommand(id, code, reinterpret_cast<HWND>(lParam)))
            return TRUE;
        if (id == IDOK) {
            OnOK();
            return TRUE;
        }
        if (id == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
        return FALSE;
    }
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (OnNotify(reinterpret_cast<const NMHDR*>(lParam), result)) {
            ::SetWindowLongPtrW(Hwnd(), DWLP_MSGRESULT, result);
            return TRUE;
        }
        return FALSE;
    }
    default: {
        INT_PTR result = FALSE;
        return OnMessage(message, wParam, lParam, result) ? result : FALSE;
    }
    }
}

void CDialog::OnRunCall(WPARAM ticket)
{
    // Only the call placed by RunOnOwnThread, and only once: a message
    // with any other ticket, or none in flight, does nothing.
    if (ticket == 0 || ticket != m_callTicket.load())
        return;
    Call* call = m_call.exchange(nullptr);
    if (!call)
        return;
    // Never let an exception unwind through the window procedure: the
    // caller gets it back on its own thread.
    try {
        (*call->work)();
    } catch (...) {
        call->error = std::current_exception();
    }
}

void CDialog::RunOnOwnThread(const std::function<void()>& work)
{
    if (!Hwnd() || OwnThread()) {
        work();
        return;
    }
    std::lock_guard<std::mutex> one(m_callLock);
    static std::atomic<WPARAM> tickets { 0 };
    Call call;
    call.work = &work;
    const WPARAM ticket = ++tickets;
    m_callTicket = ticket;
    m_call = &call;
    Send(WM_DIALOG_RUN, ticket);
    m_call = nullptr;
    m_callTicket = 0;
    if (call.error)
        std::rethrow_exception(call.error);
}
