// The unattended migration (`quarnrept_migrate.exe /migrate /report:FILE`,
// the tool's own exe) of 1,000, 4,000 and 17,000 small OEM recipient lists,
// half of them replacing a 5.2.2 file of other content so that the backup
// keeps it, plus the registry row, from the start of the process to its end.
// Against it, a floor measured in the same process: for each file a CopyFileW
// of the existing destination into a backup folder, then the conversion to
// UTF-16LE written as the tool writes (a temporary file, flushed, renamed
// over the destination); and the registry editor run bare through cmd, once
// to export the beta's key and once to import it. Each size runs in a process
// of its own, best of 3 (once above 4,096 files), with the peak private bytes of the tool's process and
// the pause a window run of the same rows would add (250 ms a row).
//
// A run that does not end within ten minutes, ends with another exit code
// than 0, or leaves a destination without its converted content fails the
// benchmark.
#include "migrate/regedit_command.h"
#include "tests/support/registry_support.h"

#include "bench/bench_support.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace qmtest;

namespace {

constexpr DWORD RUN_LIMIT_MS = 600000;
constexpr double WINDOW_PAUSE_SECONDS = 0.25;

std::wstring fileName(int i) { return L"r" + std::to_wstring(i) + L".rcp"; }

// A small recipient list in code page 437, different for every file.
std::string oemList(int i)
{
    return "Jos\x82 M\x81ller " + std::to_string(i) + ";jose" + std::to_string(i) + "@example.com\r\nbox \xC9\xCD\xBB\r\n";
}

std::string utf16Of(const std::string& oem)
{
    std::wstring wide(oem.size(), L'\0');
    const int length = MultiByteToWideChar(CP_OEMCP, 0, oem.data(), int(oem.size()), &wide[0], int(wide.size()));
    wide.resize(length > 0 ? size_t(length) : 0);
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

// The 5.2.2 directory as a run finds it: the command library, and every
// other destination already there with content of its own.
void prepareGa(const std::wstring& ga, int files)
{
    removeTree(ga);
    makeDirs(ga);
    CopyFileW(widen(QM_EXEC_DLL).c_str(), (ga + L"\\exec_dll.dll").c_str(), FALSE);
    for (int i = 0; i < files; i += 2)
        writeBytes(ga + L"\\" + fileName(i), "old list " + std::to_string(i) + "\r\n");
    deleteRegTree(GA_KEY);
    setRegString(GA_KEY, L"Path", ga);
    setRegString(GA_KEY, L"GaOnly", L"kept");
}

// Starts `command` with its output in `output`, in `directory`; its exit code,
// or -1 when it could not start or did not end in time. `peak` gets the peak
// private bytes of the process when given.
long runProcess(const std::wstring& command, const std::wstring& directory, const std::wstring& output,
                SIZE_T* peak = nullptr)
{
    STARTUPINFOW startup = qmbench::quietStartup(output);
    PROCESS_INFORMATION process {};
    std::wstring line = command;
    long code = -1;
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr,
                       directory.c_str(), &startup, &process)) {
        {
            qmbench::PeakSampler sampler(process.hProcess);
            ResumeThread(process.hThread);
            DWORD exitCode = 0;
            if (WaitForSingleObject(process.hProcess, RUN_LIMIT_MS) == WAIT_OBJECT_0
                && GetExitCodeProcess(process.hProcess, &exitCode))
                code = long(exitCode);
            else
                TerminateProcess(process.hProcess, 255);
            if (peak)
                *peak = sampler.Peak();
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(startup.hStdInput);
    CloseHandle(startup.hStdOutput);
    return code;
}

// What the tool does for each file and for the registry, written bare.
bool migrateFloor(const std::wstring& beta, const std::wstring& ga, const std::wstring& work, int files)
{
    const std::wstring backup = ga + L"\\backup";
    if (!CreateDirectoryW(backup.c_str(), nullptr))
        return false;
    for (int i = 0; i < files; ++i) {
        const std::wstring destination = ga + L"\\" + fileName(i);
        if (GetFileAttributesW(destination.c_str()) != INVALID_FILE_ATTRIBUTES
            && !CopyFileW(destination.c_str(), (backup + L"\\" + fileName(i)).c_str(), TRUE))
            return false;
        const std::string bytes = utf16Of(readBytes(beta + L"\\" + fileName(i)));
        const std::wstring temporary = ga + L"\\~" + fileName(i) + L".tmp";
        HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        DWORD written = 0;
        const bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr)
                        && written == bytes.size() && FlushFileBuffers(file);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (!ok || !MoveFileExW(temporary.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING))
            return false;
    }
    const std::wstring exported = work + L"\\floor.reg";
    const std::wstring key = L"HKEY_LOCAL_MACHINE\\" + std::wstring(BETA_KEY);
    return runProcess(regeditCommandLine(regeditExportArguments(exported, key)), work, work + L"\\floor-out.txt") == 0
           && runProcess(regeditCommandLine(regeditImportArguments(exported)), work, work + L"\\floor-out.txt") == 0;
}

// What the run left: every destination converted, and the report's rows.
std::string checkRun(const std::wstring& beta, const std::wstring& ga, const std::wstring& report, int files)
{
    for (int i = 0; i < files; ++i)
        if (readBytes(ga + L"\\" + fileName(i)) != utf16Of(readBytes(beta + L"\\" + fileName(i))))
            return "the destination " + narrow(fileName(i)) + " does not hold its converted list";
    const std::string csv = readBytes(report);
    size_t migrated = 0;
    for (size_t at = csv.find(",Migrated,"); at != std::string::npos; at = csv.find(",Migrated,", at + 1))
        ++migrated;
    if (migrated != size_t(files) + 1)
        return "the report has " + std::to_string(migrated) + " migrated rows";
    return {};
}

// One size, in this process: the figures as one line for the parent.
int measureOne(int files, const std::wstring& resultFile)
{
    CleanNorvaleKeys clean;
    TempDir dir;
    const std::wstring beta = dir / L"beta", ga = dir / L"ga", work = dir / L"work";
    makeDirs(beta);
    makeDirs(work);
    for (int i = 0; i < files; ++i)
        writeBytes(beta + L"\\" + fileName(i), oemList(i));
    setRegString(BETA_KEY, L"Path", beta);
    setRegString(BETA_KEY, L"ReportDir", beta + L"\\reports");
    setRegDword(BETA_KEY, L"Retention", 30);
    setRegString(BETA_KEY + std::wstring(L"\\Schedules\\Daily"), L"Target", L"\\\\server\\reports\\out");

    const std::wstring report = work + L"\\report.csv";
    const std::wstring command = L"\"" + widen(QM_TOOL_EXE) + L"\" /migrate \"/report:" + report + L"\"";
    // The file system's own cost grows with the directory (a new name is a
    // search through it under Wine), so the largest sizes run once.
    const int rounds = files <= 4096 ? 3 : 1;
    double best = 1e9, floorBest = 1e9;
    SIZE_T peak = 0;
    for (int round = 0; round < rounds; ++round) {
        prepareGa(ga, files);
        SIZE_T runPeak = 0;
        const double start = qmbench::nowSeconds();
        const long code = runProcess(command, work, work + L"\\output.txt", &runPeak);
        const double elapsed = qmbench::nowSeconds() - start;
        if (code != 0) {
            std::printf("the migration of %d files ended with %ld: %s\n", files, code,
                        readBytes(work + L"\\output.txt").substr(0, 2000).c_str());
            return 2;
        }
        const std::string wrong = checkRun(beta, ga, report, files);
        if (!wrong.empty()) {
            std::printf("the migration of %d files: %s\n", files, wrong.c_str());
            return 2;
        }
        best = std::min(best, elapsed);
        peak = std::max(peak, runPeak);

        prepareGa(ga, files);
        const double floorStart = qmbench::nowSeconds();
        if (!migrateFloor(beta, ga, work, files)) {
            std::printf("the floor of %d files failed: %lu\n", files, GetLastError());
            return 2;
        }
        floorBest = std::min(floorBest, qmbench::nowSeconds() - floorStart);
    }
    removeTree(ga);
    char line[256];
    std::snprintf(line, sizeof line, "%d %.3f %.3f %.0f", files, best, floorBest, double(peak));
    writeBytes(resultFile, line);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int code = 0;
    std::vector<unsigned> sizes;
    if (qmbench::measuredInThisProcess(argc, argv, measureOne, code, sizes, {1000, 4000, 17000}))
        return code;

    TempDir results;
    std::printf("Unattended /migrate, process start to end, best of 3 (above 4,096 files: one run); half the files replace a 5.2.2 file\n"
                "floor: per file a backup CopyFileW where one is replaced, then temporary file, flush, rename;\n"
                "and one bare regedit export and import\n");
    std::printf("%8s %10s %9s %7s %10s %8s %13s %10s %14s\n", "files", "migrate s", "files/s", "ms/file", "floor s",
                "ratio", "peak private", "bytes/row", "window pauses");
    int failed = 0;
    for (unsigned size : sizes) {
        const std::string line = qmbench::runOneSize(size, results / L"result.txt");
        int files = 0;
        double run = 0, floor = 0, peak = 0;
        if (std::sscanf(line.c_str(), "%d %lf %lf %lf", &files, &run, &floor, &peak) != 4) {
            ++failed;
            continue;
        }
        const int rows = files + 1;
        std::printf("%8d %10.2f %9.0f %7.2f %10.2f %7.2fx %9.1f MiB %10.0f %12.0f s\n", files, run, files / run,
                    run * 1000 / files, floor, run / floor, peak / qmbench::BYTES_PER_MIB, peak / rows,
                    rows * WINDOW_PAUSE_SECONDS);
        std::fflush(stdout);
    }
    std::printf("aim: within 1.5x of the floor at every size, the cost per file flat\n"
                "window pauses: what the window's Migrate adds to the same rows (a quarter second each)\n");
    return failed ? 1 : 0;
}
