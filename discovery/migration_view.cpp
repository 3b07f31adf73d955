#include "discovery/migration_view.h"

#include "common/trace/trace.h"

#include <commctrl.h>

#include <memory>
#include <new>

const wchar_t ITEM_STATE_NOT_STARTED[] = L"Not Started";

int CMigrationView::AddListItem(ItemKind kind, const std::wstring& description, const std::wstring& sourceName,
                                const std::wstring& sourceRoot, const std::wstring& destinationName,
                                const std::wstring& destinationRoot, const std::wstring& conversion)
{
    if (traceCategoryOn[TRACE_CAT_APP])
        traceWrite(__FILE__, __LINE__, L"quarnrept_migr: add list item: %s\n", description.c_str());

    const HWND list = m_list.hwnd();
    const int row = m_list.rowCount();
    if (!list || !IsWindow(list))
        return 0;

    std::unique_ptr<MigrationItem> item(new (std::nothrow) MigrationItem);
    if (!item)
        return 0;

    LVITEMW insert = {};
    insert.mask = LVIF_TEXT | LVIF_IMAGE;
    insert.iItem = row;
    insert.pszText = const_cast<wchar_t*>(L"");
    insert.iImage = kind == ITEM_REGISTRY_SETTINGS ? ITEM_IMAGE_REGISTRY : ITEM_IMAGE_FILE;
    const int inserted = int(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (inserted < 0)
        return 0;

    item->description = description;
    item->sourceName = sourceName;
    item->conversion = conversion;
    item->destinationName = destinationName;
    item->state = ITEM_STATE_NOT_STARTED;
    item->sourceRoot = sourceRoot;
    item->destinationRoot = destinationRoot;
    item->kind = kind;

    LVITEMW data = {};
    data.mask = LVIF_PARAM;
    data.iItem = inserted;
    data.lParam = reinterpret_cast<LPARAM>(item.get());
    if (!SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&data))) {
        // A row without its record could not be migrated or released.
        SendMessageW(list, LVM_DELETEITEM, inserted, 0);
        return 0;
    }
    MigrationItem* record = item.release(); // the row owns it now; ClearList releases it

    m_list.setCellText(inserted, 0, record->description);
    m_list.setCellText(inserted, 1, record->sourceName);
    m_list.setCellText(inserted, 2, record->conversion);
    m_list.setCellText(inserted, 3, record->destinationName);
    m_list.setCellText(inserted, 4, record->state);
    m_list.setChecked(inserted, true);
    return 0;
}

void CMigrationView::ClearList()
{
    const HWND list = m_list.hwnd();
    if (!list || !IsWindow(list))
        return;
    for (int row = m_list.rowCount() - 1; row >= 0; --row) {
        delete m_list.rowRecord(row);
        SendMessageW(list, LVM_DELETEITEM, row, 0);
    }
}

void CMigrationView::enableWorkerButtons(bool migrate, bool clearAll, bool selectAll, bool refresh, bool done)
{
    m_btnMigrate.enable(migrate);
    m_btnClearAll.enable(clearAll);
    m_btnSelectAll.enable(selectAll);
    m_btnRefresh.enable(refresh);
    m_btnDone.enable(done);
}
