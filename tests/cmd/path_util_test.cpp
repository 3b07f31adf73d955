// Path splitting and shortening, against real directories in the test prefix.
#include "common/cmd/path_util.h"
#include "tests/cmd/cmd_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace qmtest;

namespace {

// MAX_PATH characters followed by a guard zone that must stay untouched.
struct Guarded {
    wchar_t data[MAX_PATH + 32];
    Guarded() { wmemset(data, L'#', MAX_PATH + 32); }
    bool Intact() const { return std::wstring(data + MAX_PATH, 32) == std::wstring(32, L'#'); }
};

std::wstring split(const std::wstring& path)
{
    Guarded drive, dir, name, ext;
    splitanypath(path.c_str(), drive.data, dir.data, name.data, ext.data);
    EXPECT_TRUE(drive.Intact() && dir.Intact() && name.Intact() && ext.Intact()) << path.size();
    return std::wstring(drive.data) + L"|" + dir.data + L"|" + name.data + L"|" + ext.data;
}

} // namespace

TEST(PathSplit, DrivePathsUncPathsAndPathsTooLongForTheBuffers)
{
    const std::wstring longName(MAX_PATH - 8, L'd'); // "c:\" + name + ".txt" is MAX_PATH - 1
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"   c:\\program files\\dir.d\\a.tar.gz", L"c:|\\program files\\dir.d\\|a.tar|.gz"},
        {L"//server/share/x", L"|//server/share/|x|"},
        {L"  \\\\server\\share\\dir\\file.txt", L"\\\\server\\share|\\dir\\|file|.txt"},
        {L"\\\\server\\share", L"\\\\server\\share|||"},
        {L"c:\\" + longName + L".txt", L"c:|\\|" + longName + L"|.txt"},
        {L"c:\\" + longName + L".txtx", L"|||"},
    };
    for (const auto& [path, parts] : cases)
        EXPECT_EQ(parts, split(path)) << narrow(path);
}

TEST(ShortPath, MissingFileInAnExistingDirectoryNoDirectoryOrTooLong)
{
    TempDir temp;
    const std::wstring dir = temp / L"Quarn Console Directory";
    makeDirs(dir);
    writeBytes(dir + L"\\message library.dll", "x");
    Guarded out;
    // A missing file in an existing directory: the short directory and the name as given.
    EXPECT_EQ(SHORTPATH_OK, w32GetShortPath((dir + L"\\Not Yet.txt").c_str(), out.data, MAX_PATH));
    EXPECT_EQ(shortForm(dir) + L"\\Not Yet.txt", out.data);
    EXPECT_EQ(SHORTPATH_NONE, w32GetShortPath((temp / L"no dir\\file.txt").c_str(), out.data, MAX_PATH));
    EXPECT_STREQ(L"", out.data);
    // Too long, both for a missing file and for an existing one.
    const std::wstring missing = temp / L"missing-file.txt";
    EXPECT_EQ(SHORTPATH_TOO_LONG, w32GetShortPath(missing.c_str(), out.data, DWORD(missing.size())));
    EXPECT_STREQ(L"", out.data);
    wmemset(out.data, L'#', MAX_PATH);
    EXPECT_EQ(SHORTPATH_TOO_LONG, w32GetShortPath((dir + L"\\message library.dll").c_str(), out.data, 8));
    EXPECT_STREQ(L"", out.data);
}
