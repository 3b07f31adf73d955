#pragma once

#include <windows.h>

#include <string>

struct MigrationItem;

// Thread routine of a migration: carries every ticked row over, top to
// bottom, and marks each row with what happened. `view` is the dialog's
// CMigrationView. Returns 0.
DWORD WINAPI t_processMigrate(LPVOID view);

// Migrates one file item from sourceRoot\sourceName to
// destinationRoot\destinationName. True on success; otherwise `reason` says
// what went wrong.
bool migrateFileItem(const MigrationItem& item, const std::wstring& sourceName, const std::wstring& destinationName,
                     std::wstring& reason);

extern const wchar_t ITEM_STATE_MIGRATED[]; // "Migrated"
extern const wchar_t ITEM_STATE_FAILED[];   // "Failed: ", followed by the reason
