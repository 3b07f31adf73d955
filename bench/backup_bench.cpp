// What keeping a destination costs a migration: CMigrationBackup::KeepFile of
// a 64 MiB destination (a byte copy into a fresh backup folder, and its line
// in restore.lst), beside the conversion of a 64 MiB OEM text file as a
// migration does it (migrateFileItem, into a new destination); then the cost
// per kept file of small files in runs of 1,000, 4,000 and 16,384, which
// must not grow with the count.
#include "contract/migration_item.h"
#include "migrate/migrate_worker.h"
#include "migrate/migration_backup.h"
#include "tests/support/test_support.h"

#include "bench/bench_support.h"

#include <windows.h>

#include <algorithm>
#include <functional>
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
        CMigrationBackup backup(dir.Path(), start);
        std::wstring reason;
        double begin = qmbench::nowSeconds();
        if (!backup.KeepFile(BackupRoot::Installation, dir.Path(), L"report_u.txt", reason)) {
            std::printf("keepFile failed: %ls\n", reason.c_str());
            return 1;
        }
        keepTimes.push_back(qmbench::nowSeconds() - begin);

        DeleteFileW(converted.c_str());
        MigrationItem item;
        item.sourceRoot = dir.Path();
        item.destinationRoot = dir.Path();
        item.kind = ITEM_RECIPIENTS;
        begin = qmbench::nowSeconds();
        if (!migrateFileItem(item, L"report.txt", L"converted.txt", reason)) {
            std::printf("conversion failed: %ls\n", reason.c_str());
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

    // Small destinations, each kept once: the first and the last thousand
    // of a run cost the same when the bookkeeping is linear. The floor is a
    // bare CopyFileW of each into a folder of its own, which shows what the
    // file system itself adds as the folders fill (Wine looks through a
    // directory to create a name in it).
    std::printf("\n%-9s %10s   %13s   %16s   %15s\n", "", "files", "per file, all", "per file, first 1000",
                "per file, last 1000");
    for (const unsigned count : { 1000u, 4000u, 16384u }) {
        qmtest::TempDir ga;
        auto name = [](unsigned i) { return L"r" + std::to_wstring(i) + L".rcp"; };
        for (unsigned i = 0; i < count; ++i)
            qmtest::writeBytes(ga / name(i), "recipient;someone@example.com\r\n");
        CMigrationBackup backup(ga.Path(), SYSTEMTIME { 2026, 12, 2, 8, 9, 1, 2, 0 });
        const std::wstring floor = ga / L"floor";
        CreateDirectoryW(floor.c_str(), nullptr);
        std::wstring reason;
        const auto measure = [&](const char* what, const std::function<bool(unsigned)>& keep) {
            double first = 0, last = 0;
            const double begin = qmbench::nowSeconds();
            for (unsigned i = 0; i < count; ++i) {
                const double at = qmbench::nowSeconds();
                if (!keep(i)) {
                    std::printf("%s failed at %u: %ls\n", what, i, reason.c_str());
                    return false;
                }
                const double spent = qmbench::nowSeconds() - at;
                first += i < 1000 ? spent : 0;
                last += i >= count - 1000 ? spent : 0;
            }
            // Seconds over 1,000 files is milliseconds per file.
            std::printf("%-9s %10u   %10.3f ms   %16.3f ms   %15.3f ms\n", what, count,
                        (qmbench::nowSeconds() - begin) * 1000 / count, first, last);
            return true;
        };
        if (!measure("floor", [&](unsigned i) {
                return CopyFileW((ga / name(i)).c_str(), (floor + L"\\" + name(i)).c_str(), TRUE) != FALSE;
            })
            || !measure("keepFile", [&](unsigned i) {
                   return backup.KeepFile(BackupRoot::Installation, ga.Path(), name(i), reason);
               }))
            return 1;
    }
    return 0;
}
