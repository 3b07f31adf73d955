// Why a file could not be read or written (module wn32util).
//
// A failing call of the file layer says why in a FileFailure;
// describeFileFailure puts that in words for a row's reason or the trace.
#pragma once

#include <windows.h>

#include <string>

// What kind of file failure it was. The system's failures are classified by
// their error number; the rest are the tool's own refusals.
enum FileErrorCause {
    FILE_CAUSE_NONE = 0,
    FILE_CAUSE_GENERIC,
    FILE_CAUSE_NOT_FOUND,
    FILE_CAUSE_BAD_PATH,
    FILE_CAUSE_TOO_MANY_OPEN_FILES,
    FILE_CAUSE_ACCESS_DENIED,
    FILE_CAUSE_INVALID_FILE,
    FILE_CAUSE_REMOVE_CURRENT_DIR,
    FILE_CAUSE_DIRECTORY_FULL,
    FILE_CAUSE_BAD_SEEK,
    FILE_CAUSE_HARD_IO,
    FILE_CAUSE_SHARING_VIOLATION,
    FILE_CAUSE_LOCK_VIOLATION,
    FILE_CAUSE_DISK_FULL,
    FILE_CAUSE_END_OF_FILE, // the file ended before its measured length
    FILE_CAUSE_NOT_UNICODE, // no byte-order mark, or nothing behind it
    FILE_CAUSE_TOO_LARGE, // more than this tool holds in memory (size, limit)
    FILE_CAUSE_NOT_NARROW, // narrow output asked for a character above 255
    FILE_CAUSE_NOT_CONVERTIBLE, // the OEM code page conversion failed (osError)
    FILE_CAUSE_LINK, // the entry at `path` is a link, or the system reaches it elsewhere
    FILE_CAUSE_SECOND_NAME, // the file at `path` has another name too (a hard link)
    FILE_CAUSE_CHANGED_SIZE, // the file grew or shrank while it was read (size: as it measured)
};

struct FileFailure {
    FileErrorCause cause = FILE_CAUSE_NONE;
    DWORD osError = 0; // the system's error number, 0 when the system reported none
    ULONGLONG size = 0; // FILE_CAUSE_TOO_LARGE, FILE_CAUSE_CHANGED_SIZE: the file's size in bytes
    ULONGLONG limit = 0; // FILE_CAUSE_TOO_LARGE: the most that can be taken
    std::wstring path; // FILE_CAUSE_LINK, FILE_CAUSE_SECOND_NAME: the entry
};

// Plain English, one sentence ending in a full stop: the system's own text
// for a failure the system reported, the tool's words for its own refusals
// (a size names the size and the limit in MiB).
std::wstring describeFileFailure(const FileFailure& failure);

// A failure the system reported as `osError`, classified by that number.
FileFailure systemFailure(DWORD osError);
// The same for GetLastError().
FileFailure lastSystemFailure();
// One of the tool's own refusals, with the system's number where one led to it.
FileFailure toolFailure(FileErrorCause cause, DWORD osError = 0);

// How a file's content is held in memory, which decides how large it may be.
enum class HeldAs {
    Bytes, // one char per byte
    NarrowText, // converted from the OEM code page: up to one UTF-16 unit per byte
    Utf16Text, // UTF-16LE read as it is
};

// Whether a file of `size` bytes can be held as `heldAs`: within what the
// string types can hold on this build and under the 4 GiB that a 32-bit
// length counts. Otherwise false, with FILE_CAUSE_TOO_LARGE in `failure`.
bool w32SizeFits(ULONGLONG size, HeldAs heldAs, FileFailure& failure);
