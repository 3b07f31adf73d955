#include "migrate/migration_backup.h"

#include "common/text.h"

#include "common/cmd/console_names.h"
#include "common/cmd/console_path.h"
#include "common/cmd/replacing_writer.h"
#include "common/cmd/system_error.h"
#include "common/fs/link_check.h"
#include "common/trace/trace.h"
#include "migrate/regedit_command.h"
#include "migrate/registry_tree.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>
#include <memory>
#include <string>


namespace {

const wchar_t BACKUPS_FOLDER[] = L"migration backups";
const wchar_t BACKUP_REGISTRY_FILE[] = L"Console.reg";
const wchar_t BACKUP_SCRIPT_FILE[] = L"restore.cmd";
const wchar_t BACKUP_README_FILE[] = L"README.txt";
// What the run kept, one entry a line, appended as it goes (see AppendEntry).
const wchar_t BACKUP_LIST_FILE[] = L"restore.lst";

const wchar_t* rootFolderName(BackupRoot root)
{
    switch (root) {
    case BackupRoot::Installation:
        return L"installation";
    case BackupRoot::WebSite:
        return L"web site";
    case BackupRoot::Zelt:
        return L"zelt";
    }
    return L"other";
}


// restore.cmd is read by cmd in the console's code page, which is the OEM code
// page unless someone changed it (Wine's cmd always reads batch files in the
// OEM code page, whatever chcp says). Texts are written in that code page.
bool toCodePage(const std::wstring& text, UINT codePage, std::string& bytes)
{
    bytes.clear();
    if (text.empty())
        return true;
    // The UTF-8 code pages take neither the flag nor the default-character test.
    const bool utf = codePage == CP_UTF8 || codePage == CP_UTF7;
    BOOL usedDefault = FALSE;
    const DWORD flags = utf ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL* used = utf ? nullptr : &usedDefault;
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(codePage, flags, text.c_str(), length, nullptr, 0, nullptr, used);
    if (size <= 0 || usedDefault)
        return false;
    bytes.resize(static_cast<size_t>(size));
    WideCharToMultiByte(codePage, flags, text.c_str(), length, &bytes[0], size, nullptr, nullptr);
    return true;
}

// A text restore.cmd names literally: cmd expands % even inside quotes, cannot
// quote a ", restore.lst divides its lines at |, and a control character or
// one outside the script's code page would reach the command as something
// else. `what` says what the text is ("the path ..."), `otherwise` what
// follows from a refusal.
bool cmdCanCarry(const std::wstring& text, const std::wstring& what, const wchar_t* otherwise,
                 std::wstring& reason)
{
    for (wchar_t c : text) {
        if (c == L'%' || c == L'"' || c == L'|' || c < 0x20 || c == 0x7F) {
            wchar_t code[8];
            swprintf(code, 8, L"%04X", static_cast<unsigned>(c));
            reason = what + L" holds the character U+" + code + L", which restore.cmd cannot carry; " + otherwise;
            return false;
        }
    }
    std::string bytes;
    if (!toCodePage(text, GetOEMCP(), bytes)) {
        reason = what + L" holds characters outside the OEM code page " + std::to_wstring(GetOEMCP())
            + L", in which restore.cmd is written; " + otherwise;
        return false;
    }
    return true;
}

bool cmdCanCarry(const std::wstring& path, std::wstring& reason)
{
    return cmdCanCarry(path, L"the path " + path, L"nothing was backed up for it", reason);
}

// Whether restore.cmd can remove what an import adds: the key by its name, a
// value by its key's name and its own, which reg.exe takes in quotes (where a
// backslash at the end would escape the closing one).
bool cmdCanRemove(const TreeAdditions& added, std::wstring& reason)
{
    const wchar_t otherwise[] = L"nothing was imported";
    for (const std::wstring& key : added.keys)
        if (!cmdCanCarry(key, L"the key " + key, otherwise, reason))
            return false;
    for (const auto& value : added.values) {
        const std::wstring what = L"the name of the value \"" + value.second + L"\" under " + value.first;
        if (!cmdCanCarry(value.first, L"the key " + value.first, otherwise, reason)
            || !cmdCanCarry(value.second, what, otherwise, reason))
            return false;
        if (!value.second.empty() && value.second.back() == L'\\') {
            reason = what + L" ends in a backslash, which reg.exe would take for an escaped quote; " + otherwise;
            return false;
        }
    }
    return true;
}

// The reason for a backup file that could not be written, in the system's
// words for the error with the path standing for its %1.
std::wstring cannotWrite(const std::wstring& path, const FileFailure& failure)
{
    return L"cannot write " + path + L": " + systemErrorText(failure.osError, path);
}

// Replaces `path` in one step, so that a restore.cmd is never half written.
bool writeWholeFile(const std::wstring& path, const std::string& bytes, std::wstring& reason)
{
    FileFailure failure;
    if (w32WriteFileBytes(path, bytes, failure))
        return true;
    reason = cannotWrite(path, failure);
    return false;
}

std::wstring startText(const SYSTEMTIME& start, const wchar_t* timeSeparator)
{
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u%ls%02u%ls%02u", start.wYear, start.wMonth, start.wDay, start.wHour,
             timeSeparator, start.wMinute, timeSeparator, start.wSecond);
    return text;
}

