// Runs one command line through the console's command-execution library
// (exec_dll.dll in the console's install directory).
#pragma once

#include "migrate/exec_interface.h"

#include <string>

// Results of runExecCommand. They are the binding's own: what the library
// reports about a command it could not run comes in ExecOutcome, never here.
enum {
    EXEC_DONE = 0, // the command ran to its end: see ExecOutcome::exitCode
    EXEC_EXCEPTION = 1,
    EXEC_LIBRARY_FAILED = 2, // the library could not run the command: see ExecOutcome::libraryError
    EXEC_NOT_LOADED = 3, // no console path, or LoadLibraryW failed
    EXEC_NO_ENTRY_POINTS = 4, // the library lacks execGetEntryPoints
    EXEC_ENTRY_MISSING = 5, // an entry point is null, or the library calls itself unusable
    EXEC_NO_OUTPUT = 6, // the command ran to its end but the library handed back no results
    EXEC_COMMAND_TOO_LONG = 7, // more than EXEC_MAX_COMMAND characters; nothing was run
    EXEC_DIRECTORY_TOO_LONG = 8 // more than EXEC_MAX_DIRECTORY characters; nothing was run
};

// What runExecCommand learnt besides its result, for the caller's message.
struct ExecOutcome {
    // With EXEC_NOT_LOADED: the library's full path (empty when the console's
    // key gave none) and the system's error from loading it (0 when no load
    // was tried). A library built for another architecture fails here.
    std::wstring library;
    DWORD loadError = 0;
    std::wstring loadRefusal; // the library is a link or has a second name (checkRefusal)
    // With EXEC_DONE and EXEC_NO_OUTPUT: the command's exit code, and with
    // EXEC_DONE what it printed. A command that ran is not one that worked.
    DWORD exitCode = 0;
    std::wstring output;
    // With EXEC_LIBRARY_FAILED: the library's code (rc of the request) and
    // the library's own text for it.
    INT32 libraryError = 0;
    std::wstring libraryErrorText;
};

// Issues `command` with `directory` as its working directory and waits for it
// to finish. When `outputTarget` is given, the command's output is also
// written to that file by the library. The tool's own calls pass none (they
// read the output from `outcome`); the branch stays because it is how the
// console's command library is documented to be called.
//
// Returns one of the codes above. Every step goes to the trace. The library
// is loaded on each call and never unloaded. When `outcome` is given it is
// filled in as far as the call got.
int runExecCommand(const std::wstring& command, const std::wstring& directory,
                   const wchar_t* outputTarget = nullptr, ExecOutcome* outcome = nullptr);
