// The tool's one window: the list of items to migrate, the action buttons,
// the status line and the source and destination path lines.
#pragma once

#include "common/msg/nls_resources.h"
#include "common/notice.h"
#include "contract/migration_view.h"
#include "controls/check_list_ctrl.h"
#include "contract/row_store.h"
#include "window/dialog.h"

#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Caption of the tool's message boxes.
constexpr wchar_t APP_TITLE[] = L"quarnrept_migrate";

// Shows what the layers below the window tell the user, each in a message box
// of its own, for as long as the dialog exists.
class CNoticeBoxes : public INoticeSink {
public:
    CNoticeBoxes() : m_previous(setNoticeSink(this)) {}
    ~CNoticeBoxes() override { setNoticeSink(m_previous); }
    CNoticeBoxes(const CNoticeBoxes&) = delete;
    CNoticeBoxes& operator=(const CNoticeBoxes&) = delete;
    void Tell(const std::wstring& text, const std::wstring& caption, NoticeKind kind) override;

private:
    INoticeSink* m_previous;
};

// The boxes and then the language resources come first, before anything
// else of the dialog is built: constructing the resources loads the
// console's message libraries once, and may have something to say.
struct CLanguageMember {
    CNoticeBoxes m_boxes;
    CNlsResources m_nls;
};

class CMigrateDlg : private CLanguageMember, public CDialog, public IMigrationView {
public:
    explicit CMigrateDlg(HWND parent = nullptr);
    ~CMigrateDlg() override;

    // The thread routines started by Refresh and by a confirmed Migrate. Each
    // gets the dialog as a IMigrationView*. Tests put workers of their own here.
    void SetWorkerRoutines(LPTHREAD_START_ROUTINE refresh, LPTHREAD_START_ROUTINE migrate);

    // True from the moment a worker is about to start until its thread has
    // finished; the dialog refuses to close meanwhile.
    bool WorkerRunning() const { return m_workerRunning; }

    // The workers' contract, carried out on the dialog's thread. EndRun ends
    // a run there: the named buttons on, the close guard off and sorting
    // allowed again, all in one step, so no click falls between them.
    void SetStatus(const std::wstring& text) override;
    void SetSourcePath(const std::wstring& text) override;
    void SetDestinationPath(const std::wstring& text) override;
    void EnableWorkerButtons(unsigned buttons) override;
    void AddListItems(const NewListItem* items, size_t count) override;
    void ClearList() override;
    int RowCount() override;
    void SetListRedraw(bool on) override;
    void SelectAndShowRow(int row) override;
    std::vector<TakenRecord> TakeRecords() override;
    bool ShowRecordRowIfTicked(LPARAM id) override;
    void SetRecordState(LPARAM id, const RowState& state) override;
    void SetInstallPaths(const std::wstring& betaPath, const std::wstring& gaPath) override;
    std::wstring BetaPath() override { return m_betaPath; }
    std::wstring GaPath() override { return m_gaPath; }
    bool ListsOnly() override { return false; }
    bool ShowMessage(const std::wstring& text, MessageKind kind) override;
    void EndRun(unsigned buttons) override;

    void OnRefresh();
    void OnMigrate();
    void OnSelectAll();
    void OnClearAll();
    void OnHelpButton();

    // The record behind the list's row `row` (null for none).
    const MigrationItem* RowRecord(int row) const { return m_rows.Find(m_list.RowData(row)); }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    bool OnNotify(const NMHDR* header, LRESULT& result) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void OnCancel() override;

private:
    void DoDataExchange();
    bool OnSysCommand(UINT command);
    bool OnPaint();
    HCURSOR OnQueryDragIcon() const { return reinterpret_cast<HCURSOR>(m_hIcon); }
    LRESULT OnListSelChange();
    bool StartWorker(LPTHREAD_START_ROUTINE routine);

    // Draws the rows added with drawing held off (dialog's thread).
    void ShowWaitingRows();
    // Puts rows into the list and their records into the store (dialog's thread).
    void InsertRows(const NewListItem* items, size_t count);
    // Puts in the rows a worker has handed over so far (dialog's thread).
    // An error in doing so is kept for the worker's next call.
    void InsertPendingRows();
    // Runs `work` on the dialog's thread once the rows handed over before
    // have gone in, so that every call of a worker sees the rows it added.
    void OnListThread(const std::function<void()>& work);

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
    CRowStore m_rows;
    // Rows added in batches are drawn at most every ROWS_SHOWN_EVERY_MS:
    // each drawing of the list holds up the worker that adds them.
    bool m_rowsWaitingToShow = false;
    ULONGLONG m_rowsShownAt = 0;
    // Draws an emptied list that no rows have followed in time.
    static constexpr UINT_PTR TIMER_SHOW_ROWS = 1;
    // Rows a worker has handed over that are not in the list yet: the
    // worker goes on scanning while the dialog's thread puts them in.
    std::mutex m_pendingLock;
    std::vector<NewListItem> m_pendingRows;
    bool m_pendingPosted = false; // a WM_ROWS_PENDING is on its way
    std::exception_ptr m_pendingError;

    HICON m_hIcon;
    bool m_workerRunning = false;
    LPTHREAD_START_ROUTINE m_refreshRoutine;
    LPTHREAD_START_ROUTINE m_migrateRoutine;
};

// Sent by a worker's thread to the dialog at the end of its run; wParam holds
// the buttons to enable.
constexpr UINT WM_WORKER_FINISHED = WM_APP + 1;
// Posted to the dialog when a worker has handed over rows to put in.
constexpr UINT WM_ROWS_PENDING = WM_APP + 2;

