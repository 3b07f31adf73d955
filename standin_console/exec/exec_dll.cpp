// Stand-in for the console's command-execution library, exec_dll.dll.
//
// A test and demo fixture written from the interface the tool expects
// (migrate/exec_interface.h); it is never shipped with the tool. It runs a
// command line without a window, captures what it prints on stdout and
// stderr, and hands that back as UTF-16 text.
//
// Built a few more times for the tests with one of these defined, each a way
// in which a library can fail the tool:
//   EXEC_STANDIN_NO_ENTRY_POINTS  no execGetEntryPoints at all
//   EXEC_STANDIN_NULL_SLOT        the table's execErrorString slot stays null
//   EXEC_STANDIN_IMPORT_EXITS     an import (regedit.exe /s) runs nothing and exits with 1
//   EXEC_STANDIN_IMPORT_REFUSED   an import is refused with rc 6, which is also
//                                 one of the binding's own result numbers
//   EXEC_STANDIN_EXPORT_READ_ONLY an export (regedit.exe /e) to a quarnrept_mig.reg
//                                 leaves that file read-only, so that it
//                                 cannot be rewritten
//   EXEC_STANDIN_EXPORT_DROPS_VALUE an export to a quarnrept_mig.reg loses
//                                 its last value, as a cut-short file would
//   EXEC_STANDIN_IMPORT_FIRST_SECTION an import of a quarnrept_mig.reg takes
//                                 only the file's first key, as an editor that
//                                 stops half way would
//   EXEC_STANDIN_NEEDS_SIBLING    imports exec_sibling.dll, which must be found
//                                 beside the library
#include "migrate/exec_interface.h"

#include <cwchar>
#include <string>

namespace {

constexpr unsigned EXEC_STANDIN_VERSION = 0x00050202;

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : m_handle(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE Get() const { return m_handle; }
    HANDLE* Receive()
    {
        Close();
        return &m_handle;
    }
    bool Valid() const { return m_handle && m_handle != INVALID_HANDLE_VALUE; }
    void Close()
    {
        if (Valid())
            CloseHandle(m_handle);
        m_handle = nullptr;
    }

private:
    HANDLE m_handle;
};

// Console programs print in the OEM code page.
[[maybe_unused]] std::wstring oemToWide(const std::string& bytes)
{
    if (bytes.empty())
        return {};
    const int length = MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::wstring text(size_t(length), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), int(bytes.size()), &text[0], length);
    return text;
}

// A copy of `text` on the process heap; execFreeResults releases it.
[[maybe_unused]] wchar_t* newResults(const std::wstring& text)
{
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* results = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (results) {
        wmemcpy(results, text.c_str(), text.size());
        results[text.size()] = L'\0';
    }
    return results;
}

// How long a command may run; the tests give up on one that takes longer.
const DWORD EXEC_TIMEOUT_MS = 30000;

// Runs `commandLine` in `directory` (null: the caller's) with stdout and
// stderr on one pipe and stdin on the null device. Returns 0 with the output
// and exit code, or the system error that kept the command from starting
// (ERROR_TIMEOUT: it was ended after EXEC_TIMEOUT_MS).
DWORD runCaptured(const std::wstring& commandLine, const wchar_t* directory, std::string& output,
                  DWORD& exitCode)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    Handle readEnd, writeEnd;
    if (!CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inherit, 0))
        return GetLastError();
    // Only the child's end may be inherited, or the pipe would never report its end.
    if (!SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0))
        return GetLastError();
    Handle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                             0, nullptr));
    if (!input.Valid())
        return GetLastError();

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.Get();
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();

    // The command and whatever it starts run in a job, so that one that hangs
    // is ended whole.
    Handle job(CreateJobObjectW(nullptr, nullptr));
    std::wstring mutableLine = commandLine; // CreateProcessW may write into it
    PROCESS_INFORMATION process = {};
    if (!job.Valid()
        || !CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED,
                           nullptr, directory, &startup, &process))
        return GetLastError();
    Handle processHandle(process.hProcess), threadHandle(process.hThread);
    AssignProcessToJobObject(job.Get(), processHandle.Get());
    ResumeThread(threadHandle.Get());
    writeEnd.Close();
    input.Close();

    // Drain the pipe while the command runs, so a command that prints a lot
    // never stalls on a full pipe; the pipe ends when its last writer exits.
    // A command still running after EXEC_TIMEOUT_MS is ended.
    char block[4096];
    DWORD got = 0, waiting = 0;
    for (DWORD ready = 0; PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &ready, nullptr);) {
        if (ready && ReadFile(readEnd.Get(), block, sizeof block, &got, nullptr)) {
            output.append(block, got);
            continue;
        }
        if (waiting >= EXEC_TIMEOUT_MS) {
            TerminateJobObject(job.Get(), ERROR_TIMEOUT);
            WaitForSingleObject(processHandle.Get(), 5000);
            return ERROR_TIMEOUT;
        }
        Sleep(10);
        waiting += 10;
    }

    WaitForSingleObject(processHandle.Get(), EXEC_TIMEOUT_MS);
    if (!GetExitCodeProcess(processHandle.Get(), &exitCode))
        return GetLastError();
    return 0;
}

// The registration file a regedit command names behind `switchText` (as in
// `regedit.exe" /e "`), when it is a quarnrept_mig.reg; empty otherwise.
[[maybe_unused]] std::wstring registrationFile(const wchar_t* command, const wchar_t* switchText)
{
    const wchar_t* at = wcsstr(command, switchText);
    if (!at)
        return {};
    std::wstring rest = at + wcslen(switchText);
    rest = rest.substr(0, rest.find(L'"'));
    return rest.size() >= 17 && rest.compare(rest.size() - 17, 17, L"quarnrept_mig.reg") == 0 ? rest : L"";
}

