// The tool's one window: the list of items to migrate, the action buttons,
// the status line and the source and destination path lines.
#pragma once

#include "common/msg/nls_resources.h"
#include "discovery/migration_view.h"
#include "window/dialog.h"

#include <string>

// The language resources come first, before anything else of the dialog is
// built: constructing them loads the console's message libraries once.
struct CLanguageMember {
    CNlsResources m_nls;
};

class CMigrateDlg : private CLanguageMember, public CDialog, public CMigrationView {
public:
    explicit CMigrateDlg(HWND parent = nullptr);
    ~CMigrateDlg() override;

    // The thread routines started by Refresh and by a confirmed Migrate. Each
    // gets the dialog as a CMigrationView*. Tests put workers of their own here.
    void setWorkerRoutines(LPTHREAD_START_ROUTINE refresh, LPTHREAD_START_ROUTINE migrate);

    // True from the moment a worker is about to start until its thread has
    // finished; the dialog refuses to close meanwhile.
    bool workerRunning() const { return m_workerRunning; }

    // Ends a worker's run on the dialog's thread: the named buttons on, the
    // close guard off and sorting allowed again, all in one step, so no
    // click falls between them.
    void endRun(unsigned buttons) override;

    void OnRefresh();
    void OnMigrate();
    void OnSelectAll();
    void OnClearAll();
    void OnHelpButton();

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
    bool startWorker(LPTHREAD_START_ROUTINE routine);

    HICON m_hIcon;
    bool m_workerRunning = false;
    LPTHREAD_START_ROUTINE m_refreshRoutine;
    LPTHREAD_START_ROUTINE m_migrateRoutine;
};

// Sent by a worker's thread to the dialog at the end of its run; wParam holds
// the buttons to enable.
constexpr UINT WM_WORKER_FINISHED = WM_APP + 1;

