// Language resources (module ifcnls): the console's message libraries and
// message texts by number.
//
// The console keeps its messages in resource-only libraries named
// "<console dir>\msg<lang>u.dll". The language is the first value of the
// Languages key whose list of LCIDs holds the system's default LCID; English
// ("eng") is always loaded as the fallback. Loading happens at most once per
// process and every later CNlsResources only hands out texts:
//
//   CNlsResources nls;                        // loads on first construction
//   std::wstring text;
//   nls.FormatMessageText(text, 18072, path.c_str());
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

constexpr wchar_t NLS_DEFAULT_LANGUAGE[] = L"eng";

constexpr int NLS_LOAD_FAILED = 700;
// Error boxes of the loader.
constexpr int NLS_ERROR_NO_CONSOLE = 1001;
constexpr int NLS_ERROR_NO_LIBRARY = 1002;

constexpr size_t NLS_LANGUAGE_CODE_CHARS = 9;   // longest language code
constexpr size_t NLS_MAX_LCID_TOKENS = 256;     // LCIDs looked at per language
constexpr int NLS_MESSAGE_CHARS = 8192;         // longest message text, with terminator
constexpr size_t NLS_ERROR_BOX_CHARS = 2048;

// The process-wide language state. Written while loading (on the dialog
// thread, before any worker exists) and only read afterwards.
struct NlsState {
    int initialised = 0;
    int noLoad = 0;
    HMODULE hMessageLibrary = nullptr;         // chosen language; asked first
    HMODULE hDefaultMessageLibrary = nullptr;  // English; asked second
    std::wstring messageLibraryPath;
    std::wstring defaultMessageLibraryPath;
    int languageFound = 0;
    std::wstring languageCode;                 // lower case, at most NLS_LANGUAGE_CODE_CHARS
};

NlsState& nlsState();

// The noLoad switch of CNlsResources(int).
constexpr int NLS_LOADING_OFF = 1;
constexpr int NLS_LOADING_ON = 0;

class CNlsResources {
public:
    // Loads the message libraries unless that already succeeded or loading
    // has been switched off. Never fails: a failure shows an error box and
    // leaves the texts unavailable (a later construction tries again).
    CNlsResources();
    // Sets the process-wide noLoad switch to `noLoad` and loads nothing. With
    // a non-zero value no later construction loads either.
    explicit CNlsResources(int noLoad);

    // Message `id` from the chosen-language library, else from the default
    // one. Returns its length; 0 with `out` empty when neither has it.
    int GetMessageText(UINT id, std::wstring& out) const;

    // Message `id` formatted with the arguments: numbered inserts ("%1!s!")
    // when the text holds "%1!", printf style otherwise (Microsoft wide
    // conventions: %s takes a wide string). Pass strings as const wchar_t*.
    // A message that neither library has gives a text naming the number and
    // the default library.
    void FormatMessageText(std::wstring& out, UINT id, ...) const;
    void FormatMessageTextV(std::wstring& out, UINT id, va_list args) const;
};

// Finds the console, chooses the language and loads both libraries into the
// process-wide state. Shows error box 1001 or 1002 for what is missing and
// returns NLS_LOAD_FAILED then; 0 when everything loaded.
int nlsLoadLibraries();

// Sets languageFound and languageCode from the system's default LCID.
void nlsChooseLanguage();
// The same for a given LCID.
void nlsChooseLanguageFor(LCID lcid);

// True when one of the ","-separated hexadecimal tokens of `list` (empty
// tokens skipped, at most NLS_MAX_LCID_TOKENS) equals `lcid`.
bool nlsLcidListMatches(LCID lcid, const std::wstring& list);

// The console's reading of a hexadecimal LCID token: from the last character
// to the first with weights 1, 16, 256, ...; "A"-"F" in either case count
// 10-15, digits their value, anything else 0 (so "0x0409" is 0x409 but a
// trailing blank shifts the digits). 32-bit arithmetic, wrapping.
DWORD nlsParseHex(const std::wstring& token);

// Tells the user error NLS_ERROR_NO_CONSOLE or NLS_ERROR_NO_LIBRARY (the
// latter with the program's path and the library path as const wchar_t*)
// through the notice sink; the window shows it as an error box. Returns 1.
int nlsErrorBox(int code, ...);
