#include "migrate/migration_backup.h"

#include "common/text.h"

#include "common/cmd/console_names.h"
#include "common/cmd/console_path.h"
#include "common/files/replacing_writer.h"
#include "common/cmd/system_error.h"
#include "common/fs/owner.h"
#include "common/trace/trace.h"
#include "migrate/backup_folder.h"
#include "migrate/backup_texts.h"
#include "migrate/backup_restore.h"
#include "migrate/regedit_command.h"
#include "migrate/registry_tree.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>


namespace {

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


// The reason for a backup file that could not be written, in the system's
// words for the error with the path standing for its %1.
std::wstring cannotWrite(const std::wstring& path, const FileFailure& failure)
{
    return L"cannot write " + path + L": " + systemErrorText(failure.osError, path);
}

// Replaces `name` in `folder` in one step, so that a restore.cmd is never
// half written.
bool writeWholeFile(const CCheckedDir& folder, const std::wstring& name, const std::string& bytes, std::wstring& reason)
{
    FileFailure failure;
    CReplacingWriter writer;
    if (writer.Begin(folder, name, failure, WriteTo::OwnFile) && writer.Write(bytes.data(), bytes.size(), failure)
        && writer.Commit(failure))
        return true;
    reason = cannotWrite(folder.Path() + L"\\" + name, failure);
    return false;
}

} // namespace

CMigrationBackup::CMigrationBackup(std::wstring gaDirectory, const SYSTEMTIME& start)
    : m_gaDirectory(std::move(gaDirectory))
    , m_start(start)
{
}

bool CMigrationBackup::MakeFolder(std::wstring& reason)
{
    if (!m_folder.empty())
        return true;
    // Never a folder relative to the current directory or at a drive's root.
    FileFailure failure;
    if (!isFullPath(m_gaDirectory) || !m_ga.OpenRoot(m_gaDirectory, failure)) {
        reason = std::wstring(CONSOLE_DIRECTORY_UNKNOWN) + L", so no backup can be kept; nothing was replaced";
        return false;
    }
    // Every folder of the backup is made and reached by the handle of the
    // one that holds it: none can be swapped for a link on the way.
    const std::wstring parent = m_gaDirectory + L"\\" + BACKUPS_FOLDER;
    if (!ledgerCanCarry(parent, reason))
        return false;
    if (!createProtectedFolder(m_backups, m_ga, BACKUPS_FOLDER, failure)) {
        if (failure.osError != ERROR_ALREADY_EXISTS) {
            reason = L"cannot create the backup folder " + parent + L": " + describeFileFailure(failure);
            return false;
        }
        if (!existingFolderUsable(m_backups, m_ga, reason))
            return false;
    }
    // From here to the run's end no other migration or restore of this
    // installation works: the lock lies where only administrators write.
    if (!takeRunLock(m_backups, m_lock, reason)) {
        reason += L" Nothing was replaced; migrate again once it has ended";
        return false;
    }
    // A folder of its own, never one an earlier run left (two runs in one
    // second): the create makes it or says it is taken.
    const std::wstring stamp = startText(m_start, L"-");
    for (unsigned n = 1; n < 100; ++n) {
        const std::wstring name = stamp + (n == 1 ? std::wstring() : L" (" + std::to_wstring(n) + L")");
        if (createProtectedFolder(m_dir, m_backups, name, failure)) {
            m_folder = m_dir.Path();
            m_dirName = name;
            // restore.cmd is there before anything is kept: a run stopped at
            // any moment leaves one that restores what it got to. The restore
            // is done by a copy of the tool in this folder, which only
            // administrators may change: not by whatever stands where the
            // tool was started from by then.
            if (!copyFileInto(restoreProgram(), m_dir, BACKUP_PROGRAM_FILE, failure)) {
                reason = L"cannot copy the tool into the backup folder " + m_folder + L": "
                    + describeFileFailure(failure) + L" Nothing was replaced";
                DropFolderIfUnused();
                return false;
            }
            if (!WriteRestoreFiles(reason)) {
                DropFolderIfUnused();
                return false;
            }
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: backup folder %s\n", m_folder.c_str());
            return true;
        }
        if (failure.osError != ERROR_ALREADY_EXISTS) {
            reason = L"cannot create the backup folder " + parent + L"\\" + name + L": " + describeFileFailure(failure);
            return false;
        }
    }
    reason = L"cannot create a backup folder for " + stamp + L" in " + parent + L": every name is taken";
    return false;
}

