// Language choice, loading of the console's message libraries (real registry,
// stand-in libraries, real message boxes), message formatting, and the file
// utilities' error texts as the libraries give them.
#include "common/cmd/console_path.h"
#include "common/cmd/registry_key.h"
#include "common/msg/nls_resources.h"
#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace qmtest;

namespace {

// A console in a scratch directory: the console key's "Path" names it and the
// Languages key is empty. HKLM\SOFTWARE\Norvale is cleared before and after.
class ScratchConsole {
public:
    ScratchConsole()
    {
        setRegString(CONSOLE_KEY, CONSOLE_PATH_VALUE, m_dir.path());
        createRegKey(NLS_LANGUAGES_KEY);
    }
    // Copies the stand-in msg<lang>u.dll, built beside this program, into the directory.
    void installLibrary(const std::wstring& lang)
    {
        wchar_t exe[MAX_PATH];
        std::wstring from(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
        std::wstring relative = QM_STANDIN_RELATIVE_DIR;
        std::replace(relative.begin(), relative.end(), L'/', L'\\');
        const std::wstring name = L"msg" + lang + L"u.dll";
        from = from.substr(0, from.find_last_of(L'\\')) + L"\\" + relative + L"\\" + name;
        ASSERT_TRUE(CopyFileW(from.c_str(), (m_dir / name).c_str(), FALSE)) << narrow(from);
    }

private:
    CleanNorvaleKeys m_clean;
    TempDir m_dir;
};

BOOL CALLBACK collectBox(HWND hwnd, LPARAM found)
{
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (process == GetCurrentProcessId() && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(hwnd))
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(hwnd);
    return TRUE;
}

// Records the text of each message box this process shows and presses OK.
class MessageBoxWatcher {
public:
    MessageBoxWatcher() : m_thread([this] { run(); }) {}
    ~MessageBoxWatcher()
    {
        m_stop = true;
        m_thread.join();
    }
    std::vector<std::wstring> texts() const
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_texts;
    }

private:
    void run()
    {
        std::vector<HWND> seen;
        while (!m_stop) {
            // A closed box's handle may come back for a later one.
            seen.erase(std::remove_if(seen.begin(), seen.end(), [](HWND h) { return !IsWindow(h); }), seen.end());
            std::vector<HWND> found;
            EnumWindows(collectBox, reinterpret_cast<LPARAM>(&found));
            for (HWND box : found) {
                if (std::find(seen.begin(), seen.end(), box) != seen.end())
                    continue;
                seen.push_back(box);
                wchar_t text[4096] = {};
                GetDlgItemTextW(box, 0xFFFF, text, 4096);
                std::lock_guard<std::mutex> hold(m_mutex);
                m_texts.push_back(text);
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            }
            Sleep(20);
        }
    }

    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<std::wstring> m_texts;
    std::thread m_thread; // last: starts once the members above exist
};

// The system's default LCID as the Languages key writes it ("0409").
std::wstring systemLcidText()
{
    wchar_t text[16];
    swprintf(text, 16, L"%04lX", static_cast<unsigned long>(GetSystemDefaultLCID()));
    return text;
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

class Nls : public ::testing::Test {
protected:
    void SetUp() override { nlsState() = NlsState(); }
    void TearDown() override { nlsState() = NlsState(); }
    void setLanguage(const std::wstring& name, const std::wstring& lcids)
    {
        setRegString(NLS_LANGUAGES_KEY, name, lcids);
    }

    ScratchConsole console;
    MessageBoxWatcher boxes; // a stray box must not hang the test
};

using NlsLanguageChoice = Nls;
using NlsLoad = Nls;
using NlsMessages = Nls;

} // namespace

TEST(NlsLcidList, TokensAreHexAndMatchExactly)
{
    EXPECT_EQ(0x0409u, nlsParseHex(L"0x0409"));
    EXPECT_EQ(0xABCDEFu, nlsParseHex(L"aBcDeF"));
    EXPECT_EQ(0xFFFFFFFFu, nlsParseHex(L"FFFFFFFFF")); // 32-bit: extra digits wrap away
    EXPECT_TRUE(nlsLcidListMatches(0x0809, L",0409,,0809,"));
    EXPECT_FALSE(nlsLcidListMatches(0x0407, L",0409,,0809,"));
    EXPECT_FALSE(nlsLcidListMatches(0x0409, L"10409"));
}

TEST_F(NlsLanguageChoice, TheFirstValueListingTheLcidGivesTheLanguage)
{
    setLanguage(L"eng", L"0409,0809");
    setLanguage(L"deu", L" 0407,0807 ");
    nlsChooseLanguageFor(0x0407);
    EXPECT_EQ(1, nlsState().languageFound);
    EXPECT_EQ(L"deu", nlsState().languageCode);
    nlsChooseLanguageFor(0x0411);
    EXPECT_EQ(0, nlsState().languageFound);

    // Two values list the LCID: the first in the registry's order wins.
    deleteRegTree(NLS_LANGUAGES_KEY);
    setLanguage(L"fra", L"0407");
    setLanguage(L"deu", L"0407");
    CRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, NLS_LANGUAGES_KEY));
    std::wstring first;
    DWORD type = 0;
    ASSERT_EQ(ERROR_SUCCESS, key.EnumValue(0, first, type));
    nlsChooseLanguageFor(0x0407);
    EXPECT_EQ(first, nlsState().languageCode);
}

