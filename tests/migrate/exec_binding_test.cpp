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
        traceSetCategory(TRACE_CAT_APP, 1);
        ASSERT_EQ(0, traceOpen(1, (m_temp / L"trace.txt").c_str(), 0));
        makeDirs(m_console);
        makeDirs(m_work);
    }

    void TearDown() override
    {
        traceOpen(0, nullptr, 0);
        // The binding never unloads the library; let go of it here so that
        // the scratch directory can be removed.
        std::wstring library;
        if (GetConsoleInstallPath(L"exec_dll.dll", library)) {
            for (int i = 0; i < 1000; ++i) {
                HMODULE module = GetModuleHandleW(library.c_str());
                if (!module)
                    break;
                FreeLibrary(module);
            }
        }
    }

    // Points the console's key at the scratch console directory, with
    // `library` there as exec_dll.dll (none when null).
    void installConsole(const char* library)
    {
        if (library) {
            ASSERT_TRUE(CopyFileW(widen(library).c_str(), (m_console + L"\\exec_dll.dll").c_str(), FALSE))
                << library;
        }
        setRegString(GA_KEY, L"Path", m_console);
    }

    std::wstring work(const std::wstring& name) const { return m_work + L"\\" + name; }

    ::testing::AssertionResult traced(const std::wstring& text)
    {
        const std::wstring trace = fromUtf16le(readBytes(m_temp / L"trace.txt"));
        if (trace.find(text) != std::wstring::npos)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "\"" << narrow(text) << "\" not in the trace:\n" << narrow(trace);
    }

    CleanNorvaleKeys m_keys;
    TempDir m_temp;
    const std::wstring m_console = m_temp / L"console";
    const std::wstring m_work = m_temp / L"work";
};

TEST_F(ExecBindingTest, RunsTheCommandInTheGivenDirectoryAndWaitsForIt)
{
    installConsole(QM_EXEC_DLL);

    EXPECT_EQ(0, runExecCommand(L"cmd /q /c echo hello> out.txt", m_work));
    // Relative to the working directory, and complete on return.
    EXPECT_EQ("hello\r\n", readBytes(work(L"out.txt")));

    EXPECT_EQ(0, runExecCommand(L"cmd /q /c cd> where.txt", m_work));
    EXPECT_EQ(narrow(m_work) + "\r\n", readBytes(work(L"where.txt")));

    EXPECT_TRUE(traced(L"Quarn EXEC DLL version: 328194\r\n"));
    EXPECT_TRUE(traced(L"Issuing: cmd /q /c echo hello> out.txt\r\n"));
    EXPECT_TRUE(traced(L"Results: 1\r\n"));
    EXPECT_TRUE(traced(L"Obtained Results. Length: 0\r\n"));
    EXPECT_TRUE(traced(L"after free Results, rc: 0\r\n"));
    EXPECT_TRUE(traced(L"past exec completion, rc: 0\r\n"));
}

TEST_F(ExecBindingTest, ACommandThatRanIsDoneWhateverItsExitCode)
{
    installConsole(QM_EXEC_DLL);

    EXPECT_EQ(0, runExecCommand(L"cmd /q /c exit 3", m_work));
    EXPECT_TRUE(traced(L"past exec completion, rc: 3\r\n"));
}

TEST_F(ExecBindingTest, ACommandThatCannotStartGivesTheLibrarysCode)
{
    installConsole(QM_EXEC_DLL);

    const int result = runExecCommand(L"cmd /q /c echo x> ran.txt", m_work + L"\\missing");
    EXPECT_NE(0, result);
    EXPECT_TRUE(traced(L"Results: 0\r\n"));
    EXPECT_TRUE(traced(L"past exec completion, rc: " + std::to_wstring(result) + L"\r\n"));
    EXPECT_FALSE(fileExists(work(L"ran.txt")));
}

TEST_F(ExecBindingTest, OutputOnBothStreamsReachesTheOutputTarget)
{
    installConsole(QM_EXEC_DLL);
    const std::wstring target = work(L"output.txt");

    EXPECT_EQ(0, runExecCommand(L"cmd /q /c echo to stdout& echo to stderr 1>&2", m_work, target.c_str()));
    const std::string bytes = readBytes(target);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
    const std::wstring text = fromUtf16le(bytes.substr(2));
    EXPECT_NE(std::wstring::npos, text.find(L"to stdout\r\n")) << narrow(text);
    EXPECT_NE(std::wstring::npos, text.find(L"to stderr")) << narrow(text);
    EXPECT_TRUE(traced(L"Obtained Results. Length: " + std::to_wstring(text.size()) + L"\r\n"));
}

