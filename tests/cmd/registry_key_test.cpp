// CRegistryKey against real keys: scratch keys of the test's own under
// HKEY_CURRENT_USER, and HKEY_LOCAL_MACHINE read-only. In the 32-bit prefix
// keys open directly (the WOW64 rule has tests of its own).
#include "common/cmd/registry_key.h"
#include "common/trace/trace.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <map>

using namespace qmtest;

namespace {

// HKCU\Software\qmtest-<pid>-<n>, deleted with its subtree at the end.
struct ScratchKey {
    std::wstring path;
    HKEY key = nullptr;
    ScratchKey()
    {
        static int counter;
        path = L"Software\\qmtest-" + std::to_wstring(GetCurrentProcessId()) + L"-"
               + std::to_wstring(counter++);
        RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    }
    ~ScratchKey()
    {
        RegCloseKey(key);
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }
    void set(const std::wstring& name, DWORD type, const void* data, size_t bytes)
    {
        RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), DWORD(bytes));
    }
    void set(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ)
    {
        set(name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }
};

} // namespace

TEST(RegistryKeyQueryString, ReadsTheDataOfAnyTypeAsText)
{
    ScratchKey scratch;
    scratch.set(L"Text", L"C:\\Program Files\\Quarn");
    scratch.set(L"Expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
    const DWORD dword = 0x00420041; // "AB" in UTF-16LE
    scratch.set(L"Number", REG_DWORD, &dword, 4);
    scratch.set(L"Odd", REG_BINARY, "A\0B\0C", 5);
    scratch.set(L"Multi", REG_MULTI_SZ, L"one\0two\0", 18);

    CRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, scratch.path));
    const std::map<std::wstring, std::wstring> expected = {
        {L"Text", L"C:\\Program Files\\Quarn"}, {L"Expand", L"%SystemRoot%\\x"},
        {L"Number", L"AB"}, {L"Odd", L"AB"}, {L"Multi", L"one"}};
    for (const auto& [name, text] : expected) {
        std::wstring out = L"stale";
        EXPECT_EQ(ERROR_SUCCESS, key.QueryString(name, out)) << narrow(name);
        EXPECT_EQ(text, out) << narrow(name);
    }
}

TEST(RegistryKeyQueryString, ReadsUpToItsBufferAndEmptiesTheOutputOnFailure)
{
    ScratchKey scratch;
    const DWORD limit = CRegistryKey::QUERY_STRING_BYTES;
    // A full buffer without a terminator of its own (REG_BINARY: the registry
    // would add one to a string value) still gets one inside the buffer.
    const std::wstring full(limit / 2, L'x');
    scratch.set(L"Full", REG_BINARY, full.c_str(), limit);
    scratch.set(L"Over", std::wstring(limit / 2, L'z'));

    CRegistryKey key;
    std::wstring out = L"stale";
    EXPECT_EQ(ERROR_INVALID_HANDLE, key.QueryString(L"Full", out)) << "no key open";
    EXPECT_EQ(L"", out);
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, scratch.path));
    EXPECT_EQ(ERROR_SUCCESS, key.QueryString(L"Full", out));
    EXPECT_EQ(full, out);
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryString(L"Over", out));
    EXPECT_EQ(L"", out);
    out = L"stale";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryString(L"Missing", out));
    EXPECT_EQ(L"", out);
}

TEST(RegistryKeyQueryString, TracesWideTextWhenTheCategoryIsOn)
{
    TempDir dir;
    traceInit();
    ASSERT_EQ(0, traceOpen(1, (dir / L"trace.txt").c_str(), 0));
    traceSetCategory(TRACE_CAT_REGISTRY, 1);
    ScratchKey scratch;
    scratch.set(L"Path", L"C:\\Quarn");
    CRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, scratch.path));
    std::wstring out;
    key.QueryString(L"Path", out);
    key.QueryString(L"Missing", out);
    traceSetCategory(TRACE_CAT_REGISTRY, 0);
    traceOpen(0, nullptr, 0);

    const std::string text = narrow(fromUtf16le(readBytes(dir / L"trace.txt")));
    for (const char* line : {"# looking for key: Path\r\n",
                             "# szKey: Path,dwType: REG_SZ,szBuf: C:\\Quarn,dwSize: 18\r\n",
                             "# looking for key: Missing\r\n", "# Error. Return code: 2\r\n"})
        EXPECT_NE(std::string::npos, text.find(line)) << line;
}

