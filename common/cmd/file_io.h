// Whole-file reads and writes with character conversion (module wn32util).
//
// Reads take a file whole into a wide string, either as narrow text of the
// OEM code page or as UTF-16LE text behind the byte-order mark FF FE. Writes
// put a wide string out as UTF-16LE with the mark or as narrow text with
// CR LF line ends.
//
// Every write replaces its destination in one step: the data goes to a
// temporary file in the destination's directory, is flushed, takes on the old
// file's security descriptor, attributes and creation time, and is then
// renamed over the destination. A write that fails at any point leaves the
// old destination exactly as it was and no temporary file behind.
//
// A failing call says why in a FileFailure; describeFileFailure puts that in
// words for a row's reason or the trace.
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
};

struct FileFailure {
    FileErrorCause cause = FILE_CAUSE_NONE;
    DWORD osError = 0; // the system's error number, 0 when the system reported none
    ULONGLONG size = 0; // FILE_CAUSE_TOO_LARGE: the file's size in bytes
    ULONGLONG limit = 0; // FILE_CAUSE_TOO_LARGE: the most that can be taken
};

// Plain English, one sentence ending in a full stop: the system's own text
// for a failure the system reported, the tool's words for its own refusals
// (a size names the size and the limit in MiB).
std::wstring describeFileFailure(const FileFailure& failure);

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

enum class TextEncoding {
    Narrow, // read: OEM code page text; write: each unit below 256 as one byte, LF as CR LF
    Utf16Le, // UTF-16LE behind the mark FF FE, no line-end translation
};
enum class PutMode { Replace, Append };
enum class PathIs { AsGiven, InConsoleDirectory };
// w32PutFile's size limit that never applies.
constexpr long long NoSizeLimit = -1;

// Reads `path` whole into `text` (emptied first) and sets `length` to its
// number of UTF-16 code units.
//   Narrow: OEM text, ending at the first zero byte.
//   Utf16Le: the text behind FF FE, ending at the first zero unit; a file
//            without the mark, or with nothing behind it, is refused
//            (FILE_CAUSE_NOT_UNICODE).
// An empty file, and a narrow text that cannot be converted, read as empty
// text. A file too large to hold (w32SizeFits) is refused before it is read.
bool w32GetFile(const std::wstring& path, std::wstring& text, FileFailure& failure, DWORD& length,
                TextEncoding encoding, PathIs pathIs);

// Writes all of `text` to `path`.
//   Replace: the file is replaced; Append: the text is added at its end.
//   sizeLimit >= 0: an existing file larger than this many bytes is replaced
//                   even when appending (NoSizeLimit switches this off).
//   Utf16Le: the mark FF FE first (also when appending). Narrow: a text with
//            a character above 255 is refused, nothing is written.
bool w32PutFile(const std::wstring& path, const std::wstring& text, PutMode mode, long long sizeLimit,
                FileFailure& failure, TextEncoding encoding, PathIs pathIs);

// Converts all of `narrow`, text of the OEM code page, into `wide` (emptied
// first). Refuses a text longer than a wide string holds, before converting.
bool w32NarrowToWide(const std::string& narrow, std::wstring& wide, FileFailure& failure);

// Replaces `path` with all of `oemText`, text of the OEM code page, as
// UTF-16LE behind the mark FF FE. Converted piece by piece as it is written,
// so the wide text is never held whole beside the narrow one.
bool w32PutOemAsUtf16(const std::wstring& path, const std::string& oemText, FileFailure& failure);

// Whether the OEM code page has one byte for every character (then each
// byte of OEM text becomes exactly one UTF-16 unit).
bool w32OemIsSingleByte();

// The file's bytes, unchanged, into `bytes`.
bool w32ReadFileBytes(const std::wstring& path, std::string& bytes, FileFailure& failure);

// Removes from `directory` the temporary files that a replacing writer of an
// earlier run left when it was stopped: plain files named ~qm<hex>-<hex>.tmp
// that no one holds open, never a link or a directory. Each is traced.
void w32RemoveLeftoverTemporaries(const std::wstring& directory);

// Replaces `path` with exactly `bytes`.
bool w32WriteFileBytes(const std::wstring& path, const std::string& bytes, FileFailure& failure);