// Full control for SYSTEM and Administrators, nothing inherited, nothing for
// anyone else: the backup holds every console setting, and restore.cmd is run
// by an administrator.
bool createProtectedFolder(const std::wstring& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(BACKUP_FOLDER_ACCESS, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes = { sizeof attributes, descriptor, FALSE };
    const BOOL made = CreateDirectoryW(path.c_str(), &attributes);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return made != FALSE;
}

// The account's name for a reason, or its SID where it has none.
std::wstring accountName(PSID sid)
{
    wchar_t name[256], domain[256];
    DWORD nameLength = 256, domainLength = 256;
    SID_NAME_USE use;
    if (LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
        return domain[0] ? std::wstring(domain) + L"\\" + name : std::wstring(name);
    LPWSTR text = nullptr;
    std::wstring result = L"an unknown account";
    if (ConvertSidToStringSidW(sid, &text)) {
        result = text;
        LocalFree(text);
    }
    return result;
}

// Whether an existing "migration backups" may be used as it is: not a link,
// and owned by an account that others cannot be.
bool existingFolderUsable(const std::wstring& gaDirectory, const std::wstring& parent, std::wstring& reason)
{
    const std::wstring link = firstLinkBelow(gaDirectory, BACKUPS_FOLDER);
    if (!link.empty()) {
        reason = L"the backup folder " + parent + L" is a link; the tool keeps no backup through a link. Check who "
                 L"made it and remove it; nothing was replaced";
        return false;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = GetNamedSecurityInfoW(parent.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                             nullptr, nullptr, nullptr, &descriptor);
    if (read != ERROR_SUCCESS) {
        reason = L"the owner of the backup folder " + parent + L" cannot be read (" + systemErrorText(read)
            + L"); nothing was replaced";
        return false;
    }
    const bool trusted = backupOwnerTrusted(owner);
    if (!trusted)
        reason = L"the backup folder " + parent + L" belongs to " + accountName(owner)
            + L", not to Administrators or SYSTEM, so someone else may have made it or may change what is kept "
              L"there. Check it, move it away, and migrate again; nothing was replaced";
    LocalFree(descriptor);
    return trusted;
}

// Copies `from`, from its start, into a new file `name` in `folder` (one of
// the backup's own), with its times; `from` is left at its start again. A
// copy that fails is removed.
bool copyOpenFile(const CInFile& from, const std::wstring& folder, const std::wstring& name, FileFailure& failure)
{
    CCheckedDir into;
    COutFile copy;
    FILE_BASIC_INFO times;
    if (!from.Rewind(failure) || !into.OpenRoot(folder, failure) || !copy.Create(into, name, 0, failure))
        return false;
    std::unique_ptr<char[]> block(new (std::nothrow) char[IO_CHUNK]);
    bool ok = block != nullptr;
    if (!ok)
        failure = systemFailure(ERROR_NOT_ENOUGH_MEMORY);
    for (DWORD got = 1; ok && got > 0;)
        ok = from.Read(block.get(), IO_CHUNK, got, failure) && w32WriteAll(copy.Get(), block.get(), got, failure);
    if (ok && GetFileInformationByHandleEx(from.Get(), FileBasicInfo, &times, sizeof times)) {
        times.FileAttributes = 0;
        SetFileInformationByHandle(copy.Get(), FileBasicInfo, &times, sizeof times);
    }
    if (ok && !FlushFileBuffers(copy.Get())) {
        failure = lastSystemFailure();
        ok = false;
    }
    ok = from.Rewind(failure) && ok;
    if (!ok) {
        FileFailure ignored;
        copy.Delete(ignored);
    }
    return ok;
}

} // namespace

const wchar_t BACKUP_FOLDER_ACCESS[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

bool backupOwnerTrusted(PSID owner)
{
    if (!owner || !IsValidSid(owner))
        return false;
    if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid))
        return true;
    // The administrator running the tool owns what an unelevated run of theirs
    // (or, under Wine, every run) made.
    bool same = false;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        union {
            TOKEN_USER user;
            BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        } buffer;
        DWORD length = 0;
        if (GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &length))
            same = EqualSid(owner, buffer.user.User.Sid) != FALSE;
        CloseHandle(token);
    }
    return same;
}