void CMigrationBackup::DropFolderIfUnused()
{
    // Only empty folders can be removed, so nothing kept can go here.
    if (m_folder.empty() || !m_kept.empty() || m_registryKept)
        return;
    m_listFile.Close();
    for (const wchar_t* name : { BACKUP_SCRIPT_FILE, BACKUP_README_FILE, BACKUP_LIST_FILE, BACKUP_PROGRAM_FILE }) {
        COutFile file;
        FileFailure ignored;
        if (file.OpenToDelete(m_dir, name, ignored))
            file.Delete(ignored);
    }
    for (BackupRoot root : { BackupRoot::Installation, BackupRoot::WebSite, BackupRoot::Zelt })
        if (m_rootDirs[static_cast<unsigned>(root)].IsOpen())
            m_rootDirs[static_cast<unsigned>(root)].RemoveFrom(m_dir, rootFolderName(root));
    m_rootFolders = 0;
    if (m_dir.RemoveFrom(m_backups, m_dirName)) {
        // The lock goes with the folder; the next keep takes both again.
        m_lock.Close();
        m_backups.RemoveFrom(m_ga, BACKUPS_FOLDER);
        m_backups.Close();
        m_folder.clear();
    }
}

bool CMigrationBackup::CanList(const std::wstring& destinationName, const std::wstring& destination,
                              std::wstring& reason) const
{
    // The backup keeps files by name under their root's folder: a name that
    // reaches elsewhere would land outside it.
    if (destinationName.empty() || destinationName.find_first_of(L"\\/:") != std::wstring::npos) {
        reason = L"cannot back up \"" + destinationName + L"\": not a plain file name";
        return false;
    }
    return ledgerCanCarry(destination, reason);
}

bool CMigrationBackup::ExpectNewFile(const std::wstring& destinationRoot, const std::wstring& destinationName,
                                    std::wstring& reason)
{
    return CanList(destinationName, destinationRoot + L"\\" + destinationName, reason) && MakeFolder(reason);
}

bool CMigrationBackup::KeepFile(BackupRoot root, const std::wstring& destinationRoot,
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
    CCheckedDir& rootFolder = m_rootDirs[static_cast<unsigned>(root)];
    if (!(m_rootFolders & rootBit)) {
        if (!rootFolder.CreateIn(m_dir, rootFolderName(root), nullptr, failure)
            && (failure.osError != ERROR_ALREADY_EXISTS || !rootFolder.OpenIn(m_dir, rootFolderName(root), failure, DELETE))) {
            reason = L"cannot back up " + destination + L" to " + copy + L": " + describeFileFailure(failure);
            DropFolderIfUnused();
            return false;
        }
        m_rootFolders |= rootBit;
    }
    if (!copyOpenFile(*held, rootFolder, destinationName, failure)) {
        reason = L"cannot back up " + destination + L" to " + copy + L": " + describeFileFailure(failure);
        DropFolderIfUnused();
        return false;
    }
    if (!AppendEntry(L"copy", copyName, destination, reason)) {
        removeOwnFile(rootFolder, destinationName);
        DropFolderIfUnused();
        return false;
    }
    m_kept.insert(foldedCase(destination));
    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: backed up %s (%s)\n", destination.c_str(), copyName.c_str());
    return true;
}

bool CMigrationBackup::RecordCreated(const std::wstring& destinationRoot, const std::wstring& destinationName,
                                    const std::wstring& fingerprint, std::wstring& reason)
{
    const std::wstring destination = destinationRoot + L"\\" + destinationName;
    if (m_kept.count(foldedCase(destination)))
        return true;
    if (!MakeFolder(reason) || !AppendEntry(L"new", fingerprint, destination, reason))
        return false;
    m_kept.insert(foldedCase(destination));
    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: backed up %s (new)\n", destination.c_str());
    return true;
}

void CMigrationBackup::RecordNotCreated(const std::wstring& destinationRoot, const std::wstring& destinationName)
{
    const std::wstring destination = destinationRoot + L"\\" + destinationName;
    std::wstring ignored;
    if (m_kept.erase(foldedCase(destination)))
        AppendEntry(L"unwritten", L"-", destination, ignored);
}

