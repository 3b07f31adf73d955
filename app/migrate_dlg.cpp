#include "app/migrate_dlg.h"

#include "app/about_dlg.h"
#include "app/migrate_app.h"
#include "app/html_help.h"
#include "common/trace/trace.h"
#include "discovery/refresh_worker.h"
#include "migrate/migrate_worker.h"
#include "res/resource.h"
#include "window/handle.h"

#include <commctrl.h>

#include <memory>

namespace {

const wchar_t HELP_FILE[] = L"quarnrept_migrate.chm";
const wchar_t HELP_TOPIC[] = L"::/Welcome.htm";

// The help file beside the exe, so that help opens whatever directory the
// tool was started from; the bare name when the exe's path cannot be had.
std::wstring helpTopicPath()
{
    wchar_t exe[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe, length < MAX_PATH ? length : 0);
    const size_t slash = path.find_last_of(L"\\/");
    path = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    return path + HELP_FILE + HELP_TOPIC;
}

// Centres the window in the work area of its monitor.
void centreOnMonitor(const CWindow& window)
{
    RECT frame;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!window.GetRect(frame) || !GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor))
        return;
    const RECT& area = monitor.rcWork;
    const int x = area.left + ((area.right - area.left) - (frame.right - frame.left)) / 2;
    const int y = area.top + ((area.bottom - area.top) - (frame.bottom - frame.top)) / 2;
    window.MoveTo(x > area.left ? x : area.left, y > area.top ? y : area.top);
}

struct ColumnDef {
    const wchar_t* title;
    int width;
};

const ColumnDef LIST_COLUMNS[] = {
    {L"Description", 130}, {L"Source", 150}, {L"Conversion", 100}, {L"Destination", 200}, {L"State", 500},
};

const UINT LIST_ICON_IDS[] = {IDI_CORD, IDI_CORD, IDI_REGISTRY, IDI_REGISTRY, IDI_DOCUMENT, IDI_DOCUMENT, 0};

// What a worker thread starts with: the routine and the dialog it reports to.
struct WorkerLaunch {
    LPTHREAD_START_ROUTINE routine;
    IMigrationView* view;
    HWND dialog;
};

DWORD WINAPI workerThread(LPVOID parameter)
{
    std::unique_ptr<WorkerLaunch> launch(static_cast<WorkerLaunch*>(parameter));
    DWORD result = 0;
    try {
        result = launch->routine(launch->view);
    } catch (...) {
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: a worker ended by an exception\n");
    }
    // A routine that did not end its run (an exception took it out early)
    // must not leave the window unable to close: end it here, every button
    // on. After a proper end this changes nothing.
    CWindow(launch->dialog).Send(WM_WORKER_FINISHED, BUTTONS_ALL);
    return result;
}

} // namespace

CMigrateDlg::CMigrateDlg(HWND parent)
    : CDialog(IDD_QUARNREPT_MIGRATE_DIALOG, parent),
      m_hIcon(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                            0, 0, LR_DEFAULTSIZE | LR_SHARED))),
      m_refreshRoutine(t_processRefresh),
      m_migrateRoutine(t_processMigrate)
{
}

CMigrateDlg::~CMigrateDlg() = default;

void CMigrateDlg::SetWorkerRoutines(LPTHREAD_START_ROUTINE refresh, LPTHREAD_START_ROUTINE migrate)
{
    m_refreshRoutine = refresh;
    m_migrateRoutine = migrate;
}

void CMigrateDlg::DoDataExchange()
{
    m_status.Attach(Item(IDC_STATUS));
    m_sourcePath.Attach(Item(IDC_SOURCE_PATH));
    m_destPath.Attach(Item(IDC_DEST_PATH));
    m_btnDone.Attach(Item(IDCANCEL));
    m_btnMigrate.Attach(Item(IDOK));
    m_btnClearAll.Attach(Item(IDC_CLEAR_ALL));
    m_btnSelectAll.Attach(Item(IDC_SELECT_ALL));
    m_btnRefresh.Attach(Item(IDC_REFRESH));
}

