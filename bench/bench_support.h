// What the benchmarks share: a clock, a large OEM text file, the bare
// directory enumeration they measure the tool against, a watcher of a
// process's private bytes, and one child process per measured size.
#pragma once

#include "tests/support/test_support.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace qmbench {

inline double nowSeconds()
{
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

constexpr DWORD BYTES_PER_MIB = 1u << 20;

// Writes `size` bytes of report-like OEM text (CR LF lines, some bytes above
// 127) one block at a time, so that making the input costs no memory.
inline void writeOemText(const std::wstring& path, DWORD size)
{
    std::string block;
    const char* line = "Quarterly report \x82t\x82 \x84 \x94 | col1 | col2 | 12345.67 | \xB0\xB1\xB2 totals\r\n";
    while (block.size() < BYTES_PER_MIB)
        block += line;
    block.resize(BYTES_PER_MIB);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    for (DWORD done = 0; done < size; done += BYTES_PER_MIB) {
        DWORD written = 0;
        WriteFile(file, block.data(), BYTES_PER_MIB, &written, nullptr);
    }
    CloseHandle(file);
}

// Enumerates the directory once and touches each name, nothing more.
inline size_t enumerateDirectory(const std::wstring& directory)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    size_t seen = 0;
    do {
        seen += entry.cFileName[0] != 0;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return seen;
}

// Standard handles for a child with no input and its output in `output`;
// the caller closes hStdInput and hStdOutput once the child is started.
inline STARTUPINFOW quietStartup(const std::wstring& output)
{
    SECURITY_ATTRIBUTES inherit { sizeof inherit, nullptr, TRUE };
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = CreateFileW(L"NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    startup.hStdOutput = startup.hStdError = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                                         CREATE_ALWAYS, 0, nullptr);
    return startup;
}

// The private bytes of a process now (this one by default).
inline SIZE_T privateBytes(HANDLE process = GetCurrentProcess())
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    return std::max<SIZE_T>(counters.PrivateUsage, counters.PagefileUsage);
}

// Windows keeps the peak of the private bytes itself; Wine reports the
// current value as the peak, so a thread watches it every millisecond.
class PeakSampler {
public:
    explicit PeakSampler(HANDLE process = GetCurrentProcess())
        : m_process(process), m_peak(privateBytes(process)), m_thread([this] {
              while (!m_stop) {
                  const SIZE_T now = privateBytes(m_process);
                  SIZE_T seen = m_peak;
                  while (now > seen && !m_peak.compare_exchange_weak(seen, now)) {
                  }
                  Sleep(1);
              }
          })
    {
    }
    ~PeakSampler()
    {
        m_stop = true;
        m_thread.join();
    }
    PeakSampler(const PeakSampler&) = delete;
    PeakSampler& operator=(const PeakSampler&) = delete;
    SIZE_T Peak() const { return m_peak; }

private:
    HANDLE m_process;
    std::atomic<bool> m_stop{false};
    std::atomic<SIZE_T> m_peak;
    std::thread m_thread;
};

// Runs this benchmark again as `exe --one <size> <result file>`, so that each
// size is measured in a fresh process with peaks of its own; the child writes
// one line of figures to the result file (qmtest::writeBytes), which comes back here. Empty when
// the child failed (it says why on the console it shares).
inline std::string runOneSize(unsigned size, const std::wstring& resultFile)
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --one " + std::to_wstring(size) + L" \"" + resultFile + L"\"";
    DeleteFileW(resultFile.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::fflush(stdout);
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        std::printf("could not start %ls: %lu\n", command.c_str(), GetLastError());
        return std::string();
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const std::string line = qmtest::readBytes(resultFile);
    DeleteFileW(resultFile.c_str());
    if (code != 0) {
        std::printf("the run for %u files failed (exit code %lu)\n", size, code);
        return std::string();
    }
    return line;
}

// The command line of a benchmark measured one size per process. With
// "--one N FILE" (runOneSize's child) it measures N into FILE, sets `code`
// and is true; otherwise `sizes` holds the sizes given, or `defaults`.
inline bool measuredInThisProcess(int argc, char** argv, int (*measureOne)(int, const std::wstring&), int& code,
                                  std::vector<unsigned>& sizes, std::vector<unsigned> defaults)
{
    if (argc == 4 && std::string(argv[1]) == "--one") {
        std::vector<wchar_t> file(std::strlen(argv[3]) + 1);
        MultiByteToWideChar(CP_ACP, 0, argv[3], -1, file.data(), int(file.size()));
        code = measureOne(std::atoi(argv[2]), file.data());
        return true;
    }
    sizes.clear();
    for (int i = 1; i < argc; ++i)
        sizes.push_back(unsigned(std::atoi(argv[i])));
    if (sizes.empty())
        sizes = std::move(defaults);
    return false;
}

} // namespace qmbench
