// Links below the directories the registry names (module wn32util).
//
// The tool runs elevated on servers that other accounts share. Below the
// installation directories, anyone who may write there can leave a link, and
// an elevated write or copy through it lands wherever the link points. These
// checks tell such entries apart, on Windows by their reparse point and, where
// the system shows none (Wine shows a Unix link to a file as a plain file), by
// where the file system actually takes the path.
#pragma once

#include <windows.h>

#include <string>

// The full path at which the file system reaches the open handle, links
// resolved, without the \\?\ prefix (\\?\UNC\ becomes \\); empty when the
// system cannot say.
std::wstring resolvedPathOf(HANDLE handle);

// Whether `handle`, opened by the path directory + "\" + name, reaches that
// entry itself: not through a link, nor through a name that the file system
// takes for another entry. `directory` is taken as it resolves.
bool reachesEntryItself(HANDLE handle, const std::wstring& directory, const std::wstring& name);

// The reason a row gives when `path` is a link.
std::wstring linkRefusal(const std::wstring& path);
