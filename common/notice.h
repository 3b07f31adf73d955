// How a layer below the window tells the user something (the registry's
// WOW64 warning, the language loader's errors): it hands the text to the
// face the tool runs with, which shows it where its user looks, and never
// opens a window of its own. With no face listening the text goes nowhere
// but the trace the caller writes anyway. The sinks:
//   CNoticeBoxes    (app/migrate_dlg.h)          a message box each;
//   CConsoleNotices (app/unattended_run.cpp)     a console line each;
//   NoticeRecorder  (tests/cmd/cmd_test_support.h) what the tests expect.
#pragma once

#include <atomic>
#include <string>

enum class NoticeKind { Warning, Error };

class INoticeSink {
public:
    virtual ~INoticeSink() = default;
    // May be called from any thread; returns once the user has seen it.
    virtual void Tell(const std::wstring& text, const std::wstring& caption, NoticeKind kind) = 0;
};

inline std::atomic<INoticeSink*> g_noticeSink { nullptr };

// The face installs itself for as long as it runs (null: nobody listens).
// Returns the sink it replaced.
inline INoticeSink* setNoticeSink(INoticeSink* sink) { return g_noticeSink.exchange(sink); }

inline void tellUser(const std::wstring& text, const std::wstring& caption, NoticeKind kind)
{
    if (INoticeSink* sink = g_noticeSink.load())
        sink->Tell(text, caption, kind);
}
