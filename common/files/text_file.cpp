#include "common/files/text_file.h"

#include "common/files/block_transfer.h"
#include "common/cmd/console_path.h"
#include "common/files/replacing_writer.h"
#include "common/trace/trace.h"
#include "window/handle.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

namespace {

// Narrow output is converted through a block of this many bytes.
constexpr size_t NARROW_BLOCK = 64u << 10;
// The byte-order mark of UTF-16LE.
const unsigned char (&UTF16_MARK)[2] = UTF16LE_MARK;

std::wstring resolvedPath(const std::wstring& path, PathIs pathIs)
{
    std::wstring full;
    if (pathIs == PathIs::InConsoleDirectory && GetConsoleInstallPath(path, full))
        return full;
    return path;
}

// The file at the full path `path`, its folder taken as it is: the file
// itself is checked as every file below a root is (checked_file.h).
class CPathFile : public CInFile {
public:
    bool Open(const std::wstring& path, FileFailure& failure)
    {
        std::wstring name;
        return m_folder.OpenFolderOf(path, name, failure) && CInFile::Open(m_folder, name, failure);
    }

private:
    CCheckedDir m_folder;
};

// The file's length, refused before anything is read when it cannot be held
// as `heldAs`.
bool measure(HANDLE file, HeldAs heldAs, DWORD& length, FileFailure& failure)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        failure = lastSystemFailure();
        return false;
    }
    if (!w32SizeFits(ULONGLONG(size.QuadPart), heldAs, failure))
        return false;
    length = DWORD(size.QuadPart);
    return true;
}

// Reads the next piece of at most IO_CHUNK of the `left` bytes still due.
// Running out before them means the file is shorter than it measured.
bool readPiece(HANDLE file, char* at, DWORD left, DWORD& got, FileFailure& failure)
{
    got = 0;
    if (!ReadFile(file, at, std::min(left, IO_CHUNK), &got, nullptr)) {
        failure = lastSystemFailure();
        return false;
    }
    if (got == 0) {
        failure = toolFailure(FILE_CAUSE_END_OF_FILE);
        return false;
    }
    return true;
}

// Reads the measured length and closes the file; a failed close is a failed read.
bool readAndClose(CInFile& file, void* buffer, DWORD length, FileFailure& failure)
{
    char* at = static_cast<char*>(buffer);
    for (DWORD left = length, got = 0; left > 0; at += got, left -= got) {
        if (!readPiece(file.Get(), at, left, got, failure))
            return false;
    }
    if (!file.Close()) {
        failure = lastSystemFailure();
        return false;
    }
    return true;
}

// Copies the bytes of an existing file into the writer (for appending). A
// file that does not exist contributes nothing.
bool copyExisting(const std::wstring& path, CReplacingWriter& writer, FileFailure& failure)
{
    CPathFile file;
    if (!file.Open(path, failure))
        return failure.cause == FILE_CAUSE_NOT_FOUND;
    std::unique_ptr<char[]> block(new (std::nothrow) char[NARROW_BLOCK]);
    if (!block) {
        failure = systemFailure(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), block.get(), DWORD(NARROW_BLOCK), &got, nullptr)) {
            failure = lastSystemFailure();
            return false;
        }
        if (got == 0)
            return true;
        if (!writer.Write(block.get(), got, failure))
            return false;
    }
}

