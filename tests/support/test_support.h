// Small helpers shared by the tests: scratch directories and whole-file bytes.
#pragma once

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

    const std::wstring& path() const { return m_path; }
    // path() + "\" + relative
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
// Deletes a directory tree (read-only attributes cleared first).
void removeTree(const std::wstring& path);

// UTF-16LE bytes of a wide text (no mark).
std::string utf16le(const std::wstring& text);
// Wide text of UTF-16LE bytes (an odd last byte is dropped).
std::wstring fromUtf16le(const std::string& bytes);
// Narrow ASCII/UTF-8 text as wide text, for readable assertions.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

} // namespace qmtest
