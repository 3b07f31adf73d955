// Migration from end to end: the real dialog, workers, files and registry, and
// the prefix's real cmd and regedit run through the stand-in exec library.
#include "common/cmd/system_error.h"
#include "app/migrate_app.h"
#include "app/single_run.h"
#include "app/unattended_run.h"
#include "discovery/refresh_worker.h"
#include "common/files/block_transfer.h"
#include "common/files/checked_file.h"
#include "common/cmd/console_path.h"
#include "common/fs/link_check.h"
#include "migrate/backup_restore.h"
#include "migrate/exec_binding.h"
#include "migrate/migrate_worker.h"
#include "migrate/backup_folder.h"
#include "migrate/migration_backup.h"
#include "migrate/registry_transfer.h"
#include "migrate/regedit_command.h"
#include "res/resource.h"
#include "tests/app/dialog_harness.h"
#include "tests/app/recording_view.h"
#include "tests/support/registry_support.h"

#include <aclapi.h>
#include <sddl.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

using namespace qmtest;

namespace {

const std::wstring SUCCESS_MESSAGE = L"The migation completed successfully.";

std::wstring cellText(DialogHarness& ui, int row, int column) { return ui.List().CellText(row, column); }

// Source name -> State column, for every row.
std::map<std::wstring, std::wstring> statesBySource(DialogHarness& ui)
{
    std::map<std::wstring, std::wstring> states;
    for (int row = 0; row < ui.List().RowCount(); ++row)
        states[cellText(ui, row, 1)] = cellText(ui, row, 4);
    return states;
}

// The same for the worker alone, run against a recording view.
std::map<std::wstring, std::wstring> statesBySource(const CRecordingView& view)
{
    std::map<std::wstring, std::wstring> states;
    for (const TakenRecord& row : view.Rows())
        states[row.item.sourceName] = stateText(row.item.state);
    return states;
}

// Runs the migrate worker on this thread; its closing message, "kind: text".
std::wstring migrateAll(CRecordingView& view)
{
    t_processMigrate(&view);
    std::wstring message = L"(none)";
    for (const std::wstring& call : view.TakeCalls())
        if (call.compare(0, 8, L"message ") == 0)
            message = call.substr(8);
    return message;
}

std::string unicodeFile(const std::wstring& text) { return "\xFF\xFE" + utf16le(text); }

class Migration : public ::testing::Test {
protected:
    CleanNorvaleKeys clean;
    TempDir root;
    // The 5.2.2 installation is not where the beta's renamed paths point
    // (`renamed`), so its own Path and WebSiteLocalPath must survive the import.
    // Its name holds what cmd takes apart unless quoted right: the registry
    // editor works in its backup folder, and restore.cmd names its files.
    // (Non-ASCII names cannot be made under the "C" locale the tests run Wine in.)
    std::wstring beta = root / L"quarn\\console_reporting", ga = root / L"Quarn 522 & (GA) ^^ ;,=!";
    std::wstring renamed = root / L"quarn\\console";
    std::wstring betaWeb = beta + L"\\web", gaWeb = ga + L"\\web";

    // OEM text (code page 437) with accented letters and box drawing.
    const std::string oemRecipients = "Jos\x82 M\x81ller;jose@example.com\r\nbox \xC9\xCD\xBB\r\n";
    const std::wstring wideRecipients = L"Jos\u00e9 M\u00fcller;jose@example.com\r\nbox \u2554\u2550\u2557\r\n";
    const std::string templateBytes = "<?xml version=\"1.0\"?>\r\n<report name=\"\x82t\x82\"/>\r\n";
    const std::string zeltBytes = std::string("ZELT\0\x01\x02\xFF\r\n\r\nend", 14);

    void SetUp() override
    {
        setRestoreProgram(widen(QM_TOOL_EXE)); // the backup keeps the tool, not this test program
        makeDirs(betaWeb);
        makeDirs(gaWeb);
        makeDirs(beta + L"\\zelt");
        ASSERT_TRUE(CopyFileW(widen(QM_EXEC_DLL).c_str(), (ga + L"\\exec_dll.dll").c_str(), FALSE));

        setRegString(BETA_KEY, L"Path", beta);
        setRegString(BETA_KEY, L"WebSiteLocalPath", betaWeb);
        setRegString(BETA_KEY, L"ReportDir", beta + L"\\reports");
        setRegDword(BETA_KEY, L"Retention", 30);
        setRegString(BETA_KEY + std::wstring(L"\\Schedules\\Daily"), L"Target", L"\\\\server\\Console_Reporting\\out");
        setRegString(BETA_KEY + std::wstring(L"\\Schedules\\Daily"), L"Hyphen", L"console-reporting stays");
        setRegString(GA_KEY, L"Path", ga);
        setRegString(GA_KEY, L"WebSiteLocalPath", gaWeb);
        setRegString(GA_KEY, L"GaOnly", L"kept");

        writeBytes(beta + L"\\Recipients.RCP", oemRecipients);
        writeBytes(beta + L"\\daily.ext", "ext \x82\r\n");
        writeBytes(beta + L"\\report.xml", templateBytes);
        writeBytes(beta + L"\\cache.dat", "select 1;\r\n");
        writeBytes(beta + L"\\NotifyMissed.txt", "missed\r\n");
        writeBytes(beta + L"\\notifyfailed.txt", "");
        writeBytes(betaWeb + L"\\summary.info", "info \x82\r\n");
        writeBytes(betaWeb + L"\\index.htm", "<html>\x82</html>\r\n");
        writeBytes(beta + L"\\zelt\\link.cfg", zeltBytes);
    }

    // The binding keeps exec_dll.dll loaded; let go so the directory can go.
    void TearDown() override
    {
        unloadLibrary(ga + L"\\exec_dll.dll");
        unloadLibrary(ga + L"\\exec_sibling.dll");
    }

    // Puts `library` in the 5.2.2 directory as exec_dll.dll (none when null).
    void UseLibrary(const char* library)
    {
        unloadLibrary(ga + L"\\exec_dll.dll");
        DeleteFileW((ga + L"\\exec_dll.dll").c_str());
        if (library) {
            ASSERT_TRUE(CopyFileW(widen(library).c_str(), (ga + L"\\exec_dll.dll").c_str(), FALSE)) << library;
        }
    }

    std::wstring backupNote; // the closing message's last paragraph, when it names a backup

    // The folder the closing message names, when it is one in the 5.2.2 directory.
    // Runs the tool with `arguments` through cmd, in `work`; its exit code,
    // and what it printed in `out`.
    static DWORD Tool(const TempDir& work, const std::wstring& arguments, std::string& out)
    {
        writeBytes(work / L"run.cmd", narrow(L"@\"" + widen(QM_TOOL_EXE) + L"\" " + arguments)
                                          + "\r\n@exit /b %errorlevel%\r\n");
        // 9009 is cmd's own answer when it could not start the exe at all:
        // once in a CI run under load, Wine's cmd could not. That is not the
        // tool's answer, so the command is given once more.
        const DWORD code = runCmdScript(work / L"run.cmd", work.Path(), out);
        return code == 9009 ? runCmdScript(work / L"run.cmd", work.Path(), out) : code;
    }

    std::wstring BackupFolder() const
    {
        const std::wstring lead = L"What the migration replaced is kept in ";
        const size_t end = backupNote.find(L". To put the 5.2.2 installation back as it was, run restore.cmd");
        const std::wstring folder = end == std::wstring::npos ? L"" : backupNote.substr(lead.size(), end - lead.size());
        return folder.rfind(ga + L"\\migration backups\\", 0) == 0 ? folder : L"";
    }

