// A backup folder's restore.cmd, run through cmd as the administrator runs
// it, from start to exit: the copy of the tool kept in the folder puts back
// 4,000 small files of the 5.2.2 installation and the 5.2.2 key of 1,000
// values (all changed by the run, and some added), then proves it all.
// The backup is made as a migration makes it (CMigrationBackup: KeepFile
// before each file is replaced, KeepRegistryKey before the key changes,
// RecordRegistryImport after). Against it, a floor measured in the same
// process: a CopyFileW of each kept copy over its destination, a
// RegSetValueExW of each value as it was, and a RegDeleteValueW of each
// added one; and beside it the same with each file written as the tool
// writes it (a temporary file beside the destination, flushed, renamed),
// which shows what the file system adds. Best of 3, the installation made
// dirty again before each round, with the peak private bytes of the
// restoring process.
//
// A restore that does not end within half an hour, ends other than 0, or
// leaves a file or a value other than it was fails the benchmark.
#include "common/cmd/console_names.h"
#include "migrate/backup_restore.h"
#include "migrate/migration_backup.h"
#include "migrate/registry_tree.h"
#include "tests/support/registry_support.h"

#include "bench/bench_support.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

using namespace qmtest;

namespace {

constexpr int FILES = 4000;
constexpr int VALUES = 1000; // Path and 999 settings
constexpr int ADDED_VALUES = 50;
constexpr int ROUNDS = 3;
constexpr DWORD RUN_LIMIT_MS = 30 * 60 * 1000;

std::wstring fileName(int i) { return L"r" + std::to_wstring(i) + L".rcp"; }
std::wstring valueName(int i) { return L"Setting" + std::to_wstring(i); }

std::string originalList(int i)
{
    return "Jos\x82 M\x81ller " + std::to_string(i) + ";jose" + std::to_string(i) + "@example.com\r\n";
}

// The key as the 5.2.2 installation holds it before the run: every other
// setting a string, the rest numbers.
void writeOriginalKey(const std::wstring& ga)
{
    deleteRegTree(GA_KEY);
    setRegString(GA_KEY, L"Path", ga);
    for (int i = 1; i < VALUES; ++i) {
        if (i % 2)
            setRegString(GA_KEY, valueName(i), L"setting " + std::to_wstring(i) + L" as 5.2.2 has it");
        else
            setRegDword(GA_KEY, valueName(i), DWORD(i));
    }
}

// What a migration leaves: every file replaced by other bytes (UTF-16, as a
// conversion writes), every value changed, and values the key did not have.
void dirtyFile(const std::wstring& ga, int i, int round)
{
    writeBytes(ga + L"\\" + fileName(i),
               "\xFF\xFEm\0i\0g\0r\0a\0t\0e\0d\0 " + std::to_string(i) + " round " + std::to_string(round) + "\r\n");
}

void dirtyKey(const std::wstring& ga)
{
    setRegString(GA_KEY, L"Path", ga + L"\\after the migration");
    for (int i = 1; i < VALUES; ++i) {
        if (i % 2)
            setRegString(GA_KEY, valueName(i), L"imported " + std::to_wstring(i) + L" from the beta");
        else
            setRegDword(GA_KEY, valueName(i), DWORD(100000 + i));
    }
    for (int i = 0; i < ADDED_VALUES; ++i)
        setRegString(GA_KEY, L"Added" + std::to_wstring(i), L"only the beta had this");
}

void dirty(const std::wstring& ga, int round)
{
    for (int i = 0; i < FILES; ++i)
        dirtyFile(ga, i, round);
    dirtyKey(ga);
}

Snapshot installationSnapshot(const std::wstring& ga)
{
    Snapshot all;
    snapshotFiles(ga, all, L"migration backups");
    snapshotKey(GA_KEY, all);
    return all;
}

// The backup of one run over the dirty installation, as the migration keeps it.
bool makeBackup(const std::wstring& ga, std::wstring& folder)
{
    CMigrationBackup backup(ga, SYSTEMTIME { 2026, 12, 3, 9, 10, 30, 0, 0 });
    std::wstring reason;
    for (int i = 0; i < FILES; ++i) {
        if (!backup.KeepFile(BackupRoot::Installation, ga, fileName(i), reason)) {
            std::printf("KeepFile of %ls failed: %ls\n", fileName(i).c_str(), reason.c_str());
            return false;
        }
        dirtyFile(ga, i, 0);
    }
    if (!backup.KeepRegistryKey(reason)) {
        std::printf("KeepRegistryKey failed: %ls\n", reason.c_str());
        return false;
    }
    dirtyKey(ga);
    RegistryTree after;
    std::wstring failedKey;
    if (readRegistryTree(GA_SETTINGS_SUBKEY, after, failedKey) != ERROR_SUCCESS
        || !backup.RecordRegistryImport(after, reason) || !backup.Finish(reason)) {
        std::printf("recording the import failed: %ls %ls\n", failedKey.c_str(), reason.c_str());
        return false;
    }
    folder = backup.Folder();
    return true;
}

// The largest private bytes seen of each process in a job, sampled every
// millisecond (Wine reports the current value as the peak), keyed by the
// name of its exe.
class JobPeaks {
public:
    explicit JobPeaks(HANDLE job)
        : m_job(job), m_thread([this] { Watch(); })
    {
    }
    ~JobPeaks() { Stop(); }
    JobPeaks(const JobPeaks&) = delete;
    JobPeaks& operator=(const JobPeaks&) = delete;

