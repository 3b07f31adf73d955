#include "trace.h"

#include "common/fs/link_check.h"
#include "common/fs/owner.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

int traceCategoryOn[TRACE_CATEGORY_COUNT];

namespace {

int g_initialised;
// Serialises lines of all threads. A critical section rather than a mutex
// object: it is taken twice per line, and under Wine a mutex wait is a round
// trip to the server.
CRITICAL_SECTION g_lock;
int g_fileEnabled;
FILE* g_stream;

// Holds the trace lock for one scope.
class CLockHold {
public:
    CLockHold() { EnterCriticalSection(&g_lock); }
    ~CLockHold() { LeaveCriticalSection(&g_lock); }
    CLockHold(const CLockHold&) = delete;
    CLockHold& operator=(const CLockHold&) = delete;
};

// Collects text with every line feed turned into CR LF and writes it in
// blocks: the stream is unbuffered, so each fwrite is one write to the file,
// and a whole short line (header and message) goes out in one.
class CTranslatedWriter {
public:
    void Add(const wchar_t* text) { Add(text, static_cast<size_t>(-1)); }
    // At most `length` characters of `text`, up to its end.
    void Add(const wchar_t* text, size_t length)
    {
        for (const wchar_t* p = text; length-- && *p; ++p) {
            if (m_used + 2 > sizeof m_block / sizeof m_block[0])
                WriteBlock();
            if (*p == L'\n')
                m_block[m_used++] = L'\r';
            m_block[m_used++] = *p;
        }
    }
    void WriteBlock()
    {
        if (m_used)
            fwrite(m_block, sizeof(wchar_t), m_used, g_stream);
        m_used = 0;
    }

private:
    wchar_t m_block[4096];
    size_t m_used = 0;
};

void writeTranslated(const wchar_t* text)
{
    CTranslatedWriter writer;
    writer.Add(text);
    writer.WriteBlock();
}

// Bounded formatting: never writes past `capacity` characters and always
// leaves the buffer terminated, cutting text that does not fit.
void formatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args)
{
    _vsnwprintf(buffer, capacity - 1, format, args);
    buffer[capacity - 1] = L'\0';
}

void formatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    formatBounded(buffer, capacity, format, args);
    va_end(args);
}

// The file part of a source path: what follows its last backslash, slash or drive colon.
const wchar_t* fileNamePart(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'\\' || *p == L'/' || *p == L':')
            name = p + 1;
    }
    return name;
}

} // namespace

