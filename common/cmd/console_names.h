// The console's names in the registry, in one place: every key the tool
// reads, exports or imports into, the values it reads, and the forms in
// which the registry editor, reg.exe and the migration list name them.
#pragma once

// Where the console keeps its keys, below HKEY_LOCAL_MACHINE.
#define QM_CONSOLE_VERSION_KEY L"SOFTWARE\\Norvale\\Kelda\\CurrentVersion"

// The installations' keys below HKEY_LOCAL_MACHINE, as the locator and the
// console's own look-ups open them (the 5.2.2 key is the console's).
constexpr wchar_t BETA_INSTALL_KEY[] = QM_CONSOLE_VERSION_KEY L"\\Console_Reporting\\";
constexpr wchar_t GA_INSTALL_KEY[] = QM_CONSOLE_VERSION_KEY L"\\Console\\";
constexpr wchar_t INSTALL_PATH_VALUE[] = L"Path";
constexpr wchar_t WEB_SITE_PATH_VALUE[] = L"WebSiteLocalPath";

// Where the console lists its languages: value name = language code,
// data = LCIDs in hexadecimal separated by ",".
constexpr wchar_t LANGUAGES_KEY[] = QM_CONSOLE_VERSION_KEY L"\\Languages";

// The settings the registry row carries over: the beta key as the export
// is handed it, and the 5.2.2 key the renamed file imports into, each below
// HKEY_LOCAL_MACHINE and in full.
constexpr wchar_t BETA_SETTINGS_SUBKEY[] = QM_CONSOLE_VERSION_KEY L"\\console_reporting";
constexpr wchar_t GA_SETTINGS_SUBKEY[] = QM_CONSOLE_VERSION_KEY L"\\Console";
constexpr wchar_t BETA_SETTINGS_KEY[] = L"HKEY_LOCAL_MACHINE\\" QM_CONSOLE_VERSION_KEY L"\\console_reporting";
constexpr wchar_t GA_SETTINGS_KEY[] = L"HKEY_LOCAL_MACHINE\\" QM_CONSOLE_VERSION_KEY L"\\Console";

// The registry row's Source and Destination columns.
constexpr wchar_t BETA_SETTINGS_ROW_ROOT[] = L"HKLM\\" QM_CONSOLE_VERSION_KEY L"\\console_reporting";
constexpr wchar_t GA_SETTINGS_ROW_ROOT[] = L"HKLM\\" QM_CONSOLE_VERSION_KEY L"\\console";
