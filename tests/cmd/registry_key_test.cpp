// CRegistryKey's string read against a real scratch key under HKEY_CURRENT_USER
// (the WOW64 rule has a test of its own).
#include "common/cmd/registry_key.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace qmtest;

TEST(RegistryKey, QueryStringReadsAnyTypeAsTextAndEmptiesTheOutputOnFailure)
{
    // HKCU\Software\qmtest-<pid>: each test runs in a process of its own.
    struct Scratch {
        std::wstring path = L"Software\\qmtest-" + std::to_wstring(GetCurrentProcessId());
        HKEY key = nullptr;
        Scratch() { RegCreateKeyW(HKEY_CURRENT_USER, path.c_str(), &key); }
        ~Scratch() { RegCloseKey(key); RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str()); }
        void Set(const wchar_t* name, DWORD type, const void* data, DWORD bytes)
        {
            RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
        }
    } scratch;
    const DWORD dword = 0x00420041; // "AB" in UTF-16LE
    scratch.Set(L"Number", REG_DWORD, &dword, 4);
    // A full buffer with no terminator of its own still gets one inside it.
    const std::wstring full(CRegistryKey::QUERY_STRING_BYTES / 2 + 1, L'x');
    scratch.Set(L"Full", REG_BINARY, full.c_str(), CRegistryKey::QUERY_STRING_BYTES);
    scratch.Set(L"Over", REG_SZ, full.c_str(), CRegistryKey::QUERY_STRING_BYTES + 2);

    CRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, scratch.path));
    std::wstring out = L"stale";
    EXPECT_EQ(ERROR_SUCCESS, key.QueryString(L"Number", out));
    EXPECT_EQ(L"AB", out);
    EXPECT_EQ(ERROR_SUCCESS, key.QueryString(L"Full", out));
    EXPECT_EQ(full.substr(1), out);
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryString(L"Over", out));
    EXPECT_EQ(L"", out);
}
