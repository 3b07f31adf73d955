// Files and folders below the directories the registry names, reached by
// handle (module wn32util).
//
// Every entry below those directories may be another account's, and a name
// that was looked at can be exchanged for a link before it is opened, many
// times a second. So the root alone is opened by name; every entry below it
// is opened relative to the handle of the folder that holds it, and checked
// on the very handle that is then read, written, renamed or deleted: it is no
// reparse point, the file system reaches it where it was meant (a followed
// link shows in the handle's final path), and a file has no second name (a
// hard link to a file elsewhere). Nothing below a root is opened, created,
// renamed or deleted by a name resolved again.
#pragma once

#include "common/files/file_failure.h"
#include "window/handle.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>

class CCheckedDir;

// What every checked handle has: the handle, the path it was meant to reach
// and the path at which the system reaches it.
class CCheckedEntry {
public:
    CCheckedEntry() = default;
    CCheckedEntry(const CCheckedEntry&) = delete;
    CCheckedEntry& operator=(const CCheckedEntry&) = delete;

    bool IsOpen() const { return m_handle.IsValid(); }
    HANDLE Get() const { return m_handle.Get(); }
    // As meant: the folder's path, a backslash and the name.
    const std::wstring& Path() const { return m_path; }
    // Where the system reaches the handle, links resolved.
    const std::wstring& Resolved() const { return m_resolved; }
    bool Close() { return m_handle.Close(); }

protected:
    // Opens `name` in `folder` with NtCreateFile and checks the handle; a
    // handle that fails its check is closed again.
    bool OpenIn(const CCheckedDir& folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                ULONG disposition, ULONG options, FileFailure& failure, PSECURITY_DESCRIPTOR descriptor = nullptr,
                bool oneName = true);
    // Whether the open handle is `name` in `folder` itself (see the top).
    bool Check(const CCheckedDir& folder, const std::wstring& name, bool file, FileFailure& failure);

    CFileHandle m_handle;
    std::wstring m_path;
    std::wstring m_resolved;
};

class CCheckedDir : public CCheckedEntry {
public:
    // A directory the registry names, or one of the tool's own: trusted as
    // it is, links and all.
    bool OpenRoot(const std::wstring& path, FileFailure& failure);
    // The folder `name` in `parent`, open for `extraAccess` too.
    bool OpenIn(const CCheckedDir& parent, const std::wstring& name, FileFailure& failure,
                ACCESS_MASK extraAccess = 0);
    // A new folder `name` in `parent`, with `descriptor` (null: inherited);
    // fails with ERROR_ALREADY_EXISTS when the name is taken. Open for
    // removing and for reading its descriptor too.
    bool CreateIn(const CCheckedDir& parent, const std::wstring& name, PSECURITY_DESCRIPTOR descriptor,
                  FileFailure& failure);
    // Removes the folder, opened for it, from `parent`, where it is `name`,
    // when it is empty; true when it is gone. A folder that stays is open
    // as before.
    bool RemoveFrom(const CCheckedDir& parent, const std::wstring& name);
    // The folder of the full path `path`, trusted as a root; `name` gets
    // the last part of the path.
    bool OpenFolderOf(const std::wstring& path, std::wstring& name, FileFailure& failure);
    // `root` trusted, then each folder of `relative` (names separated by
    // backslashes; empty for the root itself).
    bool OpenBelow(const std::wstring& root, const std::wstring& relative, FileFailure& failure);
};

// A file to read.
class CInFile : public CCheckedEntry {
public:
    bool Open(const CCheckedDir& folder, const std::wstring& name, FileFailure& failure);
    // The same for a library about to be loaded: shared for reading only,
    // so that nobody writes, renames or deletes it while this is open.
    bool OpenToRun(const CCheckedDir& folder, const std::wstring& name, FileFailure& failure);
    bool Size(ULONGLONG& size, FileFailure& failure) const;
    // Up to `size` bytes from where the last read ended; `got` is 0 at the end.
    bool Read(void* buffer, DWORD size, DWORD& got, FileFailure& failure) const;
    bool Rewind(FileFailure& failure) const;
};

// A file the tool creates, writes and puts in place.
class COutFile : public CCheckedEntry {
public:
    // A new file `name` in `folder`, opened without sharing for writing,
    // renaming and deleting, plus `extraAccess`; fails when the name is taken.
    bool Create(const CCheckedDir& folder, const std::wstring& name, ACCESS_MASK extraAccess, FileFailure& failure);
    // The file `name` in `folder`, made when missing, for adding at its end;
    // others may read it meanwhile.
    bool OpenForAppend(const CCheckedDir& folder, const std::wstring& name, FileFailure& failure);
    // An existing file, for reading and deleting (the sweep of what a
    // stopped run left, the restore of a created file): opened without
    // sharing. A second name is allowed: only this name goes.
    bool OpenToDelete(const CCheckedDir& folder, const std::wstring& name, FileFailure& failure);
    // A lock held for as long as this stays open: the file `name` in
    // `folder`, made when missing, opened without sharing and deleted when
    // closed (also when the process ends). Fails with ERROR_SHARING_VIOLATION
    // while another process holds it.
    bool TakeLock(const CCheckedDir& folder, const std::wstring& name, FileFailure& failure);
    // Gives the open file the name `name` in `folder`, in one rename, over a
    // file of that name only when `replace`; then checks that it is there.
    // Once renamed, a file that fails the check is closed and left as it is.
    bool RenameIn(const CCheckedDir& folder, const std::wstring& name, bool replace, FileFailure& failure);
    // Deletes the open file, whatever its name is by now.
    bool Delete(FileFailure& failure);
};

// Removes `name`, a file the tool made in `folder`, through checked handles
// until it is gone (see the .cpp for why once may not do).
void removeOwnFile(const CCheckedDir& folder, const std::wstring& name);

// Removes the file at the full path `path` whose folder is taken as it is
// (the tool's own files), through a checked handle: never a link's target,
// nor a file with a second name. True when it is gone, or was not there.
bool w32RemoveFile(const std::wstring& path);

// The reason a row gives for a failure of a check (FILE_CAUSE_LINK or
// FILE_CAUSE_SECOND_NAME), naming the entry; empty for any other failure.
std::wstring checkRefusal(const FileFailure& failure);

// The folders a run reads and writes in, each opened and checked once: the
// directories the registry names cannot change while a run is under way, and
// a folder held open is the one every later file of it is reached through.
class CFolderCache {
public:
    // The folder `relative` below `root` (see CCheckedDir::OpenBelow). A
    // failure is not kept: the next file asks again.
    const CCheckedDir* Open(const std::wstring& root, const std::wstring& relative, FileFailure& failure);

private:
    std::map<std::wstring, std::unique_ptr<CCheckedDir>> m_folders;
};
