#include "migrate/regedit_command.h"

#include "common/cmd/console_path.h"
#include "common/files/text_file.h"
#include "common/cmd/registry_key.h"
#include "common/cmd/system_error.h"
#include "common/trace/trace.h"

#include <windows.h>

namespace {

std::wstring directoryFrom(UINT (WINAPI* get)(LPWSTR, UINT))
{
    wchar_t path[MAX_PATH];
    const UINT length = get(path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

bool underWow64()
{
    return sizeof(void*) == 4 && CRegistryKey::IsWow64();
}

} // namespace

std::wstring systemDirectory()
{
    return directoryFrom(GetSystemDirectoryW);
}

// The Windows directory that the system itself uses: under Remote Desktop
// Services GetWindowsDirectoryW can name a private one of the user's.
std::wstring windowsDirectory()
{
    return directoryFrom(GetSystemWindowsDirectoryW);
}

std::wstring commandInterpreterPath()
{
    return (underWow64() ? windowsDirectory() + L"\\Sysnative" : systemDirectory()) + L"\\cmd.exe";
}

std::wstring registryEditorPath()
{
    return windowsDirectory() + L"\\regedit.exe";
}

unsigned registryViewBits()
{
    return sizeof(void*) == 8 || CRegistryKey::IsWow64() ? 64 : 32;
}

std::wstring regeditCommandLine(const std::wstring& arguments)
{
    return L"\"" + commandInterpreterPath() + L"\" /d /v:off /q /s /c \"\"" + registryEditorPath() + L"\" "
        + arguments + L"\"";
}

int runRegedit(const std::wstring& arguments, ExecOutcome& outcome)
{
    return runExecCommand(regeditCommandLine(arguments), systemDirectory(), nullptr, &outcome);
}

std::wstring regeditExportArguments(const std::wstring& file, const std::wstring& key)
{
    return L"/e \"" + file + L"\" " + key;
}

std::wstring regeditImportArguments(const std::wstring& file)
{
    return L"/s \"" + file + L"\"";
}

std::wstring regeditSaid(const ExecOutcome& outcome)
{
    std::wstring text;
    for (wchar_t c : outcome.output) {
        if (c == L'\r' || c == L'\n')
            c = L' ';
        if (c != L' ' || (!text.empty() && text.back() != L' '))
            text += c;
    }
    while (!text.empty() && text.back() == L' ')
        text.pop_back();
    return text.empty() ? text : L" (" + text + L")";
}

std::wstring regeditFailure(const std::wstring& step, int result, const ExecOutcome& outcome)
{
    switch (result) {
    case EXEC_DONE:
    case EXEC_NO_OUTPUT:
        if (outcome.exitCode == 0)
            return {};
        return L"regedit exited with status " + std::to_wstring(outcome.exitCode) + L" while " + step + regeditSaid(outcome);
    case EXEC_LIBRARY_FAILED:
        return L"the command library could not run regedit for " + step + L" (its error "
            + std::to_wstring(outcome.libraryError)
            + (outcome.libraryErrorText.empty() ? L"" : L": " + outcome.libraryErrorText) + L")";
    case EXEC_NOT_LOADED:
        if (outcome.library.empty())
            return std::wstring(CONSOLE_DIRECTORY_UNKNOWN) + L", so its command library exec_dll.dll was not loaded";
        if (!outcome.loadRefusal.empty())
            return L"the registry editor could not be run: " + outcome.loadRefusal;
        return L"the registry editor could not be run: the command library " + outcome.library
            + L" could not be loaded (" + systemErrorText(outcome.loadError, L"the library") + L")";
    case EXEC_NO_ENTRY_POINTS:
        return L"the command library " + outcome.library + L" lacks execGetEntryPoints";
    case EXEC_ENTRY_MISSING:
        return L"the command library " + outcome.library + L" lacks an entry point or reports itself unusable";
    case EXEC_COMMAND_TOO_LONG:
    case EXEC_DIRECTORY_TOO_LONG:
        return L"the command for " + step + L" is longer than the command library takes; nothing was run";
    default:
        return L"the command library failed while " + step + L" (result " + std::to_wstring(result) + L")";
    }
}


bool exportWholeKey(const std::wstring& key, const RegistryTree& expected, const std::wstring& file,
                    const std::wstring& what, std::wstring& text, std::wstring& reason)
{
    ExecOutcome outcome;
    const int result = runRegedit(regeditExportArguments(file, key), outcome);
    reason = regeditFailure(L"exporting " + what, result, outcome);
    if (!reason.empty())
        return false;

    FileFailure failure;
    if (!w32GetFile(file, text, failure)) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error getting file: %s\n", file.c_str());
        // The registry editor exits 0 even when it exported nothing.
        reason = failure.cause == FILE_CAUSE_NOT_FOUND
                     ? L"regedit left no export of " + what + L" in " + file + regeditSaid(outcome)
                     : L"regedit's export of " + what + L" in " + file + L" cannot be read: "
                           + describeFileFailure(failure);
        return false;
    }
    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: registry file len: %u\n", unsigned(text.size()));

    RegistryTree exported;
    std::wstring unreadable;
    if (!parseRegistrationText(text, exported, unreadable)) {
        reason = L"regedit's export of " + what + L" in " + file + L" cannot be read: " + unreadable;
        return false;
    }
    const TreeShortfall shortfall = shortfallOf(expected, exported);
    if (shortfall.missing) {
        reason = L"regedit's export of " + what + L" in " + file + L" is not whole: "
            + std::to_wstring(shortfall.missing) + L" of its " + std::to_wstring(shortfall.checked)
            + L" values and keys are missing or differ, the first: " + shortfall.first + regeditSaid(outcome);
        return false;
    }
    return true;
}
