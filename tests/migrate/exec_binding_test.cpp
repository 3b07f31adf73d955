// runExecCommand against the stand-in exec_dll.dll (and broken builds of it),
// copied into a scratch console directory that the console's real key names.
// Commands run through the real cmd of the prefix.
#include "migrate/exec_binding.h"

#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace qmtest;

namespace {

class ExecBindingTest : public ::testing::Test {
protected:
    // The binding never unloads the library; let go of it here so that
    // another can take its place and the scratch directory can be removed.
    void TearDown() override { unloadLibrary(m_library); }

    // Points the console's key at the scratch console directory, with
    // `library` there as exec_dll.dll (none when null).
    void InstallConsole(const char* library)
    {
        unloadLibrary(m_library);
        makeDirs(m_console);
        if (library) {
            ASSERT_TRUE(CopyFileW(widen(library).c_str(), m_library.c_str(), FALSE)) << library;
        }
        setRegString(GA_KEY, L"Path", m_console);
    }

    // Runs, in `directory`, a command that would leave ran.txt in the scratch directory.
    int RunMarker(const std::wstring& directory)
    {
        return runExecCommand(L"cmd /q /c echo x> \"" + m_work / L"ran.txt" + L"\"", directory);
    }

    CleanNorvaleKeys m_keys;
    TempDir m_work; // the commands' working directory
    const std::wstring m_console = m_work / L"console";
    const std::wstring m_library = m_console + L"\\exec_dll.dll";
};

TEST_F(ExecBindingTest, ReportsTheCommandsExitCodeAndOutputAndRefusesRequestsTooLongWhole)
{
    InstallConsole(QM_EXEC_DLL);
    // A command that ran is not one that worked: its exit code comes back,
    // with what it printed in the given directory.
    ExecOutcome ended;
    EXPECT_EQ(EXEC_DONE, runExecCommand(L"cmd /q /c cd & exit 9", m_work.Path(), nullptr, &ended));
    EXPECT_EQ(m_work.Path() + L"\r\n", ended.output);
    EXPECT_EQ(9u, ended.exitCode);

    // Padded so that a command cut at the field would lose its redirection.
    auto command
        = [](size_t pad, const wchar_t* file) { return L"cmd /q /c echo " + std::wstring(pad, L'x') + L"> " + file; };
    const size_t fits = EXEC_MAX_COMMAND - command(0, L"fits.txt").size();
    EXPECT_EQ(EXEC_DONE, runExecCommand(command(fits, L"fits.txt"), m_work.Path()));
    EXPECT_TRUE(fileExists(m_work / L"fits.txt"));
    EXPECT_EQ(EXEC_COMMAND_TOO_LONG, runExecCommand(command(fits + 1, L"long.txt"), m_work.Path()));
    EXPECT_FALSE(fileExists(m_work / L"long.txt"));
    const size_t room = EXEC_MAX_DIRECTORY - m_work.Path().size();
    EXPECT_EQ(EXEC_DIRECTORY_TOO_LONG, RunMarker(m_work / std::wstring(room, L'd')));
    EXPECT_FALSE(fileExists(m_work / L"ran.txt"));
}

} // namespace
