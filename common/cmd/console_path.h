// Where the Quarn server's management console is installed (module ifcregis).
#pragma once


#include "common/cmd/console_names.h"

#include <windows.h>

#include <string>

// What FindConsoleInstallPath found.
enum class ConsolePathLookup {
    Found, // `out` holds the directory's short form, with `fileName` placed in it
    NoKey, // the console's key cannot be opened; `out` is empty
    NoPathValue, // the key has no readable "Path"; `out` is empty
    NotADirectory, // "Path" is empty, relative, or names no directory that is
                   // there; `out` holds it as read, with `fileName` placed in it,
                   // to name what is missing
};

// The reason a step gives when the console's directory cannot be had.
constexpr wchar_t CONSOLE_DIRECTORY_UNKNOWN[]
    = L"the console's directory is not known: \"Path\" of HKEY_LOCAL_MACHINE\\" QM_CONSOLE_VERSION_KEY
      L"\\Console is missing, empty, or not the full path of a directory that exists";

// Reads the console's install directory ("Path" of GA_INSTALL_KEY on this
// computer) in its short form and, unless `fileName` is blank, places
// `fileName` in it after exactly one backslash. Only a full path of an
// existing directory counts: there is no fallback to the current directory.
ConsolePathLookup FindConsoleInstallPath(const std::wstring& fileName, std::wstring& out);

// As FindConsoleInstallPath; true when it found the directory, otherwise
// false with `out` empty.
bool GetConsoleInstallPath(const std::wstring& fileName, std::wstring& out);

// Whether `path` is a full path: a drive letter and a backslash, or \\server.
bool isFullPath(const std::wstring& path);

