// Converts an OEM text file of 64, 512 and 1,536 MiB to UTF-16LE as a
// migration does (migrateFileItem on a recipient list: the look over the
// source, the conversion into the replacing writer, its flush and rename),
// against CopyFileW + FlushFileBuffers of a file of the same output size.
// Each size runs in a process of its own, which reports its peak private
// bytes above what it had before the first conversion.
#include "contract/migration_item.h"
#include "migrate/migrate_worker.h"
#include "tests/support/test_support.h"

#include "bench/bench_support.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using qmtest::TempDir;

namespace {

int measureOne(int sizeMiB, const std::wstring& resultFile)
{
    const DWORD size = DWORD(sizeMiB) * qmbench::BYTES_PER_MIB;
    TempDir dir;
    const std::wstring beta = dir / L"beta", ga = dir / L"ga";
    qmtest::makeDirs(beta);
    qmtest::makeDirs(ga);
    qmbench::writeOemText(beta + L"\\report.rcp", size);
    // The flushed copy writes as many bytes as the conversion does.
    const std::wstring copySource = dir / L"big.bin", copied = dir / L"big_copy.bin";
    qmbench::writeOemText(copySource, 2 * size);

    const int rounds = sizeMiB <= 64 ? 3 : 1;
    std::vector<double> copyTimes, convertTimes;
    SIZE_T before = 0, peak = 0;
    for (int round = 0; round < rounds; ++round) {
        double start = qmbench::nowSeconds();
        if (!CopyFileW(copySource.c_str(), copied.c_str(), FALSE)) {
            std::printf("CopyFileW failed: %lu\n", GetLastError());
            return 1;
        }
        HANDLE copy = CreateFileW(copied.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        FlushFileBuffers(copy);
        CloseHandle(copy);
        copyTimes.push_back(qmbench::nowSeconds() - start);
        DeleteFileW(copied.c_str());

        // A first migration: the destination is new.
        DeleteFileW((ga + L"\\report.rcp").c_str());
        MigrationItem item;
        item.sourceRoot = beta;
        item.destinationRoot = ga;
        item.kind = ITEM_RECIPIENTS;
        std::wstring reason;
        qmbench::PeakSampler sampler;
        Sleep(20);
        if (round == 0)
            before = sampler.Peak();
        start = qmbench::nowSeconds();
        const bool ok = migrateFileItem(item, L"report.rcp", L"report.rcp", reason);
        convertTimes.push_back(qmbench::nowSeconds() - start);
        peak = std::max(peak, sampler.Peak());
        if (!ok) {
            std::printf("conversion failed: %ls\n", reason.c_str());
            return 1;
        }
    }
    auto best = [](const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); };
    char line[128];
    std::snprintf(line, sizeof line, "%d %d %.3f %.3f %.0f", sizeMiB, rounds, best(copyTimes), best(convertTimes),
                  double(peak > before ? peak - before : 0));
    qmtest::writeBytes(resultFile, line);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int code = 0;
    std::vector<unsigned> sizes;
    if (qmbench::measuredInThisProcess(argc, argv, measureOne, code, sizes, {64, 512, 1536}))
        return code;

    TempDir results;
    std::printf("OEM text -> UTF-16LE as a migration converts it, against CopyFileW + FlushFileBuffers of a file of\n"
                "the same output size; best of 3 at 64 MiB, one run above; peak private bytes above the start\n");
    std::printf("%10s %12s %12s %12s %14s\n", "source", "copy s", "convert s", "copy/convert", "peak private");
    int failed = 0;
    for (unsigned size : sizes) {
        const std::string line = qmbench::runOneSize(size, results / L"result.txt");
        int mib = 0, rounds = 0;
        double copy = 0, convert = 0, peak = 0;
        if (std::sscanf(line.c_str(), "%d %d %lf %lf %lf", &mib, &rounds, &copy, &convert, &peak) != 5) {
            ++failed;
            continue;
        }
        std::printf("%6d MiB %12.3f %12.3f %11.2fx %10.1f MiB\n", mib, copy, convert, copy / convert,
                    peak / qmbench::BYTES_PER_MIB);
        std::fflush(stdout);
    }
    std::printf("aim: the conversion at least 1.0x the flushed copy (copy/convert >= 1.0), and peak private bytes\n"
                "under 64 MiB, at every size\n");
    return failed ? 1 : 0;
}