    void Stop()
    {
        if (m_thread.joinable()) {
            m_stop = true;
            m_thread.join();
        }
        for (auto& process : m_processes)
            CloseHandle(process.second.handle);
        m_processes.clear();
    }

    // The peak of the process whose exe name ends with `name`, or of every
    // process when `name` is empty; 0 when none was seen.
    SIZE_T Peak(const std::wstring& name) const
    {
        SIZE_T peak = 0;
        for (const auto& seen : m_peaks) {
            const std::wstring& exe = seen.first.first;
            if (name.empty()
                || (exe.size() >= name.size() && _wcsicmp(exe.c_str() + exe.size() - name.size(), name.c_str()) == 0))
                peak = std::max(peak, seen.second);
        }
        return peak;
    }

private:
    struct Watched {
        HANDLE handle;
        std::wstring exe;
    };

    void Watch()
    {
        std::vector<char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + 256 * sizeof(ULONG_PTR));
        auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
        while (!m_stop) {
            if (QueryInformationJobObject(m_job, JobObjectBasicProcessIdList, list, DWORD(buffer.size()), nullptr)) {
                for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) {
                    const DWORD id = DWORD(list->ProcessIdList[i]);
                    if (m_processes.count(id))
                        continue;
                    HANDLE handle = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
                    if (handle)
                        m_processes[id] = { handle, std::wstring() };
                }
            }
            for (auto& process : m_processes) {
                DWORD code = 0;
                if (GetExitCodeProcess(process.second.handle, &code) && code != STILL_ACTIVE)
                    continue;
                // A process just started has no name yet under Wine.
                if (process.second.exe.empty()) {
                    wchar_t exe[MAX_PATH] = L"";
                    DWORD length = MAX_PATH;
                    if (!QueryFullProcessImageNameW(process.second.handle, 0, exe, &length))
                        continue;
                    process.second.exe = exe;
                }
                PROCESS_MEMORY_COUNTERS_EX counters = {};
                counters.cb = sizeof counters;
                if (!GetProcessMemoryInfo(process.second.handle, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                          sizeof counters))
                    continue;
                const SIZE_T now
                    = std::max<SIZE_T>({ counters.PrivateUsage, counters.PagefileUsage, counters.PeakPagefileUsage });
                SIZE_T& peak = m_peaks[{ process.second.exe, process.first }];
                peak = std::max(peak, now);
            }
            Sleep(1);
        }
    }

    HANDLE m_job;
    std::atomic<bool> m_stop { false };
    std::map<DWORD, Watched> m_processes;
    std::map<std::pair<std::wstring, DWORD>, SIZE_T> m_peaks; // by exe and process id
    std::thread m_thread;
};

