// Path splitting and shortening, against real directories in the test prefix.
#include "common/cmd/path_util.h"
#include "common/trace/trace.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace qmtest;

namespace {

// MAX_PATH characters followed by a guard zone that must stay untouched.
struct Guarded {
    wchar_t data[MAX_PATH + 32];
    Guarded() { wmemset(data, L'#', MAX_PATH + 32); }
    bool intact() const { return std::wstring(data + MAX_PATH, 32) == std::wstring(32, L'#'); }
};

std::wstring split(const std::wstring& path)
{
    Guarded drive, dir, name, ext;
    splitanypath(path.c_str(), drive.data, dir.data, name.data, ext.data);
    EXPECT_TRUE(drive.intact() && dir.intact() && name.intact() && ext.intact()) << path.size();
    return std::wstring(drive.data) + L"|" + dir.data + L"|" + name.data + L"|" + ext.data;
}

// What a short path names, in long form without a trailing backslash.
std::wstring longForm(const std::wstring& path)
{
    wchar_t buffer[1024];
    DWORD length = GetLongPathNameW(path.c_str(), buffer, 1024);
    std::wstring result = length && length < 1024 ? buffer : L"<missing " + path + L">";
    if (result.back() == L'\\')
        result.pop_back();
    return result;
}

std::string utilTrace(const TempDir& dir, const std::wstring& longPath, std::wstring& out, int& rc)
{
    const std::wstring file = dir / L"trace.txt";
    traceInit();
    traceOpen(1, file.c_str(), 0);
    traceSetCategory(TRACE_CAT_UTIL, 1);
    wchar_t buffer[MAX_PATH];
    rc = w32GetShortPath(longPath.c_str(), buffer, MAX_PATH);
    out = buffer;
    traceSetCategory(TRACE_CAT_UTIL, 0);
    traceOpen(0, nullptr, 0);
    std::string text = narrow(fromUtf16le(readBytes(file)));
    return text.substr(text.rfind("=\r\n\r\n") + 5); // after the banner
}

} // namespace

TEST(PathSplit, DrivePathsFollowThePlatformAndUncPathsKeepServerAndShare)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"c:\\program files\\dir\\file.txt", L"c:|\\program files\\dir\\|file|.txt"},
        {L"   c:\\dir\\README", L"c:|\\dir\\|README|"},
        {L"c:\\dir.d\\a.tar.gz", L"c:|\\dir.d\\|a.tar|.gz"},
        {L"name.txt", L"||name|.txt"},
        {L"//server/share/x", L"|//server/share/|x|"},
        {L"\\\\server\\share\\dir\\file.txt", L"\\\\server\\share|\\dir\\|file|.txt"},
        {L"  \\\\server\\share\\file", L"\\\\server\\share|\\|file|"},
        {L"\\\\server\\share\\", L"\\\\server\\share|\\||"},
        {L"\\\\server\\share", L"\\\\server\\share|||"},
        {L"\\\\server", L"\\\\server|||"},
        {L"", L"|||"},
    };
    for (const auto& [path, parts] : cases)
        EXPECT_EQ(parts, split(path)) << narrow(path);
}

TEST(PathSplit, PathsTooLongForTheBuffersAreRefused)
{
    const std::wstring longest = L"c:\\" + std::wstring(MAX_PATH - 8, L'd') + L".txt";
    ASSERT_EQ(size_t(MAX_PATH - 1), longest.size());
    EXPECT_EQ(L"c:|\\|" + std::wstring(MAX_PATH - 8, L'd') + L"|.txt", split(longest));
    EXPECT_EQ(L"|||", split(longest + L"x"));
    EXPECT_EQ(L"|||", split(L"\\\\server\\share\\" + std::wstring(600, L'u')));
    EXPECT_EQ(L"|||", split(L"c:\\" + std::wstring(300, L'd') + L"\\" + std::wstring(300, L'f')));
}

