// The dialog's side of the workers' contract. Each row operation is one
// window call: made from a worker's thread, the system carries it out on the
// dialog's thread before it returns (RunOnOwnThread), which is the only
// thread that touches the list and the row store.
#include "app/migrate_dlg.h"

#include "common/trace/trace.h"

namespace {

// Image list indexes of the list's rows.
constexpr int ITEM_IMAGE_REGISTRY = 2;
constexpr int ITEM_IMAGE_FILE = 4;

// How often rows that a refresh adds are drawn while it runs.
constexpr ULONGLONG ROWS_SHOWN_EVERY_MS = 250;

// How many handed-over rows may wait for the dialog's thread before the
// worker waits for them: a worker that scans faster than the list takes
// rows would otherwise hold a second copy of the whole refresh.
constexpr size_t MOST_ROWS_WAITING = 4096;

} // namespace

void CMigrateDlg::SetStatus(const std::wstring& text) { m_status.SetText(text); }

void CMigrateDlg::SetSourcePath(const std::wstring& text) { m_sourcePath.SetText(text); }

void CMigrateDlg::SetDestinationPath(const std::wstring& text) { m_destPath.SetText(text); }

void CMigrateDlg::EnableWorkerButtons(unsigned buttons)
{
    m_btnMigrate.Enable((buttons & BUTTON_MIGRATE) != 0);
    m_btnClearAll.Enable((buttons & BUTTON_CLEAR_ALL) != 0);
    m_btnSelectAll.Enable((buttons & BUTTON_SELECT_ALL) != 0);
    m_btnRefresh.Enable((buttons & BUTTON_REFRESH) != 0);
    m_btnDone.Enable((buttons & BUTTON_DONE) != 0);
}


void CMigrateDlg::AddListItems(const NewListItem* items, size_t count)
{
    CTraceLines lines;
    for (size_t i = 0; i < count && traceCategoryOn[TRACE_CAT_APP]; ++i)
        QM_TRACE_TO(lines, TRACE_CAT_APP, L"quarnrept_migr: add list item: %s\n", items[i].description.c_str());
    lines.WriteAll();
    if (!m_list.Exists() || count == 0)
        return;
    if (m_list.OwnThread()) {
        InsertPendingRows();
        InsertRows(items, count);
        return;
    }
    // A worker hands the rows over and goes on: the dialog's thread puts
    // them in while the worker looks for the next ones. Its next call that
    // reads or changes the list waits for them (OnListThread).
    bool posted = true;
    bool backlog = false;
    {
        std::lock_guard<std::mutex> hold(m_pendingLock);
        m_pendingRows.insert(m_pendingRows.end(), items, items + count);
        if (!m_pendingPosted)
            posted = m_pendingPosted = Post(WM_ROWS_PENDING);
        backlog = m_pendingRows.size() >= MOST_ROWS_WAITING;
    }
    if (!posted || backlog)
        OnListThread([] {}); // no message could be posted, or too many wait: they go in now
}

void CMigrateDlg::InsertPendingRows()
{
    std::vector<NewListItem> rows;
    {
        std::lock_guard<std::mutex> hold(m_pendingLock);
        rows.swap(m_pendingRows);
        m_pendingPosted = false;
    }
    try {
        InsertRows(rows.data(), rows.size());
    } catch (...) {
        if (!m_pendingError)
            m_pendingError = std::current_exception();
    }
}

void CMigrateDlg::OnListThread(const std::function<void()>& work)
{
    RunOnOwnThread([&] {
        InsertPendingRows();
        if (m_pendingError) {
            std::exception_ptr error = m_pendingError;
            m_pendingError = nullptr;
            std::rethrow_exception(error);
        }
        work();
    });
}

void CMigrateDlg::InsertRows(const NewListItem* items, size_t count)
{
    if (count == 0)
        return;
    // Rows go in with drawing off; and since drawing the list costs far
    // more than a batch of rows, the list is drawn again only when a
    // quarter of a second has passed since it last was (or was emptied),
    // and at the end of the run.
    if (!m_rowsWaitingToShow) {
        m_list.SetRedraw(false);
        m_rowsWaitingToShow = true;
    }
    // New rows are never the selected one, so the dialog's answer to
    // their changes is the same for one notice as for thousands.
    struct NoticeHold {
        CCheckListCtrl& list;
        ~NoticeHold() { list.HoldChangeNotices(false); }
    } hold { m_list };
    m_list.HoldChangeNotices(true);
    int next = m_list.RowCount();
    for (size_t i = 0; i < count; ++i) {
        const NewListItem& add = items[i];
        const LPARAM id = m_rows.Add(add);
        const MigrationItem& record = *m_rows.Find(id);

        LVITEMW insert = {};
        insert.mask = LVIF_IMAGE | LVIF_PARAM;
        insert.iItem = next;
        insert.iImage = add.kind == ITEM_REGISTRY_SETTINGS ? ITEM_IMAGE_REGISTRY : ITEM_IMAGE_FILE;
        insert.lParam = id;
        const std::wstring state = stateText(record.state);
        const std::wstring* texts[] = { &record.description, &record.sourceName, &record.conversion,
                                        &record.destinationName, &state };
        const int row = m_list.InsertRow(insert, texts, 5, true);
        if (row < 0) {
            m_rows.Remove(id); // the list refused the row: no row, no record
            continue;
        }
        next = row + 1;
    }
    if (m_rowsWaitingToShow && GetTickCount64() - m_rowsShownAt >= ROWS_SHOWN_EVERY_MS)
        ShowWaitingRows();
}