    // Confirms a migration and waits for its closing message; returns its
    // text after answering it, once the dialog reads "Ready" again.
    std::wstring Migrate(DialogHarness& ui, const std::function<void()>& duringRun = nullptr)
    {
        ui.Click(IDOK);
        HWND confirm = waitForDialogWithText(L"You are about to migrate", ui.Hwnd());
        if (!confirm)
            return L"<no confirmation>";
        PostMessageW(confirm, WM_COMMAND, IDYES, 0);
        waitUntil([&] { return !IsWindow(confirm); });
        if (duringRun) {
            waitUntil([&] { return windowText(ui.Control(IDC_STATUS)) == L"Working..."; });
            duringRun();
        }
        HWND done = nullptr;
        waitUntil([&] {
            return (done = findDialogWithText(L"The migation completed", ui.Hwnd()))
                   || (done = findDialogWithText(L"could not be migrated", ui.Hwnd()));
        }, 120000);
        if (!done)
            return L"<no closing message>";
        std::wstring text = messageBoxText(done);
        // A run that failed somewhere says on which rows, for the test's output.
        if (text.find(L"could not be migrated") != std::wstring::npos) {
            for (const auto& state : statesBySource(ui))
                if (state.second != L"Migrated")
                    fprintf(stderr, "row %s: %s\n", narrow(state.first).c_str(), narrow(state.second).c_str());
        }
        // The paragraph naming the backup folder goes apart.
        const size_t kept = text.find(L"\n\nWhat the migration replaced is kept in ");
        backupNote = kept == std::wstring::npos ? L"" : text.substr(kept + 2);
        text.resize(std::min(kept, text.size()));
        EXPECT_EQ(L"Completed", windowText(ui.Control(IDC_STATUS)));
        EXPECT_FALSE(IsWindowEnabled(ui.Control(IDC_REFRESH))) << "buttons come back only after the message";
        PostMessageW(done, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(waitUntil([&] { return windowText(ui.Control(IDC_STATUS)) == L"Ready"; }));
        EXPECT_TRUE(waitUntil([&] { return IsWindowEnabled(ui.Control(IDC_REFRESH)) != FALSE; }));
        return text;
    }

    // What lies directly in "migration backups": each run's folder ("dir"),
    // and any file left there.
    Snapshot BackupsEntries() const
    {
        const std::wstring backups = ga + L"\\migration backups";
        Snapshot all, direct;
        snapshotFiles(backups, all);
        for (const auto& entry : all)
            if (entry.first.find(L'\\', backups.size() + 1) == std::wstring::npos)
                direct.insert(entry);
        return direct;
    }

    // Once a migration or a restore has ended, nothing but the runs' folders
    // stays in "migration backups".
    std::string FilesLeftInBackups() const
    {
        std::string files;
        for (const auto& entry : BackupsEntries())
            if (entry.second != "dir")
                files += narrow(entry.first) + "\n";
        return files;
    }

    // Relative path under the 5.2.2 directory -> bytes.
    std::map<std::wstring, std::string> DestinationFiles()
    {
        std::map<std::wstring, std::string> files;
        for (const wchar_t* name : {L"recipients.rcp", L"daily.ext", L"report.xml", L"cache.dat", L"notifymissed.txt",
                                    L"notifyfailed.txt", L"web\\summary.info", L"web\\index.htm", L"zelt\\link.cfg"})
            files[name] = readBytes(ga + L"\\" + name);
        return files;
    }
};

} // namespace

int CALLBACK reverseOrder(LPARAM first, LPARAM second, LPARAM)
{
    return int(second - first);
}

TEST_F(Migration, CarriesEveryItemOverAndTheRegistrySettingsUnderTheGaKeyKeepingItsOwnPaths)
{
    // A name beyond ASCII, from the search to the copy. A file is opened by
    // its name as found: lower-cased, "Recipients.RCP" names a directory.
    writeBytes(beta + L"\\\u00c9mile.rcp", "\x90 \x82\r\n");
    makeHostDirectory(beta + L"\\recipients.rcp");
    // Destinations of the new content's size but other bytes, copied and converted.
    writeBytes(ga + L"\\report.xml", "<?XML" + templateBytes.substr(5));
    writeBytes(ga + L"\\recipients.rcp", unicodeFile(L"JOS" + wideRecipients.substr(3)));
    writeBytes(ga + L"\\cache.dat", "\xFE\xFF" + utf16le(L"select 1;\r\n")); // the text behind another mark
    // Every kind of data the registry editor writes: a string with quotes
    // and a last backslash, and hexadecimal data over several lines; the
    // export and the read-back both compare them.
    setRegString(BETA_KEY, L"Quoted", L"say \"hi\" to C:\\console_reporting\\");
    setRegString(BETA_KEY, L"Expand", L"%SystemRoot%\\console_reporting", REG_EXPAND_SZ);
    setRegString(BETA_KEY, L"Multi", std::wstring(L"one\0two\0", 8), REG_MULTI_SZ);
    std::string blob(100, '\0');
    for (size_t i = 0; i < blob.size(); ++i)
        blob[i] = char(i * 7);
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, BETA_KEY, L"Blob", REG_BINARY, blob.data(), DWORD(blob.size()));
    // A stopped run's temporary file goes; names like it but not its own stay.
    for (const wchar_t* name : { L"~qm1f2e-3.tmp", L"~qm1f2e-3.tmp.txt", L"~qmnot-hex.tmp" })
        writeBytes(ga + L"\\" + name, "left");
    TempDir scratch;
    DialogHarness ui(t_processRefresh, t_processMigrate, scratch.Path());
    const CListReader list = ui.List();
    ASSERT_EQ(11, list.RowCount());
    auto sources = [&] {
        std::vector<std::wstring> names;
        for (int row = 0; row < list.RowCount(); ++row)
            names.push_back(cellText(ui, row, 1));
        return names;
    };
    const std::vector<std::wstring> before = sources();
    bool orderKept = false;
    EXPECT_EQ(SUCCESS_MESSAGE, Migrate(ui, [&] {
                  // A header click during the run is refused; a reorder that happens all
                  // the same must not make the run skip rows or take one twice.
                  HWND header = ListView_GetHeader(list);
                  RECT column = {};
                  Header_GetItemRect(header, 1, &column);
                  const LPARAM where = MAKELPARAM(column.left + 20, (column.top + column.bottom) / 2);
                  SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, where);
                  SendMessageW(header, WM_LBUTTONUP, 0, where);
                  ui.Settle();
                  orderKept = sources() == before;
                  SendMessageW(list, LVM_SORTITEMSEX, 0, reinterpret_cast<LPARAM>(reverseOrder));
              }));
    EXPECT_TRUE(orderKept) << "sorted during the run";

    for (const auto& state : statesBySource(ui))
        EXPECT_EQ(L"Migrated", state.second) << narrow(state.first);
    EXPECT_EQ(unicodeFile(L"\u00c9 \u00e9\r\n"), readBytes(ga + L"\\\u00e9mile.rcp"));
    // Every row reads "Migrated": a file taken twice would show as one copy too many.
    const std::wstring trace = fromUtf16le(readBytes(scratch / L"trace_quarnrept_migrate.txt"));
    // Programs by full path, in the system directory.
    std::wstring exportCommand = regeditCommandLine(L"/e \"" + ga + L"\\migration backups\\");
    exportCommand.pop_back();
    EXPECT_NE(std::wstring::npos, trace.find(L"Issuing: " + exportCommand));
    size_t copies = 0;
    for (size_t at = trace.find(L": copying "); at != std::wstring::npos; at = trace.find(L": copying ", at + 1))
        ++copies;
    EXPECT_EQ(10u, copies);

    std::map<std::wstring, std::string> files = DestinationFiles();
    EXPECT_EQ(unicodeFile(wideRecipients), files[L"recipients.rcp"]);
    EXPECT_EQ(unicodeFile(L"ext \u00e9\r\n"), files[L"daily.ext"]);
    EXPECT_EQ(templateBytes, files[L"report.xml"]) << "templates are copied byte for byte";
    EXPECT_EQ(unicodeFile(L"select 1;\r\n"), files[L"cache.dat"]);
    EXPECT_EQ(unicodeFile(L"missed\r\n"), files[L"notifymissed.txt"]);
    EXPECT_EQ("\xFF\xFE", files[L"notifyfailed.txt"]);
    EXPECT_EQ(unicodeFile(L"info \u00e9\r\n"), files[L"web\\summary.info"]);
    EXPECT_EQ(unicodeFile(L"<html>\u00e9</html>\r\n"), files[L"web\\index.htm"]);
    EXPECT_EQ(zeltBytes, files[L"zelt\\link.cfg"]) << "Zelt files are copied byte for byte";
    EXPECT_FALSE(fileExists(ga + L"\\~qm1f2e-3.tmp"));
    EXPECT_TRUE(fileExists(ga + L"\\~qm1f2e-3.tmp.txt") && fileExists(ga + L"\\~qmnot-hex.tmp"));
    // The beta files are left as they were.
    EXPECT_EQ(oemRecipients, readBytes(beta + L"\\Recipients.RCP"));

    // The beta settings arrive under the GA key, renamed in names and data,
    // except for the GA key's own locations.
    EXPECT_EQ(ga, regString(GA_KEY, L"Path"));
    EXPECT_EQ(gaWeb, regString(GA_KEY, L"WebSiteLocalPath"));
    EXPECT_EQ(renamed + L"\\reports", regString(GA_KEY, L"ReportDir"));
    EXPECT_EQ(L"\\\\server\\console\\out", regString(GA_KEY + std::wstring(L"\\Schedules\\Daily"), L"Target"));
    EXPECT_EQ(L"kept", regString(GA_KEY, L"GaOnly"));
    DWORD retention = 0;
    DWORD size = sizeof retention;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, GA_KEY, L"Retention", RRF_RT_REG_DWORD, nullptr,
                                          &retention, &size));
    EXPECT_EQ(30u, retention);
    EXPECT_EQ(L"say \"hi\" to C:\\console\\", regString(GA_KEY, L"Quoted"));
    // The beta key is untouched, and the registration file stays behind.
    EXPECT_EQ(beta, regString(BETA_KEY, L"Path"));
    EXPECT_EQ(L"\\\\server\\Console_Reporting\\out", regString(BETA_KEY + std::wstring(L"\\Schedules\\Daily"), L"Target"));
    const std::string reg = readBytes(beta + L"\\quarnrept_mig.reg");
    EXPECT_EQ("\xFF\xFE", reg.substr(0, 2));
    EXPECT_EQ(std::wstring::npos, fromUtf16le(reg).find(L"onsole_reporting"));
}