BOOL CMigrateDlg::OnInitDialog()
{
    DoDataExchange();
    centreOnMonitor(*this);

    if (HMENU menu = SystemMenu()) {
        wchar_t about[256];
        int length = LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, about, 256);
        if (length > 0) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }

    SetIcon(m_hIcon, ICON_BIG);
    SetIcon(m_hIcon, ICON_SMALL);

    // No later language load in this run: the dialog's construction had its go.
    CNlsResources noMoreLoading(NLS_LOADING_OFF);

    openToolTrace();

    m_list.CreateSmallIcons(LIST_ICON_IDS);
    m_list.Attach(Item(IDC_ITEM_LIST));
    m_list.SetExtendedStyle(0xFFFFFFFF, LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES);
    m_list.SetChangeNotify(WM_LIST_SELCHANGE);
    m_list.SetSortKey([this](LPARAM id, int column) { return sortKeyOf(m_rows.Find(id), column); });

    for (int i = 0; i < int(sizeof LIST_COLUMNS / sizeof LIST_COLUMNS[0]); ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = LIST_COLUMNS[i].width;
        column.pszText = const_cast<wchar_t*>(LIST_COLUMNS[i].title);
        column.iSubItem = i;
        m_list.InsertColumn(i, column);
    }
    m_list.DeleteAllItems();

    OnRefresh();

    callHtmlHelp(Hwnd(), helpTopicPath().c_str(), QM_HH_DISPLAY_TOC, 0);
    return TRUE;
}

bool CMigrateDlg::StartWorker(LPTHREAD_START_ROUTINE routine)
{
    if (!routine)
        return false;
    // The buttons go off before the thread exists, so that no second click
    // can start a second worker in between; and the rows keep their order
    // while a worker walks them.
    const unsigned wasEnabled = (m_btnMigrate.IsEnabled() ? BUTTON_MIGRATE : 0)
        | (m_btnClearAll.IsEnabled() ? BUTTON_CLEAR_ALL : 0) | (m_btnSelectAll.IsEnabled() ? BUTTON_SELECT_ALL : 0)
        | (m_btnRefresh.IsEnabled() ? BUTTON_REFRESH : 0) | (m_btnDone.IsEnabled() ? BUTTON_DONE : 0);
    EnableWorkerButtons(BUTTONS_NONE);
    m_list.AllowSorting(false);
    m_workerRunning = true;

    auto launch = std::make_unique<WorkerLaunch>(WorkerLaunch { routine, this, Hwnd() });
    CKernelHandle thread(CreateThread(nullptr, 0, workerThread, launch.get(), 0, nullptr));
    if (!thread.IsValid()) {
        EndRun(wasEnabled);
        return false;
    }
    launch.release(); // the thread owns it now
    return true;
}

void CMigrateDlg::EndRun(unsigned buttons)
{
    if (!OwnThread()) {
        Send(WM_WORKER_FINISHED, buttons);
        return;
    }
    if (!m_workerRunning)
        return;
    InsertPendingRows();
    // However the run ended, its rows are drawn.
    if (m_rowsWaitingToShow)
        ShowWaitingRows();
    EnableWorkerButtons(buttons);
    m_workerRunning = false;
    m_list.AllowSorting(true);
}

void CMigrateDlg::OnRefresh()
{
    if (m_workerRunning)
        return;
    ClearList();
    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: createthread Refresh\n");
    StartWorker(m_refreshRoutine);
}

