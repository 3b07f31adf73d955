// What the worker threads use of the main dialog: its list of items, the
// status and path lines, the five buttons a worker disables for its run, and
// the two installation directories. The dialog derives from this class and
// hands a pointer to it to each worker it starts, so the workers never need
// to know the dialog itself.
//
// Every control operation here is a window call: made from a worker thread,
// the system carries it out on the dialog's thread before it returns.
#pragma once

#include "controls/check_list_ctrl.h"
#include "controls/window.h"
#include "discovery/migration_item.h"

#include <string>

// One row to add: the texts and kind of a new MigrationItem.
struct NewListItem {
    ItemKind kind;
    std::wstring description;
    std::wstring sourceName;
    std::wstring sourceRoot;
    std::wstring destinationName;
    std::wstring destinationRoot;
    std::wstring conversion;
};

class CMigrationView {
public:
    virtual ~CMigrationView() = default;

    // Appends a ticked row that owns a new MigrationItem whose state is
    // "Not Started". A row the list refuses is left out. Returns 0.
    int AddListItem(ItemKind kind, const std::wstring& description, const std::wstring& sourceName,
                    const std::wstring& sourceRoot, const std::wstring& destinationName,
                    const std::wstring& destinationRoot, const std::wstring& conversion);

    // Adds the rows in order, as AddListItem does, in one call to the list's
    // thread with its drawing held off until the last one is in.
    void AddListItems(const NewListItem* items, size_t count);

    // Deletes every row and releases its record, last row first.
    void ClearList();

    // Migrate, Clear All, Select All, Refresh, Done: the order in which a
    // worker disables them at its start and enables them at its end.
    void enableWorkerButtons(bool migrate, bool clearAll, bool selectAll, bool refresh, bool done);
    void disableWorkerButtons() { enableWorkerButtons(false, false, false, false, false); }

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
};

// Image list indexes of the list's rows.
constexpr int ITEM_IMAGE_REGISTRY = 2;
constexpr int ITEM_IMAGE_FILE = 4;

extern const wchar_t ITEM_STATE_NOT_STARTED[]; // "Not Started"
