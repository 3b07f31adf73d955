// Test fixtures for the language resources and the file utilities: a scratch
// console directory holding the stand-in message libraries, the console's
// registry keys pointing at it, and a watcher that finds, records and
// dismisses message boxes.
#pragma once

#include "tests/support/registry_support.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <atomic>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qmtest {

// Where the build put the stand-in console files.
std::wstring standinDirectory();

// Forgets everything the language module has loaded or chosen, so that a test
// starts from a process that has not loaded yet.
void resetLanguageState();

// A console installation in a scratch directory: the console key's "Path"
// names it, and the Languages key is emptied. Clears HKLM\SOFTWARE\Norvale
// before and after.
class ScratchConsole {
public:
    ScratchConsole();

    const std::wstring& directory() const { return m_dir.path(); }
    std::wstring operator/(const std::wstring& name) const { return m_dir / name; }

    // Copies msg<lang>u.dll of the stand-ins into the directory.
    void installLibrary(const std::wstring& lang);
    // Sets the console key's "Path" to `path`.
    void setPath(const std::wstring& path);
    // Adds values to the Languages key, in this order.
    void setLanguages(std::initializer_list<std::pair<std::wstring, std::wstring>> languages);

private:
    CleanNorvaleKeys m_clean;
    TempDir m_dir;
};

// The system's default LCID as the Languages key writes it ("0409").
std::wstring systemLcidText();

// Watches this process's top-level windows for message boxes; records caption
// and text of each and presses its OK (or Cancel) button.
class MessageBoxWatcher {
public:
    struct Box {
        std::wstring caption;
        std::wstring text;
    };

    MessageBoxWatcher();
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    std::vector<Box> boxes() const;
    std::vector<std::wstring> texts() const;

private:
    void run();

    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<Box> m_boxes;
    std::vector<HWND> m_seen;
    std::thread m_thread;
};

// The names in a directory, sorted.
std::vector<std::wstring> directoryNames(const std::wstring& dir);

} // namespace qmtest
