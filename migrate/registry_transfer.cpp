#include "migrate/registry_transfer.h"

#include "common/cmd/file_io.h"
#include "common/cmd/system_error.h"
#include "common/trace/trace.h"
#include "migrate/exec_binding.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>

const wchar_t REGISTRATION_FILE_NAME[] = L"quarnrept_mig.reg";

namespace {

const wchar_t kBetaKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\console_reporting";
const wchar_t kWord[] = L"console_reporting";
constexpr size_t kWordLength = 17;

bool wordAt(const std::wstring& text, size_t position)
{
    for (size_t i = 0; i < kWordLength; ++i) {
        wchar_t c = text[position + i];
        if (c >= L'A' && c <= L'Z')
            c = wchar_t(c - L'A' + L'a');
        if (c != kWord[i])
            return false;
    }
    return true;
}

} // namespace

std::wstring renameConsoleReporting(const std::wstring& text)
{
    std::wstring renamed;
    renamed.reserve(text.size());
    size_t position = 0;
    while (position < text.size()) {
        if (text.size() - position >= kWordLength && wordAt(text, position)) {
            renamed += L"console";
            position += kWordLength;
        } else {
            renamed += text[position++];
        }
    }
    return renamed;
}

namespace {

bool startsWithIgnoringCase(const std::wstring& text, size_t at, const wchar_t* prefix)
{
    for (size_t i = 0; prefix[i]; ++i) {
        if (at + i >= text.size() || towlower(text[at + i]) != towlower(prefix[i]))
            return false;
    }
    return true;
}

} // namespace

std::wstring keepGaInstallValues(const std::wstring& text)
{
    static const wchar_t kGaSection[] = L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\console]";
    std::wstring kept;
    kept.reserve(text.size());
    bool inGaSection = false;
    bool dropping = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        end = end == std::wstring::npos ? text.size() : end + 1;
        const std::wstring line = text.substr(start, end - start);
        std::wstring bare = line;
        while (!bare.empty() && (bare.back() == L'\n' || bare.back() == L'\r'))
            bare.pop_back();

        bool drop = false;
        if (dropping) {
            drop = true; // a continuation line of a dropped value
        } else if (!bare.empty() && bare[0] == L'[') {
            inGaSection = bare.size() == wcslen(kGaSection) && startsWithIgnoringCase(bare, 0, kGaSection);
        } else if (inGaSection && (startsWithIgnoringCase(bare, 0, L"\"Path\"=")
                                   || startsWithIgnoringCase(bare, 0, L"\"WebSiteLocalPath\"="))) {
            drop = true;
        }
        // Values written in hexadecimal go on over lines that end in a backslash.
        dropping = drop && !bare.empty() && bare.back() == L'\\';
        if (!drop)
            kept += line;
        start = end;
    }
    return kept;
}

bool migrateRegistrySettings(const std::wstring& betaDirectory, std::wstring& reason)
{
    const std::wstring file = betaDirectory + L"\\" + REGISTRATION_FILE_NAME;

    // A file left by an earlier run must not stand in for an export that failed.
    if (!DeleteFileW(file.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: cannot remove old registration file %s, error %u\n", file.c_str(),
                 unsigned(GetLastError()));
        reason = L"the old registration file " + file + L" cannot be removed";
        return false;
    }

    const std::wstring exportCommand = L"cmd /q /c regedit /e \"" + file + L"\" " + kBetaKey;
    ExecOutcome exportOutcome;
    const int exported = runExecCommand(exportCommand, betaDirectory, nullptr, &exportOutcome);

    std::wstring text;
    FileFailure failure;
    DWORD length = 0;
    if (!w32GetFile(file, text, failure, length, TextEncoding::Utf16Le, PathIs::AsGiven)) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error getting file: %s\n", file.c_str());
        // Importing an empty file would add nothing: say what went wrong instead.
        if ((exported == EXEC_DONE || exported == EXEC_NO_OUTPUT) && failure.cause != FILE_CAUSE_NOT_FOUND)
            reason = L"the exported registration file " + file + L" cannot be read: " + describeFileFailure(failure);
        else if (exported == EXEC_DONE || exported == EXEC_NO_OUTPUT)
            reason = L"the registry settings could not be exported (is the beta key still there?)";
        else if (exported == EXEC_NOT_LOADED && exportOutcome.loadError != 0)
            reason = L"the registry editor could not be run: the command library " + exportOutcome.library
                     + L" could not be loaded ("
                     + systemErrorText(exportOutcome.loadError, L"the library") + L")";
        else
            reason = L"the registry editor could not be run (command library result " + std::to_wstring(exported)
                     + L")";
        return false;
    }
    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: registry file len: %u\n", unsigned(length));

    const std::wstring renamed = keepGaInstallValues(renameConsoleReporting(text));
    if (!w32PutFile(file, renamed, PutMode::Replace, NoSizeLimit, failure, TextEncoding::Utf16Le, PathIs::AsGiven)) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error putting file: %s\n", file.c_str());
        // Importing the file as exported would only write the beta key back.
        reason = L"the registration file " + file + L" could not be rewritten: " + describeFileFailure(failure);
        return false;
    }

    const std::wstring importCommand = L"cmd /q /c regedit /s \"" + file + L"\"";
    const int imported = runExecCommand(importCommand, betaDirectory);
    if (imported != EXEC_DONE && imported != EXEC_NO_OUTPUT) {
        reason = L"the registry editor could not import " + file + L" (command library result "
                 + std::to_wstring(imported) + L")";
        return false;
    }
    return true;
}
