// GetConsoleInstallPath against the console's real key in the test prefix
// (under the "registry" lock: other tests use the same key).
#include "common/cmd/console_path.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

using namespace qmtest;

namespace {

const std::wstring kKey(CONSOLE_KEY, wcslen(CONSOLE_KEY) - 1); // without the trailing backslash

class ConsolePath : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey.c_str()); }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey.c_str()); }

    // Creates the key, with "Path" when one is given.
    static void record(const std::wstring* path)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, kKey.c_str(), &key));
        if (path)
            RegSetValueExW(key, CONSOLE_PATH_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(path->c_str()),
                           DWORD((path->size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    static void record(const std::wstring& path) { record(&path); }

    static std::wstring lookup(const std::wstring& fileName, bool expected = true)
    {
        std::wstring out = L"stale";
        EXPECT_EQ(expected, GetConsoleInstallPath(fileName, out)) << narrow(fileName);
        return out;
    }

    // The long form of what `path` names, without a trailing backslash.
    static std::wstring longForm(const std::wstring& path)
    {
        wchar_t buffer[1024];
        DWORD length = GetLongPathNameW(path.c_str(), buffer, 1024);
        std::wstring result = length && length < 1024 ? buffer : L"<missing " + path + L">";
        if (result.back() == L'\\')
            result.pop_back();
        return result;
    }

    TempDir m_temp;
};

} // namespace

TEST_F(ConsolePath, MissingKeyOrValueIsAFailure)
{
    EXPECT_EQ(L"", lookup(L"exec_dll.dll", false));
    record(nullptr);
    EXPECT_EQ(L".\\", lookup(L"exec_dll.dll", false)); // an empty path has no short form
}

TEST_F(ConsolePath, ShortDirectoryAndExactlyOneBackslashBeforeTheName)
{
    const std::wstring dir = m_temp / L"Quarn Management Console";
    makeDirs(dir);
    for (const std::wstring& recorded : {dir, dir + L"\\"}) {
        record(recorded);
        const std::wstring full = lookup(L"exec_dll.dll");
        const size_t cut = full.rfind(L'\\');
        ASSERT_NE(std::wstring::npos, cut);
        EXPECT_EQ(L"exec_dll.dll", full.substr(cut + 1));
        EXPECT_NE(L'\\', full[cut - 1]) << narrow(full);
        EXPECT_EQ(std::wstring::npos, full.find(L' ')) << narrow(full);
        EXPECT_EQ(longForm(dir), longForm(full.substr(0, cut)));

        // Trailing blanks of the name go; a blank name asks for the directory as recorded.
        EXPECT_EQ(full, lookup(L"exec_dll.dll  "));
        const std::wstring directory = lookup(L"   ");
        EXPECT_EQ(full.substr(0, cut), directory.substr(0, cut));
        EXPECT_EQ(recorded.back() == L'\\', directory.back() == L'\\') << narrow(directory);
    }
}

TEST_F(ConsolePath, DirectoryThatCannotBeShortenedBecomesTheCurrentOne)
{
    record(m_temp / L"no such dir\\Console");
    EXPECT_EQ(L".\\exec_dll.dll", lookup(L"exec_dll.dll"));
    EXPECT_EQ(L".\\", lookup(L""));
    record(L"C:\\" + std::wstring(300, L'c') + L"\\Console");
    EXPECT_EQ(L".\\msg\\enu.dll", lookup(L"msg\\enu.dll"));

    // Only the last directory missing: the short parent keeps it by name.
    makeDirs(m_temp / L"Quarn Server");
    record(m_temp / L"Quarn Server\\Not Installed");
    const std::wstring full = lookup(L"exec_dll.dll");
    const std::wstring tail = L"\\Not Installed\\exec_dll.dll";
    ASSERT_GT(full.size(), tail.size());
    EXPECT_EQ(tail, full.substr(full.size() - tail.size()));
    EXPECT_EQ(longForm(m_temp / L"Quarn Server"), longForm(full.substr(0, full.size() - tail.size())));
}
