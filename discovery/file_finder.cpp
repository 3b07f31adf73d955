#include "discovery/file_finder.h"

#include "common/text.h"

#include "common/trace/trace.h"
#include "window/handle.h"

#include <windows.h>

namespace {

// The two extension buffers are the caller's, kept across the entries of a
// directory, so that matching a name allocates nothing once they have grown.
bool patternMatches(const std::wstring& pattern, const std::wstring& name, std::wstring& patternExt,
                    std::wstring& nameExt)
{
    if (pattern == L"*" || pattern == L"*.*")
        return true;
    if (pattern.find(L'*') == std::wstring::npos)
        return sameIgnoringCase(name, pattern);

    const int patternLen = getExtension(pattern, patternExt);
    const int nameLen = getExtension(name, nameExt);
    return patternLen == nameLen && sameIgnoringCase(patternExt, nameExt)
           && name.find(patternExt) != std::wstring::npos;
}

bool isDotEntry(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

} // namespace

void lowerCaseInPlace(std::wstring& text)
{
    if (!text.empty())
        CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
}


int getExtension(const std::wstring& name, std::wstring& extension)
{
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) {
        extension.clear();
        return 0;
    }
    extension.assign(name, dot, std::wstring::npos);
    return static_cast<int>(extension.size() - 1);
}

int findFiles(const std::wstring& directory, const std::wstring* patterns, int patternCount,
              std::wstring* results, int capacity, int& count, Recurse recurse, MatchCase matchCase)
{
    int running = count;
    if (running >= capacity)
        return 0;

    WIN32_FIND_DATAW entry;
    CFindHandle find(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    if (!find.IsValid())
        return 0;

    std::wstring name;
    std::wstring patternExt;
    std::wstring nameExt;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (recurse == Recurse::Yes && !isDotEntry(entry.cFileName)) {
                findFiles(directory + L"\\" + entry.cFileName, patterns, patternCount, results, capacity, running,
                          recurse, matchCase);
            }
            continue;
        }
        name.assign(entry.cFileName);
        if (matchCase == MatchCase::LowerCased)
            lowerCaseInPlace(name);
        for (int p = 0; p < patternCount && running < capacity; ++p) {
            if (!patternMatches(patterns[p], name, patternExt, nameExt))
                continue;
            std::wstring& result = results[running++];
            result.assign(directory);
            result += L'\\';
            result += entry.cFileName;
        }
    } while (running < capacity && FindNextFileW(find.Get(), &entry));

    count = running;
    return 0;
}

int findAllFiles(const std::wstring& directory, const std::wstring& pattern, std::vector<std::wstring>& results)
{
    if (results.empty())
        results.resize(1);
    for (;;) {
        int count = 0;
        findFiles(directory, &pattern, 1, results.data(), int(results.size()), count, Recurse::No, MatchCase::LowerCased);
        if (count < int(results.size()))
            return count;
        // A full array may mean more files than it holds: search again with more room.
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: more than %u files match %s, searching again\n",
                 unsigned(results.size() - 1), pattern.c_str());
        results.resize(results.size() * 2);
    }
}
