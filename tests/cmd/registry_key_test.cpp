// CRegistryKey against real scratch keys under HKEY_CURRENT_USER. In the
// 32-bit prefix keys open directly (the WOW64 rule has tests of its own).
#include "common/cmd/registry_key.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <map>

using namespace qmtest;

namespace {

// HKCU\Software\qmtest-<pid> (one per test; each test runs in a process of its own).
struct ScratchKey {
    std::wstring path = L"Software\\qmtest-" + std::to_wstring(GetCurrentProcessId());
    HKEY key = nullptr;
    ScratchKey() { RegCreateKeyW(HKEY_CURRENT_USER, path.c_str(), &key); }
    ~ScratchKey() { RegCloseKey(key); RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str()); }
    void set(const wchar_t* name, DWORD type, const void* data, size_t bytes)
    {
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), DWORD(bytes));
    }
    void set(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ)
    {
        set(name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }
};

} // namespace

TEST(RegistryKey, QueryStringReadsAnyTypeAsTextAndEmptiesTheOutputOnFailure)
{
    ScratchKey scratch;
    scratch.set(L"Text", L"C:\\Program Files\\Quarn");
    scratch.set(L"Expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
    const DWORD dword = 0x00420041; // "AB" in UTF-16LE
    scratch.set(L"Number", REG_DWORD, &dword, 4);
    // A full buffer with no terminator of its own still gets one inside it.
    const std::wstring full(CRegistryKey::QUERY_STRING_BYTES / 2, L'x');
    scratch.set(L"Full", REG_BINARY, full.c_str(), CRegistryKey::QUERY_STRING_BYTES);
    scratch.set(L"Over", std::wstring(CRegistryKey::QUERY_STRING_BYTES / 2, L'z'));
    CRegistryKey key;
    std::wstring out;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, scratch.path));
    const std::map<std::wstring, std::wstring> expected = {
        {L"Text", L"C:\\Program Files\\Quarn"}, {L"Expand", L"%SystemRoot%\\x"}, {L"Number", L"AB"}, {L"Full", full}};
    for (const auto& [name, text] : expected) {
        out = L"stale";
        EXPECT_EQ(ERROR_SUCCESS, key.QueryString(name, out)) << narrow(name);
        EXPECT_EQ(text, out) << narrow(name);
    }
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryString(L"Over", out));
    EXPECT_EQ(L"", out);
    out = L"stale";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryString(L"Missing", out));
    EXPECT_EQ(L"", out);
}

TEST(RegistryKey, EnumValueAndQueryInfoListNamesTypesAndCounts)
{
    ScratchKey scratch;
    scratch.set(L"alpha", L"a");
    scratch.set(L"beta", REG_DWORD, "\7\0\0\0", 4);
    HKEY child = nullptr;
    RegCreateKeyW(scratch.key, L"one", &child);
    RegCloseKey(child);
    CRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, scratch.path));
    DWORD subKeys = 9, values = 9;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryInfo(&subKeys, &values));
    EXPECT_EQ(1u, subKeys);
    ASSERT_EQ(2u, values);
    std::map<std::wstring, DWORD> found; // the registry fixes no order
    std::wstring name;
    DWORD type = 0;
    for (DWORD i = 0; i < values; ++i)
        if (key.EnumValue(i, name, type) == ERROR_SUCCESS)
            found[name] = type;
    EXPECT_EQ((std::map<std::wstring, DWORD>{{L"alpha", REG_SZ}, {L"beta", REG_DWORD}}), found);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, key.EnumValue(values, name, type));
    EXPECT_EQ(L"", name);
}

TEST(RegistryKey, OpenOnMachineIsLocalForThisComputerAndFailsQuietlyForAnother)
{
    wchar_t name[256];
    DWORD length = 256;
    ASSERT_TRUE(GetComputerNameW(name, &length));
    std::wstring lower(name);
    CharLowerW(&lower[0]);
    CRegistryKey key;
    EXPECT_EQ(ERROR_SUCCESS, key.OpenOnMachine(lower, HKEY_CURRENT_USER, L"Software"));
    EXPECT_TRUE(key.IsOpen());
    // Wine reaches no other computer; the failure comes back with no box
    // (a box would hold this thread until the test timed out).
    EXPECT_NE(ERROR_SUCCESS, key.OpenOnMachine(lower + L"x", HKEY_LOCAL_MACHINE, L"SOFTWARE"));
    EXPECT_FALSE(key.IsOpen());
}
