// The file finder against real directories.
#include "discovery/file_finder.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace qmtest;

namespace {

class FileFinderTest : public ::testing::Test {
protected:
    void touch(const std::wstring& relative) { writeBytes(dir / relative, "x"); }

    // Runs one search from count 0 and returns the names relative to the
    // directory searched (or the full results with `full`).
    std::vector<std::wstring> find(std::vector<std::wstring> patterns, bool lowerCase, bool recurse = false,
                                   int capacity = 64, const std::wstring* where = nullptr)
    {
        std::vector<std::wstring> results(capacity);
        int count = 0;
        const std::wstring& directory = where ? *where : dir.path();
        EXPECT_EQ(0, findFiles(directory, patterns.data(), int(patterns.size()), results.data(), capacity,
                               count, recurse, lowerCase));
        results.resize(count);
        for (std::wstring& r : results) {
            EXPECT_EQ(0u, r.find(directory + L"\\")) << narrow(r);
            r.erase(0, directory.size() + 1);
        }
        return results;
    }

    static std::vector<std::wstring> sorted(std::vector<std::wstring> v)
    {
        std::sort(v.begin(), v.end());
        return v;
    }

    TempDir dir;
};

using Names = std::vector<std::wstring>;

} // namespace

TEST_F(FileFinderTest, ExtensionPatternsNeedTheSameExtensionLength)
{
    touch(L"index.html");
    touch(L"INDEX.HTM");
    touch(L"page.htm");
    EXPECT_EQ(sorted(Names{L"index.htm", L"page.htm"}), sorted(find({L"*.htm"}, true)));
    // Without lower-casing the name must hold ".htm" in the pattern's own case.
    EXPECT_EQ(Names{L"page.htm"}, find({L"*.htm"}, false));
    EXPECT_EQ(Names{L"INDEX.HTM"}, find({L"*.HTM"}, false));
    // With lower-casing an upper-case pattern extension can never be found.
    EXPECT_EQ(Names{}, find({L"*.HTM"}, true));
}

TEST_F(FileFinderTest, ExactNamesIgnoreCaseAndStoreTheNameAsFound)
{
    touch(L"NotifyMissed.TXT");
    touch(L"notifyfailed.txt.bak");
    EXPECT_EQ(Names{L"notifymissed.txt"}, find({L"notifymissed.txt"}, true));
    EXPECT_EQ(Names{L"NotifyMissed.TXT"}, find({L"notifymissed.txt"}, false));
    EXPECT_EQ(Names{}, find({L"notifyfailed.txt"}, true));
}

TEST_F(FileFinderTest, StarPatternsMatchEveryFileAndOnlyFiles)
{
    touch(L"README");
    touch(L"rcp");
    touch(L".profile");
    touch(L"a.rcp");
    makeDirs(dir / L"sub.rcp");
    touch(L"sub.rcp\\inner.rcp");

    const Names all = sorted(Names{L".profile", L"README", L"a.rcp", L"rcp"});
    EXPECT_EQ(all, sorted(find({L"*.*"}, false)));
    EXPECT_EQ(all, sorted(find({L"*"}, false)));
    // "rcp" has no extension; the directory sub.rcp is never a result.
    EXPECT_EQ(Names{L"a.rcp"}, find({L"*.rcp"}, true));
    // What stands before the extension in a pattern is ignored.
    EXPECT_EQ(Names{L"a.rcp"}, find({L"zz*.rcp"}, true));
    // ".profile" is all extension.
    EXPECT_EQ(Names{L".profile"}, find({L"*.profile"}, true));
}