TEST(RegistryKeyEnumeration, ListsNamesTypesAndCounts)
{
    ScratchKey scratch;
    scratch.set(L"alpha", L"a");
    scratch.set(L"beta", REG_DWORD, "\7\0\0\0", 4);
    scratch.set(std::wstring(CRegistryKey::ENUM_NAME_CHARS + 8, L'n'), L"name too long");
    for (const wchar_t* sub : {L"one", L"two"}) {
        HKEY child = nullptr;
        RegCreateKeyW(scratch.key, sub, &child);
        RegCloseKey(child);
    }

    CRegistryKey key;
    DWORD subKeys = 9, values = 9;
    EXPECT_NE(ERROR_SUCCESS, key.QueryInfo(&subKeys, &values)) << "no key open";
    EXPECT_EQ(0u, subKeys + values);
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, scratch.path));
    EXPECT_EQ(ERROR_SUCCESS, key.QueryInfo(&subKeys, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, key.QueryInfo(nullptr, &values));
    EXPECT_EQ(2u, subKeys);
    ASSERT_EQ(3u, values);

    // The registry fixes no order: collect every result.
    std::map<std::wstring, DWORD> found;
    int tooLong = 0;
    for (DWORD i = 0; i < values; ++i) {
        std::wstring name = L"stale";
        DWORD type = 99;
        LONG rc = key.EnumValue(i, name, type);
        if (rc == ERROR_MORE_DATA && name.empty() && type == 99)
            ++tooLong;
        else if (rc == ERROR_SUCCESS)
            found[name] = type;
    }
    EXPECT_EQ(1, tooLong);
    EXPECT_EQ((std::map<std::wstring, DWORD>{{L"alpha", REG_SZ}, {L"beta", REG_DWORD}}), found);
    std::wstring name = L"stale";
    DWORD type = 0;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, key.EnumValue(values, name, type));
    EXPECT_EQ(L"", name);
}

TEST(RegistryKeyOpen, ReopenReplacesTheKeyAndAFailedOpenLeavesItEmpty)
{
    ScratchKey first, second;
    second.set(L"Which", L"second");
    CRegistryKey key;
    EXPECT_EQ(ERROR_SUCCESS, key.Close());
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, first.path));
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, second.path));
    std::wstring out;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryString(L"Which", out));
    EXPECT_EQ(L"second", out);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(HKEY_CURRENT_USER, first.path + L"\\missing"));
    EXPECT_FALSE(key.IsOpen());
}

TEST(RegistryKeyOpen, ThisComputerByNameIsALocalOpenAndOthersAreRemote)
{
    wchar_t name[256];
    DWORD length = 256;
    ASSERT_TRUE(GetComputerNameW(name, &length));
    std::wstring lower(name);
    CharLowerW(&lower[0]);
    EXPECT_TRUE(CRegistryKey::IsLocalMachine(lower));
    EXPECT_FALSE(CRegistryKey::IsLocalMachine(lower + L"x"));
    EXPECT_FALSE(CRegistryKey::IsWow64());

    ScratchKey scratch;
    scratch.set(L"Path", L"here");
    CRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.OpenOnMachine(lower, HKEY_CURRENT_USER, scratch.path));
    std::wstring out;
    key.QueryString(L"Path", out);
    EXPECT_EQ(L"here", out);
    EXPECT_EQ(ERROR_SUCCESS, key.OpenOnMachine(name, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft"));
    // Wine reaches no other computer; the failure is returned, with no box
    // (a box would hold this thread until the test timed out).
    EXPECT_NE(ERROR_SUCCESS, key.OpenOnMachine(L"qm-other-host", HKEY_LOCAL_MACHINE, L"SOFTWARE"));
    EXPECT_FALSE(key.IsOpen());
}

TEST(RegistryKeyTypeName, NamesEveryTypeAndCutsToTheBuffer)
{
    const wchar_t* const names[] = {L"REG_NONE", L"REG_SZ", L"REG_EXPAND_SZ", L"REG_BINARY",
                                    L"REG_DWORD", L"REG_DWORD_BIG_ENDIAN", L"REG_LINK",
                                    L"REG_MULTI_SZ", L"REG_RESOURCE_LIST", L"UNKNOWN", L"UNKNOWN",
                                    L"UNKNOWN"}; // 9, 10 and 11 (REG_QWORD)
    wchar_t out[REG_TYPE_NAME_CHARS];
    for (DWORD type = 0; type < 12; ++type)
        EXPECT_STREQ(names[type], CRegistryKey::TypeName(type, out, REG_TYPE_NAME_CHARS));
    EXPECT_STREQ(L"UNKNOWN", CRegistryKey::TypeName(0xFFFFFFFF, out, REG_TYPE_NAME_CHARS));

    wchar_t small[8] = L"#######";
    EXPECT_STREQ(L"REG_", CRegistryKey::TypeName(REG_DWORD_BIG_ENDIAN, small, 5));
    EXPECT_EQ(L'#', small[5]) << "nothing written past the given size";
}
