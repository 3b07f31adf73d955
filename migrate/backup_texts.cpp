#include "migrate/backup_texts.h"

#include <cwchar>

// restore.cmd is read by cmd in the console's code page, which is the OEM code
// page unless someone changed it (Wine's cmd always reads batch files in the
// OEM code page, whatever chcp says); restore.lst is read back in the OEM
// code page. Texts are written in that code page.
bool toCodePage(const std::wstring& text, UINT codePage, std::string& bytes)
{
    bytes.clear();
    if (text.empty())
        return true;
    // The UTF-8 code pages take neither the flag nor the default-character test.
    const bool utf = codePage == CP_UTF8 || codePage == CP_UTF7;
    BOOL usedDefault = FALSE;
    const DWORD flags = utf ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL* used = utf ? nullptr : &usedDefault;
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(codePage, flags, text.c_str(), length, nullptr, 0, nullptr, used);
    if (size <= 0 || usedDefault)
        return false;
    bytes.resize(static_cast<size_t>(size));
    WideCharToMultiByte(codePage, flags, text.c_str(), length, &bytes[0], size, nullptr, nullptr);
    return true;
}

// A text restore.lst holds: it divides its lines at | and ends them at CR LF,
// and is written in the OEM code page, so a | or a control character would
// split a line and a character outside the code page would come back as
// another. `what` says what the text is ("the path ..."), `otherwise` what
// follows from a refusal.
bool ledgerCanCarry(const std::wstring& text, const std::wstring& what, const wchar_t* otherwise,
                 std::wstring& reason)
{
    for (wchar_t c : text) {
        if (c == L'|' || c < 0x20 || c == 0x7F) {
            wchar_t code[8];
            swprintf(code, 8, L"%04X", static_cast<unsigned>(c));
            reason = what + L" holds the character U+" + code + L", which the backup's list restore.lst cannot carry; " + otherwise;
            return false;
        }
    }
    std::string bytes;
    if (!toCodePage(text, GetOEMCP(), bytes)) {
        reason = what + L" holds characters outside the OEM code page " + std::to_wstring(GetOEMCP())
            + L", in which the backup's list restore.lst is written; " + otherwise;
        return false;
    }
    return true;
}

bool ledgerCanCarry(const std::wstring& path, std::wstring& reason)
{
    return ledgerCanCarry(path, L"the path " + path, L"nothing was backed up for it", reason);
}

std::wstring startText(const SYSTEMTIME& start, const wchar_t* timeSeparator)
{
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u%ls%02u%ls%02u", start.wYear, start.wMonth, start.wDay, start.wHour,
             timeSeparator, start.wMinute, timeSeparator, start.wSecond);
    return text;
}

std::wstring restoreScriptText(const std::wstring& when)
{
    // The administrator's one step: the tool kept beside it does the restore
    // by handle and proves it, and its exit code is the script's. "%~dp0."
    // names the folder without the backslash that would escape the quote.
    // Nothing is taken from the caller's environment: no program is found
    // through PATH, ComSpec or SystemRoot.
    std::wstring s;
    for (const std::wstring& line :
         { std::wstring(L"@echo off"),
           L"rem Puts the 5.2.2 installation back as it was before the migration of " + when + L".",
           std::wstring(L"rem Run it as an administrator; it works from any current directory."),
           std::wstring(L"setlocal EnableExtensions DisableDelayedExpansion"),
           std::wstring(L"\"%~dp0") + BACKUP_PROGRAM_FILE + L"\" /restore:\"%~dp0.\"",
           // Not %errorlevel%: a variable of that name in the caller's
           // environment would stand in for the tool's exit code.
           std::wstring(L"if errorlevel 4 exit /b 4"), std::wstring(L"if errorlevel 3 exit /b 3"),
           std::wstring(L"if errorlevel 2 exit /b 2"), std::wstring(L"if errorlevel 1 exit /b 1"),
           std::wstring(L"exit /b 0") })
        s += line + L"\r\n";
    return s;
}

std::string backupReadmeText(const std::wstring& when)
{
    return "This folder keeps what the quarnrept_migrate run of " + std::string(when.begin(), when.end())
        + " replaced in the 5.2.2 installation: each file as it was and, in Console.reg, the registry key "
          "HKLM\\...\\CurrentVersion\\Console as it was before the import.\r\n"
          "To put the installation back as it was before that run, close the console and run restore.cmd here as "
          "an administrator (a double-click will do).\r\n"
          "restore.cmd runs the copy of quarnrept_migrate.exe kept here with /restore: it copies the kept files "
          "back, deletes the files the run created, removes the values and subkeys the run added to the registry "
          "key and puts back the values it changed, then compares everything with this backup. It shows ERROR for "
          "any step that failed and exits 0 only when everything is back; restore.lst lists what it restores.\r\n";
}
