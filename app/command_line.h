// The unattended run's command line: its switches, read and checked, and
// the usage printed for a wrong one.
#pragma once

#include <string>
#include <vector>

extern const wchar_t USAGE_TEXT[];

// The switches of one command line.
struct Options {
    bool help = false;
    bool list = false;
    bool migrate = false;
    bool only = false;
    std::vector<std::wstring> onlyKinds;
    bool report = false;
    std::wstring reportFile;
    bool restore = false;
    std::wstring restoreFolder;
};

// Reads the switches; false with the reason in `error`. A switch given twice
// or one the tool does not know is refused, never passed over.
bool parseOptions(const std::vector<std::wstring>& args, Options& options, std::wstring& error);
