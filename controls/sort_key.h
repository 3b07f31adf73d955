// The order in which a click on a column header sorts the list's rows.
#pragma once

#include <string>

// Header-click order of two cell keys: both trimmed; keys made only of digits
// and full stops (the empty key too) compare by the integer of their leading
// digits, anything else compares as text without regard to case.
// Returns -1, 0 or 1.
int compareSortKeys(const std::wstring& first, const std::wstring& second);
