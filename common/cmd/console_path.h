// Where the Quarn server's management console is installed (module ifcregis).
#pragma once

#include <windows.h>

#include <string>

// The console's key below HKEY_LOCAL_MACHINE and its install-directory value.
constexpr wchar_t CONSOLE_KEY[] = L"SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console\\";
constexpr wchar_t CONSOLE_PATH_VALUE[] = L"Path";

// Reads the console's install directory ("Path" of CONSOLE_KEY on this
// computer) in its short form and, unless `fileName` is blank, places
// `fileName` in it after exactly one backslash. A directory that cannot be
// shortened becomes ".\". Returns true when "Path" was read; `out` is always
// written (empty when the key cannot be opened, ".\" when "Path" is missing).
bool GetConsoleInstallPath(const std::wstring& fileName, std::wstring& out);

// Loads a library of the console's installation by its full path. The
// libraries it needs are looked for in its own directory first, then where
// the system keeps its own; never in the current directory or along PATH.
// A relative path is loaded as LoadLibraryW would.
HMODULE loadConsoleLibrary(const std::wstring& path);
