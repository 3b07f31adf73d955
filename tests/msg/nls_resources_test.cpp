// Language choice, loading of the console's message libraries (with the real
// registry keys, the stand-in libraries and real message boxes) and message
// formatting.
#include "common/cmd/console_path.h"
#include "common/cmd/registry_key.h"
#include "common/msg/nls_resources.h"
#include "tests/msg/msg_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qmtest;

namespace {

const std::wstring kNoConsoleText =
    L"The Quarn Management Console is not properly installed.\n\n"
    L"The Console's registry key could not be located.\n\n"
    L"Please re-install the Quarn server.\n";

std::wstring programPath()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring noLibraryText(const std::wstring& library)
{
    return L" Module: " + programPath() + L"\n Could not load the NLS resource dll -- " + library
           + L"\n\n Either re-install or replace the copy of the missing DLL file.\n";
}

// The console directory as the loader sees it (short form), with its backslash.
std::wstring consoleDirectory()
{
    std::wstring dir;
    GetConsoleInstallPath(L"", dir);
    return dir + L"\\";
}

std::wstring message(UINT id)
{
    std::wstring text;
    CNlsResources().GetMessageText(id, text);
    return text;
}

class NlsTest : public ::testing::Test {
protected:
    void SetUp() override { resetLanguageState(); }
    void TearDown() override { resetLanguageState(); }

    ScratchConsole console;
};

using NlsLanguageChoice = NlsTest;
using NlsLoad = NlsTest;
using NlsMessages = NlsTest;

} // namespace

TEST(NlsParseHex, ReadsTokensFromTheRightWithBlanksAndLettersCountingAsTheConsoleDoes)
{
    EXPECT_EQ(0x0409u, nlsParseHex(L"0409"));
    EXPECT_EQ(0x0409u, nlsParseHex(L"0x0409"));
    EXPECT_EQ(0x0409u, nlsParseHex(L" 0409"));
    EXPECT_EQ(0x4090u, nlsParseHex(L"0409 "));
    EXPECT_EQ(0xABCDEFu, nlsParseHex(L"aBcDeF"));
    EXPECT_EQ(0x0009u, nlsParseHex(L"g9"));
    EXPECT_EQ(0u, nlsParseHex(L""));
    // 32-bit arithmetic: digits past the eighth wrap away.
    EXPECT_EQ(0xFFFFFFFFu, nlsParseHex(L"FFFFFFFFF"));
    EXPECT_EQ(0x00000407u, nlsParseHex(L"100000407"));
}

TEST(NlsLcidList, MatchesAnyTokenExactlyAndSkipsEmptyOnes)
{
    EXPECT_TRUE(nlsLcidListMatches(0x0809, L",0409,,0809,"));
    EXPECT_TRUE(nlsLcidListMatches(0x0409, L"0409"));
    EXPECT_FALSE(nlsLcidListMatches(0x0407, L",0409,,0809,"));
    EXPECT_FALSE(nlsLcidListMatches(0x0409, L"10409"));
    EXPECT_FALSE(nlsLcidListMatches(0x0409, L""));
    EXPECT_FALSE(nlsLcidListMatches(0, L",,,"));
}

TEST(NlsLcidList, LooksAtTheFirst256TokensOnly)
{
    std::wstring list;
    for (int i = 0; i < 255; ++i)
        list += L"0001,,";
    EXPECT_TRUE(nlsLcidListMatches(0x0407, list + L"0407"));
    EXPECT_FALSE(nlsLcidListMatches(0x0407, list + L"0001,0407"));
}

TEST_F(NlsLanguageChoice, TheValueListingTheLcidGivesTheLanguage)
{
    console.setLanguages({{L"eng", L"0409,0809"}, {L"deu", L" 0407,0807 "}});

    nlsChooseLanguageFor(0x0407);
    EXPECT_EQ(1, nlsState().languageFound);
    EXPECT_EQ(L"deu", nlsState().languageCode);

    nlsChooseLanguageFor(0x0809);
    EXPECT_EQ(L"eng", nlsState().languageCode);

    // No match: nothing found, the earlier code stays.
    nlsChooseLanguageFor(0x0411);
    EXPECT_EQ(0, nlsState().languageFound);
    EXPECT_EQ(L"eng", nlsState().languageCode);
}

