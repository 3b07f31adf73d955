#include "common/cmd/registry_key.h"

#include "common/notice.h"

#include "common/trace/trace.h"

#include <cwchar>

namespace {

// Indexed by the registry type number.
const wchar_t* const REG_TYPE_NAMES[] = {
    L"REG_NONE",  L"REG_SZ",   L"REG_EXPAND_SZ", L"REG_BINARY",        L"REG_DWORD",
    L"REG_DWORD_BIG_ENDIAN",   L"REG_LINK",      L"REG_MULTI_SZ",      L"REG_RESOURCE_LIST",
};

// Opens subKey below an already open handle, closing a connection handle
// afterwards: the opened key stays valid without it.
LONG openBelow(HKEY base, HKEY root, const std::wstring& subKey, CKeyHandle& keyOut)
{
    CKeyHandle connection(base != root ? base : nullptr);
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(base, subKey.c_str(), 0, KEY_READ, &key);
    if (rc == ERROR_SUCCESS)
        keyOut.Attach(key);
    return rc;
}

} // namespace

LONG CRegistryKey::Open(HKEY root, const std::wstring& subKey)
{
    Close();
    HKEY base = root;
    LONG rc = RedirectRoot(root, subKey, base);
    if (rc != ERROR_SUCCESS)
        return rc;
    return openBelow(base, root, subKey, m_key);
}

LONG CRegistryKey::OpenOnMachine(const std::wstring& machine, HKEY root, const std::wstring& subKey)
{
    if (IsLocalMachine(machine))
        return Open(root, subKey);

    Close();
    HKEY remote = nullptr;
    LONG rc = RegConnectRegistryW(machine.c_str(), root, &remote);
    if (rc != ERROR_SUCCESS)
        return rc;
    return openBelow(remote, nullptr, subKey, m_key);
}

LONG CRegistryKey::Close()
{
    return m_key.IsValid() ? RegCloseKey(m_key.Detach()) : ERROR_SUCCESS;
}

LONG CRegistryKey::QueryString(const std::wstring& valueName, std::wstring& out)
{
    out.clear();
    QM_TRACE(TRACE_CAT_REGISTRY, L"looking for key: %s\n", valueName.c_str());

    // One character more than the read may fill, so a value of exactly
    // QUERY_STRING_BYTES bytes still gets its terminator inside the buffer.
    constexpr DWORD chars = QUERY_STRING_BYTES / sizeof(wchar_t) + 1;
    wchar_t buffer[chars];
    DWORD type = REG_NONE;
    DWORD size = QUERY_STRING_BYTES;
    LONG rc = m_key.IsValid() ? RegQueryValueExW(m_key.Get(), valueName.c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(buffer), &size)
                    : LONG(ERROR_INVALID_HANDLE);
    if (rc == ERROR_SUCCESS) {
        DWORD end = size / sizeof(wchar_t);
        buffer[end < chars ? end : chars - 1] = L'\0';
        out = buffer;
        wchar_t typeName[REG_TYPE_NAME_CHARS];
        QM_TRACE(TRACE_CAT_REGISTRY, L"szKey: %s,dwType: %s,szBuf: %s,dwSize: %u\n", valueName.c_str(),
                 TypeName(type, typeName, REG_TYPE_NAME_CHARS), out.c_str(), unsigned(size));
    } else {
        QM_TRACE(TRACE_CAT_REGISTRY, L"Error. Return code: %u\n", unsigned(rc));
    }
    return rc;
}

LONG CRegistryKey::EnumValue(DWORD index, std::wstring& nameOut, DWORD& typeOut)
{
    nameOut.clear();
    if (!m_key.IsValid())
        return ERROR_INVALID_HANDLE;
    wchar_t name[ENUM_NAME_CHARS];
    DWORD length = ENUM_NAME_CHARS;
    DWORD type = REG_NONE;
    LONG rc = RegEnumValueW(m_key.Get(), index, name, &length, nullptr, &type, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) {
        nameOut.assign(name, length < ENUM_NAME_CHARS ? length : ENUM_NAME_CHARS - 1);
        typeOut = type;
    }
    return rc;
}

