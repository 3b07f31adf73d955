#include "controls/sort_key.h"

#include "common/text.h"

#include <cwchar>

namespace {

bool isNumericKey(const std::wstring& key)
{
    for (wchar_t c : key) {
        if (!(c >= L'0' && c <= L'9') && c != L'.')
            return false;
    }
    return true;
}

// The integer of the leading digits; long runs saturate instead of wrapping,
// so a long number never sorts before a short one.
unsigned long long leadingValue(const std::wstring& key)
{
    const unsigned long long limit = 1000000000000000000ULL;
    unsigned long long value = 0;
    for (wchar_t c : key) {
        if (c < L'0' || c > L'9')
            break;
        if (value >= limit)
            return limit;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    return value;
}

} // namespace

int compareSortKeys(const std::wstring& first, const std::wstring& second)
{
    std::wstring a = trimmedWhiteSpace(first);
    std::wstring b = trimmedWhiteSpace(second);
    if (isNumericKey(a) && isNumericKey(b)) {
        unsigned long long va = leadingValue(a);
        unsigned long long vb = leadingValue(b);
        return va < vb ? -1 : (va > vb ? 1 : 0);
    }
    int order = _wcsicmp(a.c_str(), b.c_str());
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

