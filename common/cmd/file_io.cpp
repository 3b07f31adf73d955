#include "common/cmd/file_io.h"

#include "common/cmd/console_path.h"
#include "common/cmd/system_error.h"
#include "common/fs/link_check.h"
#include "common/trace/trace.h"
#include "window/handle.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <new>
#include <vector>

namespace {

// Largest piece handed to one ReadFile or WriteFile call. Under Wine every
// call is a round trip to the server: writing 128 MiB took four times as long
// in 256 KiB pieces as in 4 MiB ones. Reads go into memory that is already
// touched; reading into fresh pages is what is slow there, whatever the piece.
constexpr DWORD IO_CHUNK = 4u << 20;
// Narrow output is converted through a block of this many bytes.
constexpr size_t NARROW_BLOCK = 64u << 10;
constexpr ULONGLONG MIB = 1u << 20;

FileErrorCause causeOf(DWORD osError)
{
    switch (osError) {
    case ERROR_FILE_NOT_FOUND:
        return FILE_CAUSE_NOT_FOUND;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_NETPATH:
    case ERROR_FILENAME_EXCED_RANGE:
        return FILE_CAUSE_BAD_PATH;
    case ERROR_TOO_MANY_OPEN_FILES:
        return FILE_CAUSE_TOO_MANY_OPEN_FILES;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
        return FILE_CAUSE_ACCESS_DENIED;
    case ERROR_INVALID_HANDLE:
        return FILE_CAUSE_INVALID_FILE;
    case ERROR_CURRENT_DIRECTORY:
        return FILE_CAUSE_REMOVE_CURRENT_DIR;
    case ERROR_CANNOT_MAKE:
        return FILE_CAUSE_DIRECTORY_FULL;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK:
        return FILE_CAUSE_BAD_SEEK;
    case ERROR_CRC:
    case ERROR_GEN_FAILURE:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_SECTOR_NOT_FOUND:
        return FILE_CAUSE_HARD_IO;
    case ERROR_SHARING_VIOLATION:
        return FILE_CAUSE_SHARING_VIOLATION;
    case ERROR_LOCK_VIOLATION:
        return FILE_CAUSE_LOCK_VIOLATION;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return FILE_CAUSE_DISK_FULL;
    case ERROR_HANDLE_EOF:
        return FILE_CAUSE_END_OF_FILE;
    default:
        return FILE_CAUSE_GENERIC;
    }
}

FileFailure systemFailure(DWORD osError)
{
    FileFailure failure;
    failure.cause = causeOf(osError);
    failure.osError = osError;
    return failure;
}

FileFailure lastSystemFailure()
{
    return systemFailure(GetLastError());
}

FileFailure toolFailure(FileErrorCause cause, DWORD osError = 0)
{
    FileFailure failure;
    failure.cause = cause;
    failure.osError = osError;
    return failure;
}

std::wstring resolvedPath(const std::wstring& path, PathIs pathIs)
{
    std::wstring full;
    if (pathIs == PathIs::InConsoleDirectory && GetConsoleInstallPath(path, full))
        return full;
    return path;
}

HANDLE openForReading(const std::wstring& path, DWORD shareMode)
{
    return CreateFileW(path.c_str(), GENERIC_READ, shareMode, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

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
bool readAndClose(CFileHandle& file, void* buffer, DWORD length, FileFailure& failure)
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

bool writeAll(HANDLE file, const void* data, size_t size, FileFailure& failure)
{
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        DWORD piece = DWORD(std::min<size_t>(size, IO_CHUNK));
        DWORD written = 0;
        if (!WriteFile(file, at, piece, &written, nullptr)) {
            failure = lastSystemFailure();
            return false;
        }
        if (written == 0) {
            failure = systemFailure(ERROR_WRITE_FAULT);
            return false;
        }
        at += written;
        size -= written;
    }
    return true;
}

// Attributes a replacement carries over from the file it replaces. ARCHIVE
// stays set as on any new file: the content did change.
constexpr DWORD CARRIED_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Writes a new version of a file beside it and puts it in place in one rename.
// Until Commit succeeds the destination is untouched; a writer that goes away
// uncommitted removes its temporary file.
class ReplacingWriter {
public:
    ReplacingWriter() = default;
    ~ReplacingWriter() { Abandon(); }
    ReplacingWriter(const ReplacingWriter&) = delete;
    ReplacingWriter& operator=(const ReplacingWriter&) = delete;

    bool Begin(const std::wstring& destination, FileFailure& failure)
    {
        m_destination = destination;

        WIN32_FILE_ATTRIBUTE_DATA old;
        m_replacing = GetFileAttributesExW(destination.c_str(), GetFileExInfoStandard, &old) != FALSE;
        if (m_replacing) {
            // A read-only file is not replaced, also where the process could
            // write it anyway (an administrator on some file systems).
            if (old.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
                failure = systemFailure(ERROR_ACCESS_DENIED);
                return false;
            }
            m_oldAttributes = old.dwFileAttributes;
            m_oldCreation = old.ftCreationTime;
            if (!ReadSecurity(failure))
                return false;
        }

        // What opening the destination for writing would meet: a file held
        // open without sharing, a directory. A missing file is fine; a
        // missing directory shows when the temporary file is created.
        HANDLE probe = CreateFileW(destination.c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
        } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            failure = lastSystemFailure();
            return false;
        }

        static std::atomic<unsigned> counter{0};
        const size_t slash = destination.find_last_of(L"\\/");
        const std::wstring directory = slash == std::wstring::npos ? std::wstring() : destination.substr(0, slash + 1);
        for (int attempt = 0; attempt < 100; ++attempt) {
            wchar_t name[64];
            // The pattern w32RemoveLeftoverTemporaries looks for.
            _snwprintf(name, 63, L"~qm%lx-%x.tmp", GetCurrentProcessId(), counter++);
            name[63] = L'\0';
            m_temporary = directory + name;
            HANDLE file = CreateFileW(m_temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                m_file.Attach(file);
                return true;
            }
            if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
                break;
        }
        failure = lastSystemFailure();
        m_temporary.clear();
        return false;
    }

    bool Write(const void* data, size_t size, FileFailure& failure)
    {
        return writeAll(m_file.Get(), data, size, failure);
    }

    bool Commit(FileFailure& failure)
    {
        if (m_replacing && !SetFileTime(m_file.Get(), &m_oldCreation, nullptr, nullptr)) {
            failure = lastSystemFailure();
            return false;
        }
        if (!FlushFileBuffers(m_file.Get())) {
            failure = lastSystemFailure();
            return false;
        }
        if (!m_file.Close()) {
            failure = lastSystemFailure();
            return false;
        }
        // The old file's protection is in place before the new content takes
        // its name, so there is no moment when others may read more of it.
        if (m_replacing && !(WriteSecurity(failure) && WriteAttributes(failure)))
            return false;
        // Without REPLACE_EXISTING for a new file: one that appeared meanwhile
        // is not ours to overwrite.
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (m_replacing ? MOVEFILE_REPLACE_EXISTING : 0);
        if (!MoveFileExW(m_temporary.c_str(), m_destination.c_str(), flags)) {
            failure = lastSystemFailure();
            return false;
        }
        m_temporary.clear();
        return true;
    }

private:
    static constexpr SECURITY_INFORMATION OWNER_PARTS = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION;

    bool ReadSecurity(FileFailure& failure)
    {
        const SECURITY_INFORMATION parts = OWNER_PARTS | DACL_SECURITY_INFORMATION;
        DWORD needed = 0;
        GetFileSecurityW(m_destination.c_str(), parts, nullptr, 0, &needed);
        if (needed > 0) {
            m_oldSecurity.resize(needed);
            if (GetFileSecurityW(m_destination.c_str(), parts, m_oldSecurity.data(), needed, &needed))
                return true;
        }
        // Replacing what cannot be read could open the file to others.
        failure = lastSystemFailure();
        return false;
    }

    bool WriteSecurity(FileFailure& failure)
    {
        auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(m_oldSecurity.data());
        if (SetFileSecurityW(m_temporary.c_str(), OWNER_PARTS | DACL_SECURITY_INFORMATION, descriptor))
            return true;
        // Another owner takes a privilege the process may not hold; the new
        // file is then ours, but its access list must still be the old one.
        QM_TRACE(TRACE_CAT_UTIL, L"w32 putfile: owner of %s not carried over, error %u\n", m_destination.c_str(),
                 unsigned(GetLastError()));
        if (SetFileSecurityW(m_temporary.c_str(), DACL_SECURITY_INFORMATION, descriptor))
            return true;
        failure = lastSystemFailure();
        return false;
    }

    bool WriteAttributes(FileFailure& failure)
    {
        const DWORD carried = m_oldAttributes & CARRIED_ATTRIBUTES;
        if (carried == 0 || SetFileAttributesW(m_temporary.c_str(), carried | FILE_ATTRIBUTE_ARCHIVE))
            return true;
        failure = lastSystemFailure();
        return false;
    }

    void Abandon()
    {
        m_file.Close();
        if (!m_temporary.empty()) {
            SetFileAttributesW(m_temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(m_temporary.c_str());
            m_temporary.clear();
        }
    }

    std::wstring m_destination;
    std::wstring m_temporary;
    CFileHandle m_file;
    bool m_replacing = false;
    DWORD m_oldAttributes = 0;
    FILETIME m_oldCreation = {};
    std::vector<BYTE> m_oldSecurity;
};

// Copies the bytes of an existing file into the writer (for appending). A
// file that does not exist contributes nothing.
bool copyExisting(const std::wstring& path, ReplacingWriter& writer, FileFailure& failure)
{
    CFileHandle file(openForReading(path, FILE_SHARE_READ));
    if (!file.IsValid()) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return true;
        failure = systemFailure(error);
        return false;
    }
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
bool writeNarrow(const wchar_t* text, size_t length, ReplacingWriter& writer, FileFailure& failure)
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

// True when every byte of the OEM code page is one character (437, 850, ...),
// as opposed to the double-byte code pages of East Asian systems.

// Narrow text of a single-byte OEM code page, converted piece by piece as it
// is read, so that no block of the whole file is needed beside the text. The
// text ends at the first zero byte; the rest of the file is still read, so
// that a read error anywhere is reported. A failed conversion leaves the
// text empty and is no read failure.
bool readNarrowSingleByte(CFileHandle& file, DWORD size, std::wstring& text, FileFailure& failure)
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

// Whole MiB: a size rounded up, a limit down, so that a refusal never reads
// "600 MiB, more than the 600 MiB".
ULONGLONG mibUp(ULONGLONG bytes)
{
    return (bytes + MIB - 1) / MIB;
}

} // namespace

std::wstring describeFileFailure(const FileFailure& failure)
{
    switch (failure.cause) {
    case FILE_CAUSE_NONE:
        return L"No failure.";
    case FILE_CAUSE_END_OF_FILE:
        if (failure.osError == 0)
            return L"The file ended before its measured length: it changed while it was read.";
        break;
    case FILE_CAUSE_NOT_UNICODE:
        return L"The file is not UTF-16LE text: it does not begin with the byte-order mark FF FE, or holds nothing "
               L"behind it.";
    case FILE_CAUSE_TOO_LARGE:
        return L"The file is " + std::to_wstring(mibUp(failure.size)) + L" MiB, more than the "
            + std::to_wstring(failure.limit / MIB) + L" MiB this tool can hold in memory.";
    case FILE_CAUSE_NOT_NARROW:
        return L"The text holds a character above 255, which narrow text cannot hold.";
    case FILE_CAUSE_NOT_CONVERTIBLE:
        return L"The text cannot be converted from the OEM code page: " + systemErrorText(failure.osError);
    default:
        break;
    }
    if (failure.osError == 0)
        return L"Unknown file error (cause " + std::to_wstring(int(failure.cause)) + L").";
    return systemErrorText(failure.osError);
}

bool w32SizeFits(ULONGLONG size, HeldAs heldAs, FileFailure& failure)
{
    // A 32-bit length counts the file and the two zero bytes that end it;
    // beyond that it would be read short.
    ULONGLONG limit = MAXDWORD - 2;
    switch (heldAs) {
    case HeldAs::Bytes:
        limit = std::min<ULONGLONG>(limit, std::string().max_size());
        break;
    case HeldAs::NarrowText:
        // At most one UTF-16 unit per byte.
        limit = std::min<ULONGLONG>(limit, std::wstring().max_size());
        break;
    case HeldAs::Utf16Text:
        // The bytes are read into units, two zero units behind them.
        limit = std::min<ULONGLONG>(limit, (ULONGLONG(std::wstring().max_size()) - 2) * 2);
        break;
    }
    if (size <= limit)
        return true;
    failure = toolFailure(FILE_CAUSE_TOO_LARGE);
    failure.size = size;
    failure.limit = limit;
    return false;
}

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

bool w32GetFile(const std::wstring& path, std::wstring& text, FileFailure& failure, DWORD& length,
                TextEncoding encoding, PathIs pathIs)
{
    text.clear();
    length = 0;
    const std::wstring fullPath = resolvedPath(path, pathIs);

    CFileHandle file(openForReading(fullPath, 0));
    if (!file.IsValid()) {
        failure = lastSystemFailure();
        return false;
    }

    const bool unicode = encoding == TextEncoding::Utf16Le;
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

    length = DWORD(text.size());
    return true;
}

bool w32PutFile(const std::wstring& path, const std::wstring& text, PutMode mode, long long sizeLimit,
                FileFailure& failure, TextEncoding encoding, PathIs pathIs)
{
    QM_TRACE(TRACE_CAT_UTIL, L"Entering w32 putfile...\n");

    const std::wstring fullPath = resolvedPath(path, pathIs);
    bool replace = mode == PutMode::Replace;
    if (sizeLimit >= 0) {
        WIN32_FILE_ATTRIBUTE_DATA status;
        if (GetFileAttributesExW(fullPath.c_str(), GetFileExInfoStandard, &status)) {
            const ULONGLONG size = (ULONGLONG(status.nFileSizeHigh) << 32) | status.nFileSizeLow;
            if (size > ULONGLONG(sizeLimit))
                replace = true;
        }
    }

    const bool unicode = encoding == TextEncoding::Utf16Le;
    bool ok;
    if (!unicode && std::any_of(text.begin(), text.end(), [](wchar_t c) { return c > 0xFF; })) {
        // Narrow output has one byte per character: rather than cut the
        // text short, nothing is written.
        failure = toolFailure(FILE_CAUSE_NOT_NARROW);
        ok = false;
    } else {
        ReplacingWriter writer;
        static const unsigned char mark[2] = {0xFF, 0xFE};
        ok = writer.Begin(fullPath, failure) && (replace || copyExisting(fullPath, writer, failure));
        if (ok && unicode)
            ok = writer.Write(mark, sizeof mark, failure)
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

bool w32PutOemAsUtf16(const std::wstring& path, const std::string& oemText, FileFailure& failure)
{
    // A piece boundary could split a double-byte character: those code
    // pages are converted whole.
    if (!w32OemIsSingleByte()) {
        std::wstring text;
        return w32NarrowToWide(oemText, text, failure)
            && w32PutFile(path, text, PutMode::Replace, NoSizeLimit, failure, TextEncoding::Utf16Le, PathIs::AsGiven);
    }
    // With a single-byte code page each byte is one unit.
    const size_t piece = std::min<size_t>(oemText.size(), IO_CHUNK / sizeof(wchar_t));
    std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[piece + 1]);
    if (!wide) {
        failure = systemFailure(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    static const unsigned char mark[2] = { 0xFF, 0xFE };
    ReplacingWriter writer;
    if (!writer.Begin(path, failure) || !writer.Write(mark, sizeof mark, failure))
        return false;
    for (size_t done = 0; done < oemText.size();) {
        const int bytes = int(std::min(piece, oemText.size() - done));
        const int units = MultiByteToWideChar(CP_OEMCP, 0, oemText.data() + done, bytes, wide.get(), bytes);
        if (units <= 0) {
            failure = toolFailure(FILE_CAUSE_NOT_CONVERTIBLE, GetLastError());
            return false;
        }
        if (!writer.Write(wide.get(), size_t(units) * sizeof(wchar_t), failure))
            return false;
        done += size_t(bytes);
    }
    return writer.Commit(failure);
}

bool w32ReadFileBytes(const std::wstring& path, std::string& bytes, FileFailure& failure)
{
    bytes.clear();
    CFileHandle file(openForReading(path, FILE_SHARE_READ));
    if (!file.IsValid()) {
        failure = lastSystemFailure();
        return false;
    }
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

bool w32WriteFileBytes(const std::wstring& path, const std::string& bytes, FileFailure& failure)
{
    ReplacingWriter writer;
    return writer.Begin(path, failure) && writer.Write(bytes.data(), bytes.size(), failure) && writer.Commit(failure);
}

bool w32OemIsSingleByte()
{
    CPINFO codePage;
    return GetCPInfo(CP_OEMCP, &codePage) && codePage.MaxCharSize == 1;
}

namespace {

// ~qm<hex>-<hex>.tmp, the replacing writer's names, and nothing else.
bool isTemporaryName(const std::wstring& name)
{
    auto hexRun = [&name](size_t from, wchar_t end) {
        size_t at = from;
        while (at < name.size() && iswxdigit(name[at]))
            ++at;
        return at > from && at < name.size() && name[at] == end ? at : std::wstring::npos;
    };
    if (name.size() < 10 || name.compare(0, 3, L"~qm") != 0)
        return false;
    const size_t dash = hexRun(3, L'-');
    if (dash == std::wstring::npos)
        return false;
    const size_t dot = hexRun(dash + 1, L'.');
    return dot != std::wstring::npos && name.compare(dot, std::wstring::npos, L".tmp") == 0;
}

} // namespace

void w32RemoveLeftoverTemporaries(const std::wstring& directory)
{
    WIN32_FIND_DATAW entry;
    CFindHandle find(FindFirstFileW((directory + L"\\~qm*.tmp").c_str(), &entry));
    if (!find.IsValid())
        return;
    do {
        const std::wstring name = entry.cFileName;
        if (!isTemporaryName(name) || (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        const std::wstring path = directory + L"\\" + name;
        // Opened without sharing, so a writer still at work keeps its file;
        // deleted through the handle, so what is deleted is what was looked at.
        CFileHandle file(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file.IsValid() || !reachesEntryItself(file.Get(), directory, name))
            continue;
        FILE_DISPOSITION_INFO disposition = { TRUE };
        if (SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof disposition))
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: removed %s, left by a run that was stopped\n", path.c_str());
    } while (FindNextFileW(find.Get(), &entry));
}
