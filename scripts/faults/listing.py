# Seeded faults for the modules that find the installations and their files
# and show them as rows: finder, locator, refresh, list control, row store,
# dialog.
from faults import Fault

FAULTS = [
    # finder: discovery/file_finder.cpp
    Fault("finder-1", "finder", "discovery/file_finder.cpp",
          find=r'''    if (pattern == L"*" || pattern == L"*.*")''',
          replace=r'''    if (pattern == L"*")''',
          breaks="no Zelt file is listed"),
    Fault("finder-2", "finder", "discovery/file_finder.cpp",
          find=r'''    const size_t dot = name.rfind(L'.');''',
          replace=r'''    const size_t dot = name.find(L'.');''',
          breaks="a file whose name holds a second dot (old.list.rcp) is not listed"),
    Fault("finder-3", "finder", "discovery/file_finder.cpp",
          find=r'''                return false;
            continue;
        }''',
          replace=r'''                return false;
        }''',
          breaks="folders (and . and ..) are listed as Zelt files and files"),
    Fault("finder-4", "finder", "discovery/file_finder.cpp",
          find=r'''        assignPath(results[count++], inDirectory, name);
        return true;''',
          replace=r'''        assignPath(results[count++], inDirectory, name);
        return count < results.size();''',
          breaks="beyond 16,384 files of one kind the rest are not listed"),
    Fault("finder-5", "finder", "discovery/file_finder.cpp",
          find=r'''    visitMatches(directory, &pattern, 1, Recurse::No, MatchCase::LowerCased, store);''',
          replace=r'''    visitMatches(directory, &pattern, 1, Recurse::Yes, MatchCase::LowerCased, store);''',
          breaks="files of the beta's subfolders (zelt) are listed as beta installation files"),
    Fault("finder-6", "finder", "discovery/file_finder.cpp",
          find=r'''        CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));''',
          replace=r'''        CharLowerBuffW(&text[0], static_cast<DWORD>(text.size() - 1));''',
          breaks="a name in capitals keeps its last letter, and REPORT.RCP is not listed"),
    Fault("locator-1", "locator", "discovery/install_locator.cpp",
          find=r'''    lookup.key.QueryString(valueName, text);
    lookup.key.Close();''',
          replace=r'''    lookup.key.Close();
    lookup.key.QueryString(valueName, text);''',
          breaks="every search says the beta path is not in the registry"),
    Fault("locator-2", "locator", "discovery/install_locator.cpp",
          find=r'''    lookup.key.Close();
    text = trimmedWhiteSpace(text);''',
          replace=r'''    lookup.key.Close();''',
          breaks="a Path value with a trailing space finds no files"),
    Fault("locator-3", "locator", "discovery/install_locator.cpp",
          find=r'''            + (rc != 0 ? L" key" : L" path") + L" in the registry.";''',
          replace=r'''            + (rc != 0 ? L" path" : L" key") + L" in the registry.";''',
          breaks="a missing key is reported as a missing path and the other way round"),
    Fault("locator-4", "locator", "discovery/install_locator.cpp",
          find=r'''    if (rc != 0)
        lookup.result = DWORD(rc);
    if (rc != 0 || path.empty()) {''',
          replace=r'''    if (rc != 0 || path.empty()) {''',
          breaks="a missing 5.2.2 key is taken for a blank Path: Migrate stays on"),
    Fault("locator-5", "locator", "discovery/install_locator.cpp",
          find=r'''    if (rc != 0 || path.empty()) {''',
          replace=r'''    if (rc != 0) {''',
          breaks="a blank Path is taken as found: no error, files looked for in the drive's root"),
    Fault("locator-6", "locator", "discovery/install_locator.cpp",
          find=r'''    rc = readInstallValue(lookup, GA_INSTALL_KEY, WEB_SITE_PATH_VALUE, gaWebSite);''',
          replace=r'''    rc = readInstallValue(lookup, BETA_INSTALL_KEY, WEB_SITE_PATH_VALUE, gaWebSite);''',
          breaks="web summary files go to the beta web site instead of the 5.2.2 one"),
    Fault("locator-7", "locator", "discovery/install_locator.cpp",
          find=r'''    return !gaWebSite.empty();''',
          replace=r'''    return true;''',
          breaks="with no 5.2.2 web site, web summary rows are listed with no destination folder"),

    # refresh: discovery/refresh_worker.cpp
    Fault("refresh-1", "refresh", "discovery/refresh_worker.cpp",
          find=r'''                                L"quarnrept_migr: scanning file system\n", true};''',
          replace=r'''                                L"quarnrept_migr: scanning file system\n", false};''',
          breaks="element.dat is listed as a SQL cache file"),
    Fault("refresh-2", "refresh", "discovery/refresh_worker.cpp",
          find=r'''        view.AddListItems(batch.data(), batch.size());
        batch.clear();
    }
}''',
          replace=r'''        view.AddListItems(batch.data(), batch.size());
    }
}''',
          breaks="files are listed twice or more"),
    Fault("refresh-3", "refresh", "discovery/refresh_worker.cpp",
          find=r'''                        if (!directoryExists(gaZelt) && !view.ListsOnly())''',
          replace=r'''                        if (!directoryExists(gaZelt))''',
          breaks="/list creates the 5.2.2 zelt folder"),
    Fault("refresh-4", "refresh", "discovery/refresh_worker.cpp",
          find=r'''                    scanGroup(view, SCAN_WEB_SUMMARY, betaWebSite, gaWebSite, results);''',
          replace=r'''                    scanGroup(view, SCAN_WEB_SUMMARY, gaWebSite, betaWebSite, results);''',
          breaks="web summary rows list the 5.2.2 pages and carry them into the beta web site"),
    Fault("refresh-5", "refresh", "discovery/refresh_worker.cpp",
          find=r'''                    if (directoryExists(betaZelt)) {''',
          replace=r'''                    if (directoryExists(gaZelt)) {''',
          breaks="Zelt files are not listed while the 5.2.2 installation has no zelt folder"),
    Fault("refresh-6", "refresh", "discovery/refresh_worker.cpp",
          find=r'''            if (view.RowCount() == 0) {''',
          replace=r'''            if (view.RowCount() <= 1) {''',
          breaks="with only the registry row, \"No items were found\" is added and Migrate is off"),
    Fault("refresh-7", "refresh", "discovery/refresh_worker.cpp",
          find=r'''        if (!errorShown)
            view.SetStatus(L"Ready");''',
          replace=r'''        view.SetStatus(L"Ready");''',
          breaks="a missing installation's error is replaced by \"Ready\""),
    Fault("refresh-8", "refresh", "discovery/refresh_worker.cpp",
          find=r'''        view.EndRun(rowsFound != 0 ? BUTTONS_ALL : always);''',
          replace=r'''        view.EndRun(rowsFound != 0 ? always : BUTTONS_ALL);''',
          breaks="after a search that found items Migrate is off, and on when nothing was found"),
    Fault("refresh-9", "refresh", "discovery/refresh_worker.cpp",
          find=r'''            lowerCaseInPlace(path);
            const std::wstring fileName = path.substr(path.find_last_of(L'\\') + 1);''',
          replace=r'''            const std::wstring fileName = path.substr(path.find_last_of(L'\\') + 1);
            lowerCaseInPlace(path);''',
          breaks="file names keep their capitals in the list and in the 5.2.2 installation"),

    # list control: controls/check_list_ctrl.cpp, controls/sort_key.cpp
    Fault("list-1", "list control", "controls/check_list_ctrl.cpp",
          find=r'''    if (!onRow)
        return 0;
    return CallDefault(WM_LBUTTONDOWN, wParam, lParam);''',
          replace=r'''    return CallDefault(WM_LBUTTONDOWN, wParam, lParam);''',
          breaks="a click below the last row clears the selection"),
    Fault("list-2", "list control", "controls/check_list_ctrl.cpp",
          find=r'''    for (int seen = 0; seen < selectedCount && (row = GetNextItem(row, LVNI_SELECTED)) >= 0; ++seen) {''',
          replace=r'''    for (int seen = 0; seen < selectedCount - 1 && (row = GetNextItem(row, LVNI_SELECTED)) >= 0; ++seen) {''',
          breaks="clicking a row no longer shows its source and destination folders"),
    Fault("list-3", "list control", "controls/check_list_ctrl.cpp",
          find=r'''        else if (index == 2 || index == 3)
            next = 1;''',
          replace=r'''        else if (index == 2)
            next = 1;''',
          breaks="a row in the stray third state cannot be unticked"),
    Fault("list-4", "list control", "controls/check_list_ctrl.cpp",
          find=r'''    if (!m_sortKey || !m_sortingAllowed)''',
          replace=r'''    if (!m_sortKey)''',
          breaks="a header click during a migration reorders the rows under it"),
    Fault("list-5", "list control", "controls/check_list_ctrl.cpp",
          find=r'''    m_sortColumn = column;
    SortItems(''',
          replace=r'''    SortItems(''',
          breaks="every header click sorts by Description"),
    Fault("list-6", "list control", "controls/check_list_ctrl.cpp",
          find=r'''    state.state = checked ? STATE_IMAGE_TICKED : STATE_IMAGE_UNTICKED;''',
          replace=r'''    state.state = checked ? STATE_IMAGE_UNTICKED : STATE_IMAGE_TICKED;''',
          breaks="new rows appear unticked"),
    Fault("list-7", "list control", "controls/check_list_ctrl.cpp",
          find=r'''    for (int column = 1; column < columns; ++column) {''',
          replace=r'''    for (int column = 1; column < columns - 1; ++column) {''',
          breaks="the State column of new rows is empty"),
    Fault("list-8", "list control", "controls/check_list_ctrl.cpp",
          find=r'''    SetRedraw(true);
    Invalidate();''',
          replace=r'''    Invalidate();''',
          breaks="after a horizontal scroll the list is no longer drawn"),
    Fault("list-9", "list control", "window/list_view.h",
          find=r'''        if (copied < int(text.size()) - 1 || text.size() >= 65536) {''',
          replace=r'''        if (copied <= int(text.size()) - 1 || text.size() >= 65536) {''',
          breaks="a cell text of 255 characters or more is read cut short"),
    Fault("store-1", "row store", "contract/row_store.cpp",
          find=r'''    record.destinationRoot = add.destinationRoot;''',
          replace=r'''    record.destinationRoot = add.sourceRoot;''',
          breaks="every file is written back into the beta installation"),
    Fault("store-2", "row store", "contract/row_store.cpp",
          find=r'''    record.kind = add.kind;
    const LPARAM id''',
          replace=r'''    const LPARAM id''',
          breaks="no row is migrated: every record is of no kind"),
    Fault("store-3", "row store", "contract/row_store.cpp",
          find=r'''    record.conversion = add.conversion;
    record.destinationName''',
          replace=r'''    record.destinationName''',
          breaks="the Conversion column is empty"),
    Fault("store-5", "row store", "contract/row_store.h",
          find=r'''    void Clear() { m_records.clear(); }''',
          replace=r'''    void Clear() { m_records.clear(); m_lastId = 0; }''',
          breaks="after a Refresh an old row's id finds a new record"),
    Fault("store-6", "row store", "contract/row_store.cpp",
          find=r'''    found->second.state = state;
    return true;''',
          replace=r'''    return true;''',
          breaks="records stay Not Started: the report and a State sort ignore the results"),
    Fault("store-7", "row store", "contract/row_store.cpp",
          find=r'''        return ITEM_STATE_FAILED + state.reason;''',
          replace=r'''        return ITEM_STATE_FAILED;''',
          breaks="a failed row does not say why"),
    Fault("store-8", "row store", "contract/row_store.cpp",
          find=r'''        return record->sourceName;''',
          replace=r'''        return record->sourceRoot;''',
          breaks="clicking the Source header does not sort by file name"),

    # dialog: app/migrate_dlg.cpp, app/migrate_dlg_view.cpp
    Fault("dialog-1", "dialog", "app/migrate_dlg.cpp",
          find=r'''    if (row == rows) {''',
          replace=r'''    if (row == rows - 1) {''',
          breaks="with only the last row ticked Migrate says no items are selected"),
    Fault("dialog-2", "dialog", "app/migrate_dlg.cpp",
          find=r'''    if (!ShowMessage(question, MessageKind::Question))
        return;''',
          replace=r'''    ShowMessage(question, MessageKind::Question);''',
          breaks="answering No still migrates"),
    Fault("dialog-3", "dialog", "app/migrate_dlg.cpp",
          find=r'''    for (int row = 0; row < rows; ++row)
        m_list.SetChecked(row, false);''',
          replace=r'''    for (int row = 0; row < rows - 1; ++row)
        m_list.SetChecked(row, false);''',
          breaks="Clear All leaves the last row ticked"),
    Fault("dialog-4", "dialog", "app/migrate_dlg.cpp",
          find=r'''        m_sourcePath.SetText(record->sourceRoot);
        m_destPath.SetText(record->destinationRoot);''',
          replace=r'''        m_sourcePath.SetText(record->destinationRoot);
        m_destPath.SetText(record->sourceRoot);''',
          breaks="clicking a row shows its source folder as destination and the other way round"),
    Fault("dialog-5", "dialog", "app/migrate_dlg.cpp",
          find=r'''    m_workerRunning = false;
    m_list.AllowSorting(true);''',
          replace=r'''    m_workerRunning = false;''',
          breaks="header clicks no longer sort once the search has ended"),
    Fault("dialog-6", "dialog", "app/migrate_dlg.cpp",
          find=r'''    if (m_rowsWaitingToShow)
        ShowWaitingRows();
    EnableWorkerButtons(buttons);''',
          replace=r'''    EnableWorkerButtons(buttons);''',
          breaks="after a quick search the list stays blank"),
    Fault("dialog-7", "dialog", "app/migrate_dlg_view.cpp",
          find=r'''        next = row + 1;''',
          replace=r'''''',
          breaks="the rows of each batch appear in reverse order"),
    Fault("dialog-8", "dialog", "app/migrate_dlg_view.cpp",
          find=r'''            m_list.DeleteAllItems();''',
          replace=r'''''',
          breaks="Refresh leaves the old rows above the new ones"),
    Fault("dialog-9", "dialog", "app/migrate_dlg_view.cpp",
          find=r'''        for (int row = 0; row < rows; ++row) {
            const LPARAM id = m_list.RowData(row);''',
          replace=r'''        for (int row = 0; row < rows - 1; ++row) {
            const LPARAM id = m_list.RowData(row);''',
          breaks="the last row is never migrated"),
    Fault("dialog-10", "dialog", "app/migrate_dlg_view.cpp",
          find=r'''        ticked = row >= 0 && m_list.IsChecked(row);''',
          replace=r'''        ticked = row >= 0;''',
          breaks="unticked rows are migrated too"),
    Fault("dialog-11", "dialog", "app/migrate_dlg_view.cpp",
          find=r'''            m_list.SetCellText(row, 4, stateText(state));''',
          replace=r'''            m_list.SetCellText(row, 3, stateText(state));''',
          breaks="a row's result shows in its Destination column, State stays Not Started"),
    Fault("dialog-12", "dialog", "app/migrate_dlg_view.cpp",
          find=r'''    m_betaPath = betaPath;
    m_gaPath = gaPath;''',
          replace=r'''    m_betaPath = gaPath;
    m_gaPath = betaPath;''',
          breaks="the backup folder is made in the beta installation"),
]
