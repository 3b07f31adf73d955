// Small helpers shared by the tests: scratch directories, whole-file bytes,
// snapshots and batch files run as an administrator would.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>

namespace qmtest {

// A fresh directory under the Windows temp directory, removed with everything
// in it when the object goes away. Names carry the process id, so tests that
// run in parallel processes never share one.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& Path() const { return m_path; }
    // Path() + "\" + relative
    std::wstring operator/(const std::wstring& relative) const;

private:
    std::wstring m_path;
};

// Creates a directory and any missing parents.
void makeDirs(const std::wstring& path);
// Writes exactly `bytes` to `path`, replacing the file.
void writeBytes(const std::wstring& path, const std::string& bytes);
// The whole file; empty when it cannot be read.
std::string readBytes(const std::wstring& path);
bool fileExists(const std::wstring& path);
// Frees every reference this process holds to the library at `path`.
void unloadLibrary(const std::wstring& path);
// Deletes a directory tree (read-only attributes cleared first).
void removeTree(const std::wstring& path);

// A symbolic link at `link` to `target`, as another account of the server
// could leave one: a Unix link, made by the host's ln under Wine, removed again
// when the object goes; declare it after the TempDir that holds it. Made()
// tells whether it could be made.
class ScopedLink {
public:
    ScopedLink(const std::wstring& link, const std::wstring& target);
    ~ScopedLink();
    ScopedLink(const ScopedLink&) = delete;
    ScopedLink& operator=(const ScopedLink&) = delete;
    bool Made() const;

private:
    std::wstring m_link;
};

// A second name (a hard link) at `link` for the file `target`, made by the
// host's ln, as another account could leave one of its files.
void makeHostHardLink(const std::wstring& link, const std::wstring& target);

// Makes the file at `path` `size` bytes long with the host's truncate, as a
// program that Windows' share modes do not stop (another client of a file
// server) could while the tool reads it.
void resizeOnHost(const std::wstring& path, ULONGLONG size);

// Another account racing the tool: from the host, the two paths (a folder and
// a link to elsewhere, say) trade places atomically every half millisecond
// until Stop(), which returns once both are back as they were, with the
// number of exchanges made (or the swapper's error). Declare it after what
// holds the paths.
class ScopedSwap {
public:
    ScopedSwap(const std::wstring& pathA, const std::wstring& pathB);
    ~ScopedSwap() { Stop(); }
    ScopedSwap(const ScopedSwap&) = delete;
    ScopedSwap& operator=(const ScopedSwap&) = delete;
    std::string Stop();

private:
    TempDir m_control; // started, stop and done
    std::wstring m_pathA;
    DWORD m_attributesA;
    std::string m_result;
};

// A directory at `path` made by the host's mkdir under Wine, which can make
// one beside a file whose name differs only in case (Win32 calls cannot).
void makeHostDirectory(const std::wstring& path);

// Full path -> content, for comparing a tree or a key before and after.
using Snapshot = std::map<std::wstring, std::string>;
// Every file (its bytes) and subdirectory ("dir") under `directory`, at any
// depth, leaving out entries named `skip`.
void snapshotFiles(const std::wstring& directory, Snapshot& out, const std::wstring& skip = L"");
// The entries that differ, one per line ("changed", "gone" or "new" and the
// path); empty when the snapshots are the same.
std::string snapshotDifference(const Snapshot& before, const Snapshot& after);
// Runs the batch file as a double-click does (cmd /c, a console of its own,
// no one at the keyboard: stdin is NUL) from `currentDirectory`; its exit
// code, 255 when it could not start or did not end in CMD_SCRIPT_TIMEOUT_MS
// (then it is ended with all it started, and the test fails naming it).
// With `stopAfterMs`, a script still running then is ended with everything
// it started, as a power cut would, and SCRIPT_STOPPED returned.
constexpr DWORD CMD_SCRIPT_TIMEOUT_MS = 30000;
constexpr DWORD SCRIPT_STOPPED = 254;
DWORD runCmdScript(const std::wstring& script, const std::wstring& currentDirectory, std::string& output,
                   DWORD stopAfterMs = 0);

// Polls `done` every 10 ms until it holds or `ms` milliseconds pass.
bool waitUntil(const std::function<bool()>& done, int ms = 5000);
std::wstring windowText(HWND window);
// The message text of a message box (its static control 0xFFFF).
inline std::wstring messageBoxText(HWND box) { return windowText(GetDlgItem(box, 0xFFFF)); }
// A visible dialog of this process other than `except` whose caption or a
// child's text contains `text`; null if none.
HWND findDialogWithText(const std::wstring& text, HWND except = nullptr);
HWND waitForDialogWithText(const std::wstring& text, HWND except = nullptr, int ms = 5000);

// UTF-16LE bytes of a wide text (no mark).
std::string utf16le(const std::wstring& text);
// Wide text of UTF-16LE bytes (an odd last byte is dropped).
std::wstring fromUtf16le(const std::string& bytes);
// Narrow ASCII/UTF-8 text as wide text, for readable assertions.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

} // namespace qmtest