TEST_F(NlsLoad, TheChosenLanguageIsLoadedBesideTheDefault)
{
    console.installLibrary(L"eng");
    console.installLibrary(L"deu");
    setLanguage(L"fra", L"040C");
    setLanguage(L"DEU", L"0807," + systemLcidText());

    EXPECT_EQ(0, nlsLoadLibraries());
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_EQ(consoleDirectory() + L"msgengu.dll", nlsState().defaultMessageLibraryPath);
    EXPECT_EQ(consoleDirectory() + L"msgdeuu.dll", nlsState().messageLibraryPath);
    EXPECT_EQ(L"Die Datei %1!s! konnte nicht ge\u00f6ffnet werden.", message(18072));
}

TEST_F(NlsLoad, WithoutAMatchingLanguageTheDefaultServesAlone)
{
    console.installLibrary(L"eng");
    setLanguage(L"fra", L"040C");

    EXPECT_EQ(0, nlsLoadLibraries());
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_EQ(0, nlsState().languageFound);
    EXPECT_EQ(nlsState().hDefaultMessageLibrary, nlsState().hMessageLibrary);
    EXPECT_EQ(L"The file %1!s! could not be opened.", message(18072));
}

TEST_F(NlsLoad, ErrorBoxesAreShownAndDismissedAndTheCodeGoesOn)
{
    // 1001: no console key, nothing loads; texts fall back to the missing-string text.
    deleteRegTree(CONSOLE_KEY);
    EXPECT_EQ(NLS_LOAD_FAILED, nlsLoadLibraries());
    EXPECT_EQ(std::vector<std::wstring>{L"The Quarn Management Console is not properly installed.\n\n"
                                        L"The Console's registry key could not be located.\n\n"
                                        L"Please re-install the Quarn server.\n"},
              boxes.texts());
    std::wstring text;
    CNlsResources(1).FormatMessageText(text, 18072, L"C:\\a.txt");
    EXPECT_EQ(L"Could not obtain string resource 18072 from msg dll \n", text);

    // 1002: the chosen library is missing; it is named and English serves.
    nlsState() = NlsState();
    ScratchConsole other;
    other.installLibrary(L"eng");
    setLanguage(L"deu", systemLcidText());
    EXPECT_EQ(NLS_LOAD_FAILED, nlsLoadLibraries());
    wchar_t program[MAX_PATH];
    const std::wstring module(program, GetModuleFileNameW(nullptr, program, MAX_PATH));
    ASSERT_EQ(2u, boxes.texts().size());
    EXPECT_EQ(L" Module: " + module + L"\n Could not load the NLS resource dll -- " + consoleDirectory()
                  + L"msgdeuu.dll\n\n Either re-install or replace the copy of the missing DLL file.\n",
              boxes.texts()[1]);
    EXPECT_EQ(L"The file %1!s! could not be opened.", message(18072));
}

TEST_F(NlsMessages, NumberedAndPrintfStyleTextsAreFormatted)
{
    console.installLibrary(L"eng");
    console.installLibrary(L"deu");
    setLanguage(L"deu", systemLcidText());
    ASSERT_EQ(0, nlsLoadLibraries());
    CNlsResources nls;

    std::wstring text;
    nls.FormatMessageText(text, 18072, L"C:\\data\\r\u00e9sum\u00e9.txt");
    EXPECT_EQ(L"Die Datei C:\\data\\r\u00e9sum\u00e9.txt konnte nicht ge\u00f6ffnet werden.", text);
    // printf style with Microsoft conventions: %s takes a wide string.
    nls.FormatMessageText(text, 17577, 5, 5, L"Zugriff verweigert");
    EXPECT_EQ(L"Dateifehler (Ursache 5, Systemfehler 5): Zugriff verweigert", text);

    // A message neither library has is named with the default library.
    EXPECT_EQ(0, nls.GetMessageText(4711, text));
    nls.FormatMessageText(text, 4711, L"unused");
    EXPECT_EQ(L"Could not obtain string resource 4711 from msg dll " + consoleDirectory() + L"msgengu.dll\n", text);
}
