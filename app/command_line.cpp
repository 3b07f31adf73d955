#include "app/command_line.h"

#include "common/text.h"
#include "contract/item_types.h"

const wchar_t USAGE_TEXT[] =
    L"Usage:\r\n"
    L"  quarnrept_migrate.exe                  opens the window\r\n"
    L"  quarnrept_migrate.exe /list [/report:FILE]\r\n"
    L"  quarnrept_migrate.exe /migrate [/only:DESCRIPTION[,DESCRIPTION...]] [/report:FILE]\r\n"
    L"  quarnrept_migrate.exe /restore:FOLDER\r\n"
    L"  quarnrept_migrate.exe /?\r\n"
    L"\r\n"
    L"/list     lists every row the window would show, and changes nothing.\r\n"
    L"/migrate  migrates every row, as Select All, Migrate and Yes would.\r\n"
    L"/only     migrates only the rows of these Description texts (any case), such as\r\n"
    L"          /only:\"Registry settings,Zelt\".\r\n"
    L"/report   also writes the rows, with their states and reasons, to FILE as CSV.\r\n"
    L"/restore  puts the 5.2.2 installation back as the backup FOLDER of a migration\r\n"
    L"          holds it (what its restore.cmd runs), and checks that everything is back.\r\n"
    L"\r\n"
    L"Exit codes: 0 every row migrated (or listed), or everything restored; 1 one or more\r\n"
    L"rows failed, or something is not back; 2 nothing to migrate (an installation was\r\n"
    L"not found); 3 the command line is wrong; 4 the run could not start, or the report\r\n"
    L"could not be written.\r\n";

namespace {

// The Description texts a row can have.
std::vector<std::wstring> knownDescriptions()
{
    std::vector<std::wstring> known { L"Registry settings" };
    for (const ItemTypeEntry* table : { reportItemTypes, webSummaryItemTypes, zeltItemTypes })
        for (const ItemTypeEntry* row = table; row->pattern; ++row)
            known.push_back(row->description);
    return known;
}

bool isKnownDescription(const std::wstring& text)
{
    for (const std::wstring& known : knownDescriptions())
        if (sameIgnoringCase(known, text))
            return true;
    return false;
}

} // namespace

bool parseOptions(const std::vector<std::wstring>& args, Options& options, std::wstring& error)
{
    for (const std::wstring& arg : args) {
        const size_t colon = arg.find(L':');
        const std::wstring name = arg.substr(0, colon);
        const std::wstring value = colon == std::wstring::npos ? L"" : arg.substr(colon + 1);
        bool* seen = nullptr;
        if (sameIgnoringCase(name, L"/?"))
            seen = &options.help;
        else if (sameIgnoringCase(name, L"/list"))
            seen = &options.list;
        else if (sameIgnoringCase(name, L"/migrate"))
            seen = &options.migrate;
        else if (sameIgnoringCase(name, L"/only"))
            seen = &options.only;
        else if (sameIgnoringCase(name, L"/report"))
            seen = &options.report;
        else if (sameIgnoringCase(name, L"/restore"))
            seen = &options.restore;
        if (!seen) {
            error = L"Unknown switch: " + arg;
            return false;
        }
        if (*seen) {
            error = L"A switch given twice: " + name;
            return false;
        }
        *seen = true;
        const bool takesValue = seen == &options.only || seen == &options.report || seen == &options.restore;
        if (takesValue == (colon == std::wstring::npos) || (takesValue && trimmedWhiteSpace(value).empty())) {
            error = takesValue ? name + L" needs a value after a colon: " + arg : name + L" takes no value: " + arg;
            return false;
        }
        if (seen == &options.report)
            options.reportFile = value;
        if (seen == &options.restore)
            options.restoreFolder = value;
        for (size_t start = 0; seen == &options.only && start <= value.size();) {
            const size_t comma = std::min(value.find(L',', start), value.size());
            const std::wstring kind = trimmedWhiteSpace(value.substr(start, comma - start));
            if (!isKnownDescription(kind)) {
                error = L"/only names no kind of item: \"" + kind + L"\"";
                return false;
            }
            options.onlyKinds.push_back(kind);
            start = comma + 1;
        }
    }
    if (options.help)
        return true;
    if (options.restore) {
        if (options.list || options.migrate || options.only || options.report) {
            error = L"/restore goes alone.";
            return false;
        }
        return true;
    }
    if (options.list == options.migrate) {
        error = L"Give either /list or /migrate.";
        return false;
    }
    if (options.only && !options.migrate) {
        error = L"/only goes with /migrate.";
        return false;
    }
    return true;
}
