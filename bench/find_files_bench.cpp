// Times findFiles over a directory of 20,000 files, once per report pattern,
// against a bare FindFirstFileW/FindNextFileW loop over the same directory.
#include "discovery/file_finder.h"
#include "contract/item_types.h"
#include "tests/support/test_support.h"

#include "bench/bench_support.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

int main()
{
    const int fileCount = 20000;
    const int capacity = 16384;
    qmtest::TempDir dir;
    const wchar_t* extensions[] = {L".rcp", L".ext", L".xml", L".dat", L".txt", L".log", L".htm", L".bak"};
    for (int i = 0; i < fileCount; ++i) {
        std::wstring name = L"Report_" + std::to_wstring(i) + extensions[i % 8];
        HANDLE f = CreateFileW((dir / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (f != INVALID_HANDLE_VALUE)
            CloseHandle(f);
    }
    qmtest::writeBytes(dir / L"NotifyMissed.txt", "x");
    qmtest::writeBytes(dir / L"notifyfailed.txt", "x");

    std::vector<std::wstring> results(capacity);
    const int rounds = 7;
    std::vector<double> finder;
    std::vector<double> floor;
    int matches = 0;
    for (int round = 0; round < rounds; ++round) {
        double start = qmbench::nowSeconds();
        matches = 0;
        for (const ItemTypeEntry* row = reportItemTypes; row->pattern; ++row) {
            std::wstring pattern = row->pattern;
            int count = 0;
            findFiles(dir.Path(), &pattern, 1, results.data(), capacity, count, Recurse::No, MatchCase::LowerCased);
            matches += count;
        }
        finder.push_back(qmbench::nowSeconds() - start);

        start = qmbench::nowSeconds();
        size_t seen = 0;
        for (const ItemTypeEntry* row = reportItemTypes; row->pattern; ++row)
            seen += qmbench::enumerateDirectory(dir.Path());
        floor.push_back(qmbench::nowSeconds() - start);
        if (seen == 0)
            return 1;
    }
    std::sort(finder.begin(), finder.end());
    std::sort(floor.begin(), floor.end());
    const double f = finder[rounds / 2];
    const double b = floor[rounds / 2];
    std::printf("findFiles over %d files, %d report patterns, %d matches\n", fileCount + 2, 6, matches);
    std::printf("  findFiles (median of %d): %.1f ms\n", rounds, f * 1000);
    std::printf("  bare FindFirstFileW loop: %.1f ms\n", b * 1000);
    std::printf("  ratio: %.2fx (aim: within 1.5x)\n", f / b);
    return 0;
}
