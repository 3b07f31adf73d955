// Whole-file reads and writes with character conversion (module wn32util).
//
// Reads take a file whole into a wide string, either as narrow text of the
// OEM code page or as UTF-16LE text behind the byte-order mark FF FE. Writes
// put a wide string out as UTF-16LE with the mark or as narrow text with
// CR LF line ends, and replace their destination in one step
// (replacing_writer.h).
#pragma once

#include "common/files/file_failure.h"
#include "common/files/replacing_writer.h"

#include <windows.h>

#include <string>

enum class TextEncoding {
    Narrow, // read: OEM code page text; write: each unit below 256 as one byte, LF as CR LF
    Utf16Le, // UTF-16LE behind the mark FF FE, no line-end translation
};
enum class PutMode { Replace, Append };
// InConsoleDirectory: the path is a name in the console's install directory
// (GetConsoleInstallPath), taken as given where that directory is not known.
enum class PathIs { AsGiven, InConsoleDirectory };
// w32PutFile's size limit that never applies.
constexpr long long NO_SIZE_LIMIT = -1;

// The defaults are what the tool asks for. The other settings (narrow text,
// appending, the size limit, a name in the console's directory) belong to
// these operations as they were defined, and stay although no path of this
// tool takes them.
struct GetFileOptions {
    TextEncoding encoding = TextEncoding::Utf16Le;
    PathIs pathIs = PathIs::AsGiven;
};
struct PutFileOptions {
    TextEncoding encoding = TextEncoding::Utf16Le;
    PutMode mode = PutMode::Replace;
    long long sizeLimit = NO_SIZE_LIMIT;
    PathIs pathIs = PathIs::AsGiven;
    WriteTo to = WriteTo::AnyFile;
};

// Reads `path` whole into `text` (emptied first); its length in UTF-16 code
// units, text.size(), always fits a DWORD.
//   Narrow: OEM text, ending at the first zero byte.
//   Utf16Le: the text behind FF FE, ending at the first zero unit; a file
//            without the mark, or with nothing behind it, is refused
//            (FILE_CAUSE_NOT_UNICODE).
// An empty file, and a narrow text that cannot be converted, read as empty
// text. A file too large to hold (w32SizeFits) is refused before it is read.
bool w32GetFile(const std::wstring& path, std::wstring& text, FileFailure& failure,
                const GetFileOptions& options = {});

// Writes all of `text` to `path`.
//   Replace: the file is replaced; Append: the text is added at its end.
//   sizeLimit >= 0: an existing file larger than this many bytes is replaced
//                   even when appending (NO_SIZE_LIMIT switches this off).
//   Utf16Le: the mark FF FE first (also when appending). Narrow: a text with
//            a character above 255 is refused, nothing is written.
bool w32PutFile(const std::wstring& path, const std::wstring& text, FileFailure& failure,
                const PutFileOptions& options = {});

// Converts all of `narrow`, text of the OEM code page, into `wide` (emptied
// first). Refuses a text longer than a wide string holds, before converting.
bool w32NarrowToWide(const std::string& narrow, std::wstring& wide, FileFailure& failure);

// Whether `bytes` begin with the UTF-16LE mark FF FE: the one test of
// whether a file's content is already UTF-16 text.
bool w32StartsWithUtf16Mark(const std::string& bytes);

// Whether the OEM code page has one byte for every character (then each
// byte of OEM text becomes exactly one UTF-16 unit).
bool w32OemIsSingleByte();

// The bytes of a file the caller opened, unchanged, into `bytes`; the file
// is closed afterwards.
bool w32ReadAllBytes(CInFile& file, std::string& bytes, FileFailure& failure);
