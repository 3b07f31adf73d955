#include "discovery/migration_view.h"

#include "common/trace/trace.h"

#include <commctrl.h>

#include <memory>
#include <new>

const wchar_t ITEM_STATE_NOT_STARTED[] = L"Not Started";

namespace {

// Appends one ticked row owning a new record. Runs on the list's thread.
void insertRow(CCheckListCtrl& list, const NewListItem& add)
{
    std::unique_ptr<MigrationItem> item(new (std::nothrow) MigrationItem);
    if (!item)
        return;
    item->description = add.description;
    item->sourceName = add.sourceName;
    item->conversion = add.conversion;
    item->destinationName = add.destinationName;
    item->state = ITEM_STATE_NOT_STARTED;
    item->sourceRoot = add.sourceRoot;
    item->destinationRoot = add.destinationRoot;
    item->kind = add.kind;

    LVITEMW insert = {};
    insert.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    insert.iItem = list.rowCount();
    insert.pszText = const_cast<wchar_t*>(L"");
    insert.iImage = add.kind == ITEM_REGISTRY_SETTINGS ? ITEM_IMAGE_REGISTRY : ITEM_IMAGE_FILE;
    insert.lParam = reinterpret_cast<LPARAM>(item.get());
    const int row = int(SendMessageW(list.hwnd(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (row < 0)
        return; // the list refused the row: no row, no record
    const MigrationItem* record = item.release(); // the row owns it now; ClearList releases it

    list.setCellText(row, 0, record->description);
    list.setCellText(row, 1, record->sourceName);
    list.setCellText(row, 2, record->conversion);
    list.setCellText(row, 3, record->destinationName);
    list.setCellText(row, 4, record->state);
    list.setChecked(row, true);
}

} // namespace

int CMigrationView::AddListItem(ItemKind kind, const std::wstring& description, const std::wstring& sourceName,
                                const std::wstring& sourceRoot, const std::wstring& destinationName,
                                const std::wstring& destinationRoot, const std::wstring& conversion)
{
    const NewListItem item{kind, description, sourceName, sourceRoot, destinationName, destinationRoot, conversion};
    AddListItems(&item, 1);
    return 0;
}

void CMigrationView::AddListItems(const NewListItem* items, size_t count)
{
    for (size_t i = 0; i < count && traceCategoryOn[TRACE_CAT_APP]; ++i)
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: add list item: %s\n", items[i].description.c_str());
    const HWND list = m_list.hwnd();
    if (!list || !IsWindow(list) || count == 0)
        return;
    // Every row operation is one window call; made from a worker thread each
    // would be a round trip to the dialog's thread, and with drawing on each
    // row would repaint the list. So the rows go in as one call, drawn once.
    m_list.runOnListThread([&] {
        if (count > 1)
            SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        for (size_t i = 0; i < count; ++i)
            insertRow(m_list, items[i]);
        if (count > 1) {
            SendMessageW(list, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(list, nullptr, TRUE);
        }
    });
}

void CMigrationView::ClearList()
{
    const HWND list = m_list.hwnd();
    if (!list || !IsWindow(list))
        return;
    m_list.runOnListThread([&] {
        const int rows = m_list.rowCount();
        if (rows > 1)
            SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        for (int row = rows - 1; row >= 0; --row) {
            delete m_list.rowRecord(row);
            SendMessageW(list, LVM_DELETEITEM, row, 0);
        }
        if (rows > 1) {
            SendMessageW(list, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(list, nullptr, TRUE);
        }
    });
}

void CMigrationView::enableWorkerButtons(bool migrate, bool clearAll, bool selectAll, bool refresh, bool done)
{
    m_btnMigrate.enable(migrate);
    m_btnClearAll.enable(clearAll);
    m_btnSelectAll.enable(selectAll);
    m_btnRefresh.enable(refresh);
    m_btnDone.enable(done);
}
