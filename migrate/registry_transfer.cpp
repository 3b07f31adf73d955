#include "migrate/registry_transfer.h"

#include "common/text.h"

#include "common/files/checked_file.h"
#include "common/cmd/console_names.h"
#include "common/cmd/console_path.h"
#include "common/files/text_file.h"
#include "common/cmd/registry_key.h"
#include "common/cmd/system_error.h"
#include "common/trace/trace.h"
#include "migrate/migration_backup.h"
#include "migrate/regedit_command.h"
#include "migrate/registry_tree.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>

const wchar_t REGISTRATION_FILE_NAME[] = L"quarnrept_mig.reg";

namespace {

const wchar_t SETTINGS_WORD[] = L"console_reporting";
constexpr size_t SETTINGS_WORD_LENGTH = 17;

bool wordAt(const std::wstring& text, size_t position)
{
    for (size_t i = 0; i < SETTINGS_WORD_LENGTH; ++i) {
        wchar_t c = text[position + i];
        if (c >= L'A' && c <= L'Z')
            c = wchar_t(c - L'A' + L'a');
        if (c != SETTINGS_WORD[i])
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
        if (text.size() - position >= SETTINGS_WORD_LENGTH && wordAt(text, position)) {
            renamed += L"console";
            position += SETTINGS_WORD_LENGTH;
        } else {
            renamed += text[position++];
        }
    }
    return renamed;
}

std::wstring keepGaInstallValues(const std::wstring& text)
{
    static const wchar_t GA_SETTINGS_SECTION[] = L"[HKEY_LOCAL_MACHINE\\" QM_CONSOLE_VERSION_KEY L"\\console]";
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
            inGaSection = sameIgnoringCase(bare, GA_SETTINGS_SECTION);
        } else if (inGaSection && (startsWithIgnoringCase(bare, L"\"Path\"=")
                                   || startsWithIgnoringCase(bare, L"\"WebSiteLocalPath\"="))) {
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

namespace {

// The rewritten file in the backup folder goes when the transfer ends, however
// it ends: it is no part of the backup.
class CWorkFile {
public:
    explicit CWorkFile(CMigrationBackup& backup) : m_backup(backup) {}
    ~CWorkFile()
    {
        if (!path.empty()) {
            w32RemoveFile(path);
        }
        m_backup.ReleaseFolderIfUnused();
    }
    CWorkFile(const CWorkFile&) = delete;
    CWorkFile& operator=(const CWorkFile&) = delete;
    std::wstring path;

private:
    CMigrationBackup& m_backup;
};

} // namespace

bool migrateRegistrySettings(const std::wstring& betaDirectory, CMigrationBackup& backup, std::wstring& reason)
{
    const std::wstring betaKey = BETA_SETTINGS_KEY;
    const std::wstring gaKey = GA_SETTINGS_KEY;

    if (GetFileAttributesW(betaDirectory.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        reason = L"the beta directory " + betaDirectory
            + (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? L" does not exist"
                   : L" cannot be reached (" + systemErrorText(error) + L")");
        return false;
    }

    // regedit says little when it cannot export (Wine's still exits 0), so
    // the key is read first: all of it must be in the export.
    RegistryTree betaTree;
    std::wstring failedKey;
    const LONG read = readRegistryTree(BETA_SETTINGS_SUBKEY, betaTree, failedKey);
    if (read == ERROR_FILE_NOT_FOUND && failedKey == betaKey) {
        reason = L"the beta key " + betaKey + L" does not exist";
        return false;
    }
    if (read != ERROR_SUCCESS) {
        reason = (failedKey == betaKey ? L"the beta key " + betaKey : L"the key " + failedKey + L" of the beta key")
            + L" cannot be read (" + systemErrorText(read) + L")";
        return false;
    }

    // The export, the rewrite and the import happen where only
    // administrators can write; the folder is fresh, so no file of an
    // earlier run can stand in for an export that fails.
    CWorkFile work(backup);
    if (!backup.PrepareFolder(reason))
        return false;
    work.path = backup.Folder() + L"\\" + REGISTRATION_FILE_NAME;
    const std::wstring& file = work.path;

    // An editor that returned before it finished, or a file cut short, must
    // not pass for the settings.
    std::wstring text;
    if (!exportWholeKey(betaKey, betaTree, file, L"the beta key", text, reason)) {
        reason += L". Nothing was imported.";
        return false;
    }
    std::wstring unreadable;
    FileFailure failure;
    const std::wstring renamed = keepGaInstallValues(renameConsoleReporting(text));
    RegistryTree importedTree;
    if (!parseRegistrationText(renamed, importedTree, unreadable)) {
        reason = L"the renamed registration file cannot be read: " + unreadable + L". Nothing was imported.";
        return false;
    }
    // The renamed key, as the 5.2.2 key is spelled, in what the reasons say.
    for (RegistryKeyContent& key : importedTree)
        if (_wcsnicmp(key.path.c_str(), gaKey.c_str(), gaKey.size()) == 0
            && (key.path.size() == gaKey.size() || key.path[gaKey.size()] == L'\\'))
            key.path.replace(0, gaKey.size(), gaKey);
    PutFileOptions own;
    own.to = WriteTo::OwnFile;
    if (!w32PutFile(file, renamed, failure, own)) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error putting file: %s\n", file.c_str());
        // Importing the file as exported would only write the beta key back.
        reason = L"the registration file " + file + L" could not be rewritten: " + describeFileFailure(failure)
                 + L" Nothing was imported.";
        return false;
    }

    if (!backup.KeepRegistryKey(reason))
        return false;

    ExecOutcome imported;
    const int importResult = runRegedit(regeditImportArguments(file), imported);

    // The renamed file is left in the beta directory, as the tool always
    // left it: written there (replacing whatever stood under the name, a link
    // included), never read back.
    const std::wstring left = betaDirectory + L"\\" + REGISTRATION_FILE_NAME;
    FileFailure leftFailure;
    if (!w32PutFile(left, renamed, leftFailure, own))
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: error putting file: %s\n", left.c_str());

    // What the import did is read back whatever regedit said, so that
    // restore.cmd can take away what it added even when it failed half way.
    RegistryTree after;
    const LONG readBack = readRegistryTree(GA_SETTINGS_SUBKEY, after, failedKey);
    std::wstring unrecorded;
    if (readBack == ERROR_SUCCESS && !backup.RecordRegistryImport(after, unrecorded))
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: %s\n", unrecorded.c_str());

    reason = regeditFailure(L"importing " + file, importResult, imported);
    if (!reason.empty())
        return false;
    if (readBack != ERROR_SUCCESS) {
        reason = L"the import of " + file + L" cannot be checked: the key " + failedKey + L" cannot be read ("
            + systemErrorText(readBack) + L")";
        return false;
    }

    // An import can end well having written nothing or part (a key it may
    // not write, a file it did not finish): every value it was given must be
    // there now as it was given.
    const TreeShortfall importShortfall = shortfallOf(importedTree, after);
    if (importShortfall.missing) {
        reason = L"the import of " + file + L" did not arrive whole: " + std::to_wstring(importShortfall.missing)
            + L" of its " + std::to_wstring(importShortfall.checked)
            + L" values and keys are missing or differ under " + gaKey + L", the first: " + importShortfall.first
            + regeditSaid(imported);
        return false;
    }
    if (!unrecorded.empty()) {
        reason = L"the settings arrived, but " + unrecorded;
        return false;
    }
    return true;
}
