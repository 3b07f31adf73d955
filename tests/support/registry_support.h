// Registry set-up for tests that use the tool's real keys under
// HKEY_LOCAL_MACHINE\SOFTWARE\Norvale. Such tests take the CTest lock
// "registry" so that no two of them run at once.
#pragma once

#include "tests/support/test_support.h"

#include <windows.h>

#include <string>

namespace qmtest {

constexpr wchar_t NORVALE_KEY[] = L"SOFTWARE\\Norvale";
constexpr wchar_t BETA_KEY[] = L"SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console_Reporting";
constexpr wchar_t GA_KEY[] = L"SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console";

// Creates the key (and its parents) and sets a string value in it.
void setRegString(const std::wstring& key, const std::wstring& name, const std::wstring& value,
                  DWORD type = REG_SZ);
void setRegDword(const std::wstring& key, const std::wstring& name, DWORD value);
void createRegKey(const std::wstring& key);
void deleteRegValue(const std::wstring& key, const std::wstring& name);
void deleteRegTree(const std::wstring& key);
// The string value, or `missing` when the key or value is not there.
std::wstring regString(const std::wstring& key, const std::wstring& name, const std::wstring& missing = L"<missing>");

// Every value (type and data) and every subkey ("key" and its access list)
// under the HKEY_LOCAL_MACHINE key, by path.
void snapshotKey(const std::wstring& key, Snapshot& out);

// Gives the key the access list `sddl` (its D: part).
void setRegAccess(const std::wstring& key, const std::wstring& sddl);

// Denies everyone `denied` on the key (Wine checks access as Windows does);
// 0 lets everyone do everything again.
void denyRegAccess(const std::wstring& key, REGSAM denied);

// Removes HKLM\SOFTWARE\Norvale before and after the test.
class CleanNorvaleKeys {
public:
    CleanNorvaleKeys() { deleteRegTree(NORVALE_KEY); }
    ~CleanNorvaleKeys() { deleteRegTree(NORVALE_KEY); }
    CleanNorvaleKeys(const CleanNorvaleKeys&) = delete;
    CleanNorvaleKeys& operator=(const CleanNorvaleKeys&) = delete;
};

} // namespace qmtest
