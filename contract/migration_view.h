// The contract between whoever runs the workers and the workers: everything
// t_processRefresh and t_processMigrate need of the one who started them, and
// nothing else. A worker gets it as its thread parameter and reaches the user
// only through it. Its implementations:
//   CMigrateDlg    (app/migrate_dlg.h)       the window, on its own thread;
//   CConsoleView   (app/unattended_run.cpp)  the unattended run's console;
//   CRecordingView (tests/app/recording_view.h) the tests' record of calls.
//
// Every call may come from a worker's thread and returns when it has been
// carried out. The rows' records belong to the implementation, each kept in
// a CRowStore (contract/row_store.h): a worker adds rows, takes copies of the
// records, and sets a record's state, never more.
#pragma once

#include "contract/migration_item.h"
#include "contract/row_store.h"

#include <windows.h>

#include <string>
#include <vector>

// The buttons a worker switches, for EnableWorkerButtons and EndRun.
constexpr unsigned BUTTON_MIGRATE = 1u << 0;
constexpr unsigned BUTTON_CLEAR_ALL = 1u << 1;
constexpr unsigned BUTTON_SELECT_ALL = 1u << 2;
constexpr unsigned BUTTON_REFRESH = 1u << 3;
constexpr unsigned BUTTON_DONE = 1u << 4;
constexpr unsigned BUTTONS_NONE = 0;
constexpr unsigned BUTTONS_ALL = (1u << 5) - 1;

// What a message to the user is; it decides the box's icon and buttons.
enum class MessageKind {
    Plain,    // OK, no icon
    Warning,  // OK, warning icon
    Error,    // OK, error icon
    Question, // Yes and No: ShowMessage returns true for Yes
};

class IMigrationView {
public:
    virtual ~IMigrationView() = default;

    // The status line, and the source and destination path lines.
    virtual void SetStatus(const std::wstring& text) = 0;
    virtual void SetSourcePath(const std::wstring& text) = 0;
    virtual void SetDestinationPath(const std::wstring& text) = 0;

    // Migrate, Clear All, Select All, Refresh, Done: each named button on,
    // the others off.
    virtual void EnableWorkerButtons(unsigned buttons) = 0;

    // Appends ticked rows with new records whose state is "Not Started", in
    // order, drawn once at the end. A row the list refuses is left out. The
    // rows may go in after the call has returned, but always before the
    // view's next call that reads or changes the list, and before EndRun.
    virtual void AddListItems(const NewListItem* items, size_t count) = 0;
    // One row, as AddListItems does.
    void AddListItem(ItemKind kind, const std::wstring& description, const std::wstring& sourceName,
                     const std::wstring& sourceRoot, const std::wstring& destinationName,
                     const std::wstring& destinationRoot, const std::wstring& conversion)
    {
        const NewListItem item { kind, description, sourceName, sourceRoot, destinationName, destinationRoot,
                                 conversion, {} };
        AddListItems(&item, 1);
    }
    // Deletes every row and its record.
    virtual void ClearList() = 0;
    virtual int RowCount() = 0;
    // Turns the list's drawing on or off.
    virtual void SetListRedraw(bool on) = 0;
    // Selects the row at `row` and scrolls it into view.
    virtual void SelectAndShowRow(int row) = 0;

    // Copies of every row's record, in list order, in one call.
    virtual std::vector<TakenRecord> TakeRecords() = 0;
    // When the row of record `id` is ticked now, wherever it stands, selects
    // and shows it (a window gives whoever watches a moment to see it) and
    // returns true.
    virtual bool ShowRecordRowIfTicked(LPARAM id) = 0;
    // Sets the state of record `id` and its row's State column, together.
    virtual void SetRecordState(LPARAM id, const RowState& state) = 0;

    // True when the run only lists what there is: the refresh then makes
    // nothing, not even the 5.2.2 zelt directory.
    virtual bool ListsOnly() = 0;

    // The two installation directories the last refresh found (empty when
    // it found none).
    virtual void SetInstallPaths(const std::wstring& betaPath, const std::wstring& gaPath) = 0;
    virtual std::wstring BetaPath() = 0;
    virtual std::wstring GaPath() = 0;

    // Says `text` to the user and waits for the answer; true only for the
    // Yes of a question.
    virtual bool ShowMessage(const std::wstring& text, MessageKind kind) = 0;

    // The last thing a worker does: draws the list should its drawing be
    // off, enables the named buttons and ends the run. A worker touches
    // nothing of the view after it.
    virtual void EndRun(unsigned buttons) = 0;
};
