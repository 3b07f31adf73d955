// The registry editor as the tool runs it: by full path, through the command
// interpreter named by full path, in the system directory, on the registry
// view that the tool itself reads.
//
// On 32-bit Windows (and for a 64-bit build) the interpreter is
// <system directory>\cmd.exe and the editor <Windows directory>\regedit.exe.
// Under WOW64 the tool reads the 64-bit registry (CRegistryKey's WOW64 rule),
// while a 32-bit process asking for <Windows directory>\regedit.exe gets the
// 32-bit editor; so there the 64-bit interpreter is started through
// <Windows directory>\Sysnative\cmd.exe, and the editor it starts is the
// 64-bit one.
#pragma once

#include "migrate/exec_binding.h"
#include "migrate/registry_tree.h"

#include <string>

// The full paths of the programs the tool starts; the directory in which it
// starts them.
std::wstring commandInterpreterPath();
std::wstring registryEditorPath();
std::wstring systemDirectory();
std::wstring windowsDirectory();

// 64 or 32: the registry view the tool reads, which restore.cmd pins for reg.exe.
unsigned registryViewBits();

// The command line that has the interpreter run the registry editor with
// `arguments`: no AutoRun commands (/d), no delayed expansion (/v:off), and
// the outer quotes taken off as written (/s).
std::wstring regeditCommandLine(const std::wstring& arguments);

// Runs the registry editor with `arguments` through the console's command
// library, in the system directory; runExecCommand's result.
int runRegedit(const std::wstring& arguments, ExecOutcome& outcome);

// Arguments that export `key` with its subkeys into `file`, and that import `file`.
std::wstring regeditExportArguments(const std::wstring& file, const std::wstring& key);
std::wstring regeditImportArguments(const std::wstring& file);

// What a regedit command printed, on one line, as the tail of a reason:
// " (text)", or empty.
std::wstring regeditSaid(const ExecOutcome& outcome);

// Why a regedit command run for `step` ("exporting the beta key") did not
// work; empty when it did.
std::wstring regeditFailure(const std::wstring& step, int result, const ExecOutcome& outcome);

// Has the registry editor export `key` ("HKEY_LOCAL_MACHINE\...") with its
// subkeys into `file`, reads the file into `text`, and proves that it holds
// every key and value of `expected` (the key as read before). False with
// `reason`, which names `what` ("the beta key"), when any step fails.
bool exportWholeKey(const std::wstring& key, const RegistryTree& expected, const std::wstring& file,
                    const std::wstring& what, std::wstring& text, std::wstring& reason);
