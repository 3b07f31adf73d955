#pragma once

#include <windows.h>

#include <string>

class MigrationBackup;
struct MigrationItem;

// Thread routine of a migration: carries every ticked row over, top to
// bottom, and marks each row with what happened. `view` is the dialog's
// CMigrationView. Returns 0.
DWORD WINAPI t_processMigrate(LPVOID view);

// Migrates one file item from sourceRoot\sourceName to
// destinationRoot\destinationName. True on success; otherwise `reason` says
// what went wrong. Neither file is used when it is reached through a link
// below its root (a Zelt file: below the installation directory). With a
// `backup`, the destination is kept there before it is touched (when it
// cannot be, nothing is written) and a file the run creates is recorded once
// it is written.
bool migrateFileItem(const MigrationItem& item, const std::wstring& sourceName, const std::wstring& destinationName,
                     std::wstring& reason, MigrationBackup* backup = nullptr);
