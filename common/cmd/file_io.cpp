#include "common/cmd/file_io.h"

#include "common/cmd/console_path.h"
#include "common/cmd/system_error.h"
#include "common/msg/nls_resources.h"
#include "common/trace/trace.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace {

// Largest piece handed to one ReadFile or WriteFile call: large enough to
// cost few calls, small enough to stay in the fast path of every platform
// (under Wine, pieces of several MiB are many times slower).
constexpr DWORD IO_CHUNK = 256u << 10;
// Narrow output is converted through a block of this many bytes.
constexpr size_t NARROW_BLOCK = 64u << 10;

// A failed file operation: what kind of failure, and the system's error
// number (0 when the failure did not come from the system).
struct FileFailure {
    int cause = FILE_CAUSE_GENERIC;
    DWORD osError = 0;
};

int causeOf(DWORD osError)
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

void describeFailure(const FileFailure& failure, std::wstring& errorText)
{
    CNlsResources nls;
    if (failure.osError == 0) {
        nls.FormatMessageText(errorText, MSG_FILE_ERROR, failure.cause, -1);
    } else {
        const std::wstring reason = systemErrorText(failure.osError);
        nls.FormatMessageText(errorText, MSG_FILE_ERROR_OS, failure.cause, int(failure.osError),
                              reason.c_str());
    }
}

void describeOpenFailure(const std::wstring& fullPath, std::wstring& errorText)
{
    CNlsResources nls;
    nls.FormatMessageText(errorText, MSG_FILE_OPEN_FAILED, fullPath.c_str());
}

std::wstring resolvedPath(const std::wstring& path, int resolve)
{
    std::wstring full;
    if (resolve && GetConsoleInstallPath(path, full))
        return full;
    return path;
}

class FileHandle {
public:
    explicit FileHandle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    operator HANDLE() const { return m_handle; }
    // Takes ownership of `handle`, closing what was held.
    void Attach(HANDLE handle)
    {
        Close();
        m_handle = handle;
    }
    bool Close()
    {
        if (!IsOpen())
            return true;
        BOOL closed = CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return closed != FALSE;
    }

private:
    HANDLE m_handle;
};

HANDLE openForReading(const std::wstring& path, DWORD shareMode)
{
    return CreateFileW(path.c_str(), GENERIC_READ, shareMode, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// The file's length, refused when a block of that many bytes plus the two
// terminating zero bytes could not be counted in 32 bits.
bool measure(HANDLE file, DWORD& length, FileFailure& failure)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        failure = lastSystemFailure();
        return false;
    }
    if (size.QuadPart > LONGLONG(MAXDWORD - 2)) {
        failure = systemFailure(ERROR_FILE_TOO_LARGE);
        return false;
    }
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
        failure.cause = FILE_CAUSE_END_OF_FILE;
        failure.osError = 0;
        return false;
    }
    return true;
}

bool readExactly(HANDLE file, void* buffer, DWORD length, FileFailure& failure)
{
    char* at = static_cast<char*>(buffer);
    for (DWORD left = length, got = 0; left > 0; at += got, left -= got) {
        if (!readPiece(file, at, left, got, failure))
            return false;
    }
    return true;
}

