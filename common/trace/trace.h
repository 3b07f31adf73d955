// Process-wide trace file shared by every module of the tool.
//
// The file is UTF-16LE with a byte-order mark. Each traceWrite call produces a
// header "date time # thread # file # line # " followed by the caller's
// message; line feeds are written as CR LF. Call sites go through QM_TRACE,
// which tests the category switch first, so a disabled category costs one
// integer test and formats nothing:
//
//   QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: ... %s\n", text);
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum {
    TRACE_CAT_APP = 1,
    TRACE_CAT_REGISTRY = 10,
    TRACE_CAT_UTIL = 11,
    TRACE_CAT_NLS = 16,
    TRACE_CAT_ALL = 37, // not a switch: traceSetCategory's "all of 0 to 36"
};

constexpr int TRACE_CATEGORY_COUNT = 37;

// Named arguments of traceOpen and traceSetCategory: three switches, each
// with its own two values (which are 0 and 1, as the integer arguments take).
enum TraceEnable : int { TRACE_DISABLED = 0, TRACE_ENABLED = 1 }; // traceOpen's first: off, or open the file
enum TraceStart : int { TRACE_TRUNCATE = 0, TRACE_APPEND = 1 }; // traceOpen's last: start anew, or append
enum TraceSwitch : int { TRACE_OFF = 0, TRACE_ON = 1 }; // traceSetCategory's second
constexpr int TRACE_REFUSED = 201;

// Each of the header and the message is formatted into a buffer of this many
// wide characters; longer text is cut at the end of the buffer.
constexpr unsigned TRACE_BUFFER_CHARS = 196605;

extern int traceCategoryOn[TRACE_CATEGORY_COUNT];

// Creates the trace mutex and clears every switch; later calls do nothing. Returns 0.
int traceInit();

// Opens (append != 0: appends to, else creates anew) the trace file and writes
// the byte-order mark and the banner. Returns 0, or TRACE_REFUSED when
// `enabled` is 0 or the file cannot be opened; tracing is then off.
int traceOpen(int enabled, const wchar_t* path, int append);

// Sets one switch (0..36) or, with TRACE_CAT_ALL, all of them to `on` (0 or 1).
// Returns 0, or TRACE_REFUSED for anything out of range (nothing changes).
int traceSetCategory(int category, int on);

// Writes one trace line. `sourceFile` is the caller's __FILE__; only its file
// name and extension reach the header. `format` follows the Microsoft wide
// printf conventions: %s takes a wide string.
void traceWrite(const char* sourceFile, unsigned line, const wchar_t* format, ...);

// One trace line from the calling file and line, when `category` is on.
#define QM_TRACE(category, ...)                                                                                        \
    do {                                                                                                               \
        if (traceCategoryOn[category])                                                                                 \
            traceWrite(__FILE__, __LINE__, __VA_ARGS__);                                                               \
    } while (0)

// Trace lines collected and written together, for a loop that traces every
// item: each line has its own header as from traceWrite, the date and time
// being those of WriteAll, and all of them go out under one lock in as few
// writes as their text needs. WriteAll is also done on destruction.
class CTraceLines {
public:
    CTraceLines() = default;
    CTraceLines(const CTraceLines&) = delete;
    CTraceLines& operator=(const CTraceLines&) = delete;
    ~CTraceLines() { WriteAll(); }

    void Add(const char* sourceFile, unsigned line, const wchar_t* format, ...);
    void WriteAll();

private:
    struct Line {
        const char* sourceFile;
        unsigned line;
        size_t end; // of its message in m_text
    };
    std::wstring m_text;
    std::vector<Line> m_lines;
};

// One line into `lines` from the calling file and line, when `category` is on.
#define QM_TRACE_TO(lines, category, ...)                                                                              \
    do {                                                                                                               \
        if (traceCategoryOn[category])                                                                                 \
            (lines).Add(__FILE__, __LINE__, __VA_ARGS__);                                                              \
    } while (0)