// Runs `script` through cmd (cmd /c, stdin NUL, output to `output`) from
// `directory`, with everything it starts in a job; its exit code, or -1 when
// it could not start or did not end in time. `peak` gets the largest private
// bytes of a process named `peakOf` (of any process in the job when empty).
long runScript(const std::wstring& script, const std::wstring& directory, const std::wstring& output,
               const std::wstring& peakOf, double& seconds, SIZE_T& peak)
{
    STARTUPINFOW startup = qmbench::quietStartup(output);
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    PROCESS_INFORMATION process {};
    std::wstring command = L"cmd /c \"\"" + script + L"\"\"";
    long code = -1;
    const double start = qmbench::nowSeconds();
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr,
                       directory.c_str(), &startup, &process)) {
        AssignProcessToJobObject(job, process.hProcess);
        JobPeaks peaks(job);
        ResumeThread(process.hThread);
        DWORD exitCode = 0;
        if (WaitForSingleObject(process.hProcess, RUN_LIMIT_MS) == WAIT_OBJECT_0
            && GetExitCodeProcess(process.hProcess, &exitCode))
            code = long(exitCode);
        else
            TerminateJobObject(job, 255);
        seconds = qmbench::nowSeconds() - start;
        peaks.Stop();
        peak = peaks.Peak(peakOf);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(job);
    CloseHandle(startup.hStdInput);
    CloseHandle(startup.hStdOutput);
    return code;
}

struct Value {
    std::wstring name;
    DWORD type;
    std::string data;
};

// Writes the kept copy `from` as a replacing write does: a new file beside
// `to`, flushed, renamed over it.
bool replaceBare(const std::wstring& from, const std::wstring& to, const std::wstring& temporary)
{
    const std::string bytes = readBytes(from);
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    const bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr)
                    && written == bytes.size() && FlushFileBuffers(file);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok && MoveFileExW(temporary.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// The same copies and registry writes, made bare: each file by CopyFileW, or
// with `replacing` through a temporary file as the tool writes.
bool restoreFloor(const std::wstring& ga, const std::wstring& folder, const std::vector<Value>& values,
                  bool replacing)
{
    for (int i = 0; i < FILES; ++i) {
        const std::wstring from = folder + L"\\installation\\" + fileName(i), to = ga + L"\\" + fileName(i);
        if (replacing ? !replaceBare(from, to, ga + L"\\~floor.tmp") : !CopyFileW(from.c_str(), to.c_str(), FALSE)) {
            std::printf("the floor's copy of %ls failed: %lu\n", fileName(i).c_str(), GetLastError());
            return false;
        }
    }
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, GA_KEY, 0, KEY_SET_VALUE, &key);
    for (size_t i = 0; rc == ERROR_SUCCESS && i < values.size(); ++i)
        rc = RegSetValueExW(key, values[i].name.c_str(), 0, values[i].type,
                            reinterpret_cast<const BYTE*>(values[i].data.data()), DWORD(values[i].data.size()));
    for (int i = 0; rc == ERROR_SUCCESS && i < ADDED_VALUES; ++i)
        rc = RegDeleteValueW(key, (L"Added" + std::to_wstring(i)).c_str());
    if (key)
        RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        std::printf("the floor's registry writes failed: %ld\n", rc);
    return rc == ERROR_SUCCESS;
}

} // namespace

