// The interface of the console's command-execution library, exec_dll.dll, as
// both sides see it: the tool's binding (migrate/exec_binding.cpp) and the
// stand-in library of standin_console/exec/.
//
// Calling convention: every entry point is WINAPI (__stdcall), the convention
// of the console's own 32-bit libraries. The library exports them under their
// plain names (execGetEntryPoints, not _execGetEntryPoints@8), which its .def
// file arranges; the binding looks up only execGetEntryPoints by name and
// reaches everything else through the table that call fills.
#pragma once

#include <windows.h>

#include <cstddef>

// Field sizes of the request, terminators included.
constexpr int EXEC_DIRECTORY_CHARS = 261; // at most MAX_PATH characters
constexpr int EXEC_COMMAND_CHARS = 1025;  // at most 1024 characters

// The longest directory and command line the request can carry.
constexpr size_t EXEC_MAX_DIRECTORY = EXEC_DIRECTORY_CHARS - 1;
constexpr size_t EXEC_MAX_COMMAND = EXEC_COMMAND_CHARS - 1;

// The record handed to execIssueCommand. The console's library was built
// against this exact layout (2580 bytes, little-endian, 32-bit pointer), so it
// must not change. A 64-bit build of the tool (for test machines that run no
// 32-bit programs) only ever meets a 64-bit stand-in built from this same
// header; the console's own 32-bit library fails to load there.
#pragma pack(push, 4)
struct ExecRequest {
    // In: -1. Out: the command's exit code, or the reason it could not run.
    INT32 rc;
    // In: working directory of the command, zero-terminated.
    wchar_t directory[EXEC_DIRECTORY_CHARS];
    // In: command line, zero-terminated.
    wchar_t command[EXEC_COMMAND_CHARS];
    // In: null. Out: the command's output, zero-terminated, owned by the library
    // until it is handed to execFreeResults.
    wchar_t* results;
};
#pragma pack(pop)

#ifndef _WIN64
static_assert(sizeof(ExecRequest) == 2580, "ExecRequest must match the library's record");
static_assert(offsetof(ExecRequest, rc) == 0, "ExecRequest::rc");
static_assert(offsetof(ExecRequest, directory) == 4, "ExecRequest::directory");
static_assert(offsetof(ExecRequest, command) == 526, "ExecRequest::command");
static_assert(offsetof(ExecRequest, results) == 2576, "ExecRequest::results");
#endif

// The library's version number (only traced).
typedef unsigned(WINAPI* ExecGetVersionFn)();
// Runs request->command in request->directory and waits for it. Nonzero: the
// command ran to its end, rc holds its exit code and results its output (or
// null). Zero: it could not be run; rc holds the reason.
typedef int(WINAPI* ExecIssueCommandFn)(ExecRequest* request);
// Releases a results text; 0, or a system error number.
typedef int(WINAPI* ExecFreeResultsFn)(wchar_t* results);
// Writes the text of `code` into `buffer` (`bufferChars` characters with the
// terminator); returns the number of characters written.
typedef int(WINAPI* ExecErrorStringFn)(int code, wchar_t* buffer, int bufferChars);
// Writes a results text to the file `target`; 0, or a system error number.
typedef int(WINAPI* ExecWriteFileFn)(const wchar_t* target, const wchar_t* results);

// The table execGetEntryPoints fills, in the library's order. A slot left
// null means the library lacks that entry.
struct ExecEntryPoints {
    ExecGetVersionFn execGetVersion;
    ExecIssueCommandFn execIssueCommand;
    ExecFreeResultsFn execFreeResults;
    ExecErrorStringFn execErrorString;
    ExecWriteFileFn execWriteFile;
};

// The one entry looked up by name. Nonzero when the library is usable.
typedef int(WINAPI* ExecGetEntryPointsFn)(HMODULE library, ExecEntryPoints* entries);

constexpr char EXEC_GET_ENTRY_POINTS_NAME[] = "execGetEntryPoints";