TEST_F(FileFinderTest, HiddenAndSystemFilesAreFound)
{
    touch(L"hidden.rcp");
    touch(L"system.rcp");
    ASSERT_TRUE(SetFileAttributesW((dir / L"hidden.rcp").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW((dir / L"system.rcp").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(sorted(Names{L"hidden.rcp", L"system.rcp"}), sorted(find({L"*.rcp"}, true)));
}

TEST_F(FileFinderTest, AFileMatchingTwoPatternsIsStoredTwice)
{
    touch(L"a.rcp");
    EXPECT_EQ((Names{L"a.rcp", L"a.rcp", L"a.rcp"}), find({L"*.rcp", L"A.RCP", L"*.*"}, true));
}

TEST_F(FileFinderTest, RecursionIsDepthFirstAndOptional)
{
    touch(L"a.xml");
    makeDirs(dir / L"B\\C");
    touch(L"B\\b.xml");
    touch(L"B\\C\\c.xml");
    touch(L"d.xml");

    EXPECT_EQ(sorted(Names{L"a.xml", L"d.xml"}), sorted(find({L"*.xml"}, true)));

    // Wine and NTFS list a directory in name order without regard to case:
    // a.xml, B (and everything below it), d.xml.
    EXPECT_EQ((Names{L"a.xml", L"b\\b.xml", L"b\\c\\c.xml", L"d.xml"}), find({L"*.xml"}, true, true));
    EXPECT_EQ((Names{L"a.xml", L"B\\b.xml", L"B\\C\\c.xml", L"d.xml"}), find({L"*.xml"}, false, true));
}

TEST_F(FileFinderTest, CapacityIsNeverPassed)
{
    for (int i = 0; i < 10; ++i)
        touch(L"f" + std::to_wstring(i) + L".dat");

    EXPECT_EQ(4u, find({L"*.dat"}, true, false, 4).size());

    std::vector<std::wstring> results(6, L"untouched");
    std::wstring pattern = L"*.dat";
    int count = 6;
    findFiles(dir.path(), &pattern, 1, results.data(), 6, count, 0, 1);
    EXPECT_EQ(6, count);
    EXPECT_EQ(std::vector<std::wstring>(6, L"untouched"), results);

    // Resuming from a count appends after what is already held.
    std::vector<std::wstring> more(12, L"untouched");
    count = 9;
    findFiles(dir.path(), &pattern, 1, more.data(), 12, count, 0, 1);
    EXPECT_EQ(12, count);
    EXPECT_EQ(L"untouched", more[8]);
    EXPECT_NE(L"untouched", more[9]);
    EXPECT_NE(L"untouched", more[11]);
}

TEST_F(FileFinderTest, DirectoryPartKeepsItsCaseAndMissingDirectoriesFindNothing)
{
    makeDirs(dir / L"Beta Install");
    writeBytes(dir / L"Beta Install\\Recipients.RCP", "x");

    std::vector<std::wstring> results(4);
    std::wstring pattern = L"*.rcp";
    int count = 0;
    findFiles(dir / L"Beta Install", &pattern, 1, results.data(), 4, count, 0, 1);
    ASSERT_EQ(1, count);
    EXPECT_EQ(dir / L"Beta Install\\recipients.rcp", results[0]);

    count = 2;
    findFiles(dir / L"no such dir", &pattern, 1, results.data(), 4, count, 0, 1);
    EXPECT_EQ(2, count);
    // A file given as the directory is not searched either.
    findFiles(dir / L"Beta Install\\Recipients.RCP", &pattern, 1, results.data(), 4, count, 0, 1);
    EXPECT_EQ(2, count);
}

TEST(GetExtension, DotIncludedLengthCountsWhatFollowsIt)
{
    std::wstring ext = L"stale";
    EXPECT_EQ(3, getExtension(L"a.b.rcp", ext));
    EXPECT_EQ(L".rcp", ext);
    EXPECT_EQ(0, getExtension(L"README", ext));
    EXPECT_EQ(L"", ext);
    EXPECT_EQ(7, getExtension(L".profile", ext));
    EXPECT_EQ(L".profile", ext);
    EXPECT_EQ(0, getExtension(L"trailing.", ext));
    EXPECT_EQ(L".", ext);
}

TEST_F(FileFinderTest, FindingAllNeverDropsMatchesBeyondTheArraysSize)
{
    for (int i = 0; i < 9; ++i)
        touch(L"R" + std::to_wstring(i) + L".RCP");
    touch(L"other.xml");

    // Room for 4 at first, 9 matches: all 9 come back, lower-cased.
    std::vector<std::wstring> results(4);
    ASSERT_EQ(9, findAllFiles(dir.path(), L"*.rcp", results));
    std::vector<std::wstring> names;
    for (int i = 0; i < 9; ++i)
        names.push_back(results[i].substr(dir.path().size() + 1));
    EXPECT_EQ(sorted(Names{L"r0.rcp", L"r1.rcp", L"r2.rcp", L"r3.rcp", L"r4.rcp", L"r5.rcp", L"r6.rcp", L"r7.rcp",
                           L"r8.rcp"}),
              sorted(names));
    // Exactly as many matches as the array holds is not mistaken for all of them.
    std::vector<std::wstring> exact(9);
    EXPECT_EQ(9, findAllFiles(dir.path(), L"*.rcp", exact));
    std::vector<std::wstring> none;
    EXPECT_EQ(0, findAllFiles(dir.path() + L"\\missing", L"*.rcp", none));
}
