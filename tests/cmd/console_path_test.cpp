// GetConsoleInstallPath against the console's real key in the test prefix
// (under the "registry" lock: other tests use the same key).
#include "common/cmd/console_path.h"
#include "tests/cmd/cmd_test_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace qmtest;

namespace {

std::wstring lookup(const std::wstring& fileName, bool expected = true)
{
    std::wstring out = L"stale";
    EXPECT_EQ(expected, GetConsoleInstallPath(fileName, out)) << narrow(fileName);
    return out;
}

} // namespace

TEST(ConsolePath, ShortDirectoryOrTheCurrentOneAndFailureWithoutAKeyOrPath)
{
    CleanNorvaleKeys keys;
    TempDir temp;
    EXPECT_EQ(L"", lookup(L"exec_dll.dll", false));
    createRegKey(GA_KEY);
    EXPECT_EQ(L".\\", lookup(L"exec_dll.dll", false)); // an empty path has no short form
    setRegString(GA_KEY, CONSOLE_PATH_VALUE, temp / L"no such dir\\Console");
    EXPECT_EQ(L".\\exec_dll.dll", lookup(L"exec_dll.dll"));
    EXPECT_EQ(L".\\", lookup(L""));

    const std::wstring dir = temp / L"Quarn Management Console";
    makeDirs(dir);
    for (const std::wstring& recorded : {dir, dir + L"\\"}) {
        setRegString(GA_KEY, CONSOLE_PATH_VALUE, recorded);
        const std::wstring full = lookup(L"exec_dll.dll  "); // trailing blanks of the name go
        const size_t cut = full.rfind(L'\\');
        ASSERT_NE(std::wstring::npos, cut);
        EXPECT_EQ(L"exec_dll.dll", full.substr(cut + 1));
        EXPECT_NE(L'\\', full[cut - 1]) << narrow(full);
        EXPECT_EQ(std::wstring::npos, full.find(L' ')) << narrow(full);
        EXPECT_EQ(longForm(dir), longForm(full.substr(0, cut)));
        // A blank name asks for the directory as recorded.
        const std::wstring directory = lookup(L"   ");
        EXPECT_EQ(full.substr(0, cut), directory.substr(0, cut));
        EXPECT_EQ(recorded.back() == L'\\', directory.back() == L'\\') << narrow(directory);
    }
}
