// restore.cmd as the migration backup writes it, run by the prefix's real cmd:
// paths it cannot carry, paths cmd takes apart unless quoted right, and a step
// that fails. A whole run through the dialog, the registry key included, and
// its restore are in migrate_test.cpp.
#include "common/files/fingerprint.h"
#include "common/files/replacing_writer.h"
#include "migrate/backup_restore.h"
#include "migrate/backup_folder.h"
#include "migrate/migration_backup.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sddl.h>

using namespace qmtest;
using namespace std::string_literals;

TEST(MigrationBackup, RestoreCmdCarriesSpacesAndAmpersandsRefusesWhatItCannotCarryAndFailsWhereAStepFails)
{
    TempDir temp, elsewhere; // elsewhere: the current directory restore.cmd is started from
    setRestoreProgram(widen(QM_TOOL_EXE));
    // Names cmd takes apart unless quoted right, and a % it would expand.
    const std::wstring ga = temp / L"Kelda 5.2.2 & (GA) ^ old", site = temp / L"web & site (1)";
    const std::wstring kept = ga + L"\\Recipients 100% & co.txt", page = site + L"\\summary (old).htm";
    const SYSTEMTIME start { 2026, 12, 1, 7, 14, 3, 22, 0 };
    makeDirs(ga);
    makeDirs(site);
    writeBytes(kept, "Jos\x82\0\r\n\xFF"s);
    writeBytes(page, "<html>old</html>");
    auto snapshot = [&] {
        Snapshot all;
        snapshotFiles(temp.Path(), all, L"migration backups");
        return all;
    };
    const Snapshot before = snapshot();

    // What would split a line of restore.lst or come back from its OEM code
    // page as another character, and a name with a folder in it, which would
    // land outside the backup. Refused, they leave no folder behind.
    CMigrationBackup backup(ga, start);
    std::wstring reason;
    const std::pair<const wchar_t*, const wchar_t*> refused[]
        = { { L"a|b.txt", L"U+007C" },
            { L"tab\t.txt", L"U+0009" }, { L"del\x7F.txt", L"U+007F" }, { L"\u0416.txt", L"OEM code page" },
            { L"sub\\a.txt", L"not a plain file name" }, { L"sub/a.txt", L"not a plain file name" } };
    for (const auto& [name, why] : refused) {
        reason.clear();
        EXPECT_FALSE(backup.KeepFile(BackupRoot::Installation, ga, name, reason)) << narrow(name);
        EXPECT_NE(std::wstring::npos, reason.find(why)) << narrow(reason);
    }
    // So does a file whose copy fails (here, held open without sharing).
    HANDLE held = CreateFileW(kept.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(backup.KeepFile(BackupRoot::Installation, ga, L"Recipients 100% & co.txt", reason));
    CloseHandle(held);
    EXPECT_FALSE(fileExists(ga + L"\\migration backups"));

    // What a migration does: replace and create. A file kept again after its
    // change must still come back as it was first.
    ASSERT_TRUE(backup.KeepFile(BackupRoot::Installation, ga, L"Recipients 100% & co.txt", reason)) << reason;
    ASSERT_TRUE(backup.KeepFile(BackupRoot::WebSite, site, L"summary (old).htm", reason)) << reason;
    const std::wstring made = ga + L"\\new & (made) ^.txt";
    ASSERT_TRUE(backup.KeepFile(BackupRoot::Installation, ga, L"new & (made) ^.txt", reason)) << reason;
    for (const std::wstring& file : { kept, page, made })
        writeBytes(file, "new");
    // Recorded as earlier versions did: the restore still tells their file.
    CFingerprint written(CFingerprint::Style::Words64);
    written.Add("new", 3);
    ASSERT_TRUE(backup.RecordCreated(ga, L"new & (made) ^.txt", written.Text(), reason)) << reason;
    ASSERT_TRUE(backup.KeepFile(BackupRoot::Installation, ga, L"Recipients 100% & co.txt", reason)) << reason;
    // A file whose write failed is not the run's: one made later under its name stays.
    ASSERT_TRUE(backup.KeepFile(BackupRoot::Installation, ga, L"not written.txt", reason)) << reason;
    // A keep that fails later in the run leaves what was kept before it.
    writeBytes(ga + L"\\held.txt", "held");
    held = CreateFileW((ga + L"\\held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(backup.KeepFile(BackupRoot::Installation, ga, L"held.txt", reason));
    CloseHandle(held);
    ASSERT_TRUE(backup.Finish(reason)) << reason;
    EXPECT_EQ(ga + L"\\migration backups\\2026-12-07 14-03-22", backup.Folder());
    writeBytes(ga + L"\\not written.txt", "someone else's");
    Snapshot expected = before;
    expected[ga + L"\\not written.txt"] = "someone else's";
    expected[ga + L"\\held.txt"] = "held";

    // Started by a double-click, in its own folder: programs of the same
    // names there never run.
    for (const wchar_t* name : { L"chcp.bat", L"reg.bat", L"regedit.bat", L"chcp.cmd", L"reg.cmd" })
        writeBytes(backup.Folder() + L"\\" + name, "@echo ran> \"%~f0.ran\"\r\n");
    std::string output;
    EXPECT_EQ(0u, runCmdScript(backup.Folder() + L"\\restore.cmd", backup.Folder(), output)) << output;
    EXPECT_NE(std::string::npos, output.find("Restored \"" + narrow(page) + "\".")) << output;
    EXPECT_EQ("", snapshotDifference(expected, snapshot())) << output;
    for (const wchar_t* name : { L"chcp.bat", L"reg.bat", L"regedit.bat", L"chcp.cmd", L"reg.cmd" })
        EXPECT_FALSE(fileExists(backup.Folder() + L"\\" + name + L".ran")) << narrow(name) << " ran";

    // A second run in the same second gets a folder of its own. Stopped at
    // any moment (here while it wrote a line of its list), it leaves a
    // restore.cmd that puts back what it replaced, and only that.
    std::wstring secondFolder;
    {
        CMigrationBackup second(ga, start);
        ASSERT_TRUE(second.KeepFile(BackupRoot::Installation, ga, L"Recipients 100% & co.txt", reason)) << reason;
        secondFolder = second.Folder();
    }
    EXPECT_EQ(backup.Folder() + L" (2)", secondFolder);
    writeBytes(kept, "second run");
    const std::wstring list = secondFolder + L"\\restore.lst";
    writeBytes(list, readBytes(list) + "new|-|" + narrow(kept));
    EXPECT_EQ(0u, runCmdScript(secondFolder + L"\\restore.cmd", elsewhere.Path(), output)) << output;
    EXPECT_EQ(readBytes(backup.Folder() + L"\\installation\\Recipients 100% & co.txt"), readBytes(kept)) << output;
    // A copy whose own folder cannot be made is a keep that failed, not a
    // destination to be created.
    {
        CMigrationBackup third(ga, start);
        ASSERT_TRUE(third.PrepareFolder(reason)) << reason;
        writeBytes(third.Folder() + L"\\installation", "a file, not the folder");
        EXPECT_FALSE(third.KeepFile(BackupRoot::Installation, ga, L"Recipients 100% & co.txt", reason));
    }

    // A step that cannot be done is reported and fails the script; a
    // directory now standing where the run created a file is not emptied.
    ASSERT_TRUE(DeleteFileW((backup.Folder() + L"\\web site\\summary (old).htm").c_str()));
    makeDirs(made);
    writeBytes(made + L"\\inside.txt", "keep");
    EXPECT_EQ(1u, runCmdScript(backup.Folder() + L"\\restore.cmd", elsewhere.Path(), output)) << output;
    EXPECT_NE(std::string::npos, output.find("\"" + narrow(page) + "\" was left as it is")) << output;
    EXPECT_NE(std::string::npos, output.find("ERROR: \"" + narrow(made) + "\" is now a directory")) << output;
    EXPECT_EQ("keep", readBytes(made + L"\\inside.txt"));
}

TEST(MigrationBackup, AnExistingBackupFolderIsUsedOnlyWhenItsOwnerIsOneOthersCannotBe)
{
    // (Wine gives every folder the account running it as its owner: the
    // decision is shown on the owners themselves.)
    const std::pair<const wchar_t*, bool> owners[] = { { L"BA", true }, { L"SY", true }, { L"BU", false },
                                                       { L"AU", false }, { L"S-1-5-21-1-2-3-1013", false } };
    for (const auto& [owner, trusted] : owners) {
        PSID sid = nullptr;
        ASSERT_TRUE(ConvertStringSidToSidW(owner, &sid)) << narrow(owner);
        EXPECT_EQ(trusted, backupOwnerTrusted(sid)) << narrow(owner);
        LocalFree(sid);
    }
    EXPECT_FALSE(backupOwnerTrusted(nullptr));
}
