#pragma once

#include <windows.h>

#include <functional>
#include <string>

struct MigrationItem;

// Thread routine of a migration: carries every ticked row over, top to
// bottom, and marks each row with what happened. `view` is the dialog's
// CMigrationView. Returns 0.
DWORD WINAPI t_processMigrate(LPVOID view);

// Migrates one file item from sourceRoot\sourceName to
// destinationRoot\destinationName. True on success; otherwise `reason` says
// what went wrong. `beforeWrite`, when given, runs once the new content is
// ready and before the destination is touched; when it fails (false, with
// `reason`) nothing is written.
bool migrateFileItem(const MigrationItem& item, const std::wstring& sourceName, const std::wstring& destinationName,
                     std::wstring& reason, const std::function<bool(std::wstring& reason)>& beforeWrite = nullptr);

extern const wchar_t ITEM_STATE_MIGRATED[]; // "Migrated"
extern const wchar_t ITEM_STATE_FAILED[];   // "Failed: ", followed by the reason