MigrationBackup::MigrationBackup(std::wstring gaDirectory, const SYSTEMTIME& start)
    : m_gaDirectory(std::move(gaDirectory))
    , m_start(start)
{
}

bool MigrationBackup::MakeFolder(std::wstring& reason)
{
    if (!m_folder.empty())
        return true;
    // Never a folder relative to the current directory or at a drive's root.
    const DWORD gaAttributes = GetFileAttributesW(m_gaDirectory.c_str());
    if (!isFullPath(m_gaDirectory) || gaAttributes == INVALID_FILE_ATTRIBUTES
        || !(gaAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reason = std::wstring(CONSOLE_DIRECTORY_UNKNOWN) + L", so no backup can be kept; nothing was replaced";
        return false;
    }
    const std::wstring parent = m_gaDirectory + L"\\" + BACKUPS_FOLDER;
    if (!cmdCanCarry(parent, reason))
        return false;
    if (!createProtectedFolder(parent)) {
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            reason = L"cannot create the backup folder " + parent + L": " + systemErrorText(error, parent);
            return false;
        }
        if (!existingFolderUsable(m_gaDirectory, parent, reason))
            return false;
    }
    // A folder of its own, never one an earlier run left (two runs in one
    // second): CreateDirectoryW makes it or tells us it is taken.
    const std::wstring stamp = startText(m_start, L"-");
    for (unsigned n = 1; n < 100; ++n) {
        const std::wstring candidate
            = parent + L"\\" + stamp + (n == 1 ? std::wstring() : L" (" + std::to_wstring(n) + L")");
        if (createProtectedFolder(candidate)) {
            m_folder = candidate;
            // restore.cmd is there before anything is kept: a run stopped at
            // any moment leaves one that restores what it got to.
            if (!WriteRestoreFiles(reason)) {
                DropFolderIfUnused();
                return false;
            }
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: backup folder %s\n", m_folder.c_str());
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            reason = L"cannot create the backup folder " + candidate + L": " + systemErrorText(error, candidate);
            return false;
        }
    }
    reason = L"cannot create a backup folder for " + stamp + L" in " + parent + L": every name is taken";
    return false;
}

void MigrationBackup::DropFolderIfUnused()
{
    // RemoveDirectoryW takes empty folders only, so nothing kept can go here.
    if (m_folder.empty() || !m_kept.empty() || m_registryKept)
        return;
    m_listFile.Close();
    for (const wchar_t* name : { BACKUP_SCRIPT_FILE, BACKUP_README_FILE, BACKUP_LIST_FILE })
        DeleteFileW((m_folder + L"\\" + name).c_str());
    for (BackupRoot root : { BackupRoot::Installation, BackupRoot::WebSite, BackupRoot::Zelt })
        RemoveDirectoryW((m_folder + L"\\" + rootFolderName(root)).c_str());
    m_rootFolders = 0;
    if (RemoveDirectoryW(m_folder.c_str())) {
        RemoveDirectoryW((m_gaDirectory + L"\\" + BACKUPS_FOLDER).c_str());
        m_folder.clear();
    }
}

