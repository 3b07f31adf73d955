// Path splitting and shortening (module wn32util).
//
// All three work on caller-owned, zero-terminated wide buffers and keep no
// state. Every output buffer must hold at least MAX_PATH (260) characters.
#pragma once

#include <windows.h>

// Splits a path into drive, directory, base name and extension as _wsplitpath
// does, but also understands UNC paths: for \\server\share\dir\file.txt the
// drive is \\server\share and the directory \dir\. Only backslashes make a
// UNC path. Leading white space is ignored. Any output may be null. A path of
// MAX_PATH characters or more is refused: every output is emptied.
void splitanypath(const wchar_t* path, wchar_t* drive, wchar_t* dir, wchar_t* name, wchar_t* ext);

// Directory part (drive and directory) and file part (base name and
// extension) of a path; either output may be null. Returns 0. No caller in
// the tool today (the finder hands over names already split); it stays as one
// of the module's three documented path operations.
int w32SplitDirFile(const wchar_t* path, wchar_t* dirPart, wchar_t* filePart);

// Results of w32GetShortPath.
enum {
    SHORTPATH_OK = 0,        // the short form is in the output
    SHORTPATH_NONE = 1,      // no short form could be had (output emptied)
    SHORTPATH_TOO_LONG = 2,  // the short form would not fit (output emptied)
};

// The short (8.3) form of `longPath` in `shortPath`, which holds `capacity`
// characters. When the path itself does not exist but its directory does,
// the result is the short directory followed by the name as given. The
// output may be the same buffer as the input.
int w32GetShortPath(const wchar_t* longPath, wchar_t* shortPath, DWORD capacity);
