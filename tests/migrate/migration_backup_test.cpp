// The migration backup from keep to restore: real files and keys, the stand-in
// exec library in the 5.2.2 directory, and the prefix's real cmd, reg and
// regedit running the written restore.cmd.
#include "migrate/migration_backup.h"

#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace qmtest;

namespace {

class MigrationBackupTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // The binding never unloads the library; the directory must go.
        while (HMODULE module = GetModuleHandleW((m_console + L"\\exec_dll.dll").c_str()))
            FreeLibrary(module);
    }

    // Both trees (the backups aside), and every value and subkey of the 5.2.2 key.
    Snapshot snapshot() const
    {
        Snapshot all;
        snapshotFiles(m_ga, all, L"migration backups");
        snapshotFiles(m_web, all);
        snapshotKey(GA_KEY, all);
        return all;
    }

    // Wine keeps names on disk in the Unix locale's charset: under the
    // harness's LC_ALL=C that is ASCII, and no name can hold an é.
    static std::wstring accented(const std::wstring& probe)
    {
        return CreateDirectoryW(probe.c_str(), nullptr) && RemoveDirectoryW(probe.c_str()) ? L"\u00e9t\u00e9" : L"ete";
    }

    CleanNorvaleKeys m_keys;
    TempDir m_temp;
    TempDir m_elsewhere; // the current directory restore.cmd is started from
    // Names cmd takes apart unless restore.cmd quotes them right; é is in the
    // OEM code page (437 in the test prefix), in which restore.cmd is written.
    const std::wstring m_ga = m_temp / (L"Kelda 5.2.2 & (GA) ^ " + accented(m_temp / L"\u00e9"));
    const std::wstring m_web = m_temp / L"web & site (1)";
    const std::wstring m_zelt = m_ga + L"\\zelt";
    const std::wstring m_console = m_temp / L"console";
    const SYSTEMTIME m_start { 2026, 12, 1, 7, 14, 3, 22, 0 };
};

