// HTML Help, loaded on first use from the help control registered under its
// class id. Where there is no help control, calls do nothing and return null.
#pragma once

#include <windows.h>

constexpr UINT QM_HH_DISPLAY_TOC = 0x0001;
constexpr UINT QM_HH_CLOSE_ALL = 0x0012;

// The path of the help control, as the machine's classes register it under
// its class id (HKLM\SOFTWARE\Classes); false when there is none.
bool htmlHelpControlPath(wchar_t* path, DWORD capacity);

HWND callHtmlHelp(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data);

// Closes every help window this thread opened. HH_CLOSE_ALL first; a help
// control that leaves windows open all the same (Wine's does) has them
// destroyed, so that Done never leaves help behind.
void closeAllHtmlHelp();
