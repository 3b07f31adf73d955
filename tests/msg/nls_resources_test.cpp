// Language choice, loading of the console's message libraries (real registry,
// stand-in libraries, what the user is told) and message formatting.
#include "common/cmd/console_path.h"
#include "common/msg/nls_resources.h"
#include "tests/cmd/cmd_test_support.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qmtest;

namespace {

// The system's default LCID as the Languages key writes it ("0409").
std::wstring systemLcidText()
{
    wchar_t text[16];
    swprintf(text, 16, L"%04lX", static_cast<unsigned long>(GetSystemDefaultLCID()));
    return text;
}

// Loads the libraries; the texts that loading told the user.
std::vector<std::wstring> boxesOfLoad(int expected)
{
    NoticeRecorder boxes;
    EXPECT_EQ(expected, nlsLoadLibraries());
    return boxes.Stop();
}

// Message 18072 with a file name, without loading anything.
std::wstring fileMessage()
{
    std::wstring text;
    CNlsResources(NLS_LOADING_OFF).FormatMessageText(text, 18072, L"C:\\a.txt");
    return text;
}

// A console in a scratch directory: the console key's "Path" names it and the
// Languages key is empty. HKLM\SOFTWARE\Norvale is cleared before and after.
class Nls : public ::testing::Test {
protected:
    Nls()
    {
        nlsState() = NlsState();
        setRegString(GA_INSTALL_KEY, INSTALL_PATH_VALUE, m_dir.Path());
        createRegKey(LANGUAGES_KEY);
    }
    ~Nls() override { Unload(); }

    // The tool keeps its libraries for the life of the process; a test lets
    // them go, so that it can load anew and the scratch directory can go.
    static void Unload()
    {
        NlsState& state = nlsState();
        if (state.hMessageLibrary && state.hMessageLibrary != state.hDefaultMessageLibrary)
            FreeLibrary(state.hMessageLibrary);
        if (state.hDefaultMessageLibrary)
            FreeLibrary(state.hDefaultMessageLibrary);
        state = NlsState();
    }

    // Copies the stand-in msg<lang>u.dll, built beside this program, into the directory.
    void InstallLibrary(const std::wstring& lang)
    {
        wchar_t exe[MAX_PATH];
        const std::wstring program(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
        const std::wstring name = L"msg" + lang + L"u.dll";
        // The relative directory keeps the build's forward slashes: Windows takes them.
        const std::wstring from = program.substr(0, program.rfind(L'\\') + 1) + QM_STANDIN_RELATIVE_DIR + L"\\" + name;
        ASSERT_TRUE(CopyFileW(from.c_str(), (m_dir / name).c_str(), FALSE)) << narrow(from);
    }
    // The console directory as the loader sees it (short form), with its backslash.
    std::wstring ConsoleDirectory() const { return shortForm(m_dir.Path()) + L"\\"; }

    CleanNorvaleKeys m_clean;
    TempDir m_dir;
};

} // namespace

TEST(NlsLcidList, TokensAreHexAndMatchExactly)
{
    EXPECT_TRUE(nlsLcidListMatches(0x0C0A, L",0409,,0x0c0A,"));
    EXPECT_FALSE(nlsLcidListMatches(0x0407, L",0409,,0809,"));
    EXPECT_FALSE(nlsLcidListMatches(0x0409, L"10409"));
}

TEST_F(Nls, TheFirstLanguageListingTheSystemLcidServesFirstAndEnglishTheRest)
{
    InstallLibrary(L"eng");
    InstallLibrary(L"deu");
    // No language lists the system's LCID: English alone.
    setRegString(LANGUAGES_KEY, L"fra", L"040C");
    EXPECT_EQ(std::vector<std::wstring>{}, boxesOfLoad(0));
    EXPECT_EQ(L"The file C:\\a.txt could not be opened.", fileMessage());

    // Two values list it: the first wins, its list read without the blanks around it.
    Unload();
    setRegString(LANGUAGES_KEY, L"deu", L" 0807," + systemLcidText() + L" ");
    setRegString(LANGUAGES_KEY, L"eng", systemLcidText());
    EXPECT_EQ(std::vector<std::wstring>{}, boxesOfLoad(0));
    EXPECT_EQ(L"Die Datei C:\\a.txt konnte nicht ge\u00f6ffnet werden.", fileMessage());
    // Only their strings are read: neither became a module of the process,
    // whose code would run in the elevated tool.
    EXPECT_EQ(nullptr, GetModuleHandleW(L"msgdeuu.dll"));
    EXPECT_EQ(nullptr, GetModuleHandleW(L"msgengu.dll"));
}

TEST_F(Nls, WhatIsMissingIsShownInABoxAndEnglishServesWhereItCan)
{
    // The chosen library is missing: it is named in lower case, and English serves.
    InstallLibrary(L"eng");
    setRegString(LANGUAGES_KEY, L"DEU", systemLcidText());
    wchar_t program[MAX_PATH];
    const std::wstring module(program, GetModuleFileNameW(nullptr, program, MAX_PATH));
    EXPECT_EQ(std::vector<std::wstring>{L" Module: " + module + L"\n Could not load the NLS resource dll -- "
                                        + ConsoleDirectory()
                                        + L"msgdeuu.dll\n\n Either re-install or replace the copy of the missing DLL file.\n"},
              boxesOfLoad(NLS_LOAD_FAILED));
    EXPECT_EQ(L"The file C:\\a.txt could not be opened.", fileMessage());

    // An empty Path is no directory (and never the current one): the box
    // names what is missing, and nothing is loaded.
    Unload();
    setRegString(GA_INSTALL_KEY, INSTALL_PATH_VALUE, L"");
    EXPECT_EQ(std::vector<std::wstring>{L" Module: " + module + L"\n Could not load the NLS resource dll -- "
                                        L"\\msgengu.dll\n\n Either re-install or replace the copy of the missing DLL file.\n"},
              boxesOfLoad(NLS_LOAD_FAILED));
    EXPECT_EQ(nullptr, nlsState().hDefaultMessageLibrary);

    // Without the console key nothing loads; texts fall back to the missing-string text.
    Unload();
    deleteRegTree(GA_INSTALL_KEY);
    EXPECT_EQ(std::vector<std::wstring>{L"The Quarn Management Console is not properly installed.\n\n"
                                        L"The Console's registry key could not be located.\n\n"
                                        L"Please re-install the Quarn server.\n"},
              boxesOfLoad(NLS_LOAD_FAILED));
    EXPECT_EQ(L"Could not obtain string resource 18072 from msg dll \n", fileMessage());
}
