// Discovery from end to end: the real dialog, registry, directories and refresh worker.
#include "discovery/refresh_worker.h"
#include "res/resource.h"
#include "tests/app/dialog_harness.h"
#include "tests/app/recording_view.h"
#include "tests/support/registry_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <vector>

using namespace qmtest;

namespace {

// Each row as "description|source|conversion|destination|state|source root|
// destination root", led by "-" when it is not ticked.
std::vector<std::wstring> rowsOf(DialogHarness& ui)
{
    std::vector<std::wstring> rows;
    const CListReader list = ui.List();
    for (int r = 0; r < list.RowCount(); ++r) {
        std::wstring row = list.IsChecked(r) ? L"" : L"-";
        for (int c = 0; c < 5; ++c)
            row += list.CellText(r, c) + L"|";
        const MigrationItem* item = ui.Record(r);
        rows.push_back(row + (item ? item->sourceRoot + L"|" + item->destinationRoot : L"no record"));
    }
    return rows;
}

std::wstring text(DialogHarness& ui, int id) { return windowText(ui.Control(id)); }

bool refreshAgain(DialogHarness& ui)
{
    ui.Click(IDC_REFRESH);
    // The worker disables Refresh at once and enables it at its end.
    waitUntil([&] { return !IsWindowEnabled(ui.Control(IDC_REFRESH)); }, 1000);
    return waitUntil([&] { return IsWindowEnabled(ui.Control(IDC_REFRESH)) && !ui.Dlg().WorkerRunning(); });
}

class Refresh : public ::testing::Test {
protected:
    CleanNorvaleKeys clean;
    TempDir dir;
    std::wstring beta = dir / L"Beta", ga = dir / L"GA", betaWeb = dir / L"BetaWeb", gaWeb = dir / L"GAWeb";
};

const wchar_t REGISTRY_ROW_SOURCE[] = L"HKLM\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\console_reporting";
const wchar_t REGISTRY_ROW_DESTINATION[] = L"HKLM\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\console";

} // namespace

// The refresh worker alone, against a recording view: every call it makes
// when an installation is missing, in order.
TEST_F(Refresh, MissingInstallationsAreReportedInTheStatusLine)
{
    CRecordingView view;
    const std::vector<std::wstring> start = { L"buttons 00000", L"redraw on", L"status Working", L"clear" };
    auto refresh = [&](std::vector<std::wstring> calls) {
        calls.insert(calls.begin(), start.begin(), start.end());
        t_processRefresh(&view);
        return calls;
    };
    auto error = [](const std::wstring& what) {
        return L"status ERROR - Unable to locate operational reporting " + what + L" in the registry.";
    };
    EXPECT_CALLS(view, refresh({ L"paths |", error(L"beta key"), L"end 00011" }));
    setRegString(BETA_KEY, L"Path", L"   ");
    EXPECT_CALLS(view, refresh({ L"paths |", error(L"beta path"), L"end 00011" }));

    // Without the 5.2.2 key only the registry row is listed, and nothing can
    // be migrated; a blank 5.2.2 Path still lets that row be migrated. The
    // destination line is left as it was.
    makeDirs(beta);
    setRegString(BETA_KEY, L"Path", L" " + beta);
    const std::wstring registryRow = L"add Registry settings|console_reporting|None|console";
    EXPECT_CALLS(view, refresh({ L"paths " + beta + L"|", registryRow, L"source " + beta, error(L"5.2.2 key"),
                                 L"end 00011" }));
    setRegString(GA_KEY, L"Path", L"");
    EXPECT_CALLS(view, refresh({ L"paths " + beta + L"|", registryRow, L"source " + beta, error(L"5.2.2 path"),
                                 L"show 0", L"end 11111" }));
    ASSERT_EQ(1u, view.Rows().size());
    EXPECT_EQ(REGISTRY_ROW_SOURCE, view.Rows()[0].item.sourceRoot);
    EXPECT_EQ(REGISTRY_ROW_DESTINATION, view.Rows()[0].item.destinationRoot);

    // Found: the destination line, the scan (nothing to list), "Ready".
    makeDirs(ga);
    setRegString(GA_KEY, L"Path", ga);
    EXPECT_CALLS(view, refresh({ L"paths " + beta + L"|" + ga, registryRow, L"source " + beta, L"destination " + ga,
                                 L"status Scanning for report related files...", L"show 0", L"status Ready",
                                 L"end 11111" }));
}

