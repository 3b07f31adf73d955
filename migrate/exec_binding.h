// Runs one command line through the console's command-execution library
// (exec_dll.dll in the console's install directory).
#pragma once

#include "migrate/exec_interface.h"

#include <string>

// Results of runExecCommand besides 0 (done) and the library's own codes.
enum {
    EXEC_DONE = 0,
    EXEC_EXCEPTION = 1,
    EXEC_NOT_LOADED = 3,        // no console path, or LoadLibraryW failed
    EXEC_NO_ENTRY_POINTS = 4,   // the library lacks execGetEntryPoints
    EXEC_ENTRY_MISSING = 5,     // an entry point is null, or the library calls itself unusable
    EXEC_NO_OUTPUT = 6,         // the command ran but the library handed back no results
    EXEC_COMMAND_TOO_LONG = 7,  // more than EXEC_MAX_COMMAND characters; nothing was run
    EXEC_DIRECTORY_TOO_LONG = 8 // more than EXEC_MAX_DIRECTORY characters; nothing was run
};

// What runExecCommand learnt besides its result, for the caller's message.
struct ExecOutcome {
    // With EXEC_NOT_LOADED: the library's full path (empty when the console's
    // key gave none) and the system's error from loading it (0 when no load
    // was tried). A library built for another architecture fails here.
    std::wstring library;
    DWORD loadError = 0;
};

// Issues `command` with `directory` as its working directory and waits for it
// to finish. When `outputTarget` is given, the command's output is also
// written to that file by the library.
//
// Returns 0 when the command ran and its output came back (whatever its exit
// code), one of the codes above, or, when the library could not run the
// command, the library's code for that (rc of the request). Every step goes to
// the trace. The library is loaded on each call and never unloaded. When
// `outcome` is given it is filled in as far as the call got.
int runExecCommand(const std::wstring& command, const std::wstring& directory,
                   const wchar_t* outputTarget = nullptr, ExecOutcome* outcome = nullptr);
