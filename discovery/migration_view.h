// What the worker threads use of the main dialog: its list of items, the
// status and path lines, the five buttons a worker disables for its run, and
// the two installation directories. The dialog derives from this class and
// hands a pointer to it to each worker it starts, so the workers never need
// to know the dialog itself.
//
// Every control operation here is a window call: made from a worker thread,
// the system carries it out on the dialog's thread before it returns. The
// rows' records live in the row store and change only on that thread.
#pragma once

#include "controls/check_list_ctrl.h"
#include "discovery/migration_item.h"
#include "discovery/row_store.h"
#include "window/window.h"

#include <string>
#include <vector>

// Caption of the tool's message boxes, the dialog's and the workers' alike.
constexpr wchar_t APP_TITLE[] = L"quarnrept_migrate";

// One row to add: the texts and kind of a new MigrationItem.
struct NewListItem {
    ItemKind kind;
    std::wstring description;
    std::wstring sourceName;
    std::wstring sourceRoot;
    std::wstring destinationName;
    std::wstring destinationRoot;
    std::wstring conversion;
    std::wstring sourceFileName; // the name as found; sourceName when empty
};

// The buttons a worker switches, for enableWorkerButtons and endRun.
constexpr unsigned BUTTON_MIGRATE = 1u << 0;
constexpr unsigned BUTTON_CLEAR_ALL = 1u << 1;
constexpr unsigned BUTTON_SELECT_ALL = 1u << 2;
constexpr unsigned BUTTON_REFRESH = 1u << 3;
constexpr unsigned BUTTON_DONE = 1u << 4;
constexpr unsigned BUTTONS_NONE = 0;
constexpr unsigned BUTTONS_ALL = (1u << 5) - 1;

// A row's record as it was when a migration took it, and the id that finds
// its row again however the list has been reordered since.
struct TakenRecord {
    LPARAM id;
    MigrationItem item;
};

class CMigrationView {
public:
    virtual ~CMigrationView() = default;

    // Appends a ticked row with a new record whose state is "Not Started".
    // A row the list refuses is left out. Returns 0.
    int AddListItem(ItemKind kind, const std::wstring& description, const std::wstring& sourceName,
                    const std::wstring& sourceRoot, const std::wstring& destinationName,
                    const std::wstring& destinationRoot, const std::wstring& conversion);

    // Adds the rows in order, as AddListItem does, in one call to the list's
    // thread with its drawing held off until the last one is in.
    void AddListItems(const NewListItem* items, size_t count);

    // Deletes every row and its record.
    void ClearList();

    // The record of a row (null for none); on the dialog's thread only.
    const MigrationItem* rowRecord(int row) const { return m_rows.find(m_list.rowData(row)); }

    // Copies of every row's record, in list order, in one call.
    std::vector<TakenRecord> takeRecords();
    // When the row of record `id` is ticked now, wherever it stands, selects
    // and shows it and returns true.
    bool showRecordRowIfTicked(LPARAM id);
    // Sets the state of record `id` and its row's State column.
    void setRecordState(LPARAM id, const std::wstring& state);

    // Migrate, Clear All, Select All, Refresh, Done: each named button on,
    // the others off.
    void enableWorkerButtons(unsigned buttons);
    void disableWorkerButtons() { enableWorkerButtons(BUTTONS_NONE); }
    // The last thing a worker does: enables the named buttons and ends the
    // run, so that the window may close again. A worker touches nothing of
    // the view after it.
    virtual void endRun(unsigned buttons) { enableWorkerButtons(buttons); }

    CCheckListCtrl m_list;
    CWindow m_status;
    CWindow m_sourcePath;
    CWindow m_destPath;
    CWindow m_btnDone;
    CWindow m_btnMigrate;
    CWindow m_btnClearAll;
    CWindow m_btnSelectAll;
    CWindow m_btnRefresh;
    std::wstring m_betaPath;
    std::wstring m_gaPath;

protected:
    CRowStore m_rows;
};

// Image list indexes of the list's rows.
constexpr int ITEM_IMAGE_REGISTRY = 2;
constexpr int ITEM_IMAGE_FILE = 4;

extern const wchar_t ITEM_STATE_NOT_STARTED[]; // "Not Started"