TEST(PathSplit, DirFileJoinsTheParts)
{
    const wchar_t* const cases[][3] = {
        {L"c:\\program files\\dir\\file.txt", L"c:\\program files\\dir\\", L"file.txt"},
        {L"\\\\server\\share\\dir\\file.txt", L"\\\\server\\share\\dir\\", L"file.txt"},
        {L"c:\\dir\\README", L"c:\\dir\\", L"README"},
        {L"\\\\server\\share", L"\\\\server\\share", L""},
    };
    for (const auto& c : cases) {
        Guarded dir, file;
        EXPECT_EQ(0, w32SplitDirFile(c[0], dir.data, file.data));
        EXPECT_STREQ(c[1], dir.data);
        EXPECT_STREQ(c[2], file.data);
    }
}

TEST(ShortPath, ExistingPathsAndMissingFilesInExistingDirectories)
{
    TempDir temp;
    const std::wstring dir = temp / L"Quarn Console Directory";
    makeDirs(dir);
    writeBytes(dir + L"\\message library.dll", "x");

    std::wstring out;
    int rc = -1;
    EXPECT_EQ("", utilTrace(temp, dir + L"\\message library.dll", out, rc)) << "no trace when it exists";
    EXPECT_EQ(SHORTPATH_OK, rc);
    EXPECT_EQ(std::wstring::npos, out.find(L' ')) << narrow(out);
    EXPECT_EQ(longForm(dir + L"\\message library.dll"), longForm(out));

    // A missing file comes back as the short directory and the name as given.
    const std::string trace = utilTrace(temp, dir + L"\\Not Yet.txt", out, rc);
    EXPECT_EQ(SHORTPATH_OK, rc);
    const size_t cut = out.rfind(L'\\');
    EXPECT_EQ(L"Not Yet.txt", out.substr(cut + 1));
    EXPECT_EQ(std::wstring::npos, out.substr(0, cut).find(L' ')) << narrow(out);
    EXPECT_EQ(longForm(dir), longForm(out.substr(0, cut)));
    for (const std::string& line : {std::string("# GetShortPathName() failed. Reason: 2. Calling splitanypath()\r\n"),
                                    "# After splitpath. tmpPath " + narrow(dir) + "\\\r\n",
                                    "# ok - shortpath: " + narrow(out) + "\r\n"})
        EXPECT_NE(std::string::npos, trace.find(line)) << trace;

    // In place, as the console lookup may call it.
    wchar_t inPlace[MAX_PATH];
    wcscpy_s(inPlace, dir.c_str());
    EXPECT_EQ(SHORTPATH_OK, w32GetShortPath(inPlace, inPlace, MAX_PATH));
    EXPECT_EQ(longForm(dir), longForm(inPlace));
}

TEST(ShortPath, MissingDirectoriesAndResultsThatDoNotFitLeaveTheOutputEmpty)
{
    TempDir temp;
    Guarded out;
    EXPECT_EQ(SHORTPATH_NONE, w32GetShortPath((temp / L"no dir\\file.txt").c_str(), out.data, MAX_PATH));
    EXPECT_STREQ(L"", out.data);
    const std::wstring huge = temp / std::wstring(300, L'h') + L"\\file.txt";
    EXPECT_EQ(SHORTPATH_NONE, w32GetShortPath(huge.c_str(), out.data, MAX_PATH));
    EXPECT_TRUE(out.intact());

    // The length checked is that of the long directory, the name and the extension.
    const std::wstring missing = temp / L"missing-file.txt";
    const DWORD needed = DWORD(missing.size());
    EXPECT_EQ(SHORTPATH_OK, w32GetShortPath(missing.c_str(), out.data, needed + 1));
    EXPECT_EQ(SHORTPATH_TOO_LONG, w32GetShortPath(missing.c_str(), out.data, needed));
    EXPECT_STREQ(L"", out.data);

    // An existing path whose short form needs more room than it is given: the
    // platform's "needs more" answer is no result.
    writeBytes(temp / L"exists.txt", "x");
    wmemset(out.data, L'#', MAX_PATH);
    EXPECT_EQ(SHORTPATH_TOO_LONG, w32GetShortPath((temp / L"exists.txt").c_str(), out.data, 8));
    EXPECT_STREQ(L"", out.data);
    EXPECT_EQ(L'#', out.data[8]);
}
