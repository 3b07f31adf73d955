// Discovery from end to end: the real dialog, registry, directories and refresh worker.
#include "discovery/refresh_worker.h"
#include "res/resource.h"
#include "tests/app/dialog_harness.h"
#include "tests/support/registry_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <vector>

using namespace qmtest;

namespace {

struct Row {
    std::wstring cells[5];
    std::wstring sourceRoot, destinationRoot;
    unsigned kind = 99; // no record
    bool ticked;
};

std::vector<Row> rowsOf(DialogHarness& ui)
{
    std::vector<Row> rows;
    CCheckListCtrl& list = ui.dlg().m_list;
    for (int r = 0; r < list.rowCount(); ++r) {
        Row row;
        for (int c = 0; c < 5; ++c)
            row.cells[c] = list.cellText(r, c);
        if (const MigrationItem* item = ui.dlg().rowRecord(r)) {
            row.sourceRoot = item->sourceRoot;
            row.destinationRoot = item->destinationRoot;
            row.kind = unsigned(item->kind);
        }
        row.ticked = list.isChecked(r);
        rows.push_back(row);
    }
    return rows;
}

// Which of Migrate, Clear All, Select All, Refresh, Done are enabled.
std::string buttons(DialogHarness& ui)
{
    std::string state;
    for (int id : {IDOK, IDC_CLEAR_ALL, IDC_SELECT_ALL, IDC_REFRESH, IDCANCEL})
        state += IsWindowEnabled(ui.control(id)) ? '1' : '0';
    return state;
}

std::wstring text(DialogHarness& ui, int id) { return windowText(ui.control(id)); }

bool refreshAgain(DialogHarness& ui)
{
    ui.click(IDC_REFRESH);
    // The worker disables Refresh at once and enables it at its end.
    waitUntil([&] { return !IsWindowEnabled(ui.control(IDC_REFRESH)); }, 1000);
    return waitUntil([&] { return IsWindowEnabled(ui.control(IDC_REFRESH)) && !ui.dlg().workerRunning(); });
}

class Refresh : public ::testing::Test {
protected:
    CleanNorvaleKeys clean;
    TempDir dir;
    std::wstring beta = dir / L"Beta", ga = dir / L"GA", betaWeb = dir / L"BetaWeb", gaWeb = dir / L"GAWeb";

    void installBoth(bool webSites = true)
    {
        makeDirs(beta);
        makeDirs(ga);
        setRegString(BETA_KEY, L"Path", beta);
        setRegString(GA_KEY, L"Path", ga);
        if (webSites) {
            makeDirs(betaWeb);
            makeDirs(gaWeb);
            setRegString(BETA_KEY, L"WebSiteLocalPath", betaWeb);
            setRegString(GA_KEY, L"WebSiteLocalPath", gaWeb);
        }
    }
};

const wchar_t kRegistrySource[] = L"HKLM\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\console_reporting";
const wchar_t kRegistryDest[] = L"HKLM\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\console";

} // namespace