int main()
{
    CleanNorvaleKeys clean;
    TempDir dir;
    const std::wstring ga = dir / L"ga", work = dir / L"work";
    makeDirs(ga);
    makeDirs(work);
    // The command library through which the backup exports the key.
    CopyFileW(widen(QM_EXEC_DLL).c_str(), (ga + L"\\exec_dll.dll").c_str(), FALSE);
    for (int i = 0; i < FILES; ++i)
        writeBytes(ga + L"\\" + fileName(i), originalList(i));
    writeOriginalKey(ga);
    const Snapshot before = installationSnapshot(ga);

    RegistryTree original;
    std::wstring failedKey;
    if (readRegistryTree(GA_SETTINGS_SUBKEY, original, failedKey) != ERROR_SUCCESS || original.size() != 1
        || original.front().values.size() != size_t(VALUES)) {
        std::printf("the 5.2.2 key cannot be read back as written (%ls)\n", failedKey.c_str());
        return 1;
    }
    std::vector<Value> values;
    for (const RegistryValue& value : original.front().values)
        values.push_back({ value.name, value.type, value.data });

    // The backup folder keeps the tool itself, which restore.cmd runs.
    setRestoreProgram(widen(QM_TOOL_EXE));
    std::wstring folder;
    if (!makeBackup(ga, folder))
        return 1;
    const std::wstring script = folder + L"\\restore.cmd", output = work + L"\\restore-output.txt";

    std::printf("restore.cmd through cmd /c (the kept quarnrept_migrate.exe /restore), start to exit, best of %d:\n"
                "%d kept files and a key of %d values, all changed, %d added; output to a file\n"
                "floor: CopyFileW of each kept copy over its destination, RegSetValueExW of each value,\n"
                "RegDeleteValueW of each added one\n",
                ROUNDS, FILES, VALUES, ADDED_VALUES);
    double best = 1e9, floorBest = 1e9, replacingBest = 1e9;
    SIZE_T peak = 0;
    for (int round = 1; round <= ROUNDS; ++round) {
        dirty(ga, round);
        double seconds = 0;
        SIZE_T runPeak = 0;
        const long code = runScript(script, work, output, L"\\quarnrept_migrate.exe", seconds, runPeak);
        if (code != 0) {
            const std::string said = readBytes(output);
            std::printf("restore.cmd ended with %ld after %.2f s: ...%s\n", code, seconds,
                        said.substr(said.size() > 2000 ? said.size() - 2000 : 0).c_str());
            return 2;
        }
        const std::string wrong = snapshotDifference(before, installationSnapshot(ga));
        if (!wrong.empty()) {
            std::printf("restore.cmd left the installation other than it was:\n%s\n", wrong.substr(0, 2000).c_str());
            return 2;
        }
        best = std::min(best, seconds);
        peak = std::max(peak, runPeak);

        double floors[2] = {};
        for (const bool replacing : { false, true }) {
            dirty(ga, round);
            const double floorStart = qmbench::nowSeconds();
            if (!restoreFloor(ga, folder, values, replacing))
                return 2;
            floors[replacing] = qmbench::nowSeconds() - floorStart;
            if (!snapshotDifference(before, installationSnapshot(ga)).empty()) {
                std::printf("the floor left the installation other than it was\n");
                return 2;
            }
        }
        floorBest = std::min(floorBest, floors[0]);
        replacingBest = std::min(replacingBest, floors[1]);
        std::printf("round %d: restore %.2f s, floor %.2f s, replacing floor %.2f s\n", round, seconds, floors[0],
                    floors[1]);
        std::fflush(stdout);
    }
    std::printf("%8s %8s %11s %9s %8s %9s %13s\n", "files", "values", "restore s", "floor s", "ratio", "files/s",
                "peak private");
    std::printf("%8d %8d %11.2f %9.2f %7.2fx %9.0f %9.1f MiB\n", FILES, VALUES, best, floorBest, best / floorBest,
                FILES / best, double(peak) / qmbench::BYTES_PER_MIB);
    std::printf("replacing floor (each file through a temporary file beside it, flushed, renamed, as the tool\n"
                "writes; under Wine each new name is a search through the directory): %.2f s, ratio %.2fx\n",
                replacingBest, best / replacingBest);
    return 0;
}
