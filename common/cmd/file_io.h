// Whole-file reads and writes with character conversion (module wn32util).
//
// Reads take a file whole into a wide string, either as narrow text of the
// OEM code page or as UTF-16LE text behind the byte-order mark FF FE. Writes
// put a wide string out as UTF-16LE with the mark or as narrow text with
// CR LF line ends. Error texts are the console's messages (CNlsResources).
//
// Every write replaces its destination in one step: the data goes to a
// temporary file in the destination's directory, is flushed, and is then
// renamed over the destination. A write that fails at any point leaves the
// old destination exactly as it was and no temporary file behind.
#pragma once

#include <windows.h>

#include <string>

// Results of w32GetFile / w32ReadFileBytes / w32CopyFileBytes (reading).
enum {
    W32_FILE_OK = 0,
    W32_FILE_OPEN_FAILED = -1,  // cannot be opened (message 18072)
    W32_FILE_READ_FAILED = -2,  // failed while measuring, reading or closing (17576 / 17577)
    W32_FILE_NOT_UNICODE = -3,  // no byte-order mark, or nothing behind it (50914)
};
// Result of the writes.
constexpr int W32_FILE_WRITE_FAILED = 1;

// Console messages that carry the error texts.
enum : UINT {
    MSG_FILE_OPEN_FAILED = 18072,  // full path
    MSG_FILE_ERROR = 17576,        // cause, -1
    MSG_FILE_ERROR_OS = 17577,     // cause, system error number, its text
    MSG_NOT_UNICODE_TEXT = 50914,  // no arguments
};

// Cause codes passed to messages 17576 and 17577: what kind of file failure it was.
enum FileErrorCause {
    FILE_CAUSE_NONE = 0,
    FILE_CAUSE_GENERIC = 1,
    FILE_CAUSE_NOT_FOUND = 2,
    FILE_CAUSE_BAD_PATH = 3,
    FILE_CAUSE_TOO_MANY_OPEN_FILES = 4,
    FILE_CAUSE_ACCESS_DENIED = 5,
    FILE_CAUSE_INVALID_FILE = 6,
    FILE_CAUSE_REMOVE_CURRENT_DIR = 7,
    FILE_CAUSE_DIRECTORY_FULL = 8,
    FILE_CAUSE_BAD_SEEK = 9,
    FILE_CAUSE_HARD_IO = 10,
    FILE_CAUSE_SHARING_VIOLATION = 11,
    FILE_CAUSE_LOCK_VIOLATION = 12,
    FILE_CAUSE_DISK_FULL = 13,
    FILE_CAUSE_END_OF_FILE = 14,
};

// Reads `path` whole into `text` (emptied first) and sets `length` to its
// number of UTF-16 code units.
//   unicode == 0: narrow OEM text, ending at the first zero byte.
//   unicode != 0: UTF-16LE behind FF FE, ending at the first zero unit.
//   resolve != 0: `path` is a name in the console's install directory.
// Returns a W32_FILE_* code; `errorText` is set only on failure. An empty
// file, and a narrow text that cannot be converted, read as empty text
// (result 0). A file whose length does not fit 32 bits (4 GiB or more) is
// refused (-2), never read short.
int w32GetFile(const std::wstring& path, std::wstring& text, std::wstring& errorText, DWORD& length,
               int unicode, int resolve);

// Writes `text` (up to its first zero unit) to `path`.
//   overwrite != 0: the file is replaced; 0: the text is appended.
//   sizeLimit >= 0: an existing file larger than this many bytes is replaced
//                   even when appending; -1 switches this off.
//   unicode != 0: UTF-16LE, the mark FF FE first (also when appending), no
//                 line-end translation; 0: narrow text, each code unit below
//                 256 as the byte of that value and LF as CR LF. A text with
//                 a character above 255 is refused: nothing is written.
//   resolve: as for w32GetFile.
// Returns 0 when everything was written, W32_FILE_WRITE_FAILED otherwise.
// `errorText` is emptied and not set further.
int w32PutFile(const std::wstring& path, const std::wstring& text, int overwrite, int sizeLimit,
               std::wstring& errorText, int unicode, int resolve);

// Converts zero-terminated text of the OEM code page into `wide` (emptied
// first). Returns 0 when `narrow` is null or empty, 1 otherwise, whether or
// not the conversion succeeded (`wide` stays empty when it did not).
int w32NarrowToWide(const char* narrow, std::wstring& wide);

// The file's bytes, unchanged, into `bytes`. Results and error texts as for
// w32GetFile (0, -1, -2).
int w32ReadFileBytes(const std::wstring& path, std::string& bytes, std::wstring& errorText);

// Replaces `path` with exactly `bytes`. Returns 0, or W32_FILE_WRITE_FAILED
// with message 17576 or 17577 in `errorText`.
int w32WriteFileBytes(const std::wstring& path, const std::string& bytes, std::wstring& errorText);

// Replaces `destination` with a byte-for-byte copy of `source`, which may be
// the same file. Returns 0; -1 or -2 when the source cannot be read (texts as
// for w32GetFile); W32_FILE_WRITE_FAILED when the destination cannot be
// written (17576 or 17577).
int w32CopyFileBytes(const std::wstring& source, const std::wstring& destination, std::wstring& errorText);
