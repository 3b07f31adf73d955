// Flushes a file being written on a thread of its own, a step at a time,
// while the writer goes on: the flush that makes the file whole then finds
// little left to write out. (Under Wine a flush is an fsync of everything
// written so far; on Windows the calls on one handle take turns and the
// lazy writer already writes behind, so there the steps mainly keep the last
// flush short.) A file smaller than one step starts no thread. The file must
// stay open until Stop has returned.
#pragma once

#include "common/files/file_failure.h"
#include "window/handle.h"

#include <windows.h>

// Written bytes after which what is there is flushed.
constexpr ULONGLONG WRITE_BEHIND_STEP = 8ull << 20;

class CWriteBehind {
public:
    CWriteBehind() = default;
    ~CWriteBehind();
    CWriteBehind(const CWriteBehind&) = delete;
    CWriteBehind& operator=(const CWriteBehind&) = delete;

    // `size` more bytes were written to `file`.
    void Written(HANDLE file, size_t size);
    // Waits for the thread to end. False, with the system's reason, when one
    // of its flushes failed: what was written may not be on disk.
    bool Stop(FileFailure& failure);

private:
    static DWORD WINAPI Flushing(void* self);

    HANDLE m_file = nullptr;
    ULONGLONG m_unflushed = 0;
    CHandle<KernelHandleTraits> m_due;
    CHandle<KernelHandleTraits> m_thread;
    volatile LONG m_stop = 0;
    volatile LONG m_error = ERROR_SUCCESS;
};