TEST_F(Refresh, MissingInstallationsAreReportedInTheStatusLine)
{
    const std::wstring error = L"ERROR - Unable to locate operational reporting ";
    DialogHarness ui(t_processRefresh, nullptr);
    EXPECT_EQ(error + L"beta key in the registry.", text(ui, IDC_STATUS));
    EXPECT_EQ(0u, rowsOf(ui).size());
    EXPECT_EQ("00011", buttons(ui));
    EXPECT_EQ(L"source path", text(ui, IDC_SOURCE_PATH));
    EXPECT_EQ(L"destination path", text(ui, IDC_DEST_PATH));

    setRegString(BETA_KEY, L"Path", L"   ");
    ASSERT_TRUE(refreshAgain(ui));
    EXPECT_EQ(error + L"beta path in the registry.", text(ui, IDC_STATUS));
    EXPECT_EQ(0u, rowsOf(ui).size()) << "no placeholder row either";
    EXPECT_EQ("00011", buttons(ui));

    // Without the 5.2.2 key only the registry row is listed, and nothing can be migrated.
    makeDirs(beta);
    setRegString(BETA_KEY, L"Path", beta);
    ASSERT_TRUE(refreshAgain(ui));
    EXPECT_EQ(error + L"5.2.2 key in the registry.", text(ui, IDC_STATUS));
    auto onlyRegistryRow = [&] {
        std::vector<Row> rows = rowsOf(ui);
        return rows.size() == 1 && rows[0].cells[0] == L"Registry settings" && rows[0].ticked;
    };
    EXPECT_TRUE(onlyRegistryRow());
    EXPECT_EQ("00011", buttons(ui));
    EXPECT_TRUE(waitUntil([&] { return text(ui, IDC_SOURCE_PATH) == beta; }));
    EXPECT_EQ(L"destination path", text(ui, IDC_DEST_PATH));

    // A blank 5.2.2 Path still lets the registry row be migrated.
    setRegString(GA_KEY, L"Path", L"");
    ASSERT_TRUE(refreshAgain(ui));
    EXPECT_EQ(error + L"5.2.2 path in the registry.", text(ui, IDC_STATUS));
    EXPECT_TRUE(onlyRegistryRow());
    EXPECT_EQ(0, ui.dlg().m_list.getSelectedRow());
    EXPECT_EQ("11111", buttons(ui));
    EXPECT_TRUE(waitUntil([&] { return text(ui, IDC_SOURCE_PATH) == kRegistrySource; }));

    // The path lines are not reset when a later refresh fails.
    deleteRegTree(BETA_KEY);
    ASSERT_TRUE(refreshAgain(ui));
    EXPECT_EQ(error + L"beta key in the registry.", text(ui, IDC_STATUS));
    EXPECT_EQ(0u, rowsOf(ui).size());
    EXPECT_EQ(kRegistrySource, text(ui, IDC_SOURCE_PATH));
    EXPECT_EQ(kRegistryDest, text(ui, IDC_DEST_PATH));
    EXPECT_EQ("00011", buttons(ui));
}

TEST_F(Refresh, ListsEveryItemOfAFullBetaInstallationInOrder)
{
    installBoth();
    for (const wchar_t* name : {L"Recipients.RCP", L"b.rcp", L"x.ext", L"report.xml", L"cache.dat", L"element.dat",
                                L"NotifyMissed.txt", L"notifyfailed.TXT", L"index.html", L"readme.txt"})
        writeBytes(beta + L"\\" + name, "x");
    makeDirs(beta + L"\\sub");
    writeBytes(beta + L"\\sub\\deep.rcp", "x");
    for (const wchar_t* name : {L"a.htm", L"Summary.INFO", L"index.html", L"b.htm"})
        writeBytes(betaWeb + L"\\" + name, "x");
    makeDirs(beta + L"\\zelt");
    for (const wchar_t* name : {L"Zelt.CFG", L"report.xml", L"NOEXT"})
        writeBytes(beta + L"\\zelt\\" + name, "x");

    DialogHarness ui(t_processRefresh, nullptr);
    EXPECT_EQ(L"Ready", text(ui, IDC_STATUS));
    EXPECT_EQ("11111", buttons(ui));

    struct Expected {
        const wchar_t *description, *source, *conversion, *destination;
        unsigned kind;
        std::wstring sourceRoot, destinationRoot;
    };
    const std::wstring betaZelt = beta + L"\\zelt", gaZelt = ga + L"\\zelt";
    const std::vector<Expected> expected = {
        {L"Registry settings", L"console_reporting", L"None", L"console", 0, kRegistrySource, kRegistryDest},
        {L"Recipients", L"b.rcp", L"To unicode", L"b.rcp", 1, beta, ga},
        {L"Recipients", L"recipients.rcp", L"To unicode", L"recipients.rcp", 1, beta, ga},
        {L"Extension", L"x.ext", L"To unicode", L"x.ext", 2, beta, ga},
        {L"Template", L"report.xml", L"None", L"report.xml", 3, beta, ga},
        {L"SQL Cache", L"cache.dat", L"To unicode", L"cache.dat", 4, beta, ga},
        {L"Notify Missed", L"notifymissed.txt", L"To unicode", L"notifymissed.txt", 5, beta, ga},
        {L"Notify Failed", L"notifyfailed.txt", L"To unicode", L"notifyfailed.txt", 6, beta, ga},
        {L"Web Summary", L"summary.info", L"To unicode", L"summary.info", 9, betaWeb, gaWeb},
        {L"Web Summary", L"a.htm", L"To unicode", L"a.htm", 8, betaWeb, gaWeb},
        {L"Web Summary", L"b.htm", L"To unicode", L"b.htm", 8, betaWeb, gaWeb},
        {L"Zelt", L"noext", L"None", L"noext", 10, betaZelt, gaZelt},
        {L"Zelt", L"report.xml", L"None", L"report.xml", 10, betaZelt, gaZelt},
        {L"Zelt", L"zelt.cfg", L"None", L"zelt.cfg", 10, betaZelt, gaZelt},
    };
    std::vector<Row> rows = rowsOf(ui);
    ASSERT_EQ(expected.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + ": " + narrow(rows[i].cells[1]));
        EXPECT_EQ(expected[i].description, rows[i].cells[0]);
        EXPECT_EQ(expected[i].source, rows[i].cells[1]);
        EXPECT_EQ(expected[i].conversion, rows[i].cells[2]);
        EXPECT_EQ(expected[i].destination, rows[i].cells[3]);
        EXPECT_EQ(L"Not Started", rows[i].cells[4]);
        EXPECT_EQ(expected[i].kind, rows[i].kind);
        EXPECT_EQ(expected[i].sourceRoot, rows[i].sourceRoot);
        EXPECT_EQ(expected[i].destinationRoot, rows[i].destinationRoot);
        EXPECT_TRUE(rows[i].ticked);
    }
    EXPECT_EQ(0, ui.dlg().m_list.getSelectedRow());
    EXPECT_TRUE(waitUntil([&] { return text(ui, IDC_SOURCE_PATH) == kRegistrySource; }));
    EXPECT_EQ(kRegistryDest, text(ui, IDC_DEST_PATH));
    // The refresh makes the 5.2.2 zelt directory as soon as the beta one exists.
    EXPECT_TRUE(fileExists(gaZelt) && (GetFileAttributesW(gaZelt.c_str()) & FILE_ATTRIBUTE_DIRECTORY));

    // Refresh lists everything again from scratch; unticked rows come back ticked.
    ui.dlg().m_list.setChecked(3, false);
    ASSERT_TRUE(refreshAgain(ui));
    std::vector<Row> again = rowsOf(ui);
    ASSERT_EQ(rows.size(), again.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].cells[1], again[i].cells[1]);
        EXPECT_TRUE(again[i].ticked);
    }
}

