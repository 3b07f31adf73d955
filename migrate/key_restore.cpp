#include "migrate/key_restore.h"

#include "common/cmd/registry_key.h"
#include "common/cmd/system_error.h"
#include "common/text.h"

#include <unordered_map>

namespace {

const wchar_t MACHINE_ROOT_NAME[] = L"HKEY_LOCAL_MACHINE\\";
constexpr REGSAM WRITE_ACCESS = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | DELETE;

// The key below HKEY_LOCAL_MACHINE that a tree's path names.
std::wstring machineSubKey(const std::wstring& path)
{
    return startsWithIgnoringCase(path, MACHINE_ROOT_NAME) ? path.substr(wcslen(MACHINE_ROOT_NAME)) : path;
}

// Opens (or makes) HKEY_LOCAL_MACHINE\subKey for writing, reached as the
// tree was read (the WOW64 rule of CRegistryKey).
LONG openForWriting(const std::wstring& subKey, bool create, CKeyHandle& key)
{
    HKEY base = HKEY_LOCAL_MACHINE;
    LONG rc = CRegistryKey::RedirectRoot(HKEY_LOCAL_MACHINE, subKey, base);
    if (rc != ERROR_SUCCESS)
        return rc;
    CKeyHandle connection(base != HKEY_LOCAL_MACHINE ? base : nullptr);
    HKEY opened = nullptr;
    rc = create ? RegCreateKeyExW(base, subKey.c_str(), 0, nullptr, 0, WRITE_ACCESS, nullptr, &opened, nullptr)
                : RegOpenKeyExW(base, subKey.c_str(), 0, WRITE_ACCESS, &opened);
    if (rc == ERROR_SUCCESS)
        key.Attach(opened);
    return rc;
}

std::wstring valueText(const std::wstring& name, const std::wstring& key)
{
    return name.empty() ? L"the default value of " + key : L"the value \"" + name + L"\" under " + key;
}

} // namespace

bool restoreKeyByDifference(const std::wstring& subKey, const RegistryTree& wanted, std::vector<std::wstring>& problems)
{
    problems.clear();
    RegistryTree now;
    std::wstring failedKey;
    LONG rc = readRegistryTree(subKey, now, failedKey);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        problems.push_back(L"the key " + failedKey + L" cannot be read (" + systemErrorText(rc) + L")");
        return false;
    }

    // What was added since goes first: whole branches, then values.
    const TreeAdditions added = additionsIn(wanted, now);
    for (const std::wstring& path : added.keys) {
        const std::wstring below = machineSubKey(path);
        const size_t slash = below.find_last_of(L'\\');
        CKeyHandle parent;
        rc = openForWriting(below.substr(0, slash), false, parent);
        if (rc == ERROR_SUCCESS)
            rc = RegDeleteTreeW(parent.Get(), below.substr(slash + 1).c_str());
        if (rc != ERROR_SUCCESS)
            problems.push_back(L"the key " + path + L", which the migration added, could not be removed ("
                               + systemErrorText(rc) + L")");
    }
    for (const auto& value : added.values) {
        CKeyHandle key;
        rc = openForWriting(machineSubKey(value.first), false, key);
        if (rc == ERROR_SUCCESS)
            rc = RegDeleteValueW(key.Get(), value.second.empty() ? nullptr : value.second.c_str());
        if (rc != ERROR_SUCCESS)
            problems.push_back(valueText(value.second, value.first) + L", which the migration added, could not be "
                               L"removed (" + systemErrorText(rc) + L")");
    }

    // Then every key and value as it was, written only where it differs.
    std::unordered_map<std::wstring, const RegistryKeyContent*> present;
    for (const RegistryKeyContent& key : now)
        present[foldedCase(key.path)] = &key;
    for (const RegistryKeyContent& key : wanted) {
        const auto found = present.find(foldedCase(key.path));
        std::unordered_map<std::wstring, const RegistryValue*> values;
        if (found != present.end())
            for (const RegistryValue& value : found->second->values)
                values[foldedCase(value.name)] = &value;
        CKeyHandle handle;
        for (const RegistryValue& value : key.values) {
            const auto held = values.find(foldedCase(value.name));
            if (held != values.end() && held->second->type == value.type && held->second->data == value.data)
                continue;
            if (!handle.IsValid() && (rc = openForWriting(machineSubKey(key.path), true, handle)) != ERROR_SUCCESS)
                break;
            rc = RegSetValueExW(handle.Get(), value.name.empty() ? nullptr : value.name.c_str(), 0, value.type,
                                reinterpret_cast<const BYTE*>(value.data.data()), DWORD(value.data.size()));
            if (rc != ERROR_SUCCESS)
                problems.push_back(valueText(value.name, key.path) + L" could not be put back ("
                                   + systemErrorText(rc) + L")");
        }
        if (found == present.end() && !handle.IsValid() && rc == ERROR_SUCCESS)
            rc = openForWriting(machineSubKey(key.path), true, handle);
        if (rc != ERROR_SUCCESS && !handle.IsValid())
            problems.push_back(L"the key " + key.path + L" could not be opened to put it back (" + systemErrorText(rc)
                               + L")");
        rc = ERROR_SUCCESS;
    }

    // The proof: the key as it is now, read again, is the one kept.
    rc = readRegistryTree(subKey, now, failedKey);
    if (rc != ERROR_SUCCESS) {
        problems.push_back(L"the key " + failedKey + L" cannot be read to check it (" + systemErrorText(rc) + L")");
        return false;
    }
    const TreeShortfall shortfall = shortfallOf(wanted, now);
    if (shortfall.missing)
        problems.push_back(std::to_wstring(shortfall.missing) + L" of the " + std::to_wstring(shortfall.checked)
                           + L" kept values and keys are not back as they were, the first: " + shortfall.first);
    const TreeAdditions left = additionsIn(wanted, now);
    if (!left.keys.empty())
        problems.push_back(L"the key " + left.keys.front() + L" is still there, which the kept key did not hold");
    if (!left.values.empty())
        problems.push_back(valueText(left.values.front().second, left.values.front().first)
                           + L" is still there, which the kept key did not hold");
    return problems.empty();
}
