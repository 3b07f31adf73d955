// The system's own wording for a Windows error number.
#pragma once

#include <windows.h>

#include <string>

// The text FormatMessageW gives for `osError`, without its line end, or
// "Unknown error N" where the system has none. Some texts name their subject
// as %1 ("%1 is not a valid Win32 application."): `subject` stands there.
std::wstring systemErrorText(DWORD osError, const std::wstring& subject = L"%1");
