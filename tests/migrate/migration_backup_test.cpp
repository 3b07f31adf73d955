// restore.cmd as the migration backup writes it, run by the prefix's real cmd:
// paths it cannot carry, paths cmd takes apart unless quoted right, and a step
// that fails. A whole run through the dialog, the registry key included, and
// its restore are in migrate_test.cpp.
#include "migrate/migration_backup.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace qmtest;
using namespace std::string_literals;

TEST(MigrationBackup, RestoreCmdCarriesSpacesAndAmpersandsRefusesWhatItCannotCarryAndFailsWhereAStepFails)
{
    TempDir temp, elsewhere; // elsewhere: the current directory restore.cmd is started from
    // Names cmd takes apart unless restore.cmd quotes them right.
    const std::wstring ga = temp / L"Kelda 5.2.2 & (GA) ^ old", site = temp / L"web & site (1)";
    const std::wstring kept = ga + L"\\Recipients & co.txt", page = site + L"\\summary (old).htm";
    const SYSTEMTIME start { 2026, 12, 1, 7, 14, 3, 22, 0 };
    makeDirs(ga);
    makeDirs(site);
    writeBytes(kept, "Jos\x82\0\r\n\xFF"s);
    writeBytes(page, "<html>old</html>");
    auto snapshot = [&] {
        Snapshot all;
        snapshotFiles(temp.path(), all, L"migration backups");
        return all;
    };
    const Snapshot before = snapshot();

    // cmd expands % even inside quotes and cannot quote a "; a control
    // character, or one outside the OEM code page restore.cmd is written in,
    // would reach the command as something else; a name with a folder in it
    // would land outside the backup. Refused, they leave no folder behind.
    MigrationBackup backup(ga, start);
    std::wstring reason;
    for (const wchar_t* name : { L"100%.txt", L"say \"hi\".txt", L"tab\t.txt", L"\u0416.txt", L"sub\\a.txt" }) {
        reason.clear();
        EXPECT_FALSE(backup.keepFile(BackupRoot::Installation, ga, name, reason) || reason.empty()) << narrow(name);
    }
    EXPECT_FALSE(fileExists(ga + L"\\migration backups"));

    // What a migration does: replace and create. A file kept again after its
    // change must still come back as it was first.
    ASSERT_TRUE(backup.keepFile(BackupRoot::Installation, ga, L"Recipients & co.txt", reason)) << reason;
    ASSERT_TRUE(backup.keepFile(BackupRoot::WebSite, site, L"summary (old).htm", reason)) << reason;
    ASSERT_TRUE(backup.keepFile(BackupRoot::Installation, ga, L"new & (made) ^.txt", reason)) << reason;
    for (const std::wstring& file : { kept, page, ga + L"\\new & (made) ^.txt" })
        writeBytes(file, "new");
    ASSERT_TRUE(backup.keepFile(BackupRoot::Installation, ga, L"Recipients & co.txt", reason)) << reason;
    ASSERT_TRUE(backup.finish(reason)) << reason;
    EXPECT_EQ(ga + L"\\migration backups\\2026-12-07 14-03-22", backup.folder());

    std::string output;
    EXPECT_EQ(0u, runCmdScript(backup.folder() + L"\\restore.cmd", elsewhere.path(), output)) << output;
    EXPECT_NE(std::string::npos, output.find("Restored \"" + narrow(page) + "\".")) << output;
    EXPECT_EQ("", snapshotDifference(before, snapshot())) << output;

    // A second run in the same second gets a folder of its own.
    MigrationBackup second(ga, start);
    ASSERT_TRUE(second.keepFile(BackupRoot::Installation, ga, L"Recipients & co.txt", reason)) << reason;
    EXPECT_EQ(backup.folder() + L" (2)", second.folder());

    // A step that cannot be done is reported and fails the script.
    ASSERT_TRUE(DeleteFileW((backup.folder() + L"\\web site\\summary (old).htm").c_str()));
    EXPECT_EQ(1u, runCmdScript(backup.folder() + L"\\restore.cmd", elsewhere.path(), output)) << output;
    EXPECT_NE(std::string::npos, output.find("ERROR: could not copy \"" + narrow(page) + "\"")) << output;
}