namespace {

// The trace file lies in the current directory, which others may be able to
// write to: a link, or a second name of another file, left there under the
// trace's name would have the elevated tool truncate and overwrite whatever
// it leads to. The file is opened without truncation, looked at through the
// handle, and only then emptied; such a file is refused like one that cannot
// be opened.
HANDLE openEntryOfOwn(const wchar_t* full, const std::wstring& directory, const wchar_t* name, DWORD disposition,
                      bool& existed)
{
    // Shared for deleting, so that a second handle may delete it (see
    // openOwnFile); others may read it meanwhile.
    HANDLE file = CreateFileW(full, GENERIC_READ | GENERIC_WRITE | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION information;
    const bool own = GetFileInformationByHandle(file, &information) && information.nNumberOfLinks <= 1
                     && !(information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
                     && reachesEntryItself(file, directory, name);
    if (!own) {
        CloseHandle(file);
        return nullptr;
    }
    return file;
}

// Takes the name away from the file `file` holds: at once where the system
// can (the name goes even while others hold the file open), else when the
// last handle closes.
bool deleteOpenFile(HANDLE file)
{
    HANDLE deleting = ReOpenFile(file, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (deleting == INVALID_HANDLE_VALUE)
        return false;
    struct {
        ULONG flags;
    } immediately = { 0x1 | 0x2 }; // FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS
    FILE_DISPOSITION_INFO dispose = { TRUE };
    const bool deleted = SetFileInformationByHandle(deleting, FILE_INFO_BY_HANDLE_CLASS(21) /* FileDispositionInfoEx */,
                                                    &immediately, sizeof immediately)
        || SetFileInformationByHandle(deleting, FileDispositionInfo, &dispose, sizeof dispose);
    CloseHandle(deleting);
    return deleted;
}

FILE* openOwnFile(const wchar_t* path, bool append, std::wstring& replacedOwner)
{
    wchar_t full[MAX_PATH];
    wchar_t* name = nullptr;
    const DWORD length = GetFullPathNameW(path, MAX_PATH, full, &name);
    if (length == 0 || length >= MAX_PATH || !name || name == full)
        return nullptr;
    const std::wstring directory(full, size_t(name - full));
    bool existed = false;
    HANDLE file = openEntryOfOwn(full, directory, name, OPEN_ALWAYS, existed);
    if (!file)
        return nullptr;
    // A file someone else made under the trace's name keeps nothing of its
    // own: not its access list, which would let its maker read or change
    // what the tool traces, and not its content. It goes, and a new file
    // takes the name with the folder's inherited list.
    std::vector<BYTE> owner;
    if (existed && !(ownerOf(file, owner) && isAdministratorsOrSystem(owner.data()))) {
        replacedOwner = owner.empty() ? L"an account whose name cannot be read" : accountName(owner.data());
        const bool deleted = deleteOpenFile(file);
        CloseHandle(file);
        file = deleted ? openEntryOfOwn(full, directory, name, CREATE_NEW, existed) : nullptr;
        if (!file)
            return nullptr;
        append = false;
    }
    LARGE_INTEGER zero = {};
    if (!(append ? SetFilePointerEx(file, zero, nullptr, FILE_END) : SetEndOfFile(file))) {
        CloseHandle(file);
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY | (append ? _O_APPEND : 0));
    if (descriptor == -1) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _wfdopen(descriptor, append ? L"a+b" : L"w+b");
    if (!stream)
        _close(descriptor);
    return stream;
}

} // namespace

int traceInit()
{
    if (g_initialised)
        return 0;
    InitializeCriticalSection(&g_lock);
    for (int& on : traceCategoryOn)
        on = 0;
    g_initialised = 1;
    return 0;
}

int traceOpen(int enabled, const wchar_t* path, int append)
{
    // A second open replaces the first stream instead of leaking it.
    if (g_stream) {
        g_fileEnabled = 0;
        fclose(g_stream);
        g_stream = nullptr;
    }

    g_fileEnabled = enabled;
    if (!enabled)
        return TRACE_REFUSED;

    std::wstring replacedOwner;
    FILE* stream = path ? openOwnFile(path, append != 0, replacedOwner) : nullptr;
    if (!stream) {
        g_fileEnabled = 0;
        return TRACE_REFUSED;
    }

    const wchar_t bom = 0xFEFF;
    fwrite(&bom, sizeof bom, 1, stream);
    setvbuf(stream, nullptr, _IONBF, 0);

    time_t now = time(nullptr);
    const wchar_t* started = _wctime(&now);
    wchar_t banner[512];
    formatBounded(banner, sizeof banner / sizeof banner[0],
                  L"\n*====================================================================\n"
                  L"* trace started %.24s\n"
                  L"*====================================================================\n\n",
                  started ? started : L"");
    g_stream = stream;
    writeTranslated(banner);
    if (!replacedOwner.empty()) {
        formatBounded(banner, sizeof banner / sizeof banner[0],
                      L"* the trace file found here belonged to %s, not to Administrators or SYSTEM: it was "
                      L"replaced by a new one\n\n",
                      replacedOwner.c_str());
        writeTranslated(banner);
    }
    fflush(g_stream);

    g_fileEnabled = 1;
    return 0;
}

int traceSetCategory(int category, int on)
{
    if (category < 0 || category > TRACE_CAT_ALL || (on != 0 && on != 1))
        return TRACE_REFUSED;
    if (category == TRACE_CAT_ALL) {
        for (int& sw : traceCategoryOn)
            sw = on;
    } else {
        traceCategoryOn[category] = on;
    }
    return 0;
}

namespace {

// The two work buffers, used only under the lock, so one pair serves every
// thread; they are made on first use and kept, since allocating 786,000
// bytes per line is the larger part of a line's cost. False without them.
std::unique_ptr<wchar_t[]> g_source;
std::unique_ptr<wchar_t[]> g_text;

bool haveBuffers()
{
    if (!g_source)
        g_source.reset(new (std::nothrow) wchar_t[TRACE_BUFFER_CHARS]);
    if (!g_text)
        g_text.reset(new (std::nothrow) wchar_t[TRACE_BUFFER_CHARS]);
    return g_source && g_text;
}

void stampNow(wchar_t (&stamp)[64])
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    formatBounded(stamp, sizeof stamp / sizeof stamp[0], L"%02u/%02u/%04u %02u:%02u:%02u",
                  unsigned(now.wMonth), unsigned(now.wDay), unsigned(now.wYear),
                  unsigned(now.wHour), unsigned(now.wMinute), unsigned(now.wSecond));
}

// Adds "date time # thread # file # line # " to `writer`; under the lock.
// The file name is converted again only when `sourceFile` changes.
void addHeader(CTranslatedWriter& writer, const wchar_t* stamp, DWORD threadId, const char* sourceFile,
               unsigned line, const char*& convertedFile)
{
    if (sourceFile != convertedFile || !sourceFile) {
        g_source[0] = L'\0';
        if (sourceFile) {
            // __FILE__ is 8-bit text; its OEM conversion has at most as many characters.
            int converted = MultiByteToWideChar(CP_OEMCP, 0, sourceFile, -1, g_source.get(),
                                                static_cast<int>(TRACE_BUFFER_CHARS));
            g_source[converted > 0 ? converted - 1 : 0] = L'\0';
        }
        convertedFile = sourceFile;
    }
    formatBounded(g_text.get(), TRACE_BUFFER_CHARS, L"%s # %u # %s # %u # ", stamp, unsigned(threadId),
                  fileNamePart(g_source.get()), line);
    writer.Add(g_text.get());
}

} // namespace

void traceWrite(const char* sourceFile, unsigned line, const wchar_t* format, ...)
{
    const DWORD threadId = GetCurrentThreadId();
    if (!g_initialised || !g_fileEnabled)
        return;
    CLockHold hold;
    if (!g_stream || !haveBuffers())
        return;
    wchar_t stamp[64];
    stampNow(stamp);
    CTranslatedWriter writer;
    const char* convertedFile = nullptr;
    addHeader(writer, stamp, threadId, sourceFile, line, convertedFile);
    va_list args;
    va_start(args, format);
    formatBounded(g_text.get(), TRACE_BUFFER_CHARS, format, args);
    va_end(args);
    writer.Add(g_text.get());
    writer.WriteBlock();
    fflush(g_stream);
}

void CTraceLines::Add(const char* sourceFile, unsigned line, const wchar_t* format, ...)
{
    if (!g_initialised || !g_fileEnabled)
        return;
    // Formatted now, with the caller's arguments; cut like a single line.
    wchar_t shortText[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = _vsnwprintf(shortText, sizeof shortText / sizeof shortText[0] - 1, format, args);
    const size_t begin = m_text.size();
    if (length >= 0 && size_t(length) < sizeof shortText / sizeof shortText[0] - 1) {
        m_text.append(shortText, size_t(length));
    } else {
        const int needed = _vscwprintf(format, again);
        const size_t room = std::min<size_t>(needed > 0 ? size_t(needed) : 0, TRACE_BUFFER_CHARS - 1);
        m_text.resize(begin + room + 1);
        _vsnwprintf(&m_text[begin], room, format, again);
        m_text.resize(begin + room);
    }
    va_end(again);
    va_end(args);
    m_lines.push_back(Line { sourceFile, line, m_text.size() });
}

void CTraceLines::WriteAll()
{
    const DWORD threadId = GetCurrentThreadId();
    if (m_lines.empty())
        return;
    if (g_initialised && g_fileEnabled) {
        CLockHold hold;
        if (g_stream && haveBuffers()) {
            wchar_t stamp[64];
            stampNow(stamp);
            CTranslatedWriter writer;
            const char* convertedFile = nullptr;
            size_t begin = 0;
            for (const Line& line : m_lines) {
                addHeader(writer, stamp, threadId, line.sourceFile, line.line, convertedFile);
                // A message holding a zero character ends there, as a single line's does.
                writer.Add(m_text.data() + begin, line.end - begin);
                begin = line.end;
            }
            writer.WriteBlock();
            fflush(g_stream);
        }
    }
    m_text.clear();
    m_lines.clear();
}
