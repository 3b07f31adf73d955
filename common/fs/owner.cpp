#include "common/fs/owner.h"

#include <sddl.h>

bool securityOf(HANDLE handle, SECURITY_INFORMATION parts, std::vector<BYTE>& descriptor)
{
    descriptor.resize(512);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD needed = 0;
        if (GetKernelObjectSecurity(handle, parts, descriptor.data(), DWORD(descriptor.size()), &needed))
            return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= descriptor.size())
            return false;
        descriptor.resize(needed);
    }
    return false;
}

bool ownerOf(HANDLE handle, std::vector<BYTE>& owner)
{
    std::vector<BYTE> descriptor;
    PSID sid = nullptr;
    BOOL defaulted = FALSE;
    if (!securityOf(handle, OWNER_SECURITY_INFORMATION, descriptor)
        || !GetSecurityDescriptorOwner(descriptor.data(), &sid, &defaulted) || !sid || !IsValidSid(sid))
        return false;
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    owner.assign(bytes, bytes + GetLengthSid(sid));
    return true;
}

bool isAdministratorsOrSystem(PSID owner)
{
    return owner && IsValidSid(owner)
        && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid));
}

bool isRunningAccount(PSID owner)
{
    if (!owner || !IsValidSid(owner))
        return false;
    bool same = false;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        union {
            TOKEN_USER user;
            BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        } buffer;
        DWORD length = 0;
        if (GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &length))
            same = EqualSid(owner, buffer.user.User.Sid) != FALSE;
        CloseHandle(token);
    }
    return same;
}

std::wstring accountName(PSID sid)
{
    if (!sid || !IsValidSid(sid))
        return L"an unknown account";
    wchar_t name[256], domain[256];
    DWORD nameLength = 256, domainLength = 256;
    SID_NAME_USE use;
    if (LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
        return domain[0] ? std::wstring(domain) + L"\\" + name : std::wstring(name);
    LPWSTR text = nullptr;
    std::wstring result = L"an unknown account";
    if (ConvertSidToStringSidW(sid, &text)) {
        result = text;
        LocalFree(text);
    }
    return result;
}

std::wstring ownerName(HANDLE handle)
{
    std::vector<BYTE> owner;
    return ownerOf(handle, owner) ? accountName(owner.data()) : L"an account whose name cannot be read";
}
