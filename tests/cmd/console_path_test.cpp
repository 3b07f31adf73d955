// GetConsoleInstallPath against the console's real key in the test prefix
// (under the "registry" lock: other tests use the same key).
#include "common/cmd/console_path.h"
#include "tests/cmd/cmd_test_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <vector>

using namespace qmtest;

namespace {

std::wstring lookup(const std::wstring& fileName, bool expected = true)
{
    std::wstring out = L"stale";
    EXPECT_EQ(expected, GetConsoleInstallPath(fileName, out)) << narrow(fileName);
    return out;
}

} // namespace

TEST(ConsolePath, ShortDirectoryAndNothingRelativeOrMissing)
{
    CleanNorvaleKeys keys;
    TempDir temp;
    EXPECT_EQ(L"", lookup(L"exec_dll.dll", false));
    createRegKey(GA_KEY);
    EXPECT_EQ(L"", lookup(L"exec_dll.dll", false));
    // Never the current directory, a drive's root or a directory that is not there.
    writeBytes(temp / L"a file", "x");
    for (const std::wstring& path : std::vector<std::wstring>{ L"", L".", L"\\Console", L"Console", temp / L"no such dir\\Console",
                                                               temp / L"a file" }) {
        setRegString(GA_KEY, INSTALL_PATH_VALUE, path);
        EXPECT_EQ(L"", lookup(L"exec_dll.dll", false)) << narrow(path);
        std::wstring named;
        EXPECT_EQ(ConsolePathLookup::NotADirectory, FindConsoleInstallPath(L"msgengu.dll", named));
        EXPECT_EQ(path.empty() ? L"msgengu.dll" : path + L"\\msgengu.dll", named);
    }

    // A full path starts with a drive and either slash, or with a server's share.
    const std::pair<const wchar_t*, bool> paths[] = { { L"c:\\a", true }, { L"c:/a", true }, { L"\\\\server\\share", true },
                                                      { L"c:a", false }, { L"\\\\\\a", false }, { L"\\a", false } };
    for (const auto& [path, full] : paths)
        EXPECT_EQ(full, isFullPath(path)) << narrow(path);

    // The directory in its short form, one backslash before the name, whose
    // trailing blanks go; a blank name asks for the directory as recorded.
    const std::wstring dir = temp / L"Quarn Management Console";
    makeDirs(dir);
    for (const std::wstring slash : {L"", L"\\"}) {
        setRegString(GA_KEY, INSTALL_PATH_VALUE, dir + slash);
        EXPECT_EQ(shortForm(dir) + L"\\exec_dll.dll", lookup(L"exec_dll.dll  "));
        EXPECT_EQ(shortForm(dir) + slash, lookup(L"   "));
    }
}