bool MigrationBackup::CanList(const std::wstring& destinationName, const std::wstring& destination,
                              std::wstring& reason) const
{
    // The backup keeps files by name under their root's folder: a name that
    // reaches elsewhere would land outside it.
    if (destinationName.empty() || destinationName.find_first_of(L"\\/:") != std::wstring::npos) {
        reason = L"cannot back up \"" + destinationName + L"\": not a plain file name";
        return false;
    }
    return cmdCanCarry(destination, reason);
}

bool MigrationBackup::ExpectNewFile(const std::wstring& destinationRoot, const std::wstring& destinationName,
                                    std::wstring& reason)
{
    return CanList(destinationName, destinationRoot + L"\\" + destinationName, reason) && MakeFolder(reason);
}

bool MigrationBackup::KeepFile(BackupRoot root, const std::wstring& destinationRoot,
                               const std::wstring& destinationName, std::wstring& reason, const CInFile* held)
{
    const std::wstring destination = destinationRoot + L"\\" + destinationName;
    if (!CanList(destinationName, destination, reason))
        return false;
    // The first keep holds the file as it was before the run; a later one
    // would hold what the run wrote.
    if (m_kept.count(foldedCase(destination)))
        return true;

    // What is kept is what the caller has open, or what its name reaches now.
    CCheckedDir destinationFolder;
    CInFile own;
    FileFailure failure;
    if (!held || !held->IsOpen()) {
        if (!destinationFolder.OpenRoot(destinationRoot, failure) || !own.Open(destinationFolder, destinationName, failure)) {
            // A file the run is about to create is recorded only once it is
            // written (RecordCreated): restore.cmd must never delete a file of
            // that name that someone else made after a write that failed.
            if (failure.osError == ERROR_FILE_NOT_FOUND || failure.osError == ERROR_PATH_NOT_FOUND)
                return MakeFolder(reason);
            const std::wstring refusal = checkRefusal(failure);
            reason = L"cannot back up " + destination + L": "
                + (refusal.empty() ? describeFileFailure(failure) : refusal);
            return false;
        }
        held = &own;
    }
    if (!MakeFolder(reason))
        return false;
    const unsigned rootBit = 1u << static_cast<unsigned>(root);
    const std::wstring copyName = std::wstring(rootFolderName(root)) + L"\\" + destinationName;
    const std::wstring copy = m_folder + L"\\" + copyName;
    const std::wstring folder = m_folder + L"\\" + rootFolderName(root);
    if (!(m_rootFolders & rootBit)) {
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            const DWORD error = GetLastError();
            reason = L"cannot back up " + destination + L" to " + copy + L": " + systemErrorText(error, folder);
            DropFolderIfUnused();
            return false;
        }
        m_rootFolders |= rootBit;
    }
    if (!copyOpenFile(*held, folder, destinationName, failure)) {
        reason = L"cannot back up " + destination + L" to " + copy + L": " + describeFileFailure(failure);
        DropFolderIfUnused();
        return false;
    }
    if (!AppendEntry(L"copy", copyName, destination, reason)) {
        DeleteFileW(copy.c_str());
        DropFolderIfUnused();
        return false;
    }
    m_kept.insert(foldedCase(destination));
    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: backed up %s (%s)\n", destination.c_str(), copyName.c_str());
    return true;
}

bool MigrationBackup::RecordCreated(const std::wstring& destinationRoot, const std::wstring& destinationName,
                                    std::wstring& reason)
{
    const std::wstring destination = destinationRoot + L"\\" + destinationName;
    if (m_kept.count(foldedCase(destination)))
        return true;
    if (!MakeFolder(reason) || !AppendEntry(L"new", L"-", destination, reason))
        return false;
    m_kept.insert(foldedCase(destination));
    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: backed up %s (new)\n", destination.c_str());
    return true;
}

