// The tool without a window, for scripts, scheduled tasks and remote shells:
//   quarnrept_migrate.exe /list    [/report:FILE]
//   quarnrept_migrate.exe /migrate [/only:DESCRIPTION[,DESCRIPTION...]] [/report:FILE]
//   quarnrept_migrate.exe /restore:FOLDER     (what a backup's restore.cmd runs)
// The same workers as the window's, run against a face of their own that
// prints to the console the tool was started from.
#pragma once

#include <string>
#include <vector>

// The process's exit codes.
constexpr int EXIT_ALL_DONE = 0;        // every row migrated (or listed); everything restored
constexpr int EXIT_ROWS_FAILED = 1;     // one or more rows failed; something is not back
constexpr int EXIT_NOTHING_TO_DO = 2;   // an installation was not found
constexpr int EXIT_BAD_COMMAND = 3;     // the command line is wrong; the usage is printed
constexpr int EXIT_CANNOT_RUN = 4;      // another copy runs, or the report cannot be written

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

// Runs the command line's arguments (without the program's name) and returns
// the exit code.
int runUnattended(const std::vector<std::wstring>& args);
