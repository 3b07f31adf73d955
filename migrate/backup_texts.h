// The texts a migration's backup folder holds, and the rules for what its
// list restore.lst can carry.
#pragma once

#include <windows.h>

#include <string>

// The copy of the tool a backup folder keeps, which its restore.cmd runs.
constexpr wchar_t BACKUP_PROGRAM_FILE[] = L"quarnrept_migrate.exe";

// `text` in `codePage` into `bytes`; false when a character has no place in
// it (nothing stands in for one).
bool toCodePage(const std::wstring& text, UINT codePage, std::string& bytes);

// Whether restore.lst can carry `text`: no |, no control character, nothing
// outside the OEM code page. Else `reason` says so: `what` names the text
// ("the path ..."), `otherwise` what follows from the refusal.
bool ledgerCanCarry(const std::wstring& text, const std::wstring& what, const wchar_t* otherwise,
                    std::wstring& reason);
// The same for a destination's path: nothing is backed up for it.
bool ledgerCanCarry(const std::wstring& path, std::wstring& reason);

// A run's start as a folder name takes it ("2026-12-07 14-03-22", with "-")
// or as a text shows it (with ":").
std::wstring startText(const SYSTEMTIME& start, const wchar_t* timeSeparator);

// restore.cmd for the run of `when`, CR LF lines.
std::wstring restoreScriptText(const std::wstring& when);
// README.txt for the run of `when`: plain ASCII, readable in any editor and
// code page.
std::string backupReadmeText(const std::wstring& when);