TEST_F(Migration, OnlyTickedRowsMoveARepeatChangesNothingAndASharedWebSiteIsConvertedOnce)
{
    // Both installations name the same web site: its pages are converted in place.
    setRegString(GA_KEY, L"WebSiteLocalPath", betaWeb);
    DialogHarness ui(t_processRefresh, t_processMigrate);
    const CListReader list = ui.List();
    const int zelt = list.RowCount() - 1;
    ASSERT_EQ(L"link.cfg", cellText(ui, zelt, 1));
    ASSERT_EQ(L"report.xml", cellText(ui, 3, 1));
    list.SetChecked(3, false);

    // Ticks count when the worker reaches a row: the last one is unticked on the way.
    EXPECT_EQ(SUCCESS_MESSAGE, Migrate(ui, [&] { list.SetChecked(zelt, false); }));
    std::map<std::wstring, std::wstring> states = statesBySource(ui);
    EXPECT_EQ(L"Not Started", states[L"report.xml"]);
    EXPECT_EQ(L"Not Started", states[L"link.cfg"]);
    EXPECT_EQ(L"Migrated", states[L"daily.ext"]);
    EXPECT_FALSE(fileExists(ga + L"\\report.xml"));
    EXPECT_FALSE(fileExists(ga + L"\\zelt\\link.cfg"));
    EXPECT_EQ(unicodeFile(L"info \u00e9\r\n"), readBytes(betaWeb + L"\\summary.info"));

    ui.Click(IDC_SELECT_ALL);
    ASSERT_TRUE(waitUntil([&] { return list.IsChecked(3) && list.IsChecked(zelt); }));
    EXPECT_EQ(SUCCESS_MESSAGE, Migrate(ui));
    const std::map<std::wstring, std::string> second = DestinationFiles();
    const std::wstring reportDir = regString(GA_KEY, L"ReportDir");

    EXPECT_EQ(SUCCESS_MESSAGE, Migrate(ui));
    EXPECT_EQ(L"", backupNote) << "a run that changed nothing keeps nothing";
    EXPECT_EQ(second, DestinationFiles());
    EXPECT_EQ(unicodeFile(L"info \u00e9\r\n"), readBytes(betaWeb + L"\\summary.info")) << "not converted twice";
    EXPECT_EQ(unicodeFile(L"<html>\u00e9</html>\r\n"), readBytes(betaWeb + L"\\index.htm"));
    EXPECT_EQ(reportDir, regString(GA_KEY, L"ReportDir"));
    for (const auto& state : statesBySource(ui))
        EXPECT_EQ(L"Migrated", state.second) << narrow(state.first);
}