void CMigrateDlg::OnMigrate()
{
    if (m_workerRunning)
        return;
    const int rows = m_list.RowCount();
    if (rows == 0)
        return;

    int row = 0;
    while (row < rows && !m_list.IsChecked(row))
        ++row;
    if (row == rows) {
        ShowMessage(L"No items are selected.", MessageKind::Plain);
        return;
    }

    std::wstring question;
    question += L"You are about to migrate settings and files from the beta version of ";
    question += L"operational reporting to the GA version. This will overwrite settings ";
    question += L"and files in the GA version.";
    question += L"\n\n";
    question += L"If you are using the web summary feature ";
    question += L"those files are converted to Unicode in place and you may want to make a ";
    question += L"backup copy of those files before proceeding. The default location of ";
    question += L"those files is:\nc:\\program files\\ostrel\\quarn\\console_reporting\\web";
    question += L"\n\n";
    question += L"Are you sure you want to continue?.";
    if (!ShowMessage(question, MessageKind::Question))
        return;

    QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: createthread Migrate\n");
    StartWorker(m_migrateRoutine);
}

void CMigrateDlg::OnSelectAll()
{
    const int rows = m_list.RowCount();
    for (int row = 0; row < rows; ++row)
        m_list.SetChecked(row, true);
}

void CMigrateDlg::OnClearAll()
{
    const int rows = m_list.RowCount();
    for (int row = 0; row < rows; ++row)
        m_list.SetChecked(row, false);
}

LRESULT CMigrateDlg::OnListSelChange()
{
    const int row = m_list.GetSelectedRow();
    if (row < 0)
        return 0;
    if (const MigrationItem* record = RowRecord(row)) {
        m_sourcePath.SetText(record->sourceRoot);
        m_destPath.SetText(record->destinationRoot);
    }
    return 0;
}

void CMigrateDlg::OnHelpButton()
{
    callHtmlHelp(Hwnd(), helpTopicPath().c_str(), QM_HH_DISPLAY_TOC, 0);
}

void CMigrateDlg::OnCancel()
{
    // Done is disabled during a run; Escape, the close box and Alt+F4 come
    // here too and are refused while a worker still uses the window.
    if (m_workerRunning) {
        MessageBeep(MB_ICONWARNING);
        return;
    }
    closeAllHtmlHelp();
    EndDialog(IDCANCEL);
}

bool CMigrateDlg::OnSysCommand(UINT command)
{
    if ((command & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(Hwnd());
        about.DoModal();
        return true;
    }
    return false;
}

bool CMigrateDlg::OnPaint()
{
    if (!IsIconic())
        return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Hwnd(), &paint);
    Send(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc));
    RECT client;
    GetClientRect(client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(Hwnd(), &paint);
    return true;
}

bool CMigrateDlg::OnCommand(WORD id, WORD, HWND)
{
    switch (id) {
    case IDOK:
        OnMigrate();
        return true;
    case IDC_REFRESH:
        OnRefresh();
        return true;
    case IDC_SELECT_ALL:
        OnSelectAll();
        return true;
    case IDC_CLEAR_ALL:
        OnClearAll();
        return true;
    case IDC_HELP_BUTTON:
        OnHelpButton();
        return true;
    default:
        return false;
    }
}

bool CMigrateDlg::OnNotify(const NMHDR* header, LRESULT& result)
{
    // The list's notifications are the list's own business.
    if (header && header->hwndFrom == m_list.Hwnd())
        return m_list.HandleNotify(header, result);
    return false;
}

bool CMigrateDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result)
{
    switch (message) {
    case WM_SYSCOMMAND:
        result = TRUE;
        return OnSysCommand(UINT(wParam));
    case WM_PAINT:
        result = TRUE;
        return OnPaint();
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<INT_PTR>(OnQueryDragIcon());
        return true;
    case WM_LIST_SELCHANGE:
        OnListSelChange();
        result = TRUE;
        return true;
    case WM_WORKER_FINISHED:
        EndRun(unsigned(wParam));
        result = TRUE;
        return true;
    case WM_ROWS_PENDING:
        InsertPendingRows();
        result = TRUE;
        return true;
    case WM_TIMER:
        if (wParam != TIMER_SHOW_ROWS)
            return false;
        KillTimer(Hwnd(), TIMER_SHOW_ROWS);
        if (m_rowsWaitingToShow)
            ShowWaitingRows();
        result = TRUE;
        return true;
    default:
        return false;
    }
}