void CMigrateDlg::ShowWaitingRows()
{
    KillTimer(Hwnd(), TIMER_SHOW_ROWS);
    m_rowsWaitingToShow = false;
    m_rowsShownAt = GetTickCount64();
    m_list.SetRedraw(true);
    m_list.Invalidate();
}

void CMigrateDlg::ClearList()
{
    if (!m_list.Exists())
        return;
    OnListThread([&] {
        // (An empty list is not emptied again: that would still draw it.)
        if (m_list.RowCount() > 0) {
            // The emptied list waits to be drawn like new rows do, so that a
            // refresh that ends within a quarter of a second draws the list
            // once, not empty and then full. A timer draws it should no rows
            // come by then.
            if (!m_rowsWaitingToShow) {
                m_list.SetRedraw(false);
                m_rowsWaitingToShow = true;
            }
            m_list.DeleteAllItems();
            SetTimer(Hwnd(), TIMER_SHOW_ROWS, UINT(ROWS_SHOWN_EVERY_MS), nullptr);
        }
        m_rows.Clear();
        m_rowsShownAt = GetTickCount64();
    });
}

int CMigrateDlg::RowCount()
{
    int rows = 0;
    OnListThread([&] { rows = m_list.RowCount(); });
    return rows;
}

void CMigrateDlg::SetListRedraw(bool on)
{
    OnListThread([&] {
        if (on && m_rowsWaitingToShow && m_list.RowCount() == 0)
            return; // an emptied list is drawn by its timer, or with the first rows
        if (on && m_rowsWaitingToShow)
            ShowWaitingRows();
        else
            m_list.SetRedraw(on);
    });
}

void CMigrateDlg::SelectAndShowRow(int row)
{
    // Selected from a worker's thread, as before, after its rows are in.
    if (!m_list.OwnThread())
        OnListThread([] {});
    m_list.SelectAndShowRow(row);
}

std::vector<TakenRecord> CMigrateDlg::TakeRecords()
{
    std::vector<TakenRecord> taken;
    OnListThread([&] {
        const int rows = m_list.RowCount();
        for (int row = 0; row < rows; ++row) {
            const LPARAM id = m_list.RowData(row);
            if (const MigrationItem* record = m_rows.Find(id))
                taken.push_back(TakenRecord { id, *record });
        }
    });
    return taken;
}

bool CMigrateDlg::ShowRecordRowIfTicked(LPARAM id)
{
    bool ticked = false;
    OnListThread([&] {
        const int row = m_list.FindItemByParam(id);
        ticked = row >= 0 && m_list.IsChecked(row);
        if (ticked)
            m_list.SelectAndShowRow(row);
    });
    // So that a person can watch the selection move down the list.
    if (ticked)
        Sleep(250);
    return ticked;
}

void CMigrateDlg::SetRecordState(LPARAM id, const RowState& state)
{
    OnListThread([&] {
        if (!m_rows.SetState(id, state))
            return;
        const int row = m_list.FindItemByParam(id);
        if (row >= 0)
            m_list.SetCellText(row, 4, stateText(state));
    });
}

void CMigrateDlg::SetInstallPaths(const std::wstring& betaPath, const std::wstring& gaPath)
{
    m_betaPath = betaPath;
    m_gaPath = gaPath;
}

bool CMigrateDlg::ShowMessage(const std::wstring& text, MessageKind kind)
{
    UINT type = MB_OK;
    switch (kind) {
    case MessageKind::Plain:
        break;
    case MessageKind::Warning:
        type |= MB_ICONWARNING;
        break;
    case MessageKind::Error:
        type |= MB_ICONERROR;
        break;
    case MessageKind::Question:
        type = MB_YESNO | MB_ICONQUESTION;
        break;
    }
    return MessageBoxW(Hwnd(), text.c_str(), APP_TITLE, type) == IDYES;
}

void CNoticeBoxes::Tell(const std::wstring& text, const std::wstring& caption, NoticeKind kind)
{
    const UINT icon = kind == NoticeKind::Error ? MB_ICONERROR : MB_ICONWARNING;
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | icon);
}
