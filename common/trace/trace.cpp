#include "trace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <cwchar>
#include <memory>
#include <new>

int traceCategoryOn[TRACE_CATEGORY_COUNT];

namespace {

int g_initialised;
HANDLE g_mutex;
int g_fileEnabled;
FILE* g_stream;

// Holds the trace mutex for one scope.
class MutexHold {
public:
    explicit MutexHold(HANDLE mutex) : m_mutex(mutex) { WaitForSingleObject(m_mutex, INFINITE); }
    ~MutexHold() { ReleaseMutex(m_mutex); }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

private:
    HANDLE m_mutex;
};

// Writes `text` with every line feed turned into CR LF. The translated text
// goes out in blocks rather than a character at a time: the stream is
// unbuffered, so each fwrite is one write to the file.
void writeTranslated(const wchar_t* text)
{
    wchar_t block[2048];
    size_t used = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (used + 2 > sizeof block / sizeof block[0]) {
            fwrite(block, sizeof(wchar_t), used, g_stream);
            used = 0;
        }
        if (*p == L'\n')
            block[used++] = L'\r';
        block[used++] = *p;
    }
    if (used)
        fwrite(block, sizeof(wchar_t), used, g_stream);
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

int traceInit()
{
    if (g_initialised)
        return 0;
    g_mutex = CreateMutexW(nullptr, FALSE, nullptr);
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

    FILE* stream = path ? _wfopen(path, append ? L"a+b" : L"w+b") : nullptr;
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

void traceWrite(const char* sourceFile, unsigned line, const wchar_t* format, ...)
{
    const DWORD threadId = GetCurrentThreadId();
    if (!g_initialised || !g_fileEnabled)
        return;

    // Work buffers live only for the call; without them the call has no effect.
    std::unique_ptr<wchar_t[]> source(new (std::nothrow) wchar_t[TRACE_BUFFER_CHARS]);
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[TRACE_BUFFER_CHARS]);
    if (!source || !text)
        return;

    MutexHold hold(g_mutex);
    if (!g_stream)
        return;

    source[0] = L'\0';
    if (sourceFile) {
        // __FILE__ is 8-bit text; its OEM conversion has at most as many characters.
        int converted = MultiByteToWideChar(CP_OEMCP, 0, sourceFile, -1, source.get(),
                                            static_cast<int>(TRACE_BUFFER_CHARS));
        source[converted > 0 ? converted - 1 : 0] = L'\0';
    }

    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[64];
    formatBounded(stamp, sizeof stamp / sizeof stamp[0], L"%02u/%02u/%04u %02u:%02u:%02u",
                  unsigned(now.wMonth), unsigned(now.wDay), unsigned(now.wYear),
                  unsigned(now.wHour), unsigned(now.wMinute), unsigned(now.wSecond));

    formatBounded(text.get(), TRACE_BUFFER_CHARS, L"%s # %u # %s # %u # ", stamp,
                  unsigned(threadId), fileNamePart(source.get()), line);
    writeTranslated(text.get());

    va_list args;
    va_start(args, format);
    formatBounded(text.get(), TRACE_BUFFER_CHARS, format, args);
    va_end(args);
    writeTranslated(text.get());

    fflush(g_stream);
}
