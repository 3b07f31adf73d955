// Carries the beta add-on's registry settings over to the 5.2.2 key: the
// registry editor exports the beta key to a registration file, the key's name
// is changed in the file's text, and the registry editor imports the file
// again. The file is worked on in the run's protected backup folder, where no
// one else can swap it between the rewrite and the import; the renamed text
// is left in the beta directory afterwards, as it always was, and never read
// from there.
#pragma once

#include <string>

class CMigrationBackup;

extern const wchar_t REGISTRATION_FILE_NAME[]; // "quarnrept_mig.reg"

// Every occurrence of console_reporting (letters in any case, the underscore
// exactly) replaced by "console", wherever it stands.
std::wstring renameConsoleReporting(const std::wstring& text);

// Removes from registration-file text the "Path" and "WebSiteLocalPath"
// values of the 5.2.2 key itself (not of its subkeys): they say where the
// 5.2.2 installation and the console are, and the beta's values, renamed,
// would point them somewhere else.
std::wstring keepGaInstallValues(const std::wstring& text);

// Runs the transfer. Returns true when the settings were exported, rewritten
// and imported, and a value of the beta key (when it holds one) is now under
// the 5.2.2 key as exported; otherwise false with `reason` saying what failed.
// The 5.2.2 key is kept in `backup` before anything is imported; when it
// cannot be kept, nothing is imported.
bool migrateRegistrySettings(const std::wstring& betaDirectory, CMigrationBackup& backup, std::wstring& reason);
