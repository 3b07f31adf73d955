// Puts the 5.2.2 installation back as a migration's backup folder holds it
// (migration_backup.h): every kept file copied back and every created file
// removed, by handle from the installation's directories; the 5.2.2 key put
// back by difference (key_restore.h); the temporary files a stopped run left
// removed. Then it proves the result against the backup.
#pragma once

#include <functional>
#include <string>

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
