// Read-only registry key (module ifcregis).
//
// An object owns at most one open key, opened for reading on this computer or
// on a named one, and closes it when it goes away. Every registry operation
// returns the Windows error number of the call it made (ERROR_SUCCESS = 0).
//
// The tool is a 32-bit program. Under WOW64 a key below HKEY_LOCAL_MACHINE\SOFTWARE
// is opened through a registry connection to the local machine ("\\.") rather
// than through the process's own HKEY_LOCAL_MACHINE; when that connection
// fails the user is told to start the Remote Registry service.
#pragma once

#include "window/handle.h"

#include <windows.h>

#include <cstddef>
#include <string>

// Room for the longest registry type name, with its terminator.
constexpr size_t REG_TYPE_NAME_CHARS = 32;

class CRegistryKey {
public:
    CRegistryKey() = default;
    ~CRegistryKey() { Close(); }
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // Opens root\subKey with KEY_READ, applying the WOW64 rule (RedirectRoot).
    // A key already held is closed first; after a failure the object is empty.
    LONG Open(HKEY root, const std::wstring& subKey);

    // As Open when `machine` (no leading backslashes) is this computer;
    // otherwise opens root\subKey through a connection to that computer.
    LONG OpenOnMachine(const std::wstring& machine, HKEY root, const std::wstring& subKey);

    // Closes the key if one is open. Returns RegCloseKey's result, or 0.
    LONG Close();

    bool IsOpen() const { return m_key.IsValid(); }

    // Empties `out`, then reads the value's data (whatever its type) as UTF-16
    // text, up to QUERY_STRING_BYTES bytes; an odd last byte is dropped and
    // the text ends at its first null. A larger value fails with
    // ERROR_MORE_DATA and leaves `out` empty.
    LONG QueryString(const std::wstring& valueName, std::wstring& out);

    // Name and type of the value at a zero-based index. `nameOut` is emptied
    // first; `typeOut` is written only on success. Names longer than
    // ENUM_NAME_CHARS - 1 characters fail with ERROR_MORE_DATA.
    LONG EnumValue(DWORD index, std::wstring& nameOut, DWORD& typeOut);

    // Name, type and data (as stored, any size) of the value at a zero-based
    // index, with no limit on the name's length but the registry's own.
    // The outputs are written only on success.
    LONG ReadValueAt(DWORD index, std::wstring& nameOut, DWORD& typeOut, std::string& dataOut);

    // Name of the subkey at a zero-based index; `nameOut` is emptied first.
    LONG EnumSubKey(DWORD index, std::wstring& nameOut);

    // Numbers of subkeys and values; either output may be null. Both counts
    // read 0 after a failure.
    LONG QueryInfo(DWORD* subKeyCountOut, DWORD* valueCountOut);

    // Writes the name of a registry type ("REG_SZ", ..., "UNKNOWN") into
    // `out`, cut to `outChars` characters with its terminator, and returns `out`.
    static const wchar_t* TypeName(DWORD type, wchar_t* out, size_t outChars);

    // True when `machine` is this computer's name, ignoring case.
    static bool IsLocalMachine(const std::wstring& machine);

    // True when this process runs under WOW64.
    static bool IsWow64();

    // The handle through which Open reaches root\subKey: `root` itself, or
    // under WOW64 a connection to "\\." for HKEY_LOCAL_MACHINE\SOFTWARE...,
    // which the caller closes. A failed connection is told to the user as a
    // warning (common/notice.h) and its error returned (rootOut is then `root`).
    static LONG RedirectRoot(HKEY root, const std::wstring& subKey, HKEY& rootOut);

    static constexpr DWORD QUERY_STRING_BYTES = 8192;
    static constexpr DWORD ENUM_NAME_CHARS = 512;

private:
    CKeyHandle m_key;
};