bool MigrationBackup::KeepRegistryKey(const RegistryTree& imported, std::wstring& reason)
{
    // The first export holds the key as it was; a later one would hold the import.
    if (m_registryKept)
        return true;
    if (!MakeFolder(reason))
        return false;
    const std::wstring file = m_folder + L"\\" + BACKUP_REGISTRY_FILE;
    if (KeepRegistryExport(file, imported, reason) && AppendEntry(L"registry", BACKUP_REGISTRY_FILE, L"-", reason)) {
        m_registryKept = true;
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: backed up %s to %s\n", GA_SETTINGS_KEY, file.c_str());
        return true;
    }
    // A half export must not pass for the key in restore.cmd.
    DeleteFileW(file.c_str());
    DropFolderIfUnused();
    return false;
}

bool MigrationBackup::KeepRegistryExport(const std::wstring& file, const RegistryTree& imported,
                                         std::wstring& reason)
{
    const std::wstring key = GA_SETTINGS_KEY;
    std::wstring failedKey;
    const LONG read = readRegistryTree(GA_SETTINGS_SUBKEY, m_registryBefore, failedKey);
    if (read != ERROR_SUCCESS) {
        reason = L"cannot back up " + key + L": the key " + failedKey + L" cannot be read (" + systemErrorText(read)
            + L")";
        return false;
    }
    // restore.cmd puts back what Console.reg holds: all of the key, as read.
    std::wstring text;
    return cmdCanRemove(additionsIn(m_registryBefore, imported), reason)
        && exportWholeKey(key, m_registryBefore, file, L"the 5.2.2 key", text, reason);
}

bool MigrationBackup::RecordRegistryImport(const RegistryTree& after, std::wstring& reason)
{
    if (!m_registryKept)
        return true;
    const TreeAdditions added = additionsIn(m_registryBefore, after);
    if (added.keys.empty() && added.values.empty() && !shortfallOf(after, m_registryBefore).missing) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: the import left %s as it was\n", GA_SETTINGS_KEY);
        // The entry goes first: a restore that finds it and not the file is
        // one stopped half way here.
        std::wstring ignored;
        if (AppendEntry(L"unchanged", BACKUP_REGISTRY_FILE, L"-", ignored)) {
            DeleteFileW((m_folder + L"\\" + BACKUP_REGISTRY_FILE).c_str());
            m_registryKept = false;
            DropFolderIfUnused();
        }
        return true;
    }
    // Checked before the import for what the file would add; something else
    // may have added more since.
    if (!cmdCanRemove(added, reason)) {
        reason = L"restore.cmd cannot remove what the import added: " + reason;
        return false;
    }
    for (const std::wstring& key : added.keys)
        if (!AppendEntry(L"addedkey", L"-", regExeKeyName(key), reason))
            return false;
    for (const auto& value : added.values) {
        const bool byDefault = value.second.empty();
        if (!AppendEntry(byDefault ? L"addeddefault" : L"addedvalue", byDefault ? L"-" : value.second,
                         regExeKeyName(value.first), reason))
            return false;
    }
    return AppendEntry(L"imported", L"-", L"-", reason);
}

bool MigrationBackup::Finish(std::wstring& reason)
{
    // Everything is on disk as it is kept; a failure there failed its row.
    m_listFile.Close();
    reason.clear();
    return true;
}

// One line a kept item, in the OEM code page: kind|copy|destination|end. No
// path holds "|", and a line that a stopped run left without its "end" is
// skipped by restore.cmd. Appending costs the same for the last file as for
// the first, and each line is on disk before its file is replaced.
bool MigrationBackup::AppendEntry(const wchar_t* kind, const std::wstring& copy, const std::wstring& destination,
                                  std::wstring& reason)
{
    const std::wstring path = m_folder + L"\\" + BACKUP_LIST_FILE;
    std::string line;
    // What a line outside the OEM code page fails with.
    FileFailure failure = systemFailure(ERROR_NO_UNICODE_TRANSLATION);
    if (toCodePage(std::wstring(kind) + L"|" + copy + L"|" + destination + L"|end\r\n", GetOEMCP(), line)
        && w32AppendFileBytes(path, line, failure, &m_listFile))
        return true;
    reason = cannotWrite(path, failure);
    return false;
}

