// The folders of a migration's backup: made by the handle of the folder that
// holds them, with an access list of their own, and filled by copies made
// from open handles.
#pragma once

#include "common/files/checked_file.h"
#include "common/files/file_failure.h"

#include <windows.h>

#include <string>

// The folder of the 5.2.2 installation that holds every run's backup.
extern const wchar_t BACKUPS_FOLDER[];

// The access list of the backup folders, in SDDL: SYSTEM and Administrators
// only, protected.
extern const wchar_t BACKUP_FOLDER_ACCESS[];

// Whether an existing "migration backups" owned by `owner` may be used:
// Administrators, SYSTEM, or the account running the tool.
bool backupOwnerTrusted(PSID owner);

// Makes `name` in `parent`, by the parent's handle, into `folder`: full
// control for SYSTEM and Administrators, nothing inherited, nothing for anyone
// else, since the backup holds every console setting and its restore is run
// by an administrator. Fails with ERROR_ALREADY_EXISTS when the name is taken.
bool createProtectedFolder(CCheckedDir& folder, const CCheckedDir& parent, const std::wstring& name,
                           FileFailure& failure);

// Whether an existing "migration backups" of `gaDirectory` may be used as it
// is: not a link, and owned by an account that others cannot be. It is
// opened into `folder`; false with the row's `reason` otherwise.
bool existingFolderUsable(CCheckedDir& folder, const CCheckedDir& gaDirectory, std::wstring& reason);

// Copies `from`, from its start, into a new file `name` in `into` (one of
// the backup's own), with its times; `from` is left at its start again. A
// copy that fails is removed.
bool copyOpenFile(const CInFile& from, const CCheckedDir& into, const std::wstring& name, FileFailure& failure);

// Copies the file at the full path `path` into a new file `name` in `into`.
bool copyFileInto(const std::wstring& path, const CCheckedDir& into, const std::wstring& name, FileFailure& failure);
