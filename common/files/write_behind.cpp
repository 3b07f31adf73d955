#include "common/files/write_behind.h"

CWriteBehind::~CWriteBehind()
{
    FileFailure ignored;
    Stop(ignored);
}

void CWriteBehind::Written(HANDLE file, size_t size)
{
    m_unflushed += size;
    if (m_unflushed < WRITE_BEHIND_STEP)
        return;
    m_unflushed = 0;
    if (!m_due.IsValid()) {
        // Without a thread the last flush does it all, as it would anyway.
        m_file = file;
        m_due.Attach(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (m_due.IsValid())
            m_thread.Attach(
                CreateThread(nullptr, 64 << 10, Flushing, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    }
    if (m_thread.IsValid())
        SetEvent(m_due.Get());
}

bool CWriteBehind::Stop(FileFailure& failure)
{
    if (m_thread.IsValid()) {
        InterlockedExchange(&m_stop, 1);
        SetEvent(m_due.Get());
        WaitForSingleObject(m_thread.Get(), INFINITE);
        m_thread.Close();
        InterlockedExchange(&m_stop, 0);
    }
    m_due.Close();
    m_unflushed = 0;
    const LONG error = InterlockedExchange(&m_error, ERROR_SUCCESS);
    if (error != ERROR_SUCCESS) {
        failure = systemFailure(DWORD(error));
        return false;
    }
    return true;
}

DWORD WINAPI CWriteBehind::Flushing(void* self)
{
    auto* behind = static_cast<CWriteBehind*>(self);
    for (;;) {
        WaitForSingleObject(behind->m_due.Get(), INFINITE);
        if (InterlockedCompareExchange(&behind->m_stop, 0, 0))
            return 0;
        if (!FlushFileBuffers(behind->m_file)) {
            InterlockedExchange(&behind->m_error, LONG(GetLastError()));
            return 0;
        }
    }
}