namespace {

// restore.cmd's main flow: its setup, the walk over restore.lst and the
// closing lines.
void appendScriptMain(std::wstring& s, const std::wstring& when, UINT codePage)
{
    auto line = [&s](const std::wstring& text) { s += text + L"\r\n"; };
    // The same script whatever the run kept: what to restore is in
    // restore.lst, which the run appends to. Paths stand in double quotes
    // or in FOR variables, with delayed expansion off: & ( ) ^ ! in names are
    // then plain characters. Every program is named by its full path, and
    // the script works from the system directory: started by a double-click,
    // the current directory is the backup folder, and a chcp.bat or reg.cmd
    // there must not run.
    line(L"@echo off");
    line(L"rem Puts the 5.2.2 installation back as it was before the migration of " + when + L".");
    line(L"rem Run it as an administrator; it works from any current directory.");
    line(L"setlocal EnableExtensions DisableDelayedExpansion");
    line(L"set \"QM_HERE=%~dp0\"");
    line(L"cd /d \"%SystemRoot%\\System32\"");
    line(L"if errorlevel 1 (");
    line(L"  echo ERROR: cannot change to \"%SystemRoot%\\System32\"; nothing was restored.");
    line(L"  exit /b 1");
    line(L")");
    line(L"rem restore.lst is written in code page " + std::to_wstring(codePage)
         + L": read it in that, and give the console its own back at the end.");
    line(L"set \"QM_CODEPAGE=\"");
    line(L"for /f \"tokens=2 delims=:.\" %%c in ('\"%SystemRoot%\\System32\\chcp.com\"') do set \"QM_CODEPAGE=%%c\"");
    line(L"\"%SystemRoot%\\System32\\chcp.com\" " + std::to_wstring(codePage) + L" >nul 2>&1");
    line(L"set \"QM_FAILED=\"");
    line(L"set \"QM_REGISTRY=\"");
    line(L"set \"QM_IMPORTED=\"");
    line(L"set \"QM_PARTIAL=\"");
    line(L"echo Restoring the 5.2.2 installation as it was before the migration of " + when + L".");
    line(L"if not exist \"%QM_HERE%restore.lst\" goto entries_done");
    line(L"for /f \"usebackq eol=| tokens=1-4 delims=|\" %%a in (\"%QM_HERE%restore.lst\") do (");
    line(L"  set \"QM_KIND=%%a\"");
    line(L"  set \"QM_COPY=%%b\"");
    line(L"  set \"QM_TARGET=%%c\"");
    line(L"  set \"QM_END=%%d\"");
    line(L"  call :entry");
    line(L")");
    line(L":entries_done");
    line(L"if defined QM_REGISTRY call :registry");
    line(L"echo.");
    line(L"set \"QM_EXIT=0\"");
    line(L"if defined QM_FAILED set \"QM_EXIT=1\"");
    line(L"if defined QM_PARTIAL set \"QM_EXIT=1\"");
    line(L"if defined QM_FAILED echo Restore FAILED in the steps marked ERROR above. The backup is left as it is; "
         L"restore.cmd can be run again.");
    line(L"if not defined QM_FAILED if defined QM_PARTIAL echo Restore INCOMPLETE: see the NOTE on the registry key "
         L"above; everything else is back as it was before the migration of " + when + L".");
    line(L"if not defined QM_FAILED if not defined QM_PARTIAL echo Done: the 5.2.2 installation is back as it was "
         L"before the migration of " + when + L".");
    line(L"if defined QM_CODEPAGE \"%SystemRoot%\\System32\\chcp.com\" %QM_CODEPAGE% >nul 2>&1");
    // Started by a double-click, the window would close before anyone read it.
    line(L"pause");
    line(L"exit /b %QM_EXIT%");
    line(L"");
}

// restore.cmd's subroutines for restore.lst's file entries.
void appendScriptFileEntries(std::wstring& s)
{
    auto line = [&s](const std::wstring& text) { s += text + L"\r\n"; };
    line(L":entry");
    line(L"rem A line without its end was being written when the run stopped, before its file was touched.");
    line(L"if not \"%QM_END%\"==\"end\" goto :eof");
    line(L"if \"%QM_KIND%\"==\"copy\" goto copy_back");
    line(L"if \"%QM_KIND%\"==\"new\" goto remove_created");
    line(L"if \"%QM_KIND%\"==\"registry\" set \"QM_REGISTRY=1\"");
    line(L"if \"%QM_KIND%\"==\"unchanged\" set \"QM_REGISTRY=\"");
    line(L"if \"%QM_KIND%\"==\"addedkey\" goto remove_added_key");
    line(L"if \"%QM_KIND%\"==\"addedvalue\" goto remove_added_value");
    line(L"if \"%QM_KIND%\"==\"addeddefault\" goto remove_added_default");
    line(L"if \"%QM_KIND%\"==\"imported\" set \"QM_IMPORTED=1\"");
    line(L"goto :eof");
    line(L"");
    line(L":copy_back");
    line(L"copy /b /y \"%QM_HERE%%QM_COPY%\" \"%QM_TARGET%\" >nul");
    line(L"if errorlevel 1 (");
    line(L"  echo ERROR: could not copy \"%QM_TARGET%\" back from the backup.");
    line(L"  set \"QM_FAILED=1\"");
    line(L") else (");
    line(L"  echo Restored \"%QM_TARGET%\".");
    line(L")");
    line(L"goto :eof");
    line(L"");
    // A file the migration created. Only a plain file goes: a directory or
    // a link now standing under the name is not what the migration made,
    // and del would empty it. %%~aI reads "d..." for a directory and ends in
    // "l" for a link.
    line(L":remove_created");
    line(L"set \"QM_ATTR=\"");
    line(L"for %%I in (\"%QM_TARGET%\") do set \"QM_ATTR=%%~aI\"");
    line(L"if not defined QM_ATTR (");
    line(L"  echo Removed \"%QM_TARGET%\", which the migration created.");
    line(L"  goto :eof");
    line(L")");
    line(L"set \"QM_KIND=file\"");
    line(L"if \"%QM_ATTR:~0,1%\"==\"d\" set \"QM_KIND=directory\"");
    line(L"if \"%QM_ATTR:~8,1%\"==\"l\" set \"QM_KIND=link\"");
    line(L"if not \"%QM_KIND%\"==\"file\" (");
    line(L"  echo ERROR: \"%QM_TARGET%\" is now a %QM_KIND%, not the file the migration created; it was left as it is.");
    line(L"  set \"QM_FAILED=1\"");
    line(L"  goto :eof");
    line(L")");
    line(L"del /f /q \"%QM_TARGET%\"");
    line(L"if exist \"%QM_TARGET%\" (");
    line(L"  echo ERROR: could not delete \"%QM_TARGET%\", which the migration created.");
    line(L"  set \"QM_FAILED=1\"");
    line(L") else (");
    line(L"  echo Removed \"%QM_TARGET%\", which the migration created.");
    line(L")");
    line(L"goto :eof");
    line(L"");
}

// restore.cmd's subroutines for the registry key: what the import added
// goes, then Console.reg puts back what it changed.
void appendScriptRegistryEntries(std::wstring& s)
{
    auto line = [&s](const std::wstring& text) { s += text + L"\r\n"; };
    const std::wstring view = L" /reg:" + std::to_wstring(registryViewBits());
    const std::wstring reg = L"\"%SystemRoot%\\System32\\reg.exe\"";
    const std::wstring key = regExeKeyName(GA_SETTINGS_KEY);
    const std::wstring regFile = std::wstring(L"\"%QM_HERE%") + BACKUP_REGISTRY_FILE + L"\"";
    // What the import added goes, each step proved by reg query; then
    // Console.reg puts back the values the import changed. The key itself
    // is never deleted, so the access lists on it and below it stay as they
    // are. reg.exe works on the registry view the tool read, whichever cmd
    // runs the script.
    const auto provedRemoval = [&](const wchar_t* label, const std::wstring& valueSwitch, const std::wstring& what) {
        line(label);
        line(reg + L" delete \"%QM_TARGET%\"" + valueSwitch + L" /f" + view + L" >nul 2>&1");
        line(reg + L" query \"%QM_TARGET%\"" + valueSwitch + view + L" >nul 2>&1");
        line(L"if errorlevel 1 (");
        line(L"  echo Removed " + what + L".");
        line(L") else (");
        line(L"  echo ERROR: could not remove " + what + L".");
        line(L"  set \"QM_FAILED=1\"");
        line(L")");
        line(L"goto :eof");
        line(L"");
    };
    provedRemoval(L":remove_added_key", L"", L"the registry key \"%QM_TARGET%\", which the migration added");
    provedRemoval(L":remove_added_value", L" /v \"%QM_COPY%\"",
                  L"the value \"%QM_COPY%\" that the migration added to \"%QM_TARGET%\"");
    // reg query reads a key's default value as "not set" rather than
    // failing, so only the deletion can tell.
    line(L":remove_added_default");
    line(reg + L" delete \"%QM_TARGET%\" /ve /f" + view + L" >nul 2>&1");
    line(L"if errorlevel 1 (");
    line(L"  echo ERROR: could not remove the default value that the migration gave \"%QM_TARGET%\" ^(if restore.cmd "
         L"ran before, it is gone already^).");
    line(L"  set \"QM_FAILED=1\"");
    line(L") else (");
    line(L"  echo Removed the default value that the migration gave \"%QM_TARGET%\".");
    line(L")");
    line(L"goto :eof");
    line(L"");
    line(L":registry");
    line(L"if not exist " + regFile + L" goto registry_missing");
    line(L"if defined QM_IMPORTED goto registry_import");
    line(L"echo NOTE: the migration stopped during the registry import, so the values and keys it may have added to "
         L"the registry key " + key + L" were not removed. Compare the key with Console.reg.");
    line(L"set \"QM_PARTIAL=1\"");
    line(L":registry_import");
    line(reg + L" import " + regFile + view + L" >nul 2>&1");
    line(L"if errorlevel 1 goto registry_lost");
    line(L"echo Put back the values of the registry key " + key + L" as they were, from Console.reg.");
    line(L"goto :eof");
    line(L":registry_missing");
    line(L"echo ERROR: " + regFile + L" is missing, so the registry key " + key + L" was left as it is.");
    line(L"set \"QM_FAILED=1\"");
    line(L"goto :eof");
    line(L":registry_lost");
    line(L"echo ERROR: the values of the registry key " + key + L" could not be put back from " + regFile
         + L". Import that file with the registry editor.");
    line(L"set \"QM_FAILED=1\"");
    line(L"goto :eof");
}

} // namespace