TEST_F(NlsLanguageChoice, TheFirstMatchingValueInEnumerationOrderWins)
{
    console.setLanguages({{L"fra", L"0407"}, {L"deu", L"0407"}});
    CRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, NLS_LANGUAGES_KEY));
    std::wstring first;
    DWORD type = 0;
    ASSERT_EQ(ERROR_SUCCESS, key.EnumValue(0, first, type));

    nlsChooseLanguageFor(0x0407);
    EXPECT_EQ(first, nlsState().languageCode);
}

TEST_F(NlsLanguageChoice, CodesAreLowerCasedAndOverlongNamesPassedOver)
{
    console.setLanguages({{L"deutschland", L"0407"}, {L"DEU", L"0407"}});
    nlsChooseLanguageFor(0x0407);
    EXPECT_EQ(1, nlsState().languageFound);
    EXPECT_EQ(L"deu", nlsState().languageCode);
}

TEST_F(NlsLanguageChoice, AMissingLanguagesKeyFindsNothing)
{
    deleteRegTree(NLS_LANGUAGES_KEY);
    nlsChooseLanguageFor(0x0409);
    EXPECT_EQ(0, nlsState().languageFound);
}

TEST_F(NlsLoad, TheSystemLocalesLanguageAndEnglishAreLoaded)
{
    console.installLibrary(L"eng");
    console.installLibrary(L"deu");
    console.setLanguages({{L"fra", L"040C"}, {L"DEU", L"0807," + systemLcidText()}});

    MessageBoxWatcher boxes;
    EXPECT_EQ(0, nlsLoadLibraries());
    EXPECT_TRUE(boxes.texts().empty());

    const NlsState& state = nlsState();
    EXPECT_EQ(consoleDirectory() + L"msgengu.dll", state.defaultMessageLibraryPath);
    EXPECT_EQ(consoleDirectory() + L"msgdeuu.dll", state.messageLibraryPath);
    ASSERT_NE(nullptr, state.hMessageLibrary);
    ASSERT_NE(nullptr, state.hDefaultMessageLibrary);
    EXPECT_NE(state.hMessageLibrary, state.hDefaultMessageLibrary);
    EXPECT_EQ(L"Die Datei %1!s! konnte nicht ge\u00f6ffnet werden.", message(18072));
}

TEST_F(NlsLoad, WithoutAMatchingLanguageEnglishServesAlone)
{
    console.installLibrary(L"eng");
    console.setLanguages({{L"fra", L"040C"}});

    MessageBoxWatcher boxes;
    EXPECT_EQ(0, nlsLoadLibraries());
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_EQ(0, nlsState().languageFound);
    EXPECT_EQ(consoleDirectory() + L"msgengu.dll", nlsState().messageLibraryPath);
    EXPECT_EQ(nlsState().hDefaultMessageLibrary, nlsState().hMessageLibrary);
    EXPECT_EQ(L"The file %1!s! could not be opened.", message(18072));
}

TEST_F(NlsLoad, APathEndingInABackslashStillFindsTheLibraries)
{
    console.installLibrary(L"eng");
    console.setPath(console.directory() + L"\\");

    MessageBoxWatcher boxes;
    EXPECT_EQ(0, nlsLoadLibraries());
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_NE(nullptr, nlsState().hDefaultMessageLibrary);
    EXPECT_NE(std::wstring::npos, nlsState().defaultMessageLibraryPath.find(L"\\\\msgengu.dll"));
}

TEST_F(NlsLoad, WithoutTheConsoleKeyBox1001IsShownAndNothingLoads)
{
    deleteRegTree(CONSOLE_KEY);

    MessageBoxWatcher boxes;
    EXPECT_EQ(NLS_LOAD_FAILED, nlsLoadLibraries());
    ASSERT_EQ(1u, boxes.boxes().size());
    EXPECT_EQ(kNoConsoleText, boxes.boxes()[0].text);
    EXPECT_EQ(L"nls_resources_test", boxes.boxes()[0].caption);

    EXPECT_EQ(nullptr, nlsState().hMessageLibrary);
    EXPECT_EQ(nullptr, nlsState().hDefaultMessageLibrary);
    std::wstring text = L"old";
    EXPECT_EQ(0, CNlsResources().GetMessageText(18072, text));
    EXPECT_EQ(L"", text);
    CNlsResources(1).FormatMessageText(text, 18072, L"C:\\a.txt");
    EXPECT_EQ(L"Could not obtain string resource 18072 from msg dll \n", text);
}

