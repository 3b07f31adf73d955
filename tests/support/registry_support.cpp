#include "tests/support/registry_support.h"

#include <sddl.h>

#include <cwchar>

namespace qmtest {

void setRegAccess(const std::wstring& key, const std::wstring& sddl)
{
    HKEY handle = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, WRITE_DAC, &handle) == ERROR_SUCCESS
        && ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    if (handle)
        RegCloseKey(handle);
}

void denyRegAccess(const std::wstring& key, REGSAM denied)
{
    wchar_t sddl[64];
    swprintf(sddl, 64, L"D:(D;;0x%lx;;;WD)(A;;KA;;;WD)", static_cast<unsigned long>(denied));
    setRegAccess(key, denied ? sddl : L"D:(A;;KA;;;WD)");
}

void snapshotKey(const std::wstring& key, Snapshot& out)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return;
    // A key with its access list: a restore must bring back both.
    std::string sd(4096, '\0');
    DWORD sdSize = DWORD(sd.size());
    LPWSTR sddl = nullptr;
    if (RegGetKeySecurity(handle, DACL_SECURITY_INFORMATION, &sd[0], &sdSize) == ERROR_SUCCESS
        && ConvertSecurityDescriptorToStringSecurityDescriptorW(&sd[0], SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                &sddl, nullptr)) {
        out[key + L"\\"] = "key " + narrow(sddl);
        LocalFree(sddl);
    } else {
        out[key + L"\\"] = "key, access list unreadable";
    }
    wchar_t name[256];
    BYTE data[4096];
    DWORD nameSize = 256, type = 0, size = sizeof data;
    for (DWORD i = 0; RegEnumValueW(handle, i, name, &nameSize, nullptr, &type, data, &size) == ERROR_SUCCESS;
         ++i, nameSize = 256, size = sizeof data)
        out[key + L"|" + name] = std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
    for (DWORD i = 0; RegEnumKeyExW(handle, i, name, &(nameSize = 256), nullptr, nullptr, nullptr, nullptr) == 0; ++i)
        snapshotKey(key + L"\\" + name, out);
    RegCloseKey(handle);
}

void setRegString(const std::wstring& key, const std::wstring& name, const std::wstring& value, DWORD type)
{
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), type, value.c_str(),
                    DWORD((value.size() + 1) * sizeof(wchar_t)));
}

void setRegDword(const std::wstring& key, const std::wstring& name, DWORD value)
{
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), REG_DWORD, &value, sizeof value);
}

void createRegKey(const std::wstring& key)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) == 0)
        RegCloseKey(handle);
}

void deleteRegValue(const std::wstring& key, const std::wstring& name)
{
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str());
}

void deleteRegTree(const std::wstring& key)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
}

std::wstring regString(const std::wstring& key, const std::wstring& name, const std::wstring& missing)
{
    wchar_t data[4096];
    DWORD bytes = sizeof data - sizeof(wchar_t);
    LONG rc = RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                           nullptr, data, &bytes);
    if (rc != ERROR_SUCCESS)
        return missing;
    return std::wstring(data);
}

} // namespace qmtest
