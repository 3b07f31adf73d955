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

namespace {

// Hands each entry of `directory` that a pattern matches, once per pattern
// it matches, to `found(directory, name as the directory holds it)`, and
// stops as soon as that answers false; answers false when it was stopped.
template <typename Found>
bool visitMatches(const std::wstring& directory, const std::wstring* patterns, int patternCount, Recurse recurse,
                  MatchCase matchCase, Found& found)
{
    WIN32_FIND_DATAW entry;
    CFindHandle find(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    if (!find.IsValid())
        return true;

    std::wstring name;
    std::wstring patternExt;
    std::wstring nameExt;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (recurse == Recurse::Yes && !isDotEntry(entry.cFileName)
                && !visitMatches(directory + L"\\" + entry.cFileName, patterns, patternCount, recurse, matchCase,
                                 found))
                return false;
            continue;
        }
        name.assign(entry.cFileName);
        if (matchCase == MatchCase::LowerCased)
            lowerCaseInPlace(name);
        for (int p = 0; p < patternCount; ++p) {
            if (patternMatches(patterns[p], name, patternExt, nameExt) && !found(directory, entry.cFileName))
                return false;
        }
    } while (FindNextFileW(find.Get(), &entry));
    return true;
}

void assignPath(std::wstring& result, const std::wstring& directory, const wchar_t* name)
{
    result.assign(directory);
    result += L'\\';
    result += name;
}

} // namespace

int findFiles(const std::wstring& directory, const std::wstring* patterns, int patternCount,
              std::wstring* results, int capacity, int& count, Recurse recurse, MatchCase matchCase)
{
    if (count >= capacity)
        return 0;
    auto store = [&](const std::wstring& inDirectory, const wchar_t* name) {
        assignPath(results[count++], inDirectory, name);
        return count < capacity;
    };
    visitMatches(directory, patterns, patternCount, recurse, matchCase, store);
    return 0;
}

int findAllFiles(const std::wstring& directory, const std::wstring& pattern, std::vector<std::wstring>& results)
{
    // One search: the array grows as it fills. A search again with more room
    // would read the whole directory once more each time it filled.
    size_t count = 0;
    auto store = [&](const std::wstring& inDirectory, const wchar_t* name) {
        if (count == results.size()) {
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: more than %u files match %s, making room\n", unsigned(count),
                     pattern.c_str());
            results.resize(count ? count * 2 : 1);
        }
        assignPath(results[count++], inDirectory, name);
        return true;
    };
    visitMatches(directory, &pattern, 1, Recurse::No, MatchCase::LowerCased, store);
    return int(count);
}