TEST_F(Migration, EachFailureShowsOnItsRowAndTheRestGoesOn)
{
    CRecordingView view;
    t_processRefresh(&view);
    // After the refresh, the world changes under the list.
    DeleteFileW((beta + L"\\daily.ext").c_str());                      // source gone
    writeBytes(beta + L"\\cache.dat", std::string("a\0b", 3));         // not OEM text
    removeTree(ga + L"\\zelt");                                        // destination directory gone
    writeBytes(ga + L"\\notifymissed.txt", "old");                     // read-only destination
    SetFileAttributesW((ga + L"\\notifymissed.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    writeBytes(gaWeb + L"\\index.htm", "old page");                     // destination held open
    HANDLE locked = CreateFileW((gaWeb + L"\\index.htm").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, locked);
    // A value the import does not change, its data of the new data's length.
    const std::wstring oldReportDir = renamed + L"\\REPORTS";
    setRegString(GA_KEY, L"ReportDir", oldReportDir);
    denyRegAccess(GA_KEY, KEY_SET_VALUE | KEY_CREATE_SUB_KEY); // regedit imports nothing, exits 0

    const std::wstring message = migrateAll(view);
    CloseHandle(locked);
    EXPECT_EQ(0u, message.find(L"warning: The migration finished, but 6 of 10 items could not be migrated."))
        << narrow(message);

    std::map<std::wstring, std::wstring> states = statesBySource(view);
    for (const wchar_t* failed :
         {L"daily.ext", L"cache.dat", L"link.cfg", L"notifymissed.txt", L"index.htm", L"console_reporting"})
        EXPECT_EQ(0u, states[failed].find(L"Failed: ")) << narrow(failed) << ": " << narrow(states[failed]);
    EXPECT_NE(std::wstring::npos, states[L"cache.dat"].find(L"not OEM text"));
    EXPECT_NE(
        std::wstring::npos,
        states[L"console_reporting"].find(
            L"\"ReportDir\" under HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console holds other data"))
        << narrow(states[L"console_reporting"]);
    // Each reason names the file and the system's own words.
    EXPECT_EQ(L"Failed: cannot read " + beta + L"\\daily.ext: " + systemErrorText(ERROR_FILE_NOT_FOUND),
              states[L"daily.ext"]);
    EXPECT_EQ(L"Failed: cannot write " + ga + L"\\notifymissed.txt: " + systemErrorText(ERROR_ACCESS_DENIED),
              states[L"notifymissed.txt"]);
    for (const wchar_t* migrated : {L"recipients.rcp", L"report.xml", L"notifyfailed.txt", L"summary.info"})
        EXPECT_EQ(L"Migrated", states[migrated]) << narrow(migrated);

    // Nothing that failed lost anything.
    EXPECT_EQ("old", readBytes(ga + L"\\notifymissed.txt"));
    EXPECT_EQ("old page", readBytes(gaWeb + L"\\index.htm"));
    EXPECT_FALSE(fileExists(ga + L"\\cache.dat"));
    EXPECT_EQ(unicodeFile(wideRecipients), readBytes(ga + L"\\recipients.rcp"));
    EXPECT_EQ(L"kept", regString(GA_KEY, L"GaOnly"));
    EXPECT_EQ(oldReportDir, regString(GA_KEY, L"ReportDir"));
    SetFileAttributesW((ga + L"\\notifymissed.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

    // A source of 4 GiB is refused by its size, before anything is read or written.
    HANDLE huge = CreateFileW((beta + L"\\huge.rcp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    LARGE_INTEGER size { { 0, 1 } }; // 4 GiB, sparse
    EXPECT_TRUE(SetFilePointerEx(huge, size, nullptr, FILE_BEGIN) && SetEndOfFile(huge));
    CloseHandle(huge);
    MigrationItem item;
    item.sourceRoot = beta;
    item.destinationRoot = ga;
    item.kind = ITEM_RECIPIENTS;
    std::wstring reason;
    EXPECT_FALSE(migrateFileItem(item, L"huge.rcp", L"huge.rcp", reason));
    EXPECT_EQ(L"cannot read " + beta + L"\\huge.rcp: The file is 4096 MiB; this tool carries over files smaller than "
              L"4 GiB only.", reason);
    EXPECT_FALSE(fileExists(ga + L"\\huge.rcp"));
    DeleteFileW((beta + L"\\huge.rcp").c_str());
    // Without a 5.2.2 directory nothing is written, least of all at the drive's root.
    item.destinationRoot.clear();
    EXPECT_FALSE(migrateFileItem(item, L"Recipients.RCP", L"qm-nowhere.rcp", reason));
    EXPECT_NE(std::wstring::npos, reason.find(L", so qm-nowhere.rcp has nowhere to go")) << narrow(reason);
    EXPECT_FALSE(DeleteFileW(L"\\qm-nowhere.rcp")) << "written at the root";
}

TEST_F(Migration, ARegistryTransferThatFailsSaysWhatFailedAndImportsNothing)
{
    const std::wstring gaKey = L"HKEY_LOCAL_MACHINE\\" + std::wstring(GA_KEY);
    const SYSTEMTIME start { 2026, 12, 2, 8, 9, 1, 2, 0 };
    auto expectFailure = [&](const std::wstring& directory, const std::wstring& because) {
        std::wstring reason;
        CMigrationBackup backup(ga, start);
        EXPECT_FALSE(migrateRegistrySettings(directory, backup, reason)) << narrow(because);
        EXPECT_NE(std::wstring::npos, reason.find(because)) << narrow(reason);
        EXPECT_EQ(L"<missing>", regString(GA_KEY, L"ReportDir")) << narrow(because);
        EXPECT_FALSE(fileExists(backup.Folder() + L"\\quarnrept_mig.reg")) << "the work file stays behind";
    };
    expectFailure(beta + L"\\gone", L"the beta directory " + beta + L"\\gone does not exist");

    // Libraries that cannot be used, or through which a step fails.
    const std::wstring notLoaded = L"\\exec_dll.dll could not be loaded (";
    std::vector<std::pair<const char*, std::wstring>> libraries = {
        { nullptr, notLoaded },
        { QM_EXEC_DLL_NOENTRY, L"lacks execGetEntryPoints" },
        { QM_EXEC_DLL_NULLSLOT, L"lacks an entry point or reports itself unusable" },
        { QM_EXEC_DLL_IMPORT_EXITS, L"regedit exited with status 1 while importing " },
        { QM_EXEC_DLL_IMPORT_REFUSED, L"quarnrept_mig.reg (its error 6: " },
        { QM_EXEC_DLL_EXPORT_READ_ONLY, L"could not be rewritten" },
        // An export that lacks a value of the beta key is not imported.
        { QM_EXEC_DLL_EXPORT_DROPS_VALUE, L" is not whole: 1 of its 9 values and keys are missing or differ, the first: "
                                          L"the value \"Target\" under HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda"
                                          L"\\CurrentVersion\\console_reporting\\Schedules\\Daily is missing" },
    };
#ifdef QM_EXEC_DLL_FOREIGN
    // The console's own library is 32-bit: a 64-bit build must say why it cannot use it.
    libraries.insert(libraries.begin(),
                     { QM_EXEC_DLL_FOREIGN, notLoaded + systemErrorText(ERROR_BAD_EXE_FORMAT, L"the library") + L")" });
#endif
    for (const auto& c : libraries) {
        UseLibrary(c.first);
        expectFailure(beta, c.second);
    }

    // An editor that stops after the file's first key, into a 5.2.2 key that
    // holds that key's values already as this run writes them: the subkeys
    // are what tells.
    setRegString(GA_KEY, L"ReportDir", renamed + L"\\reports");
    setRegDword(GA_KEY, L"Retention", 30);
    UseLibrary(QM_EXEC_DLL_IMPORT_FIRST_SECTION);
    std::wstring partial;
    CMigrationBackup firstOnly(ga, start);
    EXPECT_FALSE(migrateRegistrySettings(beta, firstOnly, partial));
    EXPECT_NE(std::wstring::npos, partial.find(L"did not arrive whole: 4 of its 7 values and keys are missing or differ "
                                               L"under " + gaKey + L", the first: the key " + gaKey
                                               + L"\\Schedules is missing")) << narrow(partial);
    deleteRegValue(GA_KEY, L"ReportDir");
    UseLibrary(QM_EXEC_DLL);

    // A registration file an earlier run left in the beta directory is never
    // what gets imported.
    const std::wstring betaKey
        = L"the beta key HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\console_reporting";
    writeBytes(beta + L"\\quarnrept_mig.reg",
               unicodeFile(L"Windows Registry Editor Version 5.00\r\n\r\n"
                           L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console]\r\n"
                           L"\"ReportDir\"=\"stale\"\r\n"));
    denyRegAccess(BETA_KEY, KEY_QUERY_VALUE);
    expectFailure(beta, betaKey + L" cannot be read (" + systemErrorText(ERROR_ACCESS_DENIED) + L")");
    denyRegAccess(BETA_KEY, 0);
    denyRegAccess(BETA_KEY + std::wstring(L"\\Schedules"), KEY_ENUMERATE_SUB_KEYS);
    expectFailure(beta, L"the key HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\console_reporting\\Schedules "
                        L"of the beta key cannot be read");
    denyRegAccess(BETA_KEY + std::wstring(L"\\Schedules"), 0);
    // Nothing is imported over a 5.2.2 key that could not be kept first.
    const std::wstring locked = GA_KEY + std::wstring(L"\\Locked");
    setRegString(locked, L"Secret", L"kept");
    denyRegAccess(locked, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS);
    expectFailure(beta, L"cannot back up " + gaKey + L": the key " + gaKey + L"\\Locked cannot be read");
    denyRegAccess(locked, 0);
    deleteRegTree(locked);
    deleteRegTree(BETA_KEY);
    expectFailure(beta, betaKey + L" does not exist");

    setRegString(BETA_KEY, L"Path", beta);
    // Without a full path of an existing console directory nothing of the
    // console is loaded, least of all from the current directory, and
    // nothing is kept at the root of the current drive.
    setRegString(GA_KEY, L"Path", L"");
    TempDir current;
    ASSERT_TRUE(CopyFileW(widen(QM_EXEC_DLL).c_str(), (current / L"exec_dll.dll").c_str(), FALSE));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(current.Path().c_str());
    std::wstring reason;
    CMigrationBackup nowhere(L"", start);
    EXPECT_FALSE(migrateRegistrySettings(beta, nowhere, reason));
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(0u, reason.find(CONSOLE_DIRECTORY_UNKNOWN)) << narrow(reason);
    EXPECT_EQ(nullptr, GetModuleHandleW((current / L"exec_dll.dll").c_str()));
    EXPECT_FALSE(fileExists(current.Path().substr(0, 3) + L"migration backups"));
}

// Whether the access list of `path` lets anyone but SYSTEM, Administrators
// and the account running the test in (Wine keeps no list on folders, but
// builds one from the Unix mode it made of the list it was given).
bool othersMayEnter(const std::wstring& path)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return true;
    bool others = !dacl;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE)
            others = others || !backupOwnerTrusted(&ace->SidStart);
    }
    LocalFree(descriptor);
    return others;
}

TEST_F(Migration, NothingThatOtherAccountsPlantedIsRunLoadedOrFollowed)
{
    // Programs where a search would find them first: the beta directory (once
    // the editor's working directory) and the current directory.
    const std::wstring current = root / L"current", elsewhere = root / L"elsewhere";
    makeDirs(current);
    for (const std::wstring& planted : { beta + L"\\regedit.exe", beta + L"\\regedit.com", current + L"\\cmd.exe" })
        ASSERT_TRUE(CopyFileW(widen(QM_PLANTED_PROGRAM).c_str(), planted.c_str(), FALSE));
    writeBytes(beta + L"\\regedit.bat", "@echo ran> \"%~f0.ran\"\r\n");
    // Links where the tool writes or reads: the Zelt directory of the 5.2.2
    // installation, a beta file, and the trace file.
    makeDirs(elsewhere + L"\\zelt target");
    writeBytes(elsewhere + L"\\secret.txt", "only administrators may read this");
    writeBytes(elsewhere + L"\\trace target.txt", "keep me");
    ScopedLink zelt(ga + L"\\zelt", elsewhere + L"\\zelt target");
    ScopedLink source(beta + L"\\secret.rcp", elsewhere + L"\\secret.txt");
    ScopedLink trace(current + L"\\trace_quarnrept_migrate.txt", elsewhere + L"\\trace target.txt");
    ASSERT_TRUE(zelt.Made() && source.Made() && trace.Made());
    // As the tool runs: neither the current directory nor PATH is searched
    // for libraries, and the console's library needs another of its directory.
    searchLibrariesInSystem32Only();
    UseLibrary(QM_EXEC_DLL_NEEDS_SIBLING);
    ASSERT_TRUE(CopyFileW(widen(QM_EXEC_SIBLING).c_str(), (ga + L"\\exec_sibling.dll").c_str(), FALSE));

    DialogHarness ui(t_processRefresh, t_processMigrate, current);
    const std::wstring message = Migrate(ui);
    std::map<std::wstring, std::wstring> states = statesBySource(ui);
    EXPECT_NE(std::wstring::npos, message.find(L"2 of 11 items could not be migrated")) << narrow(message);
    EXPECT_EQ(L"Migrated", states[L"console_reporting"]);
    EXPECT_EQ(renamed + L"\\reports", regString(GA_KEY, L"ReportDir"));
    EXPECT_EQ(L"Failed: " + linkRefusal(ga + L"\\zelt"), states[L"link.cfg"]);
    EXPECT_EQ(L"Failed: " + linkRefusal(beta + L"\\secret.rcp"), states[L"secret.rcp"]);
    Snapshot planted;
    snapshotFiles(root.Path(), planted);
    for (const auto& entry : planted)
        EXPECT_EQ(std::wstring::npos, entry.first.find(L".ran")) << narrow(entry.first) << " ran";
    EXPECT_TRUE(readBytes(elsewhere + L"\\trace target.txt") == "keep me") << "the trace wrote through its link";
    EXPECT_FALSE(fileExists(elsewhere + L"\\zelt target\\link.cfg"));
    EXPECT_FALSE(fileExists(ga + L"\\secret.rcp"));

    // The run's backup folder was made for SYSTEM and Administrators alone.
    const std::wstring folder = BackupFolder();
    ASSERT_NE(L"", folder) << narrow(backupNote);
    EXPECT_FALSE(othersMayEnter(folder));
    EXPECT_FALSE(othersMayEnter(ga + L"\\migration backups"));
}

TEST(RegistryRename, RenamesTheWordInAnyCaseAndKeepsOnlyTheGaKeysOwnLocations)
{
    // The word is renamed wherever it stands, whatever its case, and nothing else.
    EXPECT_EQ(L"console myconsoles console-reporting console_reportin end: console",
              renameConsoleReporting(
                  L"CONSOLE_REPORTING myconsole_reportings console-reporting console_reportin end: console_Reporting"));

    // Only Path and WebSiteLocalPath of the 5.2.2 key itself are left out of
    // the import, with the lines that continue them.
    const std::wstring key = L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\console";
    const std::wstring kept = L"\"PathExtra\"=\"kept\"\r\n\r\n" + key + L"\\Sub]\r\n\"Path\"=\"sub path kept\"\r\n";
    const std::wstring held = L"\"path\"=\"C:\\\\quarn\"\r\n\"WebSiteLocalPath\"=hex(2):43,00,\\\r\n  5c,00,00,00\r\n";
    EXPECT_EQ(narrow(key + L"]\r\n" + kept), narrow(keepGaInstallValues(key + L"]\r\n" + held + kept)));
    EXPECT_EQ(L"no sections\r\n\"Path\"=\"x\"", keepGaInstallValues(L"no sections\r\n\"Path\"=\"x\""));
}

TEST_F(Migration, RestoreCmdPutsBackWhatARunReplacedAndEachRunKeepsABackupOfItsOwn)
{
    // 5.2.2 files and values of its own that the run replaces.
    makeDirs(ga + L"\\zelt");
    writeBytes(ga + L"\\recipients.rcp", "ga recipients\r\n");
    writeBytes(gaWeb + L"\\index.htm", "<html>ga</html>");
    writeBytes(ga + L"\\zelt\\link.cfg", std::string("GA\0zelt", 7));
    setRegString(GA_KEY, L"ReportDir", L"ga reports");
    setRegDword(GA_KEY, L"Retention", 7);
    setRegString(GA_KEY + std::wstring(L"\\Schedules\\Daily"), L"Target", L"ga target");
    // A subkey that holds a secret, readable by administrators alone.
    setRegAccess(GA_KEY + std::wstring(L"\\Schedules\\Daily"), L"D:P(A;CI;KA;;;BA)(A;CI;KA;;;SY)");
    // What the import adds: a key, a value with a name cmd takes apart unless
    // quoted right, and a default value of a key that was there.
    setRegString(BETA_KEY + std::wstring(L"\\Schedules\\Weekly"), L"Target", L"weekly");
    setRegString(BETA_KEY, L"odd & (name) ^ !", L"odd");
    // Names only the registry API carries whole: a quote, a percent sign,
    // a backslash at the end (one of the keys Wine's own editor tests import).
    setRegString(BETA_KEY + std::wstring(L"\\Subkey\"1"), L"100%", L"quoted");
    setRegString(BETA_KEY, L"ends\\", L"x");
    setRegString(BETA_KEY + std::wstring(L"\\Schedules\\Daily"), L"", L"default");
    auto snapshot = [&] {
        Snapshot all;
        snapshotFiles(ga, all, L"migration backups");
        snapshotKey(GA_KEY, all);
        return all;
    };
    const Snapshot before = snapshot();
    DialogHarness ui(t_processRefresh, t_processMigrate);
    EXPECT_EQ(SUCCESS_MESSAGE, Migrate(ui));
    const std::wstring first = BackupFolder();
    ASSERT_NE(L"", first) << narrow(backupNote);
    ASSERT_NE(before, snapshot()) << "the run replaced nothing";
    EXPECT_EQ(L"quoted", regString(GA_KEY + std::wstring(L"\\Subkey\"1"), L"100%"));
    EXPECT_EQ(L"x", regString(GA_KEY, L"ends\\"));
    std::string output;
    EXPECT_EQ(0u, runCmdScript(first + L"\\restore.cmd", root.Path(), output)) << output;
    EXPECT_EQ("", snapshotDifference(before, snapshot())) << output;
    EXPECT_EQ("", FilesLeftInBackups());

    Snapshot kept;
    snapshotFiles(first, kept);
    EXPECT_EQ(SUCCESS_MESSAGE, Migrate(ui));
    const std::wstring second = BackupFolder();
    EXPECT_TRUE(second != first && fileExists(second + L"\\restore.cmd")) << narrow(backupNote);
    Snapshot keptAfter;
    snapshotFiles(first, keptAfter);
    EXPECT_EQ("", snapshotDifference(kept, keptAfter)) << "the second run touched the first backup";

    // Stopped during the import (no record of its end), a run leaves a
    // backup that puts the key back all the same: by difference.
    const std::wstring list = second + L"\\restore.lst";
    std::string lines = readBytes(list), cut;
    for (size_t at = 0, end; at < lines.size(); at = end) {
        end = lines.find('\n', at) + 1;
        const std::string entry = lines.substr(at, end - at);
        if (entry.rfind("imported", 0) != 0)
            cut += entry;
    }
    ASSERT_NE(lines, cut);
    writeBytes(list, cut);
    EXPECT_EQ(0u, runCmdScript(second + L"\\restore.cmd", root.Path(), output)) << output;
    EXPECT_EQ("", snapshotDifference(before, snapshot())) << output;
    // Without Console.reg the key is left as it is, and the restore says so.
    ASSERT_TRUE(Migrate(ui) == SUCCESS_MESSAGE && DeleteFileW((BackupFolder() + L"\\Console.reg").c_str()));
    EXPECT_EQ(1u, runCmdScript(BackupFolder() + L"\\restore.cmd", root.Path(), output)) << output;
    EXPECT_NE(std::string::npos, output.find("\\Console.reg\" cannot be read")) << output;
    EXPECT_EQ(renamed + L"\\reports", regString(GA_KEY, L"ReportDir"));
}

// Stopped at any point, a run leaves an installation that its restore puts
// back exactly. A restore that meets a folder made a link since changes
// nothing behind it, says so and fails, and the rest goes on.
TEST_F(Migration, ARunStoppedAnywhereIsRestoredExactlyAndARestoreFollowsNoLink)
{
    makeDirs(ga + L"\\zelt");
    for (int i = 0; i < 60; ++i) {
        const std::wstring name = L"\\zelt\\z" + std::to_wstring(i) + L".cfg";
        writeBytes(beta + name, "beta " + std::to_string(i));
        if (i % 2)
            writeBytes(ga + name, "ga " + std::to_string(i));
    }
    writeBytes(ga + L"\\recipients.rcp", "ga recipients\r\n");
    setRegString(GA_KEY, L"ReportDir", L"ga reports");
    auto snapshot = [&] {
        Snapshot all;
        snapshotFiles(ga, all, L"migration backups");
        snapshotKey(GA_KEY, all);
        return all;
    };
    // The backup folder a run made: the one not there before it.
    auto backupMade = [&](const Snapshot& earlier) {
        for (const auto& entry : BackupsEntries())
            if (entry.second == "dir" && !earlier.count(entry.first))
                return entry.first;
        return std::wstring();
    };
    const Snapshot before = snapshot();
    TempDir work;
    writeBytes(work / L"run.cmd", "@\"" + std::string(QM_TOOL_EXE) + "\" /migrate\r\n@exit /b %errorlevel%\r\n");
    std::string out;
    std::wstring folder;
    for (DWORD stopAfter : { 300u, 450u, 600u, 750u, 900u, 1100u, 0u }) {
        const Snapshot earlier = BackupsEntries();
        const DWORD code = runCmdScript(work / L"run.cmd", work.Path(), out, stopAfter);
        folder = backupMade(earlier);
        if (stopAfter == 0) {
            ASSERT_EQ(0u, code) << out;
            break;
        }
        // Stopped before its restore.cmd was written, a run has replaced
        // nothing yet.
        if (folder.empty() || !fileExists(folder + L"\\restore.cmd")) {
            EXPECT_EQ("", snapshotDifference(before, snapshot())) << "changed without a restore.cmd";
            continue;
        }
        EXPECT_EQ(0u, runCmdScript(folder + L"\\restore.cmd", work.Path(), out))
            << "stopped after " << stopAfter << " ms (exit " << code << "):\n" << out;
        EXPECT_EQ("", snapshotDifference(before, snapshot())) << "stopped after " << stopAfter << " ms:\n" << out;
    }

    // Another account makes the Zelt folder a link to a folder of its own,
    // which holds files of the names the restore would write and remove.
    ASSERT_NE(L"", folder);
    TempDir elsewhere;
    for (int i = 0; i < 60; ++i)
        writeBytes(elsewhere / (L"z" + std::to_wstring(i) + L".cfg"), "theirs");
    Snapshot theirs, theirsAfter;
    snapshotFiles(elsewhere.Path(), theirs);
    ASSERT_TRUE(MoveFileW((ga + L"\\zelt").c_str(), (ga + L"\\zelt moved").c_str()));
    {
        ScopedLink link(ga + L"\\zelt", elsewhere.Path());
        ASSERT_TRUE(link.Made());
        EXPECT_EQ(1u, runCmdScript(folder + L"\\restore.cmd", work.Path(), out)) << out;
        snapshotFiles(elsewhere.Path(), theirsAfter);
        EXPECT_EQ("", snapshotDifference(theirs, theirsAfter)) << out;
        EXPECT_NE(std::string::npos, out.find("\" was not restored: " + narrow(linkRefusal(ga + L"\\zelt")))) << out;
        EXPECT_NE(std::string::npos, out.find("Restore FAILED")) << out;
        EXPECT_EQ("ga recipients\r\n", readBytes(ga + L"\\recipients.rcp")) << out;
        EXPECT_EQ(L"ga reports", regString(GA_KEY, L"ReportDir"));
    }
    ASSERT_TRUE(MoveFileW((ga + L"\\zelt moved").c_str(), (ga + L"\\zelt").c_str()));
    EXPECT_EQ(0u, runCmdScript(folder + L"\\restore.cmd", work.Path(), out)) << out;
    EXPECT_EQ("", snapshotDifference(before, snapshot())) << out;
}

// The number of the file `path` names, which a replacement changes.
static ULONGLONG fileIdOf(const std::wstring& path)
{
    CFileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    return file.IsValid() && GetFileInformationByHandle(file.Get(), &information)
        ? (ULONGLONG(information.nFileIndexHigh) << 32) | information.nFileIndexLow
        : 0;
}

// OEM text converted at once, as the whole file would be.
static std::string convertedWhole(const std::string& oem)
{
    std::wstring units(oem.size(), L'\0');
    units.resize(size_t(MultiByteToWideChar(CP_OEMCP, 0, oem.data(), int(oem.size()), &units[0], int(units.size()))));
    return "\xFF\xFE" + utf16le(units);
}

// A recipient list of three blocks, a CR LF pair and OEM bytes above 127
// across the blocks' boundaries: it converts as the whole text would, a
// repeat finds it there already, a difference in its last byte is found, and
// a zero byte in its last block refuses it and keeps the old destination.
TEST_F(Migration, AFileOfSeveralBlocksConvertsComparesAndIsRefusedAsAWhole)
{
    const std::string line = "Jos\x82 M\x81ller;jose@example.com;\xC9\xCD\xBB\r\n";
    std::string bytes;
    while (bytes.size() < 2 * SOURCE_BLOCK + 3)
        bytes += line;
    bytes.resize(2 * SOURCE_BLOCK + 3);
    bytes.replace(SOURCE_BLOCK - 1, 2, "\r\n");
    bytes.replace(2 * SOURCE_BLOCK - 1, 2, "\x82\x81");
    writeBytes(beta + L"\\big.rcp", bytes);
    const std::wstring destination = ga + L"\\big.rcp";
    const std::string expected = convertedWhole(bytes);
    MigrationItem item;
    item.sourceRoot = beta;
    item.destinationRoot = ga;
    item.kind = ITEM_RECIPIENTS;
    std::wstring reason;
    auto migrate = [&] { return migrateFileItem(item, L"big.rcp", L"big.rcp", reason); };
    ASSERT_TRUE(migrate()) << narrow(reason);
    EXPECT_TRUE(readBytes(destination) == expected);

    const ULONGLONG first = fileIdOf(destination);
    ASSERT_TRUE(migrate()) << narrow(reason);
    EXPECT_EQ(first, fileIdOf(destination)) << "a destination that holds the text already was replaced";
    std::string changed = expected;
    changed.back() ^= 1;
    writeBytes(destination, changed);
    const ULONGLONG before = fileIdOf(destination);
    ASSERT_TRUE(migrate()) << narrow(reason);
    EXPECT_NE(before, fileIdOf(destination)) << "a difference in the last byte was not seen";
    EXPECT_TRUE(readBytes(destination) == expected);

    bytes.back() = '\0';
    writeBytes(beta + L"\\big.rcp", bytes);
    writeBytes(destination, "old");
    EXPECT_FALSE(migrate());
    EXPECT_EQ(beta + L"\\big.rcp is not OEM text (it holds zero bytes); nothing was written", reason);
    EXPECT_EQ("old", readBytes(destination));
    DeleteFileW(destination.c_str()); // a new destination is looked at as it is written
    EXPECT_FALSE(migrate());
    EXPECT_EQ(beta + L"\\big.rcp is not OEM text (it holds zero bytes); nothing was written", reason);
    EXPECT_FALSE(fileExists(destination));
    Snapshot left;
    snapshotFiles(ga, left);
    for (const auto& entry : left)
        EXPECT_EQ(std::wstring::npos, entry.first.find(L"~qm")) << narrow(entry.first);
}

// A file larger than the 32-bit tool could hold in memory migrates, and
// reads back right, a block at a time.
TEST_F(Migration, AFileOfOneAndAHalfGiBMigratesAndReadsBackRight)
{
    constexpr DWORD BLOCK = 1u << 20;
    constexpr unsigned BLOCKS = 1536;
    std::string block;
    while (block.size() < BLOCK)
        block += "Quarterly report \x82t\x82 \x84 \x94 | col1 | 12345.67 | \xB0\xB1\xB2 totals\r\n";
    block.resize(BLOCK);
    const std::wstring source = beta + L"\\huge.rcp", destination = ga + L"\\huge.rcp";
    {
        CFileHandle file(CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        DWORD written = 0;
        for (unsigned i = 0; i < BLOCKS; ++i)
            ASSERT_TRUE(WriteFile(file.Get(), block.data(), BLOCK, &written, nullptr) && written == BLOCK);
    }
    MigrationItem item;
    item.sourceRoot = beta;
    item.destinationRoot = ga;
    item.kind = ITEM_RECIPIENTS;
    std::wstring reason;
    const bool migrated = migrateFileItem(item, L"huge.rcp", L"huge.rcp", reason);
    DeleteFileW(source.c_str());
    ASSERT_TRUE(migrated) << narrow(reason);

    const std::string units = convertedWhole(block).substr(2);
    CFileHandle file(CreateFileW(destination.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string read(units.size(), '\0');
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(file.Get(), &read[0], 2, &got, nullptr) && read.compare(0, 2, "\xFF\xFE") == 0);
    unsigned same = 0;
    for (unsigned i = 0; i < BLOCKS; ++i)
        same += ReadFile(file.Get(), &read[0], DWORD(read.size()), &got, nullptr) && got == read.size() && read == units;
    EXPECT_EQ(BLOCKS, same);
    EXPECT_TRUE(ReadFile(file.Get(), &read[0], 1, &got, nullptr) && got == 0) << "the copy runs on";
    file.Close();
    DeleteFileW(destination.c_str());
}

TEST_F(Migration, WhereNoBackupCanBeKeptNothingIsReplaced)
{
    writeBytes(ga + L"\\recipients.rcp", "ga recipients\r\n");
    setRegString(GA_KEY, L"ReportDir", L"ga reports");
    // A "migration backups" that someone made a link is not used.
    TempDir elsewhere;
    ScopedLink backups(ga + L"\\migration backups", elsewhere.Path());
    ASSERT_TRUE(backups.Made());
    DialogHarness ui(t_processRefresh, t_processMigrate); // (the refresh makes the Zelt directory)
    Snapshot before, after;
    snapshotFiles(ga, before);
    snapshotKey(GA_KEY, before);

    const std::wstring message = Migrate(ui);
    EXPECT_NE(std::wstring::npos, message.find(L"10 of 10 items could not be migrated")) << narrow(message);
    EXPECT_EQ(L"", backupNote);
    for (const auto& state : statesBySource(ui))
        EXPECT_EQ(0u, state.second.find(L"Failed: the backup folder " + ga + L"\\migration backups is a link"))
            << narrow(state.first) << ": " << narrow(state.second);
    snapshotFiles(ga, after);
    snapshotKey(GA_KEY, after);
    // (The snapshots go through the link: nothing reached its target.)
    EXPECT_EQ("", snapshotDifference(before, after));
}

// The tool's exe without a window, through cmd as a script would run it.
TEST_F(Migration, AnUnattendedRunListsOrMigratesWithoutAWindowAndSaysHowItEnded)
{
    TempDir work; // the current directory: run.cmd, the trace and the reports
    std::string out;
    auto tool = [&](const std::wstring& arguments) { return Tool(work, arguments, out); };
    auto report = [&](const wchar_t* name) { return readBytes(work / name); };
    for (const wchar_t* wrong : { L"/lsit", L"/list /list", L"/list /migrate", L"/migrate /only:Nothing",
                                  L"/list /only:Zelt", L"/report:r.csv", L"/migrate /report" }) {
        EXPECT_EQ(3u, tool(wrong)) << narrow(wrong);
        EXPECT_NE(std::string::npos, out.find("Usage:")) << narrow(wrong) << ": " << out;
    }

    // /list changes nothing: no 5.2.2 zelt directory, no backup, no key.
    Snapshot filesBefore, filesAfter, keysBefore, keysAfter;
    snapshotFiles(root.Path(), filesBefore);
    snapshotKey(NORVALE_KEY, keysBefore);
    EXPECT_EQ(0u, tool(L"/LIST /report:list.csv")) << out;
    snapshotFiles(root.Path(), filesAfter);
    snapshotKey(NORVALE_KEY, keysAfter);
    EXPECT_EQ("", snapshotDifference(filesBefore, filesAfter));
    EXPECT_EQ("", snapshotDifference(keysBefore, keysAfter));
    const std::string list = report(L"list.csv");
    EXPECT_EQ(0u, list.find("\xEF\xBB\xBF" "Description,Source,Conversion,Destination,Source Folder,Destination "
                            "Folder,Destination Before,State,Reason\r\n")) << list;
    EXPECT_NE(std::string::npos, list.find("Recipients,recipients.rcp,To unicode,recipients.rcp,"
                                           + narrow(beta) + ",\"" + narrow(ga) + "\",new,Not Started,\r\n")) << list;
    EXPECT_NE(std::string::npos, out.find("Rows: 10, migrated: 0, failed: 0.")) << out;
    // A report that cannot be written is a run that did not do what it was asked.
    EXPECT_EQ(4u, tool(L"/list /report:missing\\list.csv")) << out;
    EXPECT_NE(std::string::npos, out.find("\\missing\\list.csv could not be written: ")) << out;

    // A second copy while one runs.
    {
        CSingleRun running;
        ASSERT_TRUE(running.Taken());
        EXPECT_EQ(4u, tool(L"/list")) << out;
        EXPECT_NE(std::string::npos, out.find("Another copy of quarnrept_migrate is running")) << out;
    }

    // Only the Zelt rows; then everything with one destination read-only.
    EXPECT_EQ(0u, tool(L"/migrate /only:zelt /report:zelt.csv")) << out;
    EXPECT_EQ(zeltBytes, readBytes(ga + L"\\zelt\\link.cfg"));
    EXPECT_FALSE(fileExists(ga + L"\\recipients.rcp"));
    EXPECT_NE(std::string::npos, report(L"zelt.csv").find(",new,Migrated,\r\n")) << report(L"zelt.csv");
    EXPECT_NE(std::string::npos, report(L"zelt.csv").find(",new,Not Started,\r\n"));
    writeBytes(ga + L"\\notifymissed.txt", "old");
    SetFileAttributesW((ga + L"\\notifymissed.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(1u, tool(L"/migrate /report:all.csv")) << out;
    SetFileAttributesW((ga + L"\\notifymissed.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_NE(std::string::npos, report(L"all.csv").find(",replaced,Failed,\"cannot write " + narrow(ga)
                                                         + "\\notifymissed.txt: ")) << report(L"all.csv");
    EXPECT_NE(std::string::npos, out.find("Rows: 10, migrated: 9, failed: 1.")) << out;
    EXPECT_EQ(unicodeFile(wideRecipients), readBytes(ga + L"\\recipients.rcp"));
    EXPECT_EQ(L"kept", regString(GA_KEY, L"GaOnly"));
    EXPECT_EQ(renamed + L"\\reports", regString(GA_KEY, L"ReportDir"));
    EXPECT_EQ(0u, tool(L"/migrate")) << out;
    EXPECT_NE(std::string::npos, out.find("Rows: 10, migrated: 10, failed: 0.")) << out;
    EXPECT_EQ("", FilesLeftInBackups());

    // No beta installation: the status line's text, and nothing written.
    deleteRegTree(BETA_KEY);
    EXPECT_EQ(2u, tool(L"/migrate /report:none.csv")) << out;
    EXPECT_NE(std::string::npos, out.find("ERROR - Unable to locate operational reporting beta key")) << out;
    EXPECT_FALSE(fileExists(work / L"none.csv"));
}

// The fields of each line of a CSV report ("" stands for " in a quoted field).
static std::vector<std::vector<std::string>> csvRows(const std::string& text)
{
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"' && quoted && i + 1 < text.size() && text[i + 1] == '"')
            rows.back().back() += text[++i];
        else if (text[i] == '"')
            quoted = !quoted;
        else if (text[i] == ',' && !quoted)
            rows.back().emplace_back();
        else if (text[i] == '\n' && !quoted)
            rows.emplace_back(1);
        else if (text[i] != '\r' || quoted)
            rows.back().back() += text[i];
    }
    return rows;
}

// Another account was first to the names the tool uses for itself: the
// computer's run lock, a report and a trace in the current directory, and
// beta file names that a spreadsheet runs as formulas. None is taken for the
// tool's own, and the lock in the installation's backups folder, where only
// administrators write, still keeps a migration and a restore apart.
TEST_F(Migration, WhatAnotherAccountPutsUnderTheToolsOwnNamesIsNotTakenForItsOwn)
{
    TempDir work;
    std::string out;
    auto tool = [&](const std::wstring& arguments) { return Tool(work, arguments, out); };
    for (const wchar_t* name : { L"=hyperlink(1).rcp", L"+cmd.rcp", L"-2+3.rcp", L"@sum(1+1).rcp" })
        writeBytes(beta + L"\\" + name, oemRecipients);
    writeBytes(work / L"r.csv", "planted");
    SetFileAttributesW((work / L"r.csv").c_str(), FILE_ATTRIBUTE_HIDDEN);
    writeBytes(work / L"trace_quarnrept_migrate.txt", "planted");
    CFileHandle plantedTrace(CreateFileW((work / L"trace_quarnrept_migrate.txt").c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(plantedTrace.IsValid());

    // Any account may make the lock's name first, open to all or closed to
    // administrators; neither reads as another copy.
    for (const wchar_t* access : { L"D:NO_ACCESS_CONTROL", L"D:(D;;GA;;;BA)(A;;GA;;;WD)" }) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(access, SDDL_REVISION_1, &descriptor,
                                                                         nullptr));
        SECURITY_ATTRIBUTES attributes = { sizeof attributes, descriptor, FALSE };
        CKernelHandle planted(CreateMutexW(&attributes, TRUE, RUN_LOCK_NAME));
        LocalFree(descriptor);
        ASSERT_TRUE(planted.IsValid());
        EXPECT_EQ(0u, tool(L"/list")) << narrow(access) << ": " << out;
        EXPECT_NE(std::string::npos, out.find("WARNING: The run lock Global\\quarnrept_migrate.run was made by "))
            << out;
    }
    CKernelHandle planted(CreateMutexW(nullptr, TRUE, RUN_LOCK_NAME));
    EXPECT_EQ(0u, tool(L"/migrate /only:Recipients /report:r.csv")) << out;

    // No field of the report begins as a formula; the planted report kept
    // nothing of its own, and the planted trace was not written into.
    const std::string report = readBytes(work / L"r.csv");
    bool quotedFormula = false;
    for (const std::vector<std::string>& row : csvRows(report))
        for (const std::string& field : row) {
            EXPECT_TRUE(field.empty() || !strchr("=+-@\t\r", field[0])) << field;
            quotedFormula = quotedFormula || field == "'=hyperlink(1).rcp";
        }
    EXPECT_TRUE(quotedFormula) << report;
    EXPECT_EQ(unicodeFile(wideRecipients), readBytes(ga + L"\\=hyperlink(1).rcp")) << "the file itself keeps its name";
    EXPECT_EQ(0u, GetFileAttributesW((work / L"r.csv").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    char held[16] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(plantedTrace.Get(), held, sizeof held, &got, nullptr));
    EXPECT_EQ("planted", std::string(held, got)) << "the tool wrote into a trace file another account made";

    // While another copy holds the installation's lock, a migration replaces
    // nothing and a restore restores nothing; each says why.
    const size_t kept = out.find("What the migration replaced is kept in ");
    ASSERT_NE(std::string::npos, kept) << out;
    const std::string backupFolder = out.substr(kept + 39, out.find(". To put", kept) - kept - 39);
    writeBytes(beta + L"\\Recipients.RCP", "changed\r\n");
    Snapshot before, after;
    snapshotFiles(ga, before);
    {
        CCheckedDir backups;
        COutFile lock;
        FileFailure failure;
        std::wstring reason;
        ASSERT_TRUE(backups.OpenRoot(ga + L"\\migration backups", failure));
        ASSERT_TRUE(takeRunLock(backups, lock, reason)) << narrow(reason);
        EXPECT_EQ(1u, tool(L"/migrate /only:Recipients")) << out;
        EXPECT_NE(std::string::npos, out.find("another copy of quarnrept_migrate is migrating or restoring this "
                                              "installation")) << out;
        // Whoever runs restore.cmd sets its environment: none of it stands in
        // for the tool's exit code.
        std::string restored;
        SetEnvironmentVariableW(L"ERRORLEVEL", L"0");
        EXPECT_EQ(1u, runCmdScript(widen(backupFolder) + L"\\restore.cmd", work.Path(), restored)) << restored;
        SetEnvironmentVariableW(L"ERRORLEVEL", nullptr);
        EXPECT_NE(std::string::npos, restored.find("ERROR: another copy of quarnrept_migrate")) << restored;
    }
    snapshotFiles(ga, after);
    EXPECT_EQ("", snapshotDifference(before, after));
    EXPECT_EQ(0u, tool(L"/migrate /only:Recipients")) << out;
    EXPECT_EQ(unicodeFile(L"changed\r\n"), readBytes(ga + L"\\recipients.rcp"));

    // The command library runs as code: a second name of another's file
    // under its name is not loaded.
    const std::wstring library = root / L"exec_dll elsewhere.dll";
    ASSERT_TRUE(MoveFileW((ga + L"\\exec_dll.dll").c_str(), library.c_str()));
    makeHostHardLink(ga + L"\\exec_dll.dll", library);
    EXPECT_EQ(1u, tool(L"/migrate /only:\"Registry settings\"")) << out;
    EXPECT_NE(std::string::npos, out.find("\\exec_dll.dll has a second name (a hard link)")) << out;
}

// Another account swaps the beta's or the 5.2.2's Zelt folder with a link to
// its own folder while an unattended run works, or leaves a second name of
// one of its files there: nothing of that folder reaches the 5.2.2
// installation, and nothing is written into it.
TEST_F(Migration, ARaceOrASecondNameBelowTheRootsReachesNothingOutside)
{
    const std::wstring betaZelt = beta + L"\\zelt", gaZelt = ga + L"\\zelt", elsewhere = root / L"elsewhere";
    std::map<std::string, std::string> betaBytes { { "link.cfg", zeltBytes } }; // name -> bytes
    for (int i = 0; i < 150; ++i)
        betaBytes["z" + std::to_string(1000 + i) + ".cfg"] = "beta " + std::to_string(i) + std::string("\0\r\n", 3);
    makeDirs(gaZelt);
    makeDirs(elsewhere);
    for (const auto& [name, bytes] : betaBytes) {
        writeBytes(betaZelt + L"\\" + widen(name), bytes);
        writeBytes(elsewhere + L"\\" + widen(name), "elsewhere's " + name);
    }
    writeBytes(elsewhere + L"\\secret.txt", "only its owner may read this");
    ScopedLink link(root / L"link", elsewhere);
    ASSERT_TRUE(link.Made());
    TempDir work;
    const std::string run = std::string("@\"") + QM_TOOL_EXE + "\" /migrate /only:Zelt /report:r.csv\r\n";
    writeBytes(work / L"run.cmd", run + "@exit /b %errorlevel%\r\n");

    // One run with `swapped` (when given) and the link trading places; the
    // Zelt rows' states by source name.
    auto race = [&](const char* what, const std::wstring& swapped) {
        std::string out, swaps = "no";
        DWORD code = 0;
        Snapshot before, after;
        snapshotFiles(elsewhere, before);
        {
            std::optional<ScopedSwap> swap;
            if (!swapped.empty())
                swap.emplace(swapped, root / L"link");
            code = runCmdScript(work / L"run.cmd", work.Path(), out);
            if (code == 9009) // cmd could not start the exe (seen under load): not the tool's answer
                code = runCmdScript(work / L"run.cmd", work.Path(), out);
            if (swap)
                swaps = swap->Stop();
        }
        EXPECT_TRUE(code == 0 || code == 1) << what << ": exit code " << code << "\n" << out;
        // A row reads Migrated, its destination holding the beta's bytes, or
        // Failed with a reason; the first row that does neither is shown.
        std::map<std::string, std::string> states;
        std::string wrongRow;
        int wrong = 0, migrated = 0, arrived = 0;
        for (const std::vector<std::string>& row : csvRows(readBytes(work / L"r.csv"))) {
            if (row.size() != 9 || row[0] != "Zelt")
                continue;
            states[row[1]] = row[7];
            migrated += row[7] == "Migrated";
            const auto bytes = betaBytes.find(row[1]);
            const std::wstring destination = gaZelt + L"\\" + widen(row[3]);
            if (row[7] == "Migrated" ? bytes == betaBytes.end() || readBytes(destination) != bytes->second
                                     : row[7] != "Failed" || row[8].empty())
                wrongRow = wrong++ ? wrongRow : row[1] + ": " + row[7] + " " + row[8];
        }
        EXPECT_EQ(0, wrong) << what << ": rows neither migrated right nor failed, the first: " << wrongRow;
        wrongRow.clear();
        // Every file of the 5.2.2 Zelt folder is its beta file, or absent.
        // Under Wine a file is removed by the path it was opened by, so a
        // race can leave a writer's temporary file of a beta file's bytes,
        // which the next run's sweep removes: a run without a race leaves none.
        Snapshot written;
        snapshotFiles(gaZelt, written);
        int left = 0;
        for (const auto& [path, bytes] : written) {
            const std::string name = narrow(path.substr(gaZelt.size() + 1));
            const auto found = betaBytes.find(name);
            const bool temporary = name.rfind("~qm", 0) == 0 && name.size() > 4
                && name.compare(name.size() - 4, 4, ".tmp") == 0
                && std::any_of(betaBytes.begin(), betaBytes.end(), [&](const auto& beta) { return beta.second == bytes; });
            if (temporary)
                ++left;
            else if (found == betaBytes.end() || found->second != bytes)
                wrongRow = arrived++ ? wrongRow : narrow(path) + " holds \"" + bytes.substr(0, 40) + "\"";
        }
        EXPECT_EQ(0, arrived) << what << ": files not their beta files in the 5.2.2 folder, the first: " << wrongRow;
        if (swapped.empty()) {
            EXPECT_EQ(0, left) << what << ": temporary files left in the 5.2.2 folder";
        }
        snapshotFiles(elsewhere, after);
        EXPECT_EQ("", snapshotDifference(before, after)) << what;
        fprintf(stderr, "%s: %s exchanges; %zu rows, %d migrated, %d wrong; %d files not from the beta, %d temporary\n",
                what, swaps.c_str(), states.size(), migrated, wrong, arrived, left);
        return states;
    };
    race("read race", betaZelt);
    // Into fresh destinations, with the 5.2.2 folder raced.
    removeTree(gaZelt);
    makeDirs(gaZelt);
    race("write race", gaZelt);
    // A second name of the other account's file among the beta's, in a run
    // without a race (which would fail rows of its own).
    makeHostHardLink(betaZelt + L"\\secret.cfg", elsewhere + L"\\secret.txt");
    EXPECT_EQ("Failed", race("second name", L"")["secret.cfg"]);
}

// The State header sorts by what the rows show after a run: the failure first.
TEST_F(Migration, AfterARunTheStateHeaderSortsTheFailedRowFirst)
{
    writeBytes(ga + L"\\notifymissed.txt", "old");
    SetFileAttributesW((ga + L"\\notifymissed.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    DialogHarness ui(t_processRefresh, t_processMigrate);
    EXPECT_NE(std::wstring::npos, Migrate(ui).find(L"1 of 10 items could not be migrated"));
    SetFileAttributesW((ga + L"\\notifymissed.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(L"notifymissed.txt", cellText(ui, 0, 1));

    const HWND header = ListView_GetHeader(ui.List().Hwnd());
    auto sortBy = [&](int column) {
        RECT at = {};
        Header_GetItemRect(header, column, &at);
        const LPARAM point = MAKELPARAM(at.left + 20, (at.top + at.bottom) / 2);
        SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, point);
        SendMessageW(header, WM_LBUTTONUP, 0, point);
    };
    sortBy(4);
    EXPECT_TRUE(waitUntil([&] { return cellText(ui, 0, 1) == L"notifymissed.txt"; }));
    EXPECT_EQ(0u, cellText(ui, 0, 4).find(L"Failed: cannot write ")) << narrow(cellText(ui, 0, 4));
    for (int row = 1; row < ui.List().RowCount(); ++row)
        EXPECT_EQ(L"Migrated", cellText(ui, row, 4)) << row;
    // Every other header sorts by the text its column shows.
    for (int column = 0; column < 4; ++column) {
        sortBy(column);
        ui.Settle();
        for (int row = 1; row < ui.List().RowCount(); ++row)
            EXPECT_LE(compareSortKeys(cellText(ui, row - 1, column), cellText(ui, row, column)), 0)
                << column << ": " << narrow(cellText(ui, row, column));
    }
    // Sorted so, a run reaches the key after it kept a file: the key it left
    // as it was, the restore leaves too, and puts the file back.
    writeBytes(beta + L"\\cache.dat", "select 2;\r\n");
    const std::string cache = readBytes(ga + L"\\cache.dat");
    EXPECT_EQ(SUCCESS_MESSAGE, Migrate(ui));
    std::string output;
    EXPECT_EQ(0u, runCmdScript(BackupFolder() + L"\\restore.cmd", root.Path(), output)) << output;
    EXPECT_EQ(cache, readBytes(ga + L"\\cache.dat")) << output;
}
