// The file finder against real directories.
#include "discovery/file_finder.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace qmtest;

namespace {

using Names = std::vector<std::wstring>;

Names sorted(Names v) { std::sort(v.begin(), v.end()); return v; }

class FileFinderTest : public ::testing::Test {
protected:
    // `root` has capitals: the part of each result naming it keeps its case.
    void SetUp() override { makeDirs(root); }
    void touch(std::initializer_list<std::wstring> relative)
    {
        for (const std::wstring& r : relative)
            writeBytes(root + L"\\" + r, "x");
    }

    // One search from count 0; the names relative to `root`, in the order found.
    Names find(Names patterns, bool lowerCase, bool recurse = false, int capacity = 64)
    {
        Names results(capacity);
        int count = 0;
        EXPECT_EQ(0, findFiles(root, patterns.data(), int(patterns.size()), results.data(), capacity, count,
                               recurse, lowerCase));
        results.resize(count);
        for (std::wstring& r : results) {
            EXPECT_EQ(0u, r.find(root + L"\\")) << narrow(r);
            r.erase(0, root.size() + 1);
        }
        return results;
    }

    TempDir dir;
    std::wstring root = dir / L"Beta Install";
};

} // namespace

TEST_F(FileFinderTest, ExtensionAndExactNamePatternsAndTheirCaseRules)
{
    touch({L"index.html", L"INDEX.HTM", L"page.htm", L"NotifyMissed.TXT", L"notifyfailed.txt.bak"});
    // An extension pattern needs the same extension length, and without
    // lower-casing the name must hold it in the pattern's own case.
    EXPECT_EQ(sorted(Names{L"index.htm", L"page.htm"}), sorted(find({L"*.htm"}, true)));
    EXPECT_EQ(Names{L"page.htm"}, find({L"*.htm"}, false));
    EXPECT_EQ(Names{L"INDEX.HTM"}, find({L"*.HTM"}, false));
    EXPECT_EQ(Names{}, find({L"*.HTM"}, true));
    // Exact names ignore case and are stored as found (or lower-cased).
    EXPECT_EQ(Names{L"notifymissed.txt"}, find({L"notifymissed.txt"}, true));
    EXPECT_EQ(Names{L"NotifyMissed.TXT"}, find({L"NOTIFYmissed.txt"}, false));
    EXPECT_EQ(Names{}, find({L"notifyfailed.txt"}, true));
}

TEST_F(FileFinderTest, StarMatchesEveryFileHiddenOrNotButNoDirectory)
{
    touch({L"README", L"rcp", L".profile", L"a.rcp", L"hidden.rcp", L"system.rcp"});
    ASSERT_TRUE(SetFileAttributesW((root + L"\\hidden.rcp").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW((root + L"\\system.rcp").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
    makeDirs(root + L"\\sub.rcp");
    touch({L"sub.rcp\\inner.rcp"});

    const Names all = sorted(Names{L".profile", L"README", L"a.rcp", L"rcp", L"hidden.rcp", L"system.rcp"});
    EXPECT_EQ(all, sorted(find({L"*.*"}, false)));
    EXPECT_EQ(all, sorted(find({L"*"}, false)));
    EXPECT_EQ(sorted(Names{L"a.rcp", L"hidden.rcp", L"system.rcp"}), sorted(find({L"zz*.rcp"}, true)));
    EXPECT_EQ(Names{L".profile"}, find({L"*.profile"}, true)); // all extension
    // "rcp" has no extension; a file matching several patterns is stored once for each.
    EXPECT_EQ(sorted(Names{L"a.rcp", L"a.rcp", L"hidden.rcp", L"system.rcp"}),
              sorted(find({L"*.rcp", L"A.RCP"}, true)));
}

TEST_F(FileFinderTest, RecursionIsDepthFirstAndOptional)
{
    makeDirs(root + L"\\B\\C");
    touch({L"a.xml", L"B\\b.xml", L"B\\C\\c.xml", L"d.xml"});

    EXPECT_EQ(sorted(Names{L"a.xml", L"d.xml"}), sorted(find({L"*.xml"}, true)));
    // Wine and NTFS list a directory in name order without regard to case.
    EXPECT_EQ((Names{L"a.xml", L"b\\b.xml", L"b\\c\\c.xml", L"d.xml"}), find({L"*.xml"}, true, true));
    EXPECT_EQ((Names{L"a.xml", L"B\\b.xml", L"B\\C\\c.xml", L"d.xml"}), find({L"*.xml"}, false, true));
}

TEST_F(FileFinderTest, CapacityIsNeverPassedAndMissingDirectoriesAddNothing)
{
    for (int i = 0; i < 10; ++i)
        touch({L"f" + std::to_wstring(i) + L".dat"});
    EXPECT_EQ(4u, find({L"*.dat"}, true, false, 4).size());
    // Starting at capacity stores nothing; resuming from a count appends after it.
    std::wstring pattern = L"*.dat";
    Names results(12, L"untouched");
    int count = 6;
    findFiles(root, &pattern, 1, results.data(), 6, count, 0, 1);
    EXPECT_EQ(6, count);
    EXPECT_EQ(Names(12, L"untouched"), results);
    count = 9;
    findFiles(root, &pattern, 1, results.data(), 12, count, 0, 1);
    EXPECT_EQ(12, count);
    EXPECT_EQ(L"untouched", results[8]);
    EXPECT_NE(L"untouched", results[9]);
    EXPECT_NE(L"untouched", results[11]);

    findFiles(root + L"\\no such dir", &pattern, 1, results.data(), 20, count, 0, 1);
    findFiles(root + L"\\f0.dat", &pattern, 1, results.data(), 20, count, 0, 1); // a file, not a directory
    EXPECT_EQ(12, count);
}

TEST_F(FileFinderTest, FindingAllGrowsTheArrayRatherThanDropMatches)
{
    Names expected;
    for (int i = 0; i < 9; ++i) {
        touch({L"R" + std::to_wstring(i) + L".RCP"});
        expected.push_back(root + L"\\r" + std::to_wstring(i) + L".rcp");
    }
    touch({L"other.xml"});
    Names results(4);
    ASSERT_EQ(9, findAllFiles(root, L"*.rcp", results));
    results.resize(9);
    EXPECT_EQ(expected, sorted(results));
    // Exactly as many matches as the array holds is not taken for all of them.
    Names exact(9);
    EXPECT_EQ(9, findAllFiles(root, L"*.rcp", exact));
    Names none;
    EXPECT_EQ(0, findAllFiles(root + L"\\missing", L"*.rcp", none));
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
