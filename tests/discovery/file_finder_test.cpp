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
    void Touch(const Names& relative)
    {
        for (const std::wstring& r : relative)
            writeBytes(root + L"\\" + r, "x");
    }

    // One search from count 0; the names relative to `root`, in the order found.
    Names Find(Names patterns, bool lowerCase, bool recurse = false)
    {
        Names results(64);
        int count = 0;
        findFiles(root, patterns.data(), int(patterns.size()), results.data(), 64, count,
                  recurse ? Recurse::Yes : Recurse::No, lowerCase ? MatchCase::LowerCased : MatchCase::AsFound);
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

TEST_F(FileFinderTest, PatternsAndTheirCaseRules)
{
    const Names files = {L"index.html", L"INDEX.HTM", L"page.htm", L"NotifyMissed.TXT", L"notifyfailed.txt.bak",
                         L"README", L"htm", L".profile", L"a.rcp", L"b.rcp", L"old.list.rcp", L"z.rcp"};
    Touch(files);
    makeDirs(root + L"\\sub.rcp");
    Touch({L"sub.rcp\\inner.rcp"});

    // An extension pattern needs the same extension length, and without
    // lower-casing the name must hold it in the pattern's own case.
    EXPECT_EQ(sorted(Names{L"INDEX.HTM", L"page.htm"}), sorted(Find({L"zz*.htm"}, true)));
    EXPECT_EQ(Names{L"page.htm"}, Find({L"*.htm"}, false));
    EXPECT_EQ(Names{L"INDEX.HTM"}, Find({L"*.HTM"}, false));
    EXPECT_EQ(Names{}, Find({L"*.HTM"}, true));
    EXPECT_EQ(Names{L".profile"}, Find({L"*.profile"}, true)); // all extension
    // Exact names ignore case. Results name the files as found, also where
    // they were matched lower-cased: that may be another name, or none.
    EXPECT_EQ(Names{L"NotifyMissed.TXT"}, Find({L"notifymissed.txt"}, true));
    EXPECT_EQ(Names{L"NotifyMissed.TXT"}, Find({L"NOTIFYmissed.txt"}, false));
    EXPECT_EQ(Names{}, Find({L"notifyfailed.txt"}, true));
    // Every file, but no directory.
    EXPECT_EQ(sorted(files), sorted(Find({L"*.*"}, false)));
    EXPECT_EQ(sorted(files), sorted(Find({L"*"}, false)));
    // A file matching several patterns is stored once for each; the
    // extension is what follows the last dot.
    EXPECT_EQ(sorted(Names{L"a.rcp", L"a.rcp", L"b.rcp", L"old.list.rcp", L"z.rcp"}),
              sorted(Find({L"*.rcp", L"A.RCP"}, true)));
    // Recursing, a directory is searched where it is met (Wine and NTFS list
    // a directory in name order without regard to case).
    EXPECT_EQ((Names{L"a.rcp", L"b.rcp", L"old.list.rcp", L"sub.rcp\\inner.rcp", L"z.rcp"}), Find({L"*.rcp"}, true, true));
}

TEST_F(FileFinderTest, ResumingFromACountAppendsAfterItAndNeverPassesTheCapacity)
{
    for (int i = 0; i < 10; ++i)
        Touch({L"f" + std::to_wstring(i) + L".dat"});
    const std::wstring pattern = L"*.dat";
    Names results(13, L"untouched");
    int count = 9;
    findFiles(root, &pattern, 1, results.data(), 12, count, Recurse::No, MatchCase::LowerCased);
    EXPECT_EQ(12, count);
    EXPECT_EQ((Names{L"untouched", root + L"\\f0.dat", root + L"\\f1.dat", root + L"\\f2.dat", L"untouched"}),
              Names(results.begin() + 8, results.end()));
}

TEST_F(FileFinderTest, FindingAllGrowsTheArrayRatherThanDropMatches)
{
    Names expected;
    for (int i = 0; i < 9; ++i) {
        Touch({L"R" + std::to_wstring(i) + L".RCP"});
        expected.push_back(root + L"\\R" + std::to_wstring(i) + L".RCP");
    }
    Touch({L"other.xml"});
    // Also exactly as many matches as the array holds are not taken for all of them.
    for (int size : {4, 9}) {
        Names results(size);
        ASSERT_EQ(9, findAllFiles(root, L"*.rcp", results));
        results.resize(9);
        EXPECT_EQ(expected, sorted(results));
    }
}
