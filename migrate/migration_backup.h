// Keeps everything a migration run replaces in the 5.2.2 installation, in a
// backup folder of the run's own, with a restore.cmd that puts the
// installation back as it was:
//
//   <5.2.2 dir>\migration backups\2026-12-07 14-03-22\  (the run's start)
//       installation\, web site\, zelt\   the files as they were, by name
//       Console.reg                       the 5.2.2 key as it was
//       restore.cmd, README.txt
//       quarnrept_migrate.exe             the tool, which does the restore
//
// The folder is made at the first keep, with an access list of its own
// (SYSTEM and Administrators only), so a run that changed nothing leaves
// none. restore.cmd is written with the folder and runs the tool kept there
// with /restore (backup_restore.h), which reads restore.lst, to which every
// keep adds a line before its file is replaced: a run that stops at any
// moment leaves a backup that restores everything it got to, and the last
// keep costs what the first did.
#pragma once

#include "common/files/checked_file.h"
#include "migrate/registry_tree.h"
#include "window/handle.h"

#include <windows.h>

#include <string>
#include <unordered_set>

// Which destination directory of the 5.2.2 installation a file belongs to;
// each has a subfolder of its own in the backup.
enum class BackupRoot {
    Installation, // the 5.2.2 installation directory
    WebSite, // the 5.2.2 web site directory
    Zelt, // <5.2.2 installation>\zelt
};


class CMigrationBackup {
public:
    // gaDirectory: the 5.2.2 installation directory, which holds the
    // "migration backups" folder. start: the run's start in local time, which
    // names the backup folder. Nothing is created here.
    CMigrationBackup(std::wstring gaDirectory, const SYSTEMTIME& start);
    CMigrationBackup(const CMigrationBackup&) = delete;
    CMigrationBackup& operator=(const CMigrationBackup&) = delete;

    // Call before destinationRoot\destinationName is written. Copies the file
    // byte for byte into the backup; when it does not exist, only makes the
    // folder (see RecordCreated). A destination kept before in this
    // run is left as first kept. False with `reason` when the file could not
    // be kept: the caller must then leave the destination alone.
    // `held`, when given, is the destination as the caller opened it: that
    // file is the one kept, whatever its name reaches by now.
    bool KeepFile(BackupRoot root, const std::wstring& destinationRoot, const std::wstring& destinationName,
                  std::wstring& reason, const CInFile* held = nullptr);

    // Call instead of KeepFile when the run has just found that
    // destinationRoot\destinationName does not exist, and then write it only
    // as a new file (one that appeared meanwhile is not replaced): checks that
    // restore.cmd can name it and makes the folder. False with `reason` as
    // KeepFile.
    bool ExpectNewFile(const std::wstring& destinationRoot, const std::wstring& destinationName,
                       std::wstring& reason);

    // Call once destinationRoot\destinationName is written whole but before
    // it takes its name (CReplacingWriter::Flush, then Put), with what it
    // holds (CReplacingWriter::Fingerprint). When it did not exist as KeepFile
    // found it, the restore deletes a file of that name from now on, if it
    // still holds exactly that: a run stopped before the rename, or one
    // whose rename met another's new file, leaves that file alone. A
    // destination KeepFile kept is left as recorded. False with `reason`
    // when the backup could not be told: the caller must not put it in place.
    bool RecordCreated(const std::wstring& destinationRoot, const std::wstring& destinationName,
                       const std::wstring& fingerprint, std::wstring& reason);
    // Call when a file recorded as created did not take its name after all.
    void RecordNotCreated(const std::wstring& destinationRoot, const std::wstring& destinationName);

    // Makes the run's backup folder, if that has not been done: protected,
    // in a "migration backups" that is no link and belongs to Administrators,
    // SYSTEM or the administrator running the tool. False with `reason` when
    // there can be none.
    bool PrepareFolder(std::wstring& reason) { return MakeFolder(reason); }

    // Call when the run's own work files are out of the folder again: removes
    // the folder when nothing was kept in it.
    void ReleaseFolderIfUnused() { DropFolderIfUnused(); }

    // Call before the registry import. Reads the whole 5.2.2 key, exports it
    // into the backup, and proves the export holds all of it; once per run.
    // False with `reason` when the key cannot be kept whole: the caller must
    // then import nothing.
    bool KeepRegistryKey(std::wstring& reason);

    // Call after the import, however it ended, with the 5.2.2 key as it is
    // now (`after`). The restore puts the key back as Console.reg holds it,
    // by difference, whether or not it finds a record of this call. When
    // the import changed nothing, the key is not kept after
    // all. False with `reason` when restore.cmd could not be told.
    bool RecordRegistryImport(const RegistryTree& after, std::wstring& reason);

    // Call at the end of the run. Writes restore.cmd and README.txt once more
    // when anything was kept; true when nothing was kept. False with `reason`
    // when they could not be written.
    bool Finish(std::wstring& reason);

    // The backup folder; empty until the first keep made it.
    const std::wstring& Folder() const { return m_folder; }

private:
    bool MakeFolder(std::wstring& reason);
    bool CanList(const std::wstring& destinationName, const std::wstring& destination, std::wstring& reason) const;
    void DropFolderIfUnused();
    bool WriteRestoreFiles(std::wstring& reason) const;
    bool KeepRegistryExport(const std::wstring& file, std::wstring& reason);
    bool AppendEntry(const wchar_t* kind, const std::wstring& copy, const std::wstring& destination,
                     std::wstring& reason);

    std::wstring m_gaDirectory;
    SYSTEMTIME m_start;
    std::wstring m_folder;
    std::unordered_set<std::wstring> m_kept; // the destinations kept, as foldedCase has them
    bool m_registryKept = false;
    unsigned m_rootFolders = 0; // a bit for each BackupRoot whose folder is made
    RegistryTree m_registryBefore; // the 5.2.2 key as kept
    CCheckedDir m_ga;              // the 5.2.2 installation directory
    CCheckedDir m_backups;         // its "migration backups"
    COutFile m_lock;               // the run lock in that (takeRunLock)
    CCheckedDir m_dir;             // the run's folder in it
    std::wstring m_dirName;        // its name there
    CCheckedDir m_rootDirs[3];     // installation, web site, zelt in that, by BackupRoot
    COutFile m_listFile;           // restore.lst, open from its first line to Finish
};
