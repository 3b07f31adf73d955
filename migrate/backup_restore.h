// Puts the 5.2.2 installation back as a migration's backup folder holds it
// (migration_backup.h): every kept file copied back and every created file
// removed, by handle from the installation's directories; the 5.2.2 key put
// back by difference (key_restore.h); the temporary files a stopped run left
// removed. Then it proves the result against the backup.
#pragma once

#include "common/files/checked_file.h"

#include <functional>
#include <string>

// The lock a migration and a restore take in the installation's "migration
// backups" folder, which only administrators may write in: no two of them
// work on one installation at once, whatever holds the computer's run lock.
extern const wchar_t RUN_LOCK_FILE[];

// Takes the lock in `backups` into `lock`, for as long as `lock` stays open;
// false with `reason` (a sentence, ending in a full stop) when another copy
// holds it or it cannot be made.
bool takeRunLock(const CCheckedDir& backups, COutFile& lock, std::wstring& reason);

// Tells the administrator one line of what the restore did.
using RestoreSay = std::function<void(const std::wstring&)>;

// Restores from the backup folder `folder`, saying each step. True only when
// every kept file, every removal and the key are proved back; a step that
// fails is said with "ERROR: " and the rest goes on.
bool restoreFromBackup(const std::wstring& folder, const RestoreSay& say);

// The program a backup folder keeps for its restore.cmd: by default this
// process's own exe. (The tests run the migration in a test program.)
std::wstring restoreProgram();
void setRestoreProgram(const std::wstring& path);
