#include "app/single_run.h"

#include "common/fs/owner.h"

#include <windows.h>

#include <sddl.h>

#include <vector>

const wchar_t ANOTHER_COPY_TEXT[] = L"Another copy of quarnrept_migrate is running on this computer. "
                                    L"Wait until it has ended, then start this one again.";

const wchar_t RUN_LOCK_NAME[] = L"Global\\quarnrept_migrate.run";

namespace {

// Whether this process's token holds the Administrators group enabled (an
// elevated administrator): only then does a refusal of the lock tell that
// someone else made it.
bool runsElevated()
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)
        && CheckTokenMembership(nullptr, administrators, &member) && member;
}

} // namespace

CSingleRun::CSingleRun() : m_mutex(nullptr), m_taken(false)
{
    // Owned by Administrators, an owner that only an elevated administrator
    // (or the system) can give; without that right, owned by the caller.
    DWORD error = ERROR_SUCCESS;
    for (const wchar_t* access : { L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)", L"D:P(A;;GA;;;SY)(A;;GA;;;BA)" }) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(access, SDDL_REVISION_1, &descriptor, nullptr))
            continue;
        SECURITY_ATTRIBUTES attributes = { sizeof attributes, descriptor, FALSE };
        m_mutex = CreateMutexW(&attributes, TRUE, RUN_LOCK_NAME);
        error = GetLastError();
        LocalFree(descriptor);
        if (m_mutex || error != ERROR_INVALID_OWNER)
            break;
    }
    if (m_mutex && error != ERROR_ALREADY_EXISTS) {
        m_taken = true;
        return;
    }
    // The name is taken: by a copy of the tool only when its owner is one
    // no other account can give.
    HANDLE existing = m_mutex ? m_mutex : OpenMutexW(READ_CONTROL, FALSE, RUN_LOCK_NAME);
    const DWORD openError = existing ? ERROR_SUCCESS : GetLastError();
    std::vector<BYTE> owner;
    if (existing && ownerOf(existing, owner) && isAdministratorsOrSystem(owner.data())) {
        // another copy: no holder, not taken
    } else if (existing) {
        m_holder = owner.empty() ? L"an account that gave it no owner" : accountName(owner.data());
    } else if (openError == ERROR_ACCESS_DENIED && runsElevated()) {
        // A copy of the tool lets administrators in; this one keeps them out.
        m_holder = L"an account that keeps administrators out of it";
    } else if (openError == ERROR_FILE_NOT_FOUND || openError == ERROR_ACCESS_DENIED) {
        // An account that may not make global objects (no administrator)
        // gets a lock for its own session instead of a false "another copy".
        m_mutex = CreateMutexW(nullptr, TRUE, L"Local\\quarnrept_migrate.run");
        m_taken = m_mutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
        return;
    }
    if (existing && existing != m_mutex)
        CloseHandle(existing);
    if (m_mutex) {
        CloseHandle(m_mutex); // not this tool's lock: nothing to hold
        m_mutex = nullptr;
    }
    m_taken = !m_holder.empty();
}

CSingleRun::~CSingleRun()
{
    if (m_mutex) {
        if (m_taken)
            ReleaseMutex(m_mutex);
        CloseHandle(m_mutex);
    }
}

std::wstring CSingleRun::HolderText() const
{
    return L"The run lock " + std::wstring(RUN_LOCK_NAME) + L" was made by " + m_holder
        + L", not by a copy of quarnrept_migrate, so it is not taken for one. This copy goes on. A migration and a "
          L"restore each also take the lock in the 5.2.2 installation's migration backups folder, so no two of "
          L"them work at once. Find out who made it.";
}
