#pragma once

#include <windows.h>

#include <string>

class CFolderCache;
class CMigrationBackup;
struct MigrationItem;

// Thread routine of a migration: carries every ticked row over, top to
// bottom, and marks each row with what happened. `view` is the dialog's
// IMigrationView. Returns 0.
DWORD WINAPI t_processMigrate(LPVOID view);

// Migrates one file item from sourceRoot\sourceName to
// destinationRoot\destinationName. True on success; otherwise `reason` says
// what went wrong. Both files are reached by handle from the directory the
// registry names (a Zelt file: from the installation directory), and neither
// is used when it is a link, is reached through one, or has a second name.
// With a `backup`, the destination is kept there before it is touched (when
// it cannot be, nothing is written) and a file the run creates is recorded
// once it is written. `folders`, when given, keeps the folders open for the
// run's next items.
bool migrateFileItem(const MigrationItem& item, const std::wstring& sourceName, const std::wstring& destinationName,
                     std::wstring& reason, CMigrationBackup* backup = nullptr, CFolderCache* folders = nullptr);
