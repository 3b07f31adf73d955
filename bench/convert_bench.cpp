// Converts a 64 MiB OEM text file to UTF-16LE the way a migration does
// (w32ReadFileBytes, then w32PutOemAsUtf16) and compares
// the time with CopyFileW of a 128 MiB file, which writes as many bytes, with
// and without a flush (the conversion flushes before its rename). Also
// reports the process's peak private bytes against the size of the source.
#include "common/cmd/text_file.h"
#include "tests/support/test_support.h"

#include "bench/bench_support.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD MIB = 1u << 20;

LONGLONG fileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (LONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

} // namespace

int main()
{
    const DWORD sourceSize = 64 * MIB;
    const DWORD copySize = 128 * MIB;
    qmtest::TempDir dir;
    const std::wstring source = dir / L"report.txt";
    const std::wstring converted = dir / L"report_u.txt";
    const std::wstring copySource = dir / L"big.bin";
    const std::wstring copied = dir / L"big_copy.bin";
    qmbench::writeOemText(source, sourceSize);
    qmbench::writeOemText(copySource, copySize);
    qmbench::PeakSampler sampler;
    Sleep(20);
    const SIZE_T peakBefore = sampler.Peak();

    const int rounds = 3;
    std::vector<double> copyTimes, flushedCopyTimes, convertTimes, readTimes;
    for (int round = 0; round < rounds; ++round) {
        double start = qmbench::nowSeconds();
        if (!CopyFileW(copySource.c_str(), copied.c_str(), FALSE)) {
            std::printf("CopyFileW failed: %lu\n", GetLastError());
            return 1;
        }
        copyTimes.push_back(qmbench::nowSeconds() - start);

        start = qmbench::nowSeconds();
        if (!CopyFileW(copySource.c_str(), copied.c_str(), FALSE))
            return 1;
        HANDLE copy = CreateFileW(copied.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        FlushFileBuffers(copy);
        CloseHandle(copy);
        flushedCopyTimes.push_back(qmbench::nowSeconds() - start);

        start = qmbench::nowSeconds();
        std::string bytes;
        FileFailure failure;
        bool ok = w32ReadFileBytes(source, bytes, failure);
        readTimes.push_back(qmbench::nowSeconds() - start);
        ok = ok && w32PutOemAsUtf16(converted, bytes, failure);
        convertTimes.push_back(qmbench::nowSeconds() - start);
        if (!ok || bytes.size() != sourceSize) {
            std::printf("conversion failed: %ls\n", describeFileFailure(failure).c_str());
            return 1;
        }
    }

    auto best = [](const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); };
    const double copyBest = best(copyTimes);
    const double flushedBest = best(flushedCopyTimes);
    const double convertBest = best(convertTimes);
    const double outputMiB = double(fileSize(converted)) / MIB;
    const double copyRate = double(copySize) / MIB / copyBest;
    const double flushedRate = double(copySize) / MIB / flushedBest;
    const double convertRate = outputMiB / convertBest;
    const SIZE_T peak = sampler.Peak();

    std::printf("CopyFileW of %u MiB:                best %.3f s, %.1f MiB/s written\n", unsigned(copySize / MIB),
                copyBest, copyRate);
    std::printf("CopyFileW + FlushFileBuffers:       best %.3f s, %.1f MiB/s written\n", flushedBest, flushedRate);
    std::printf("OEM %u MiB -> UTF-16LE %.1f MiB:    best %.3f s, %.1f MiB/s written (%.1f MiB/s of source)\n",
                unsigned(sourceSize / MIB), outputMiB, convertBest, convertRate,
                double(sourceSize) / MIB / convertBest);
    std::printf("  of which reading:                 best %.3f s\n", best(readTimes));
    std::printf("conversion throughput / copy: %.2f; / flushed copy of the same output size: %.2f (aim >= 0.70)\n",
                convertRate / copyRate, convertRate / flushedRate);
    std::printf("peak private bytes: %.1f MiB (%.1f MiB before converting) = %.2f x source (aim <= 5)\n",
                double(peak) / MIB, double(peakBefore) / MIB, double(peak) / sourceSize);
    return 0;
}