LONG CRegistryKey::ReadValueAt(DWORD index, std::wstring& nameOut, DWORD& typeOut, std::string& dataOut)
{
    if (!m_key.IsValid())
        return ERROR_INVALID_HANDLE;
    // The key says how long its longest name and data are; a value written
    // between that answer and the read asks for a second try.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD nameChars = 0, dataBytes = 0;
        LONG rc = RegQueryInfoKeyW(m_key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   &nameChars, &dataBytes, nullptr, nullptr);
        if (rc != ERROR_SUCCESS)
            return rc;
        std::wstring name(size_t(nameChars) + 1, L'\0');
        std::string data(size_t(dataBytes) + 1, '\0');
        DWORD nameLength = nameChars + 1, dataLength = dataBytes + 1, type = REG_NONE;
        rc = RegEnumValueW(m_key.Get(), index, &name[0], &nameLength, nullptr, &type,
                           reinterpret_cast<BYTE*>(&data[0]), &dataLength);
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc != ERROR_SUCCESS)
            return rc;
        name.resize(nameLength);
        data.resize(dataLength);
        nameOut = std::move(name);
        typeOut = type;
        dataOut = std::move(data);
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

LONG CRegistryKey::EnumSubKey(DWORD index, std::wstring& nameOut)
{
    nameOut.clear();
    if (!m_key.IsValid())
        return ERROR_INVALID_HANDLE;
    wchar_t name[256]; // a key name has at most 255 characters
    DWORD length = 256;
    LONG rc = RegEnumKeyExW(m_key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS)
        nameOut.assign(name, length);
    return rc;
}

LONG CRegistryKey::QueryInfo(DWORD* subKeyCountOut, DWORD* valueCountOut)
{
    DWORD subKeys = 0;
    DWORD values = 0;
    LONG rc = m_key.IsValid() ? RegQueryInfoKeyW(m_key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr,
                                       nullptr, &values, nullptr, nullptr, nullptr, nullptr)
                    : LONG(ERROR_INVALID_HANDLE);
    if (rc != ERROR_SUCCESS) {
        subKeys = 0;
        values = 0;
    }
    if (subKeyCountOut)
        *subKeyCountOut = subKeys;
    if (valueCountOut)
        *valueCountOut = values;
    return rc;
}

const wchar_t* CRegistryKey::TypeName(DWORD type, wchar_t* out, size_t outChars)
{
    if (!out || outChars == 0)
        return out;
    const wchar_t* name = type < sizeof REG_TYPE_NAMES / sizeof REG_TYPE_NAMES[0] ? REG_TYPE_NAMES[type]
                                                                           : L"UNKNOWN";
    size_t i = 0;
    for (; name[i] && i + 1 < outChars; ++i)
        out[i] = name[i];
    out[i] = L'\0';
    return out;
}

bool CRegistryKey::IsLocalMachine(const std::wstring& machine)
{
    // NetBIOS names have at most 15 characters; the larger buffer keeps a
    // longer name (which Wine can report) from failing the comparison.
    wchar_t name[256];
    DWORD length = sizeof name / sizeof name[0];
    if (!GetComputerNameW(name, &length))
        return false;
    return _wcsicmp(name, machine.c_str()) == 0;
}

bool CRegistryKey::IsWow64()
{
    CModuleHandle kernel(LoadLibraryW(L"KERNEL32.DLL"));
    if (!kernel.IsValid())
        return false;
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel.Get(), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64Process && !isWow64Process(GetCurrentProcess(), &wow64))
        wow64 = FALSE;
    return wow64 != FALSE;
}

LONG CRegistryKey::RedirectRoot(HKEY root, const std::wstring& subKey, HKEY& rootOut)
{
    rootOut = root;
    if (root != HKEY_LOCAL_MACHINE || _wcsnicmp(subKey.c_str(), L"SOFTWARE", 8) != 0 || !IsWow64())
        return ERROR_SUCCESS;

    HKEY connected = nullptr;
    LONG rc = RegConnectRegistryW(L"\\\\.", HKEY_LOCAL_MACHINE, &connected);
    if (rc == ERROR_SUCCESS) {
        rootOut = connected;
        return ERROR_SUCCESS;
    }
    std::wstring text = L"RegConnectRegistry error " + std::to_wstring(unsigned(rc))
                        + L"\nInsure Windows Remote Registry Service is running\n";
    tellUser(text, L"Quarn Console", NoticeKind::Warning);
    return rc;
}