TEST_F(MigrationBackupTest, RestoreCmdPutsFilesAndKeyBackExactly)
{
    makeDirs(m_zelt);
    makeDirs(m_web);
    makeDirs(m_console);
    ASSERT_TRUE(CopyFileW(widen(QM_EXEC_DLL).c_str(), (m_console + L"\\exec_dll.dll").c_str(), FALSE));
    writeBytes(m_ga + L"\\Recipients & co.txt", std::string("Jos\x82\0\r\n\xFF", 8));
    writeBytes(m_web + L"\\summary (old).htm", "<html>old</html>");
    writeBytes(m_zelt + L"\\zelt ^ data.bin", std::string("\0\x01ZELT", 6));
    setRegString(GA_KEY, L"Path", m_console);
    setRegString(GA_KEY, L"Mailer", L"smtp & \u00e9 \u0416");
    setRegDword(GA_KEY, L"Retries", 3);
    setRegString(std::wstring(GA_KEY) + L"\\Reports\\Daily", L"Hour", L"6");
    const Snapshot before = snapshot();

    MigrationBackup backup(m_ga, m_start);
    std::wstring reason;
    EXPECT_TRUE(backup.finish(reason) && backup.folder().empty()) << "nothing kept, no folder";
    ASSERT_TRUE(backup.keepFile(BackupRoot::Installation, m_ga, L"Recipients & co.txt", reason)) << reason;
    ASSERT_TRUE(backup.keepFile(BackupRoot::WebSite, m_web, L"summary (old).htm", reason)) << reason;
    ASSERT_TRUE(backup.keepFile(BackupRoot::Zelt, m_zelt, L"zelt ^ data.bin", reason)) << reason;
    ASSERT_TRUE(backup.keepFile(BackupRoot::Installation, m_ga, L"new & (made).txt", reason)) << reason;
    ASSERT_TRUE(backup.keepFile(BackupRoot::WebSite, m_web, L"new!.htm", reason)) << reason;
    ASSERT_TRUE(backup.keepRegistryKey(reason)) << reason;
    EXPECT_EQ(m_ga + L"\\migration backups\\2026-12-07 14-03-22", backup.folder());

    // What a migration does: replace, create, import. A file kept again after
    // its change must still come back as it was first.
    for (const std::wstring& file :
         { m_ga + L"\\Recipients & co.txt", m_web + L"\\summary (old).htm", m_zelt + L"\\zelt ^ data.bin",
           m_ga + L"\\new & (made).txt", m_web + L"\\new!.htm" })
        writeBytes(file, "\xFF\xFEnew");
    ASSERT_TRUE(backup.keepFile(BackupRoot::Installation, m_ga, L"Recipients & co.txt", reason)) << reason;
    ASSERT_TRUE(backup.keepRegistryKey(reason)) << reason;
    setRegString(GA_KEY, L"Mailer", L"changed");
    deleteRegValue(GA_KEY, L"Retries");
    setRegString(std::wstring(GA_KEY) + L"\\Added\\Sub", L"v", L"x");
    ASSERT_TRUE(backup.finish(reason)) << reason;

    std::string output;
    EXPECT_EQ(0u, runCmdScript(backup.folder() + L"\\restore.cmd", m_elsewhere.path(), output)) << output;
    EXPECT_EQ(std::string::npos, output.find("ERROR")) << output;
    EXPECT_NE(std::string::npos, output.find("Restored \"" + narrow(m_web) + "\\summary (old).htm\".")) << output;
    EXPECT_EQ("", snapshotDifference(before, snapshot()));

    // A second run in the same second gets a folder of its own; the first is untouched.
    const std::string script = readBytes(backup.folder() + L"\\restore.cmd");
    MigrationBackup second(m_ga, m_start);
    ASSERT_TRUE(second.keepFile(BackupRoot::Installation, m_ga, L"Recipients & co.txt", reason)) << reason;
    EXPECT_EQ(backup.folder() + L" (2)", second.folder());
    EXPECT_EQ(script, readBytes(backup.folder() + L"\\restore.cmd"));

    // A step that cannot be done is reported and fails the script.
    ASSERT_TRUE(DeleteFileW((backup.folder() + L"\\Console.reg").c_str()));
    EXPECT_EQ(1u, runCmdScript(backup.folder() + L"\\restore.cmd", m_elsewhere.path(), output)) << output;
    EXPECT_NE(std::string::npos, output.find("ERROR: \"")) << output;
}

TEST_F(MigrationBackupTest, NothingIsKeptWhereTheBackupCannotBeWrittenOrRestored)
{
    makeDirs(m_ga);
    writeBytes(m_ga + L"\\a.txt", "as it was");
    std::wstring reason;
    // Wine drops the read-only attribute of a directory (and Windows ignores
    // it), so a file stands where the backups would go.
    writeBytes(m_ga + L"\\migration backups", "");
    MigrationBackup blocked(m_ga, m_start);
    EXPECT_FALSE(blocked.keepFile(BackupRoot::Installation, m_ga, L"a.txt", reason));
    EXPECT_NE(std::wstring::npos, reason.find(L"migration backups")) << reason;
    DeleteFileW((m_ga + L"\\migration backups").c_str());

    // Names restore.cmd could not carry, and no exec library for the export.
    MigrationBackup backup(m_ga, m_start);
    for (const wchar_t* name : { L"100%.txt", L"\u0416.txt", L"sub\\a.txt" }) {
        reason.clear();
        EXPECT_FALSE(backup.keepFile(BackupRoot::Installation, m_ga, name, reason) || reason.empty()) << name;
    }
    EXPECT_FALSE(backup.keepRegistryKey(reason) || reason.empty());
    EXPECT_FALSE(fileExists(m_ga + L"\\migration backups")) << "a run that kept nothing leaves no folder";
    EXPECT_EQ("as it was", readBytes(m_ga + L"\\a.txt"));
}

} // namespace
