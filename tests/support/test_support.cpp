#include "tests/support/test_support.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace qmtest {

namespace {
std::atomic<unsigned> g_dirCounter{0};
}

TempDir::TempDir()
{
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp); // ends in a backslash
    const std::wstring base = std::wstring(temp, length < MAX_PATH ? length : 0) + L"qmtest-"
                              + std::to_wstring(GetCurrentProcessId()) + L"-";
    while (m_path.empty()) {
        const std::wstring candidate = base + std::to_wstring(g_dirCounter++);
        if (CreateDirectoryW(candidate.c_str(), nullptr))
            m_path = candidate;
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create a scratch directory");
    }
}

TempDir::~TempDir()
{
    removeTree(m_path);
}

std::wstring TempDir::operator/(const std::wstring& relative) const
{
    return m_path + L"\\" + relative;
}

void makeDirs(const std::wstring& path)
{
    SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
}

void writeBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot create " + narrow(path));
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != bytes.size())
        throw std::runtime_error("cannot write " + narrow(path));
}

std::string readBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char block[65536];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0)
        bytes.append(block, got);
    CloseHandle(file);
    return bytes;
}

bool fileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void unloadLibrary(const std::wstring& path)
{
    while (HMODULE module = GetModuleHandleW(path.c_str()))
        FreeLibrary(module);
}

// Calls `visit` with the full path and the find data of each entry of `directory`.
template <typename Visit> void forEachEntry(const std::wstring& directory, Visit visit)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry))
        if (lstrcmpW(entry.cFileName, L".") && lstrcmpW(entry.cFileName, L".."))
            visit(directory + L"\\" + entry.cFileName, entry);
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
}

void removeTree(const std::wstring& path)
{
    forEachEntry(path, [](const std::wstring& child, const WIN32_FIND_DATAW& entry) {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            removeTree(child);
        else
            DeleteFileW(child.c_str());
    });
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

std::string snapshotDifference(const Snapshot& before, const Snapshot& after)
{
    std::string lines;
    for (const auto& [path, content] : before) {
        const auto found = after.find(path);
        if (found == after.end())
            lines += "gone: " + narrow(path) + "\n";
        else if (found->second != content)
            lines += "changed: " + narrow(path) + "\n";
    }
    for (const auto& entry : after)
        if (!before.count(entry.first))
            lines += "new: " + narrow(entry.first) + "\n";
    return lines;
}

void snapshotFiles(const std::wstring& directory, Snapshot& out, const std::wstring& skip)
{
    forEachEntry(directory, [&](const std::wstring& path, const WIN32_FIND_DATAW& entry) {
        if (entry.cFileName == skip)
            return;
        const bool isDirectory = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        out[path] = isDirectory ? "dir" : readBytes(path);
        if (isDirectory)
            snapshotFiles(path, out, skip);
    });
}

DWORD runCmdScript(const std::wstring& script, const std::wstring& currentDirectory, std::string& output,
                   DWORD stopAfterMs)
{
    const std::wstring log = currentDirectory + L"\\script-output.txt";
    SECURITY_ATTRIBUTES inherit { sizeof inherit, nullptr, TRUE };
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = CreateFileW(L"NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    startup.hStdOutput = startup.hStdError
        = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0,
                      nullptr);
    // cmd's own scratch files (Wine's for /f leaves some) go where the scratch
    // directory takes them away. Every test runs in a process of its own, so
    // the change of this process's environment reaches no other test.
    TempDir scratch;
    const wchar_t* const names[] = { L"TMP", L"TEMP" };
    wchar_t temp[2][MAX_PATH] = {};
    for (int i = 0; i < 2; ++i) {
        GetEnvironmentVariableW(names[i], temp[i], MAX_PATH);
        SetEnvironmentVariableW(names[i], scratch.Path().c_str());
    }
    // The script and whatever it starts run in a job, so that one that hangs
    // can be ended whole.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    PROCESS_INFORMATION process {};
    std::wstring command = L"cmd /c \"\"" + script + L"\"\"";
    DWORD code = 255;
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr,
                       currentDirectory.c_str(), &startup, &process)) {
        AssignProcessToJobObject(job, process.hProcess);
        ResumeThread(process.hThread);
        if (WaitForSingleObject(process.hProcess, stopAfterMs ? stopAfterMs : CMD_SCRIPT_TIMEOUT_MS) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.hProcess, &code);
        } else if (stopAfterMs) {
            TerminateJobObject(job, SCRIPT_STOPPED);
            WaitForSingleObject(process.hProcess, 5000);
            code = SCRIPT_STOPPED;
        } else {
            TerminateJobObject(job, 255);
            WaitForSingleObject(process.hProcess, 5000);
            ADD_FAILURE() << narrow(command) << " in " << narrow(currentDirectory) << " did not end within "
                          << CMD_SCRIPT_TIMEOUT_MS / 1000 << " s and was ended; its output so far:\n" << readBytes(log);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        // What the script started may still be ending, its copy of the output
        // handle open: on a loaded machine that has taken more than 10 s. Wait
        // for the whole job.
        const DWORD jobEndMs = 30000;
        const bool ended = waitUntil([&] {
            JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting {};
            return !QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                              sizeof accounting, nullptr)
                   || accounting.ActiveProcesses == 0;
        }, jobEndMs);
        if (!ended)
            ADD_FAILURE() << "what " << narrow(command) << " started was still running " << jobEndMs / 1000
                          << " s after it ended";
    }
    CloseHandle(job);
    for (int i = 0; i < 2; ++i)
        SetEnvironmentVariableW(names[i], temp[i][0] ? temp[i] : nullptr);
    CloseHandle(startup.hStdInput);
    CloseHandle(startup.hStdOutput);
    output = readBytes(log);
    if (!waitUntil([&] { return DeleteFileW(log.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; }))
        ADD_FAILURE() << narrow(log) << " could not be deleted after " << narrow(command);
    return code;
}

