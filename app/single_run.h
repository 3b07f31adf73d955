// One copy of the tool at a time on a computer, the window and the
// unattended run alike.
#pragma once

#include <string>

// The text a second copy gives, in a box or on the console.
extern const wchar_t ANOTHER_COPY_TEXT[];

// The computer's one-copy-at-a-time lock: a mutex of this name, made for
// SYSTEM and Administrators alone and owned by Administrators.
extern const wchar_t RUN_LOCK_NAME[];

// Holds the one-copy-at-a-time lock of this computer for as long as it lives.
// A lock of that name that another account made (an owner other than
// Administrators or SYSTEM) is not taken for another copy: the run goes on,
// and Holder() names that account. A migration and a restore still take the
// lock in the installation's backups folder, so no two of them overlap.
class CSingleRun {
public:
    CSingleRun();
    ~CSingleRun();
    CSingleRun(const CSingleRun&) = delete;
    CSingleRun& operator=(const CSingleRun&) = delete;
    // False when another copy of the tool holds the lock.
    bool Taken() const { return m_taken; }
    // The account that made the lock's name first, when that is not a copy
    // of the tool; empty otherwise.
    const std::wstring& Holder() const { return m_holder; }
    // What the administrator is told about such a holder.
    std::wstring HolderText() const;

private:
    void* m_mutex;
    bool m_taken;
    std::wstring m_holder;
};
