// Writing files whole, in one step, and appending to them (module wn32util).
//
// Every replacing write puts its data in a temporary file in the
// destination's directory, flushes it, gives it the old file's security
// descriptor, attributes and creation time, and then renames it over the
// destination. A write that fails at any point leaves the old destination
// exactly as it was and no temporary file behind.
#pragma once

#include "common/cmd/file_failure.h"
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
// appeared meanwhile is then not overwritten, and the write fails.
enum class WriteTo { AnyFile, NewFile };

// Writes a new version of a file beside it and puts it in place in one rename.
// Until Commit succeeds the destination is untouched; a writer that goes away
// uncommitted removes its temporary file. A read-only destination, or one
// whose security descriptor cannot be read, is not replaced.
class ReplacingWriter {
public:
    ReplacingWriter() = default;
    ~ReplacingWriter() { Abandon(); }
    ReplacingWriter(const ReplacingWriter&) = delete;
    ReplacingWriter& operator=(const ReplacingWriter&) = delete;

    // Creates the temporary file that is to replace `destination`.
    bool Begin(const std::wstring& destination, FileFailure& failure, WriteTo to = WriteTo::AnyFile);
    bool Write(const void* data, size_t size, FileFailure& failure);
    // Flushes the temporary file and renames it over the destination.
    bool Commit(FileFailure& failure);

private:
    bool ReadSecurity(HANDLE destination, FileFailure& failure);
    bool WriteSecurity(FileFailure& failure);
    bool WriteAttributes(FileFailure& failure);
    void Abandon();

    std::wstring m_destination;
    std::wstring m_temporary;
    CFileHandle m_file;
    bool m_replacing = false;
    DWORD m_oldAttributes = 0;
    FILETIME m_oldCreation = {};
    std::vector<BYTE> m_oldSecurity;
};

// Replaces `path` with exactly `bytes`.
bool w32WriteFileBytes(const std::wstring& path, const std::string& bytes, FileFailure& failure,
                       WriteTo to = WriteTo::AnyFile);

// Adds `bytes` at the end of `path`, which is created when missing, and
// flushes them to disk before returning. Others may read the file meanwhile.
// With `keptOpen`, the file is opened into it when it holds no handle and
// written through it from then on: one open for many appends.
bool w32AppendFileBytes(const std::wstring& path, const std::string& bytes, FileFailure& failure,
                        CFileHandle* keptOpen = nullptr);

// Removes from `directory` the temporary files that a replacing writer of an
// earlier run left when it was stopped: plain files named ~qm<hex>-<hex>.tmp
// that no one holds open, never a link or a directory. Each is traced.
void w32RemoveLeftoverTemporaries(const std::wstring& directory);