bool MigrationBackup::WriteRestoreFiles(std::wstring& reason) const
{
    const std::wstring when = startText(m_start, L":");
    const UINT codePage = GetOEMCP();
    std::wstring s;
    appendScriptMain(s, when, codePage);
    appendScriptFileEntries(s);
    appendScriptRegistryEntries(s);
    std::string script;
    if (!toCodePage(s, codePage, script)) {
        reason = L"cannot write " + m_folder + L"\\" + BACKUP_SCRIPT_FILE + L": a path in it is outside the OEM code page";
        return false;
    }
    // README.txt is plain ASCII, readable in any editor and code page.
    std::string readme = "This folder keeps what the quarnrept_migrate run of " + std::string(when.begin(), when.end())
        + " replaced in the 5.2.2 installation: each file as it was and, in Console.reg, the registry key "
          "HKLM\\...\\CurrentVersion\\Console as it was before the import.\r\n"
          "To put the installation back as it was before that run, close the console and run restore.cmd here as "
          "an administrator (a double-click will do).\r\n"
          "restore.cmd copies the kept files back, deletes the files the run created, removes the values and "
          "subkeys the run added to the registry key and puts back the values it changed, "
          "and shows ERROR for any step that failed; restore.lst lists what it restores.\r\n";
    return writeWholeFile(m_folder + L"\\" + BACKUP_SCRIPT_FILE, script, reason)
        && writeWholeFile(m_folder + L"\\" + BACKUP_README_FILE, readme, reason);
}