TEST_F(ExecBindingTest, ACommandPrintingMoreThanAPipeHoldsStillFinishes)
{
    installConsole(QM_EXEC_DLL);
    const std::wstring target = work(L"output.txt");

    // About 100 KB of output, far beyond a pipe's buffer.
    EXPECT_EQ(0, runExecCommand(L"cmd /q /c for /l %i in (1,1,5000) do @echo line %i of a chatty command", m_work,
                                target.c_str()));
    const std::wstring text = fromUtf16le(readBytes(target));
    EXPECT_NE(std::wstring::npos, text.find(L"line 1 of a chatty command\r\n"));
    EXPECT_NE(std::wstring::npos, text.find(L"line 5000 of a chatty command\r\n"));
}

TEST_F(ExecBindingTest, LibraryNotLoadedWithoutConsoleKeyPathOrFile)
{
    // No console key at all.
    EXPECT_EQ(EXEC_NOT_LOADED, runExecCommand(L"cmd /q /c echo x> ran.txt", m_work));

    // The key without "Path".
    createRegKey(GA_KEY);
    EXPECT_EQ(EXEC_NOT_LOADED, runExecCommand(L"cmd /q /c echo x> ran.txt", m_work));

    // "Path" names a directory without the library.
    installConsole(nullptr);
    EXPECT_EQ(EXEC_NOT_LOADED, runExecCommand(L"cmd /q /c echo x> ran.txt", m_work));
    EXPECT_TRUE(traced(L"Unable to load "));
    EXPECT_TRUE(traced(L"\\exec_dll.dll\r\n"));

    EXPECT_FALSE(fileExists(work(L"ran.txt")));
}

TEST_F(ExecBindingTest, LibraryWithoutEntryPointTableIsRefused)
{
    installConsole(QM_EXEC_DLL_NOENTRY);

    EXPECT_EQ(EXEC_NO_ENTRY_POINTS, runExecCommand(L"cmd /q /c echo x> ran.txt", m_work));
    EXPECT_TRUE(traced(L"Failed to get execGetEntryPoints entry point from exec_dll.dll\r\n"));
    EXPECT_FALSE(fileExists(work(L"ran.txt")));
}

TEST_F(ExecBindingTest, LibraryMissingAnEntryIsRefusedEvenOneNeverCalled)
{
    installConsole(QM_EXEC_DLL_NULLSLOT);

    EXPECT_EQ(EXEC_ENTRY_MISSING, runExecCommand(L"cmd /q /c echo x> ran.txt", m_work));
    EXPECT_TRUE(traced(L"Failed to get execErrorString address from exec_dll.dll\r\n"));
    EXPECT_FALSE(traced(L"Failed to get execIssueCommand"));
    EXPECT_FALSE(traced(L"Issuing:"));
    EXPECT_FALSE(fileExists(work(L"ran.txt")));
}

TEST_F(ExecBindingTest, LibraryThatCallsItselfUnusableIsRefused)
{
    installConsole(QM_EXEC_DLL_UNUSABLE);

    EXPECT_EQ(EXEC_ENTRY_MISSING, runExecCommand(L"cmd /q /c echo x> ran.txt", m_work));
    EXPECT_FALSE(traced(L"Issuing:"));
    EXPECT_FALSE(fileExists(work(L"ran.txt")));
}

TEST_F(ExecBindingTest, CommandThatRanWithoutOutputTextIsReported)
{
    installConsole(QM_EXEC_DLL_NORESULTS);

    EXPECT_EQ(EXEC_NO_OUTPUT, runExecCommand(L"cmd /q /c echo x> ran.txt", m_work));
    EXPECT_TRUE(fileExists(work(L"ran.txt")));
    EXPECT_TRUE(traced(L"\r\nResults: empty\r\n"));
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

TEST_F(ExecBindingTest, RegeditExportsAKeyAsUtf16WithMark)
{
    installConsole(QM_EXEC_DLL);
    setRegString(BETA_KEY, L"ExportProbe", L"probe value");
    const std::wstring file = work(L"quarnrept_mig.reg");

    EXPECT_EQ(0, runExecCommand(L"cmd /q /c regedit /e \"" + file + L"\" HKEY_LOCAL_MACHINE\\" + BETA_KEY, m_work));
    const std::string bytes = readBytes(file);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
    const std::wstring text = fromUtf16le(bytes.substr(2));
    EXPECT_NE(std::wstring::npos, text.find(L"\"ExportProbe\"=\"probe value\"")) << narrow(text);
}

} // namespace