// Reads the measured length and closes the file; a failed close is a failed read.
bool readAndClose(FileHandle& file, void* buffer, DWORD length, FileFailure& failure)
{
    if (!readExactly(file, buffer, length, failure))
        return false;
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

        // A read-only file is not replaced, also where the process could
        // write it anyway (an administrator on some file systems).
        const DWORD attributes = GetFileAttributesW(destination.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            failure = systemFailure(ERROR_ACCESS_DENIED);
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
        return writeAll(m_file, data, size, failure);
    }

    bool Commit(FileFailure& failure)
    {
        if (!FlushFileBuffers(m_file)) {
            failure = lastSystemFailure();
            return false;
        }
        if (!m_file.Close()) {
            failure = lastSystemFailure();
            return false;
        }
        if (!MoveFileExW(m_temporary.c_str(), m_destination.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            failure = lastSystemFailure();
            return false;
        }
        m_temporary.clear();
        return true;
    }

private:
    void Abandon()
    {
        m_file.Close();
        if (!m_temporary.empty()) {
            DeleteFileW(m_temporary.c_str());
            m_temporary.clear();
        }
    }

    std::wstring m_destination;
    std::wstring m_temporary;
    FileHandle m_file;
};

// Copies the bytes of an existing file into the writer (for appending). A
// file that does not exist contributes nothing.
bool copyExisting(const std::wstring& path, ReplacingWriter& writer, FileFailure& failure)
{
    FileHandle file(openForReading(path, FILE_SHARE_READ));
    if (!file.IsOpen()) {
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
        if (!ReadFile(file, block.get(), DWORD(NARROW_BLOCK), &got, nullptr)) {
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

const wchar_t* conversionErrorName(DWORD error)
{
    switch (error) {
    case ERROR_INVALID_PARAMETER:
        return L"Invalid parameter";
    case ERROR_INSUFFICIENT_BUFFER:
        return L"Insufficient Buffer";
    case ERROR_INVALID_FLAGS:
        return L"Invalid flags";
    case ERROR_NO_UNICODE_TRANSLATION:
        return L"No unicode translation";
    default:
        return L"Unknown error";
    }
}

void traceConversionError(DWORD error)
{
    QM_TRACE(TRACE_CAT_UTIL, L"MultiByteToWideChar() error: %s\n", conversionErrorName(error));
}

// True when every byte of the OEM code page is one character (437, 850, ...),
// as opposed to the double-byte code pages of East Asian systems.
bool oemIsSingleByte()
{
    CPINFO codePage;
    return GetCPInfo(CP_OEMCP, &codePage) && codePage.MaxCharSize == 1;
}

// Narrow text of a single-byte OEM code page, converted piece by piece as it
// is read, so that no block of the whole file is needed beside the text. The
// text ends at the first zero byte; the rest of the file is still read, so
// that a read error anywhere is reported. A failed conversion leaves the
// text empty and is no read failure.
bool readNarrowSingleByte(FileHandle& file, DWORD size, std::wstring& text, FileFailure& failure)
{
    std::unique_ptr<char[]> narrow(new (std::nothrow) char[IO_CHUNK]);
    std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[IO_CHUNK]);
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
        if (!readPiece(file, narrow.get(), left, got, failure))
            return false;
        left -= got;
        if (!converting)
            continue;
        const char* zero = static_cast<const char*>(memchr(narrow.get(), 0, got));
        const int bytes = int(zero ? zero - narrow.get() : got);
        if (bytes > 0) {
            const int units = MultiByteToWideChar(CP_OEMCP, 0, narrow.get(), bytes, wide.get(), int(IO_CHUNK));
            if (units > 0) {
                text.append(wide.get(), size_t(units));
            } else {
                traceConversionError(GetLastError());
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

int w32NarrowToWide(const char* narrow, std::wstring& wide)
{
    wide.clear();
    if (!narrow || !*narrow)
        return 0;

    // With a single-byte code page every byte is one UTF-16 unit, and the
    // counting pass over a large text can be saved.
    const size_t bytes = strlen(narrow) + 1;
    if (bytes > size_t(INT_MAX))
        return 1;
    int units = oemIsSingleByte() ? int(bytes)
                    : MultiByteToWideChar(CP_OEMCP, 0, narrow, int(bytes), nullptr, 0);
    if (units > 0) {
        // Converted straight into the string's own storage: no second copy
        // of a large text.
        try {
            wide.resize(size_t(units));
        } catch (const std::bad_alloc&) {
            wide.clear();
            return 1;
        }
        units = MultiByteToWideChar(CP_OEMCP, 0, narrow, int(bytes), &wide[0], units);
    }
    if (units > 0) {
        wide.resize(size_t(units) - 1);
        return 1;
    }

    traceConversionError(GetLastError());
    wide.clear();
    wide.shrink_to_fit();
    return 1;
}

int w32GetFile(const std::wstring& path, std::wstring& text, std::wstring& errorText, DWORD& length,
               int unicode, int resolve)
{
    text.clear();
    length = 0;
    const std::wstring fullPath = resolvedPath(path, resolve);

    FileHandle file(openForReading(fullPath, 0));
    if (!file.IsOpen()) {
        describeOpenFailure(fullPath, errorText);
        return W32_FILE_OPEN_FAILED;
    }

    FileFailure failure;
    DWORD size = 0;
    if (!measure(file, size, failure)) {
        describeFailure(failure, errorText);
        return W32_FILE_READ_FAILED;
    }

    int result = W32_FILE_OK;
    if (unicode) {
        // The bytes go straight into the string's storage, padded with zero
        // units; the mark is checked and dropped afterwards.
        try {
            text.assign(size_t(size) / 2 + 2, L'\0');
        } catch (const std::bad_alloc&) {
            describeFailure(systemFailure(ERROR_NOT_ENOUGH_MEMORY), errorText);
            text.clear();
            return W32_FILE_READ_FAILED;
        }
        if (!readAndClose(file, &text[0], size, failure)) {
            describeFailure(failure, errorText);
            text.clear();
            text.shrink_to_fit();
            return W32_FILE_READ_FAILED;
        }
        if (size == 0) {
            text.clear();
        } else if (size > 2 && text[0] == 0xFEFF) {
            text.resize(wcslen(text.c_str() + 1) + 1);
            text.erase(0, 1);
        } else {
            text.clear();
            CNlsResources nls;
            nls.GetMessageText(MSG_NOT_UNICODE_TEXT, errorText);
            result = W32_FILE_NOT_UNICODE;
        }
    } else if (oemIsSingleByte()) {
        if (!readNarrowSingleByte(file, size, text, failure)) {
            text.clear();
            text.shrink_to_fit();
            describeFailure(failure, errorText);
            return W32_FILE_READ_FAILED;
        }
    } else {
        std::unique_ptr<char[]> block(new (std::nothrow) char[size_t(size) + 2]);
        if (!block) {
            describeFailure(systemFailure(ERROR_NOT_ENOUGH_MEMORY), errorText);
            return W32_FILE_READ_FAILED;
        }
        if (!readAndClose(file, block.get(), size, failure)) {
            describeFailure(failure, errorText);
            return W32_FILE_READ_FAILED;
        }
        block[size] = '\0';
        block[size + 1] = '\0';
        if (size > 0)
            w32NarrowToWide(block.get(), text);
    }

    length = DWORD(text.size());
    return result;
}

int w32PutFile(const std::wstring& path, const std::wstring& text, int overwrite, int sizeLimit,
               std::wstring& errorText, int unicode, int resolve)
{
    QM_TRACE(TRACE_CAT_UTIL, L"Entering w32 putfile...\n");
    errorText.clear();

    const std::wstring fullPath = resolvedPath(path, resolve);
    if (sizeLimit >= 0) {
        WIN32_FILE_ATTRIBUTE_DATA status;
        if (GetFileAttributesExW(fullPath.c_str(), GetFileExInfoStandard, &status)) {
            const ULONGLONG size = (ULONGLONG(status.nFileSizeHigh) << 32) | status.nFileSizeLow;
            if (size > ULONGLONG(sizeLimit))
                overwrite = 1;
        }
    }

    // The text ends at its first zero unit, as a zero-terminated string does.
    const size_t length = wcslen(text.c_str());
    int result = 0;
    FileFailure failure;
    if (!unicode && std::any_of(text.c_str(), text.c_str() + length, [](wchar_t c) { return c > 0xFF; })) {
        // Narrow output has one byte per character: rather than cut the
        // text short, nothing is written.
        QM_TRACE(TRACE_CAT_UTIL, L"w32 putfile: %s holds a character above 255\n", fullPath.c_str());
        result = W32_FILE_WRITE_FAILED;
    } else {
        ReplacingWriter writer;
        static const unsigned char mark[2] = {0xFF, 0xFE};
        bool ok = writer.Begin(fullPath, failure) && (overwrite || copyExisting(fullPath, writer, failure));
        if (ok && unicode)
            ok = writer.Write(mark, sizeof mark, failure) && writer.Write(text.c_str(), length * sizeof(wchar_t), failure);
        else if (ok)
            ok = writeNarrow(text.c_str(), length, writer, failure);
        ok = ok && writer.Commit(failure);
        if (!ok) {
            QM_TRACE(TRACE_CAT_UTIL, L"w32 putfile: %s not written, error %u\n", fullPath.c_str(),
                     unsigned(failure.osError));
            result = W32_FILE_WRITE_FAILED;
        }
    }

    QM_TRACE(TRACE_CAT_UTIL, L"Leaving w32 putfile. RC: %u...\n", unsigned(result));
    return result;
}

int w32ReadFileBytes(const std::wstring& path, std::string& bytes, std::wstring& errorText)
{
    bytes.clear();
    FileHandle file(openForReading(path, FILE_SHARE_READ));
    if (!file.IsOpen()) {
        describeOpenFailure(path, errorText);
        return W32_FILE_OPEN_FAILED;
    }
    FileFailure failure;
    DWORD size = 0;
    bool ok = measure(file, size, failure);
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
        describeFailure(failure, errorText);
        return W32_FILE_READ_FAILED;
    }
    return W32_FILE_OK;
}

int w32WriteFileBytes(const std::wstring& path, const std::string& bytes, std::wstring& errorText)
{
    ReplacingWriter writer;
    FileFailure failure;
    if (writer.Begin(path, failure) && writer.Write(bytes.data(), bytes.size(), failure) && writer.Commit(failure))
        return W32_FILE_OK;
    describeFailure(failure, errorText);
    return W32_FILE_WRITE_FAILED;
}

int w32CopyFileBytes(const std::wstring& source, const std::wstring& destination, std::wstring& errorText)
{
    // Sharing writes lets the destination be the source itself.
    FileHandle file(openForReading(source, FILE_SHARE_READ | FILE_SHARE_WRITE));
    if (!file.IsOpen()) {
        describeOpenFailure(source, errorText);
        return W32_FILE_OPEN_FAILED;
    }

    std::unique_ptr<char[]> block(new (std::nothrow) char[IO_CHUNK]);
    if (!block) {
        describeFailure(systemFailure(ERROR_NOT_ENOUGH_MEMORY), errorText);
        return W32_FILE_READ_FAILED;
    }
    ReplacingWriter writer;
    FileFailure failure;
    if (!writer.Begin(destination, failure)) {
        describeFailure(failure, errorText);
        return W32_FILE_WRITE_FAILED;
    }
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, block.get(), IO_CHUNK, &got, nullptr)) {
            describeFailure(lastSystemFailure(), errorText);
            return W32_FILE_READ_FAILED;
        }
        if (got == 0)
            break;
        if (!writer.Write(block.get(), got, failure)) {
            describeFailure(failure, errorText);
            return W32_FILE_WRITE_FAILED;
        }
    }
    // The source is closed before the rename, which may replace it.
    file.Close();
    if (!writer.Commit(failure)) {
        describeFailure(failure, errorText);
        return W32_FILE_WRITE_FAILED;
    }
    return W32_FILE_OK;
}