bool CMigrationBackup::KeepRegistryKey(std::wstring& reason)
{
    // The first export holds the key as it was; a later one would hold the import.
    if (m_registryKept)
        return true;
    if (!MakeFolder(reason))
        return false;
    const std::wstring file = m_folder + L"\\" + BACKUP_REGISTRY_FILE;
    if (KeepRegistryExport(file, reason) && AppendEntry(L"registry", BACKUP_REGISTRY_FILE, L"-", reason)) {
        m_registryKept = true;
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: backed up %s to %s\n", GA_SETTINGS_KEY, file.c_str());
        return true;
    }
    // A half export must not pass for the key in the restore.
    removeOwnFile(m_dir, BACKUP_REGISTRY_FILE);
    DropFolderIfUnused();
    return false;
}

bool CMigrationBackup::KeepRegistryExport(const std::wstring& file, std::wstring& reason)
{
    const std::wstring key = GA_SETTINGS_KEY;
    std::wstring failedKey;
    const LONG read = readRegistryTree(GA_SETTINGS_SUBKEY, m_registryBefore, failedKey);
    if (read != ERROR_SUCCESS) {
        reason = L"cannot back up " + key + L": the key " + failedKey + L" cannot be read (" + systemErrorText(read)
            + L")";
        return false;
    }
    // The restore puts back what Console.reg holds: all of the key, as read.
    std::wstring text;
    return exportWholeKey(key, m_registryBefore, file, L"the 5.2.2 key", text, reason);
}

bool CMigrationBackup::RecordRegistryImport(const RegistryTree& after, std::wstring& reason)
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
            removeOwnFile(m_dir, BACKUP_REGISTRY_FILE);
            m_registryKept = false;
            DropFolderIfUnused();
        }
        return true;
    }
    // The restore puts the key back by difference with Console.reg, whatever
    // the import added: this line only tells that the import ended.
    return AppendEntry(L"imported", L"-", L"-", reason);
}

bool CMigrationBackup::Finish(std::wstring& reason)
{
    // Everything is on disk as it is kept; a failure there failed its row.
    m_listFile.Close();
    // The run writes nothing more: a restore or another run may go on.
    m_lock.Close();
    reason.clear();
    return true;
}

// One line a kept item, in the OEM code page: kind|copy|destination|end. No
// path holds "|", and a line that a stopped run left without its "end" is
// skipped by restore.cmd. Appending costs the same for the last file as for
// the first, and each line is on disk before its file is replaced.
bool CMigrationBackup::AppendEntry(const wchar_t* kind, const std::wstring& copy, const std::wstring& destination,
                                  std::wstring& reason)
{
    const std::wstring path = m_folder + L"\\" + BACKUP_LIST_FILE;
    std::string line;
    // What a line outside the OEM code page fails with.
    FileFailure failure = systemFailure(ERROR_NO_UNICODE_TRANSLATION);
    if (toCodePage(std::wstring(kind) + L"|" + copy + L"|" + destination + L"|end\r\n", GetOEMCP(), line)
        && (m_listFile.IsOpen() || m_listFile.OpenForAppend(m_dir, BACKUP_LIST_FILE, failure))
        && w32WriteAll(m_listFile.Get(), line.data(), line.size(), failure)) {
        if (FlushFileBuffers(m_listFile.Get()))
            return true;
        failure = lastSystemFailure();
    }
    reason = cannotWrite(path, failure);
    return false;
}

bool CMigrationBackup::WriteRestoreFiles(std::wstring& reason) const
{
    const std::wstring when = startText(m_start, L":");
    const UINT codePage = GetOEMCP();
    const std::wstring s = restoreScriptText(when);
    std::string script;
    if (!toCodePage(s, codePage, script)) {
        reason = L"cannot write " + m_folder + L"\\" + BACKUP_SCRIPT_FILE + L": a path in it is outside the OEM code page";
        return false;
    }
    const std::string readme = backupReadmeText(when);
    return writeWholeFile(m_dir, BACKUP_SCRIPT_FILE, script, reason)
        && writeWholeFile(m_dir, BACKUP_README_FILE, readme, reason);
}