namespace {

// The Unix path of a Windows one.
std::string unixPath(const std::wstring& path)
{
    using ToUnix = char*(CDECL*)(const wchar_t*);
    auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = toUnix ? toUnix(path.c_str()) : nullptr;
    std::string result = name ? name : "";
    if (name)
        HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Runs a Unix program of the host (Wine starts those too) and waits until
// `done` holds; Wine's handle on a Unix process does not wait for its end.
void runUnix(const std::wstring& commandLine, const std::function<bool()>& done)
{
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    std::wstring line = commandLine;
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (!waitUntil(done, 10000))
        ADD_FAILURE() << narrow(commandLine) << " had not done its work after 10 s";
}

} // namespace

void makeHostDirectory(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    runUnix(L"Z:\\bin\\mkdir \"" + widen(unixPath(path.substr(0, slash))) + L"/" + path.substr(slash + 1) + L"\"", [&] {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    });
}

ScopedLink::ScopedLink(const std::wstring& link, const std::wstring& target)
    : m_link(link)
{
    runUnix(L"Z:\\bin\\ln -s \"" + widen(unixPath(target)) + L"\" \"" + widen(unixPath(link)) + L"\"",
            [this] { return Made(); });
}

ScopedLink::~ScopedLink()
{
    runUnix(L"Z:\\bin\\rm -f \"" + widen(unixPath(m_link)) + L"\"", [this] { return !Made(); });
}

void makeHostHardLink(const std::wstring& link, const std::wstring& target)
{
    runUnix(L"Z:\\bin\\ln \"" + widen(unixPath(target)) + L"\" \"" + widen(unixPath(link)) + L"\"",
            [&] { return fileExists(link); });
}

void resizeOnHost(const std::wstring& path, ULONGLONG size)
{
    runUnix(L"Z:\\usr\\bin\\truncate -s " + std::to_wstring(size) + L" \"" + widen(unixPath(path)) + L"\"", [&] {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)
            && ((ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == size;
    });
}

ScopedSwap::ScopedSwap(const std::wstring& pathA, const std::wstring& pathB)
    : m_pathA(pathA)
    , m_attributesA(GetFileAttributesW(pathA.c_str()))
{
    const std::wstring swapper = widen(unixPath(widen(QM_SWAP_RACE)));
    runUnix(L"Z:\\usr\\bin\\python3 \"" + swapper + L"\" \"" + widen(unixPath(pathA)) + L"\" \""
                + widen(unixPath(pathB)) + L"\" \"" + widen(unixPath(m_control.Path())) + L"\"",
            [this] { return fileExists(m_control / L"started") || fileExists(m_control / L"done"); });
}

std::string ScopedSwap::Stop()
{
    if (!m_result.empty())
        return m_result;
    writeBytes(m_control / L"stop", "");
    if (!waitUntil([this] { return fileExists(m_control / L"done"); }, 10000))
        ADD_FAILURE() << "the swapper of " << narrow(m_pathA) << " did not stop within 10 s";
    m_result = fileExists(m_control / L"done") ? readBytes(m_control / L"done") : "no answer";
    if (GetFileAttributesW(m_pathA.c_str()) != m_attributesA)
        ADD_FAILURE() << narrow(m_pathA) << " is not as it was before the swapping: " << m_result;
    return m_result;
}

bool ScopedLink::Made() const
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(m_link.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    return true;
}

bool waitUntil(const std::function<bool()>& done, int ms)
{
    for (const DWORD start = GetTickCount(); !done(); Sleep(10)) {
        if (int(GetTickCount() - start) > ms)
            return false;
    }
    return true;
}

std::wstring windowText(HWND window)
{
    wchar_t text[4096];
    int n = GetWindowTextW(window, text, 4096);
    return std::wstring(text, n > 0 ? n : 0);
}

HWND findDialogWithText(const std::wstring& text, HWND except)
{
    // Message boxes and the About box are top-level windows of the dialog class.
    for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr;) {
        DWORD process = 0;
        GetWindowThreadProcessId(box, &process);
        if (process != GetCurrentProcessId() || box == except || !IsWindowVisible(box))
            continue;
        bool found = windowText(box).find(text) != std::wstring::npos;
        for (HWND child = GetWindow(box, GW_CHILD); child && !found; child = GetWindow(child, GW_HWNDNEXT))
            found = windowText(child).find(text) != std::wstring::npos;
        if (found)
            return box;
    }
    return nullptr;
}

HWND waitForDialogWithText(const std::wstring& text, HWND except, int ms)
{
    HWND found = nullptr;
    waitUntil([&] { return (found = findDialogWithText(text, except)) != nullptr; }, ms);
    return found;
}

// Windows keeps wide characters as UTF-16LE in memory.
std::string utf16le(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::wstring fromUtf16le(const std::string& bytes)
{
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

std::wstring widen(const std::string& text)
{
    if (text.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n);
    return out;
}

std::string narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

} // namespace qmtest
