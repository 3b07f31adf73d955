// What keeping a destination costs a migration: MigrationBackup::keepFile of
// a 64 MiB destination (a byte copy into a fresh backup folder, and its
// restore.cmd written), beside the conversion of a 64 MiB OEM text file as a
// migration does it (w32ReadFileBytes, then w32PutOemAsUtf16).
#include "common/cmd/file_io.h"
#include "migrate/migration_backup.h"
#include "tests/support/test_support.h"

#include "bench/bench_support.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

int main()
{
    const DWORD mib = 1u << 20, size = 64 * mib;
    qmtest::TempDir dir;
    const std::wstring source = dir / L"report.txt", destination = dir / L"report_u.txt";
    const std::wstring converted = dir / L"converted.txt";
    qmbench::writeOemText(source, size);
    // The destination a run replaces, as large as the source.
    if (!CopyFileW(source.c_str(), destination.c_str(), FALSE)) {
        std::printf("CopyFileW failed: %lu\n", GetLastError());
        return 1;
    }

    std::vector<double> convertTimes, keepTimes;
    for (WORD round = 0; round < 3; ++round) {
        // A run of its own each round: a run keeps a destination only once.
        const SYSTEMTIME start { 2026, 12, 1, 7, 14, 3, round, 0 };
        MigrationBackup backup(dir.path(), start);
        std::wstring reason;
        double begin = qmbench::nowSeconds();
        if (!backup.keepFile(BackupRoot::Installation, dir.path(), L"report_u.txt", reason)) {
            std::printf("keepFile failed: %ls\n", reason.c_str());
            return 1;
        }
        keepTimes.push_back(qmbench::nowSeconds() - begin);

        begin = qmbench::nowSeconds();
        std::string bytes;
        FileFailure failure;
        if (!w32ReadFileBytes(source, bytes, failure) || !w32PutOemAsUtf16(converted, bytes, failure)) {
            std::printf("conversion failed: %ls\n", describeFileFailure(failure).c_str());
            return 1;
        }
        convertTimes.push_back(qmbench::nowSeconds() - begin);
    }

    const double keep = *std::min_element(keepTimes.begin(), keepTimes.end());
    const double convert = *std::min_element(convertTimes.begin(), convertTimes.end());
    std::printf("OEM %u MiB -> UTF-16LE (the migration):  best %.3f s\n", unsigned(size / mib), convert);
    std::printf("keepFile of the %u MiB destination:      best %.3f s, %.1f MiB/s\n", unsigned(size / mib), keep,
                double(size) / mib / keep);
    std::printf("backup / conversion: %.2f (what keeping adds to the row)\n", keep / convert);
    return 0;
}