TEST_F(Refresh, PathsAreTrimmedAndWebAndZeltItemsNeedBothWebSites)
{
    installBoth(false);
    setRegString(BETA_KEY, L"Path", L"  " + beta + L"\t ");
    setRegString(GA_KEY, L"Path", L" " + ga + L" ");
    makeDirs(betaWeb);
    writeBytes(betaWeb + L"\\a.htm", "x");
    makeDirs(beta + L"\\zelt");
    writeBytes(beta + L"\\zelt\\z.cfg", "x");
    writeBytes(beta + L"\\r.rcp", "x");

    // Only the beta web site is known: neither web nor Zelt items, no message.
    // The 5.2.2 directory is never looked at (it need not even exist).
    setRegString(BETA_KEY, L"WebSiteLocalPath", betaWeb);
    RemoveDirectoryW(ga.c_str());
    DialogHarness ui(t_processRefresh, nullptr);
    std::vector<Row> rows = rowsOf(ui);
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(L"r.rcp", rows[1].cells[1]);
    EXPECT_EQ(beta, rows[1].sourceRoot);
    EXPECT_EQ(ga, rows[1].destinationRoot);
    EXPECT_EQ(L"Ready", text(ui, IDC_STATUS));
    EXPECT_EQ(nullptr, findDialogWithText(L"", ui.hwnd()));
    EXPECT_FALSE(fileExists(ga + L"\\zelt"));

    // Only the 5.2.2 web site is known: the same.
    makeDirs(ga);
    deleteRegValue(BETA_KEY, L"WebSiteLocalPath");
    setRegString(GA_KEY, L"WebSiteLocalPath", gaWeb);
    ASSERT_TRUE(refreshAgain(ui));
    EXPECT_EQ(2u, rowsOf(ui).size());

    // Both known: the web page and the Zelt file come in.
    setRegString(BETA_KEY, L"WebSiteLocalPath", betaWeb);
    ASSERT_TRUE(refreshAgain(ui));
    rows = rowsOf(ui);
    ASSERT_EQ(4u, rows.size());
    EXPECT_EQ(L"a.htm", rows[2].cells[1]);
    EXPECT_EQ(L"z.cfg", rows[3].cells[1]);
}
