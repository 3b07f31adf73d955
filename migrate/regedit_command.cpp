#include "migrate/regedit_command.h"

#include "common/cmd/registry_key.h"

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