// Narrow text-mode output: each code unit as the byte of its value, LF as CR LF.
bool writeNarrow(const wchar_t* text, size_t length, CReplacingWriter& writer, FileFailure& failure)
{
    std::unique_ptr<char[]> block(new (std::nothrow) char[NARROW_BLOCK]);
    if (!block) {
        failure = systemFailure(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        if (used + 2 > NARROW_BLOCK) {
            if (!writer.Write(block.get(), used, failure))
                return false;
            used = 0;
        }
        if (text[i] == L'\n')
            block[used++] = '\r';
        block[used++] = char(static_cast<unsigned char>(text[i]));
    }
    return used == 0 || writer.Write(block.get(), used, failure);
}

// Narrow text of a single-byte OEM code page, converted piece by piece as it
// is read, so that no block of the whole file is needed beside the text. The
// text ends at the first zero byte; the rest of the file is still read, so
// that a read error anywhere is reported. A failed conversion leaves the
// text empty and is no read failure.
bool readNarrowSingleByte(CInFile& file, DWORD size, std::wstring& text, FileFailure& failure)
{
    const DWORD piece = std::min(size, IO_CHUNK);
    std::unique_ptr<char[]> narrow(new (std::nothrow) char[piece + 1]);
    std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[piece + 1]);
    try {
        text.reserve(size);
    } catch (const std::bad_alloc&) {
        narrow.reset();
    }
    if (!narrow || !wide) {
        failure = systemFailure(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }

    bool converting = true;
    for (DWORD left = size; left > 0;) {
        DWORD got = 0;
        if (!readPiece(file.Get(), narrow.get(), left, got, failure))
            return false;
        left -= got;
        if (!converting)
            continue;
        const char* zero = static_cast<const char*>(memchr(narrow.get(), 0, got));
        const int bytes = int(zero ? zero - narrow.get() : got);
        if (bytes > 0) {
            const int units = MultiByteToWideChar(CP_OEMCP, 0, narrow.get(), bytes, wide.get(), int(piece));
            if (units > 0) {
                text.append(wide.get(), size_t(units));
            } else {
                QM_TRACE(TRACE_CAT_UTIL, L"MultiByteToWideChar() error %u\n", unsigned(GetLastError()));
                text.clear();
                text.shrink_to_fit();
                converting = false;
            }
        }
        if (zero)
            converting = false;
    }
    if (!file.Close()) {
        failure = lastSystemFailure();
        return false;
    }
    // A zero byte early in a large file leaves most of the room unused.
    if (text.capacity() / 2 > text.size())
        text.shrink_to_fit();
    return true;
}

} // namespace

