// CRegistryKey's string read against a real scratch key under HKEY_CURRENT_USER
// (the WOW64 rule has a test of its own).
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