// Web and Zelt items are listed only when both installations name a web site.
TEST_F(Refresh, ListsEveryItemInOrderWebAndZeltItemsOnlyWithBothWebSites)
{
    auto files = [](const std::wstring& directory, std::initializer_list<const wchar_t*> names) {
        makeDirs(directory);
        for (const wchar_t* name : names)
            writeBytes(directory + L"\\" + name, "x");
    };
    files(beta,
          { L"Recipients.RCP", L"b.rcp", L"x.ext", L"report.xml", L"cache.dat", L"element.dat", L"NotifyMissed.txt",
            L"notifyfailed.TXT", L"index.html", L"readme.txt" });
    files(beta + L"\\sub", { L"deep.rcp" });
    files(betaWeb, { L"a.htm", L"Summary.INFO", L"index.html", L"b.htm" });
    files(beta + L"\\zelt", { L"Zelt.CFG", L"report.xml", L"NOEXT" });
    makeDirs(gaWeb);
    // The registry's paths are trimmed. At first only the beta web site is known.
    setRegString(BETA_KEY, L"Path", L"  " + beta + L"\t ");
    setRegString(GA_KEY, L"Path", L" " + ga + L" ");
    setRegString(BETA_KEY, L"WebSiteLocalPath", betaWeb);
    DialogHarness ui(t_processRefresh, nullptr);

    auto row = [](const wchar_t* description, const std::wstring& name, const wchar_t* conversion,
                  const std::wstring& sourceRoot, const std::wstring& destinationRoot) {
        return description + (L"|" + name + L"|") + conversion + L"|" + name + L"|Not Started|" + sourceRoot + L"|"
            + destinationRoot;
    };
    const std::wstring betaZelt = beta + L"\\zelt", gaZelt = ga + L"\\zelt";
    const std::vector<std::wstring> expected = {
        L"Registry settings|console_reporting|None|console|Not Started|" + std::wstring(REGISTRY_ROW_SOURCE) + L"|"
            + REGISTRY_ROW_DESTINATION,
        row(L"Recipients", L"b.rcp", L"To unicode", beta, ga),
        row(L"Recipients", L"recipients.rcp", L"To unicode", beta, ga),
        row(L"Extension", L"x.ext", L"To unicode", beta, ga),
        row(L"Template", L"report.xml", L"None", beta, ga),
        row(L"SQL Cache", L"cache.dat", L"To unicode", beta, ga),
        row(L"Notify Missed", L"notifymissed.txt", L"To unicode", beta, ga),
        row(L"Notify Failed", L"notifyfailed.txt", L"To unicode", beta, ga),
        row(L"Web Summary", L"summary.info", L"To unicode", betaWeb, gaWeb),
        row(L"Web Summary", L"a.htm", L"To unicode", betaWeb, gaWeb),
        row(L"Web Summary", L"b.htm", L"To unicode", betaWeb, gaWeb),
        row(L"Zelt", L"noext", L"None", betaZelt, gaZelt),
        row(L"Zelt", L"report.xml", L"None", betaZelt, gaZelt),
        row(L"Zelt", L"zelt.cfg", L"None", betaZelt, gaZelt),
    };
    // The list holds exactly the first `count` expected rows, every one ticked.
    auto expectRows = [&](size_t count) {
        EXPECT_EQ(std::vector<std::wstring>(expected.begin(), expected.begin() + count), rowsOf(ui));
    };
    const size_t reportRows = 8;

    // No web or Zelt items and no complaint; the 5.2.2 directory is never
    // looked at (it need not even exist).
    expectRows(reportRows);
    EXPECT_EQ(L"Ready", text(ui, IDC_STATUS));

    // Only the 5.2.2 web site is known: the same.
    makeDirs(ga);
    deleteRegValue(BETA_KEY, L"WebSiteLocalPath");
    setRegString(GA_KEY, L"WebSiteLocalPath", gaWeb);
    ASSERT_TRUE(refreshAgain(ui));
    expectRows(reportRows);

    // Both known: everything, and the 5.2.2 zelt directory is made as soon as
    // the beta one exists. Each refresh lists from scratch: an unticked row
    // comes back ticked.
    setRegString(BETA_KEY, L"WebSiteLocalPath", betaWeb);
    ui.List().SetChecked(3, false);
    ASSERT_TRUE(refreshAgain(ui));
    expectRows(expected.size());
    EXPECT_TRUE(fileExists(gaZelt) && (GetFileAttributesW(gaZelt.c_str()) & FILE_ATTRIBUTE_DIRECTORY));
}

// A refresh empties the store and fills it again: an id a worker still holds
// from before never finds, or changes, a record of the new list.
TEST(RowStore, AnIdFromBeforeARefreshFindsNothingAfterIt)
{
    CRowStore store;
    const NewListItem add { ITEM_RECIPIENTS, L"Recipient list", L"a.rcp", L"c:\\beta", L"a.rcp", L"c:\\ga",
                            L"To unicode", {} };
    const LPARAM before = store.Add(add);
    store.Clear();
    const LPARAM after = store.Add(add);
    EXPECT_NE(before, after);
    EXPECT_EQ(nullptr, store.Find(before));
    EXPECT_FALSE(store.SetState(before, RowState { RowOutcome::Migrated, {} }));
    EXPECT_EQ(RowOutcome::NotStarted, store.Find(after)->state.outcome);
    EXPECT_EQ(std::vector<LPARAM> { after }, [&] {
        std::vector<LPARAM> ids;
        for (const TakenRecord& record : store.TakeAll())
            ids.push_back(record.id);
        return ids;
    }());
}