// Rewrites a UTF-16LE file's text (behind its mark) by `edit`.
template <typename Edit>
[[maybe_unused]] void editUtf16File(const std::wstring& path, Edit edit)
{
    std::wstring text;
    {
        Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size = {};
        if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 2)
            return;
        std::string bytes(size_t(size.QuadPart), '\0');
        DWORD got = 0;
        if (!ReadFile(file.Get(), &bytes[0], DWORD(bytes.size()), &got, nullptr) || got != bytes.size())
            return;
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    }
    text = L"\xFEFF" + edit(text);
    Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file.Valid())
        WriteFile(file.Get(), text.data(), DWORD(text.size() * 2), &written, nullptr);
}

// True when the field holds its terminator.
template <size_t N>
bool terminated(const wchar_t (&field)[N])
{
    return wmemchr(field, L'\0', N) != nullptr;
}

} // namespace

extern "C" {

#ifdef EXEC_STANDIN_NEEDS_SIBLING
__declspec(dllimport) unsigned WINAPI execSiblingVersion();
#endif

unsigned WINAPI execGetVersion()
{
#ifdef EXEC_STANDIN_NEEDS_SIBLING
    return execSiblingVersion();
#else
    return EXEC_STANDIN_VERSION;
#endif
}

int WINAPI execIssueCommand(ExecRequest* request)
{
    if (!request) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!terminated(request->directory) || !terminated(request->command) || !request->command[0]) {
        request->rc = ERROR_INVALID_PARAMETER;
        return 0;
    }
#ifdef EXEC_STANDIN_IMPORT_EXITS
    if (wcsstr(request->command, L"regedit.exe\" /s")) {
        request->rc = 1;
        request->results = newResults(L"");
        return 1;
    }
#endif
#ifdef EXEC_STANDIN_IMPORT_REFUSED
    if (wcsstr(request->command, L"regedit.exe\" /s")) {
        request->rc = ERROR_INVALID_HANDLE;
        return 0;
    }
#endif
#ifdef EXEC_STANDIN_IMPORT_FIRST_SECTION
    editUtf16File(registrationFile(request->command, L"regedit.exe\" /s \""), [](const std::wstring& text) {
        const size_t first = text.find(L"\n[");
        return first == std::wstring::npos ? text : text.substr(0, text.find(L"\n[", first + 1) + 1);
    });
#endif
    try {
        std::string output;
        DWORD exitCode = 0;
        const DWORD error = runCaptured(request->command, request->directory[0] ? request->directory : nullptr,
                                        output, exitCode);
        if (error) {
            request->rc = INT32(error);
            return 0;
        }
        request->rc = INT32(exitCode);
#ifdef EXEC_STANDIN_EXPORT_READ_ONLY
        const std::wstring exported = registrationFile(request->command, L"regedit.exe\" /e \"");
        if (!exported.empty())
            SetFileAttributesW(exported.c_str(), FILE_ATTRIBUTE_READONLY);
#endif
#ifdef EXEC_STANDIN_EXPORT_DROPS_VALUE
        editUtf16File(registrationFile(request->command, L"regedit.exe\" /e \""), [](std::wstring text) {
            const size_t last = text.rfind(L"\n\"");
            if (last != std::wstring::npos)
                text.erase(last + 1, text.find(L'\n', last + 1) - last);
            return text;
        });
#endif
        // An empty text, not null, when the command printed nothing: it still ran.
        request->results = newResults(oemToWide(output));
        return 1;
    } catch (...) {
        request->rc = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
}

int WINAPI execFreeResults(wchar_t* results)
{
    if (!results)
        return 0;
    return HeapFree(GetProcessHeap(), 0, results) ? 0 : int(GetLastError());
}

int WINAPI execErrorString(int code, wchar_t* buffer, int bufferChars)
{
    if (!buffer || bufferChars <= 0)
        return 0;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(code),
                                  0, buffer, DWORD(bufferChars), nullptr);
    if (length == 0) {
        const std::wstring text = L"Error " + std::to_wstring(code);
        length = DWORD(text.copy(buffer, size_t(bufferChars) - 1));
    }
    while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' || buffer[length - 1] == L' '))
        --length;
    buffer[length] = L'\0';
    return int(length);
}

int WINAPI execWriteFile(const wchar_t* target, const wchar_t* results)
{
    if (!target || !results)
        return ERROR_INVALID_PARAMETER;
    Handle file(CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return int(GetLastError());
    auto write = [&file](const void* data, DWORD size) -> int {
        DWORD written = 0;
        if (!WriteFile(file.Get(), data, size, &written, nullptr))
            return int(GetLastError());
        return written == size ? 0 : ERROR_WRITE_FAULT;
    };
    // UTF-16LE behind its byte-order mark, as the console's files are.
    const unsigned char mark[2] = {0xFF, 0xFE};
    int error = write(mark, sizeof mark);
    const DWORD textBytes = DWORD(wcslen(results) * sizeof(wchar_t));
    if (!error && textBytes)
        error = write(results, textBytes);
    return error;
}

#ifndef EXEC_STANDIN_NO_ENTRY_POINTS
int WINAPI execGetEntryPoints(HMODULE, ExecEntryPoints* entries)
{
    if (!entries)
        return 0;
    entries->execGetVersion = execGetVersion;
    entries->execIssueCommand = execIssueCommand;
    entries->execFreeResults = execFreeResults;
#ifndef EXEC_STANDIN_NULL_SLOT
    entries->execErrorString = execErrorString;
#endif
    entries->execWriteFile = execWriteFile;
    return 1;
}
#endif

} // extern "C"
