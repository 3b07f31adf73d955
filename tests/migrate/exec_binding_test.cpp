// runExecCommand against the stand-in exec_dll.dll (and broken builds of it),
// copied into a scratch console directory that the console's real key names.
// Commands run through the real cmd of the prefix.
#include "migrate/exec_binding.h"

#include "common/cmd/console_path.h"
#include "common/trace/trace.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace qmtest;

namespace {

class ExecBindingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        traceInit();
        traceSetCategory(TRACE_CAT_ALL, 0);
        makeDirs(m_console);
        makeDirs(m_work);
    }

    void TearDown() override
    {
        // The binding never unloads the library; let go of it here so that
        // the scratch directory can be removed.
        std::wstring library;
        if (GetConsoleInstallPath(L"exec_dll.dll", library))
            while (HMODULE module = GetModuleHandleW(library.c_str()))
                if (!FreeLibrary(module))
                    break;
    }

    // Points the console's key at the scratch console directory, with
    // `library` there as exec_dll.dll (none when null).
    void installConsole(const char* library)
    {
        if (library) {
            ASSERT_TRUE(CopyFileW(widen(library).c_str(), (m_console + L"\\exec_dll.dll").c_str(), FALSE)) << library;
        }
        setRegString(GA_KEY, L"Path", m_console);
    }

    // Runs a command that would leave ran.txt in the working directory.
    int runMarker() { return runExecCommand(L"cmd /q /c echo x> ran.txt", m_work); }
    std::wstring work(const std::wstring& name) const { return m_work + L"\\" + name; }

    CleanNorvaleKeys m_keys;
    TempDir m_temp;
    const std::wstring m_console = m_temp / L"console";
    const std::wstring m_work = m_temp / L"work";
};

TEST_F(ExecBindingTest, RunsTheCommandInTheGivenDirectoryAndSaysHowItEnded)
{
    installConsole(QM_EXEC_DLL);
    // Relative to the working directory, and complete on return.
    EXPECT_EQ(EXEC_DONE, runExecCommand(L"cmd /q /c echo hello> out.txt", m_work));
    EXPECT_EQ("hello\r\n", readBytes(work(L"out.txt")));
    // A command that ran is not one that worked: its exit code comes back.
    ExecOutcome ended;
    EXPECT_EQ(EXEC_DONE, runExecCommand(L"cmd /q /c cd & exit 9", m_work, nullptr, &ended));
    EXPECT_EQ(m_work + L"\r\n", ended.output);
    EXPECT_EQ(9u, ended.exitCode);

    // What the library could not start is its failure, reported apart from
    // the binding's own results.
    ExecOutcome failed;
    EXPECT_EQ(EXEC_LIBRARY_FAILED, runExecCommand(L"C:\\no\\such\\dir\\tool.exe", m_work, nullptr, &failed));
    EXPECT_NE(0, failed.libraryError);
    EXPECT_FALSE(failed.libraryErrorText.empty());
}

TEST_F(ExecBindingTest, MissingOrBrokenLibrariesAreRefusedBeforeAnythingRuns)
{
    EXPECT_EQ(EXEC_NOT_LOADED, runMarker()) << "no console key";
    installConsole(nullptr);
    EXPECT_EQ(EXEC_NOT_LOADED, runMarker()) << "no library in the directory";
    installConsole(QM_EXEC_DLL_NOENTRY);
    EXPECT_EQ(EXEC_NO_ENTRY_POINTS, runMarker());
    EXPECT_FALSE(fileExists(work(L"ran.txt")));
}

// A library once loaded stays loaded, so this one needs a test of its own.
TEST_F(ExecBindingTest, LibraryMissingAnEntryIsRefusedEvenOneNeverCalled)
{
    installConsole(QM_EXEC_DLL_NULLSLOT);
    EXPECT_EQ(EXEC_ENTRY_MISSING, runMarker());
    EXPECT_FALSE(fileExists(work(L"ran.txt")));
}

TEST_F(ExecBindingTest, CommandsAndDirectoriesTooLongForTheRequestAreRefusedWhole)
{
    installConsole(QM_EXEC_DLL);
    // Padded so that a command cut at the field would lose its redirection.
    auto command = [](size_t length, const wchar_t* file) {
        const std::wstring head = L"cmd /q /c echo ";
        const std::wstring tail = std::wstring(L"> ") + file;
        return head + std::wstring(length - head.size() - tail.size(), L'x') + tail;
    };
    EXPECT_EQ(0, runExecCommand(command(EXEC_MAX_COMMAND, L"fits.txt"), m_work));
    EXPECT_TRUE(fileExists(work(L"fits.txt")));
    EXPECT_EQ(EXEC_COMMAND_TOO_LONG, runExecCommand(command(EXEC_MAX_COMMAND + 1, L"long.txt"), m_work));
    EXPECT_FALSE(fileExists(work(L"long.txt")));

    const std::wstring longDirectory = m_work + L"\\" + std::wstring(EXEC_MAX_DIRECTORY - m_work.size(), L'd');
    ASSERT_EQ(EXEC_MAX_DIRECTORY + 1, longDirectory.size());
    const std::wstring marker = work(L"ran.txt");
    EXPECT_EQ(EXEC_DIRECTORY_TOO_LONG, runExecCommand(L"cmd /q /c echo x> \"" + marker + L"\"", longDirectory));
    EXPECT_FALSE(fileExists(marker));
}

} // namespace