bool w32NarrowToWide(const std::string& narrow, std::wstring& wide, FileFailure& failure)
{
    wide.clear();
    if (narrow.empty())
        return true;
    if (!w32SizeFits(narrow.size(), HeldAs::NarrowText, failure))
        return false;
    if (narrow.size() > size_t(INT_MAX)) {
        failure = toolFailure(FILE_CAUSE_TOO_LARGE);
        failure.size = narrow.size();
        failure.limit = INT_MAX;
        return false;
    }

    // With a single-byte code page every byte is one UTF-16 unit, and the
    // counting pass over a large text can be saved.
    const int bytes = int(narrow.size());
    int units = w32OemIsSingleByte() ? bytes : MultiByteToWideChar(CP_OEMCP, 0, narrow.data(), bytes, nullptr, 0);
    if (units > 0) {
        // Converted straight into the string's own storage: no second copy
        // of a large text.
        try {
            wide.resize(size_t(units));
        } catch (const std::bad_alloc&) {
            wide.clear();
            failure = systemFailure(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        units = MultiByteToWideChar(CP_OEMCP, 0, narrow.data(), bytes, &wide[0], units);
    }
    if (units > 0) {
        wide.resize(size_t(units));
        return true;
    }
    failure = toolFailure(FILE_CAUSE_NOT_CONVERTIBLE, GetLastError());
    QM_TRACE(TRACE_CAT_UTIL, L"MultiByteToWideChar() error %u\n", unsigned(failure.osError));
    wide.clear();
    wide.shrink_to_fit();
    return false;
}

bool w32GetFile(const std::wstring& path, std::wstring& text, FileFailure& failure, const GetFileOptions& options)
{
    text.clear();
    const std::wstring fullPath = resolvedPath(path, options.pathIs);

    CPathFile file;
    if (!file.Open(fullPath, failure))
        return false;

    const bool unicode = options.encoding == TextEncoding::Utf16Le;
    DWORD size = 0;
    if (!measure(file.Get(), unicode ? HeldAs::Utf16Text : HeldAs::NarrowText, size, failure))
        return false;

    if (unicode) {
        // The bytes go straight into the string's storage, padded with zero
        // units; the mark is checked and dropped afterwards.
        try {
            text.assign(size_t(size) / 2 + 2, L'\0');
        } catch (const std::bad_alloc&) {
            failure = systemFailure(ERROR_NOT_ENOUGH_MEMORY);
            text.clear();
            return false;
        }
        if (!readAndClose(file, &text[0], size, failure)) {
            text.clear();
            text.shrink_to_fit();
            return false;
        }
        if (size == 0) {
            text.clear();
        } else if (size > 2 && text[0] == 0xFEFF) {
            text.resize(wcslen(text.c_str() + 1) + 1);
            text.erase(0, 1);
        } else {
            text.clear();
            failure = toolFailure(FILE_CAUSE_NOT_UNICODE);
            return false;
        }
    } else if (w32OemIsSingleByte()) {
        if (!readNarrowSingleByte(file, size, text, failure)) {
            text.clear();
            text.shrink_to_fit();
            return false;
        }
    } else {
        std::string block;
        try {
            block.resize(size);
        } catch (const std::bad_alloc&) {
            failure = systemFailure(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        if (!readAndClose(file, &block[0], size, failure))
            return false;
        block.resize(strlen(block.c_str()));
        // Text that cannot be converted reads as empty text.
        FileFailure conversion;
        if (!w32NarrowToWide(block, text, conversion) && conversion.cause != FILE_CAUSE_NOT_CONVERTIBLE) {
            failure = conversion;
            return false;
        }
    }
    return true;
}

bool w32PutFile(const std::wstring& path, const std::wstring& text, FileFailure& failure,
                const PutFileOptions& options)
{
    QM_TRACE(TRACE_CAT_UTIL, L"Entering w32 putfile...\n");

    const std::wstring fullPath = resolvedPath(path, options.pathIs);
    bool replace = options.mode == PutMode::Replace;
    if (options.sizeLimit >= 0) {
        WIN32_FILE_ATTRIBUTE_DATA status;
        if (GetFileAttributesExW(fullPath.c_str(), GetFileExInfoStandard, &status)) {
            const ULONGLONG size = (ULONGLONG(status.nFileSizeHigh) << 32) | status.nFileSizeLow;
            if (size > ULONGLONG(options.sizeLimit))
                replace = true;
        }
    }

    const bool unicode = options.encoding == TextEncoding::Utf16Le;
    bool ok;
    if (!unicode && std::any_of(text.begin(), text.end(), [](wchar_t c) { return c > 0xFF; })) {
        // Narrow output has one byte per character: rather than cut the
        // text short, nothing is written.
        failure = toolFailure(FILE_CAUSE_NOT_NARROW);
        ok = false;
    } else {
        CReplacingWriter writer;
        ok = writer.Begin(fullPath, failure, options.to) && (replace || copyExisting(fullPath, writer, failure));
        if (ok && unicode)
            ok = writer.Write(UTF16_MARK, sizeof UTF16_MARK, failure)
                && writer.Write(text.data(), text.size() * sizeof(wchar_t), failure);
        else if (ok)
            ok = writeNarrow(text.data(), text.size(), writer, failure);
        ok = ok && writer.Commit(failure);
    }
    if (!ok)
        QM_TRACE(TRACE_CAT_UTIL, L"w32 putfile: %s not written: %s\n", fullPath.c_str(),
                 describeFileFailure(failure).c_str());
    QM_TRACE(TRACE_CAT_UTIL, L"Leaving w32 putfile. RC: %u...\n", unsigned(ok ? 0 : 1));
    return ok;
}

bool w32ReadAllBytes(CInFile& file, std::string& bytes, FileFailure& failure)
{
    bytes.clear();
    DWORD size = 0;
    bool ok = measure(file.Get(), HeldAs::Bytes, size, failure);
    if (ok) {
        try {
            bytes.resize(size);
        } catch (const std::bad_alloc&) {
            failure = systemFailure(ERROR_NOT_ENOUGH_MEMORY);
            ok = false;
        }
    }
    ok = ok && readAndClose(file, &bytes[0], size, failure);
    if (!ok) {
        bytes.clear();
        bytes.shrink_to_fit();
    }
    return ok;
}

bool w32StartsWithUtf16Mark(const std::string& bytes)
{
    return bytes.size() >= sizeof UTF16_MARK && std::memcmp(bytes.data(), UTF16_MARK, sizeof UTF16_MARK) == 0;
}

bool w32OemIsSingleByte()
{
    CPINFO codePage;
    return GetCPInfo(CP_OEMCP, &codePage) && codePage.MaxCharSize == 1;
}
