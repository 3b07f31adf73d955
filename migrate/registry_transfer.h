// Carries the beta add-on's registry settings over to the 5.2.2 key: the
// registry editor exports the beta key to a registration file in the beta
// directory, the key's name is changed in the file's text, and the registry
// editor imports the file again.
#pragma once

#include <functional>
#include <string>

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
// A beta directory holding a character that cmd cannot carry literally within
// double quotes (", %, control characters) is refused before anything runs.
// `beforeImport`, when given, runs once the rewritten file is ready and
// before anything is imported; when it fails (false, with `reason`) nothing
// is imported.
bool migrateRegistrySettings(const std::wstring& betaDirectory, std::wstring& reason,
                             const std::function<bool(std::wstring& reason)>& beforeImport = nullptr);
