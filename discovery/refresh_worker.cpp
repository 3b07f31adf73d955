#include "discovery/refresh_worker.h"

#include "contract/migration_view.h"
#include "common/text.h"
#include "common/trace/trace.h"
#include "discovery/file_finder.h"
#include "discovery/install_locator.h"
#include "contract/item_types.h"

#include <vector>

namespace {

// The finder's result array for one table row, reused for every row.
constexpr int RESULT_CAPACITY = 16384;

struct ScanGroup {
    const ItemTypeEntry* table;
    const wchar_t* status;
    const wchar_t* traceLine;
    bool reportFiles; // "element.dat" is left out of the report files only
};

const ScanGroup SCAN_REPORT_FILES = {reportItemTypes, L"Scanning for report related files...",
                                L"quarnrept_migr: scanning file system\n", true};
const ScanGroup SCAN_WEB_SUMMARY = {webSummaryItemTypes, L"Scanning for web summary files...",
                               L"quarnrept_migr: scanning file system for web summary\n", false};
const ScanGroup SCAN_ZELT_FILES = {zeltItemTypes, L"Scanning for Zelt files...",
                              L"quarnrept_migr: scanning file system for zelt related files\n", false};

void scanGroup(IMigrationView& view, const ScanGroup& group, const std::wstring& sourceRoot,
               const std::wstring& destinationRoot, std::vector<std::wstring>& results)
{
    QM_TRACE(TRACE_CAT_APP, group.traceLine);
    view.SetStatus(group.status);

    // Rows go to the list in batches: one window call each, so that the
    // rows of a large directory appear as they are found without a round
    // trip to the dialog's thread per row.
    constexpr size_t ROWS_PER_CALL = 256;
    std::vector<NewListItem> batch;
    batch.reserve(ROWS_PER_CALL);
    // The batch's trace lines go out together, before the rows.
    CTraceLines lines;
    for (const ItemTypeEntry* row = group.table; row->pattern; ++row) {
        const int count = findAllFiles(sourceRoot, row->pattern, results);
        for (int k = 0; k < count; ++k) {
            std::wstring& path = results[k];
            // Each result is the searched directory, a backslash and the name.
            // The migration opens the name as found; the list shows it in
            // lower case, and full case mapping can make that another name.
            const std::wstring foundName = path.substr(path.find_last_of(L'\\') + 1);
            lowerCaseInPlace(path);
            const std::wstring fileName = path.substr(path.find_last_of(L'\\') + 1);
            const std::wstring destinationName = row->fileName ? row->fileName : fileName;
            QM_TRACE_TO(lines, TRACE_CAT_APP, L"quarnrept_migr: adding item %u, %s\n", unsigned(k), path.c_str());
            if (group.reportFiles && sameIgnoringCase(fileName, L"element.dat"))
                continue;
            batch.push_back(NewListItem { row->kind, row->description, fileName, sourceRoot, destinationName,
                                          destinationRoot, row->conversion, foundName });
            if (batch.size() == ROWS_PER_CALL) {
                lines.WriteAll();
                view.AddListItems(batch.data(), batch.size());
                batch.clear();
            }
        }
        lines.WriteAll();
        view.AddListItems(batch.data(), batch.size());
        batch.clear();
    }
}

bool directoryExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

DWORD WINAPI t_processRefresh(LPVOID parameter)
{
    IMigrationView& view = *static_cast<IMigrationView*>(parameter);
    InstallLookup lookup;
    try {
        std::vector<std::wstring> results(RESULT_CAPACITY);
        int rowsFound = 0;
        bool errorShown = false;

        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: entering t_processRefresh\n");
        view.EnableWorkerButtons(BUTTONS_NONE);
        view.SetListRedraw(true);
        view.SetStatus(L"Working");
        view.ClearList();

        const LocatedInstallations found = locateInstallations(lookup);
        const std::wstring& betaPath = found.betaPath;
        const std::wstring& gaPath = found.gaPath;
        view.SetInstallPaths(betaPath, gaPath);
        if (!betaPath.empty()) {
            view.AddListItem(ITEM_REGISTRY_SETTINGS, L"Registry settings", L"console_reporting",
                             BETA_SETTINGS_ROW_ROOT, L"console", GA_SETTINGS_ROW_ROOT, CONVERSION_NONE);
            view.SetSourcePath(betaPath);
        }
        errorShown = !found.error.empty();
        if (errorShown)
            view.SetStatus(found.error);
        if (found.outcome != LocateOutcome::Failed) {
            if (found.outcome == LocateOutcome::Found) {
                view.SetDestinationPath(gaPath);
                scanGroup(view, SCAN_REPORT_FILES, betaPath, gaPath, results);

                std::wstring betaWebSite;
                std::wstring gaWebSite;
                if (locateWebSites(lookup, betaWebSite, gaWebSite)) {
                    scanGroup(view, SCAN_WEB_SUMMARY, betaWebSite, gaWebSite, results);

                    const std::wstring betaZelt = betaPath + L"\\zelt";
                    const std::wstring gaZelt = gaPath + L"\\zelt";
                    if (directoryExists(betaZelt)) {
                        if (!directoryExists(gaZelt) && !view.ListsOnly())
                            CreateDirectoryW(gaZelt.c_str(), nullptr);
                        scanGroup(view, SCAN_ZELT_FILES, betaZelt, gaZelt, results);
                    }
                }
            }

            // Closing.
            QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: refresh list\n");
            rowsFound = 1;
            if (view.RowCount() == 0) {
                view.AddListItem(ITEM_NONE_FOUND, L"No items were found", L"", L"", L"", L"", L"");
                rowsFound = 0;
            }
            view.SelectAndShowRow(0);
        }

        // Ending. The rows are drawn by EndRun, in the same call to the
        // dialog's thread as the buttons: drawn before "Ready", they would
        // make this thread wait for the list to be painted.
        if (!errorShown)
            view.SetStatus(L"Ready");
        lookup.key.Close();
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: leaving refresh\n");
        const unsigned always = BUTTON_REFRESH | BUTTON_DONE;
        view.EndRun(rowsFound != 0 ? BUTTONS_ALL : always);
    } catch (...) {
        // The status keeps its last text; the dialog ends the run when this
        // routine returns, with every button enabled.
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: refresh ended by an exception\n");
    }
    return lookup.result;
}