TEST_F(NlsLoad, AMissingEnglishLibraryIsNamedInBox1002AndTheOtherServes)
{
    console.installLibrary(L"deu");
    console.setLanguages({{L"deu", systemLcidText()}});

    MessageBoxWatcher boxes;
    EXPECT_EQ(NLS_LOAD_FAILED, nlsLoadLibraries());
    EXPECT_EQ(std::vector<std::wstring>{noLibraryText(consoleDirectory() + L"msgengu.dll")}, boxes.texts());
    EXPECT_EQ(nullptr, nlsState().hDefaultMessageLibrary);
    EXPECT_EQ(L"Dateifehler (Ursache %d, Systemfehler %d).", message(17576));
}

TEST_F(NlsLoad, AMissingChosenLibraryIsNamedInBox1002AndEnglishServes)
{
    console.installLibrary(L"eng");
    console.setLanguages({{L"deu", systemLcidText()}});

    MessageBoxWatcher boxes;
    EXPECT_EQ(NLS_LOAD_FAILED, nlsLoadLibraries());
    EXPECT_EQ(std::vector<std::wstring>{noLibraryText(consoleDirectory() + L"msgdeuu.dll")}, boxes.texts());
    EXPECT_EQ(nullptr, nlsState().hMessageLibrary);
    EXPECT_EQ(L"The file %1!s! could not be opened.", message(18072));
}

TEST_F(NlsLoad, AFailedLoadIsRetriedUntilLoadingIsSwitchedOff)
{
    deleteRegTree(CONSOLE_KEY);
    MessageBoxWatcher boxes;
    CNlsResources first;
    CNlsResources second;
    EXPECT_EQ(2u, boxes.texts().size());
    EXPECT_EQ(0, nlsState().initialised);

    CNlsResources off(1);
    CNlsResources third;
    EXPECT_EQ(2u, boxes.texts().size());
    EXPECT_EQ(1, nlsState().initialised);
}

TEST_F(NlsLoad, ASuccessfulLoadHappensOnce)
{
    console.installLibrary(L"eng");
    MessageBoxWatcher boxes;
    CNlsResources first;
    EXPECT_EQ(1, nlsState().initialised);
    const HMODULE loaded = nlsState().hDefaultMessageLibrary;
    ASSERT_NE(nullptr, loaded);

    // Later constructions neither look at the registry again nor reload.
    deleteRegTree(CONSOLE_KEY);
    CNlsResources second;
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_EQ(loaded, nlsState().hDefaultMessageLibrary);
}

TEST_F(NlsMessages, NumberedInsertsAndPrintfStyleAreBothFormatted)
{
    console.installLibrary(L"eng");
    console.installLibrary(L"deu");
    console.setLanguages({{L"deu", systemLcidText()}});
    ASSERT_EQ(0, nlsLoadLibraries());
    CNlsResources nls;

    std::wstring text;
    nls.FormatMessageText(text, 18072, L"C:\\data\\r\u00e9sum\u00e9.txt");
    EXPECT_EQ(L"Die Datei C:\\data\\r\u00e9sum\u00e9.txt konnte nicht ge\u00f6ffnet werden.", text);

    // printf style with Microsoft conventions: %s takes a wide string.
    nls.FormatMessageText(text, 17577, 5, 5, L"Zugriff verweigert");
    EXPECT_EQ(L"Dateifehler (Ursache 5, Systemfehler 5): Zugriff verweigert", text);
    nls.FormatMessageText(text, 17576, 14, -1);
    EXPECT_EQ(L"Dateifehler (Ursache 14, Systemfehler -1).", text);

    // English, numbered, from the default library alone.
    nlsState().hMessageLibrary = nlsState().hDefaultMessageLibrary;
    nls.FormatMessageText(text, 17577, 13, 112, L"Disk full");
    EXPECT_EQ(L"A file error occurred (cause 13, system error 112): Disk full", text);
}

TEST_F(NlsMessages, AMessageNeitherLibraryHasIsNamedWithTheDefaultLibrary)
{
    console.installLibrary(L"eng");
    ASSERT_EQ(0, nlsLoadLibraries());
    CNlsResources nls;

    std::wstring text = L"old";
    EXPECT_EQ(0, nls.GetMessageText(4711, text));
    EXPECT_EQ(L"", text);
    nls.FormatMessageText(text, 4711, L"unused");
    EXPECT_EQ(L"Could not obtain string resource 4711 from msg dll " + consoleDirectory() + L"msgengu.dll\n", text);

    const int length = nls.GetMessageText(50914, text);
    EXPECT_EQ(L"The file is not a Unicode text file: it does not begin with a byte-order mark.", text);
    EXPECT_EQ(int(text.size()), length);
}
