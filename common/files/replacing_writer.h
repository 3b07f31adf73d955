// Writing files whole, in one step, and appending to them (module wn32util).
//
// Every replacing write puts its data in a temporary file in the
// destination's directory, flushes it, gives it the old file's security
// descriptor, attributes and creation time, and then renames it over the
// destination. A write that fails at any point leaves the old destination
// exactly as it was and no temporary file behind.
#pragma once

#include "common/files/checked_file.h"
#include "common/files/file_failure.h"
#include "common/files/fingerprint.h"
#include "common/files/write_behind.h"
#include "window/handle.h"

#include <windows.h>

#include <string>
#include <vector>

// Largest piece handed to one ReadFile or WriteFile call. Under Wine every
// call is a round trip to the server: writing 128 MiB took four times as long
// in 256 KiB pieces as in 4 MiB ones. Reads go into memory that is already
// touched; reading into fresh pages is what is slow there, whatever the piece.
constexpr DWORD IO_CHUNK = 4u << 20;

// Writes all `size` bytes of `data` to `file`, in pieces of at most IO_CHUNK.
bool w32WriteAll(HANDLE file, const void* data, size_t size, FileFailure& failure);

// What a write may find at the destination's name: any file (replaced), or
// nothing, for a destination the caller has just seen missing: one that
// appeared meanwhile is then not overwritten, and the write fails. OwnFile is
// any file for one the tool writes for itself (its report, the backup's
// files, the .reg it leaves): an old one that neither Administrators nor
// SYSTEM own may have been put there by another account, so the new file
// keeps nothing of it (access list, owner, attributes, creation time) and
// has the folder's inherited list instead; the trace says so.
enum class WriteTo { AnyFile, NewFile, OwnFile };

// Writes a new version of a file beside it and puts it in place in one rename.
// Until Commit succeeds the destination is untouched; a writer that goes away
// uncommitted removes its temporary file. A read-only destination, or one
// whose security descriptor cannot be read, is not replaced. The temporary
// file is created, renamed and removed through handles, in the folder's
// checked handle (checked_file.h).
class CReplacingWriter {
public:
    CReplacingWriter() = default;
    ~CReplacingWriter() { Abandon(); }
    CReplacingWriter(const CReplacingWriter&) = delete;
    CReplacingWriter& operator=(const CReplacingWriter&) = delete;

    // Creates the temporary file that is to replace `destination`, a full
    // path whose folder is taken as it is (the tool's own files).
    bool Begin(const std::wstring& destination, FileFailure& failure, WriteTo to = WriteTo::AnyFile);
    // The same for `name` in `folder`, which must stay open until Commit.
    // `existing`, when given, is the destination as the caller opened it
    // (it may be closed once Begin returns); without it, Begin looks.
    bool Begin(const CCheckedDir& folder, const std::wstring& name, FileFailure& failure,
               WriteTo to = WriteTo::AnyFile, const CInFile* existing = nullptr);
    bool Write(const void* data, size_t size, FileFailure& failure);
    // Flushes the temporary file and renames it over the destination.
    bool Commit(FileFailure& failure) { return Flush(failure) && Put(failure); }
    // Commit in its two steps, for a caller with work in between: the
    // temporary file made whole on disk, with the old file's protection...
    bool Flush(FileFailure& failure);
    // ...and renamed over the destination.
    bool Put(FileFailure& failure);
    // What has been written so far.
    std::wstring Fingerprint() const { return m_written.Text(); }

private:
    bool TakeOldFile(const CCheckedEntry& old, WriteTo to, FileFailure& failure);
    bool WriteSecurity(FileFailure& failure);
    void Abandon();

    CCheckedDir m_ownFolder; // the path-given destination's folder
    const CCheckedDir* m_folder = nullptr;
    std::wstring m_name;
    std::wstring m_temporary; // its name in the folder
    COutFile m_file;
    bool m_replacing = false;
    bool m_carrying = false; // the old file's protection, attributes and times
    bool m_mayOwn = false; // the temporary file is open for WRITE_OWNER
    FILE_BASIC_INFO m_old = {};
    CFingerprint m_written;
    CWriteBehind m_behind; // flushes a large file as it is written
    std::vector<BYTE> m_oldSecurity;
};

// Replaces `path` with exactly `bytes`.
bool w32WriteFileBytes(const std::wstring& path, const std::string& bytes, FileFailure& failure,
                       WriteTo to = WriteTo::AnyFile);

// Removes from `folder` the temporary files that a replacing writer of an
// earlier run left when it was stopped: plain files named ~qm<hex>-<hex>.tmp
// that no one holds open, never a link, a file with a second name or a
// directory. Each is traced.
void w32RemoveLeftoverTemporaries(const CCheckedDir& folder);
