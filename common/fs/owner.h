// Who owns a file, a folder or a kernel object, and whether that owner is
// one others cannot be.
//
// The tool runs elevated on servers that other accounts share. Whatever it
// finds under a name it uses for itself (its run lock, its report, its
// trace) may have been put there first by someone else; the owner tells.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The `parts` of the security descriptor of what `handle` (opened with
// READ_CONTROL) holds, into `descriptor`; false, with the system's error,
// when they cannot be read.
bool securityOf(HANDLE handle, SECURITY_INFORMATION parts, std::vector<BYTE>& descriptor);

// The owner of what `handle` (opened with READ_CONTROL) holds, as the bytes
// of its SID; false when it cannot be read or the object has none.
bool ownerOf(HANDLE handle, std::vector<BYTE>& owner);

// Whether `owner` is BUILTIN\Administrators or SYSTEM: an owner only an
// elevated administrator or the system can give.
bool isAdministratorsOrSystem(PSID owner);

// Whether `owner` is the account this process runs as.
bool isRunningAccount(PSID owner);

// The account's name for a message ("DOMAIN\name"), or its SID where it has
// none, or "an unknown account".
std::wstring accountName(PSID sid);

// The account that owns what `handle` holds, for a message or a trace line;
// "an account whose name cannot be read" when the owner cannot be read.
std::wstring ownerName(HANDLE handle);
