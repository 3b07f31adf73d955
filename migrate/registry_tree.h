// A registry key with everything below it, as the registry holds it or as a
// registration file (.reg) writes it, and the comparisons that prove an
// export or an import: every value by name, type and data, every subkey.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RegistryValue {
    std::wstring name; // empty: the key's default value ("@" in a file)
    DWORD type = REG_NONE;
    std::string data; // as stored
};

struct RegistryKeyContent {
    std::wstring path; // "HKEY_LOCAL_MACHINE\SOFTWARE\...", as a file's section names it
    std::vector<RegistryValue> values;
};

// A key and, after it, each key below it.
using RegistryTree = std::vector<RegistryKeyContent>;

// Reads HKEY_LOCAL_MACHINE\subKey and every key below it through the
// registry class (so under WOW64 as the registry editor sees it). On failure
// returns the error and names in `failedKey` the key that could not be read.
LONG readRegistryTree(const std::wstring& subKey, RegistryTree& tree, std::wstring& failedKey);

// The sections and values of a registration file's text (header line, then
// [key] sections of "name"= or @= lines: strings, dword:, hex: and hex(n):
// data, continued over lines ending in a backslash). Sections that delete a
// key and values that delete themselves are not part of an export and are
// left out. False with `reason` naming the first line that cannot be read.
bool parseRegistrationText(const std::wstring& text, RegistryTree& tree, std::wstring& reason);

// What `actual` lacks of `expected`: a key missing, a value missing, of
// another type, or with other data (a string compares up to its first null,
// as a registration file writes it).
struct TreeShortfall {
    size_t checked = 0; // keys and values of `expected`
    size_t missing = 0; // of them, those not in `actual` as expected holds them
    std::wstring first; // the first of those, said for a reason
};
TreeShortfall shortfallOf(const RegistryTree& expected, const RegistryTree& actual);

// What `after` holds that `before` did not: the keys at the top of each new
// branch, and the values added to keys that were there.
struct TreeAdditions {
    std::vector<std::wstring> keys;
    std::vector<std::pair<std::wstring, std::wstring>> values; // key path, value name
};
TreeAdditions additionsIn(const RegistryTree& before, const RegistryTree& after);

// `path` with its leading "HKEY_LOCAL_MACHINE\" in reg.exe's short form.
std::wstring regExeKeyName(const std::wstring& path);
