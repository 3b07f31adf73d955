#include "discovery/migration_view.h"

#include "common/trace/trace.h"

const wchar_t ITEM_STATE_NOT_STARTED[] = L"Not Started";

int CMigrationView::AddListItem(ItemKind kind, const std::wstring& description, const std::wstring& sourceName,
                                const std::wstring& sourceRoot, const std::wstring& destinationName,
                                const std::wstring& destinationRoot, const std::wstring& conversion)
{
    const NewListItem item {
        kind, description, sourceName, sourceRoot, destinationName, destinationRoot, conversion, {}
    };
    AddListItems(&item, 1);
    return 0;
}

void CMigrationView::AddListItems(const NewListItem* items, size_t count)
{
    for (size_t i = 0; i < count && traceCategoryOn[TRACE_CAT_APP]; ++i)
        QM_TRACE(TRACE_CAT_APP, L"quarnrept_migr: add list item: %s\n", items[i].description.c_str());
    if (!m_list.exists() || count == 0)
        return;
    // Every row operation is one window call; made from a worker thread each
    // would be a round trip to the dialog's thread, and with drawing on each
    // row would repaint the list. So the rows go in as one call, drawn once.
    m_list.runOnListThread([&] {
        if (count > 1)
            m_list.setRedraw(false);
        for (size_t i = 0; i < count; ++i) {
            const NewListItem& add = items[i];
            MigrationItem record;
            record.description = add.description;
            record.sourceName = add.sourceName;
            record.sourceFileName = add.sourceFileName.empty() ? add.sourceName : add.sourceFileName;
            record.conversion = add.conversion;
            record.destinationName = add.destinationName;
            record.state = ITEM_STATE_NOT_STARTED;
            record.sourceRoot = add.sourceRoot;
            record.destinationRoot = add.destinationRoot;
            record.kind = add.kind;
            const LPARAM id = m_rows.add(record);

            LVITEMW insert = {};
            insert.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
            insert.iItem = m_list.rowCount();
            insert.pszText = const_cast<wchar_t*>(record.description.c_str());
            insert.iImage = add.kind == ITEM_REGISTRY_SETTINGS ? ITEM_IMAGE_REGISTRY : ITEM_IMAGE_FILE;
            insert.lParam = id;
            const int row = m_list.insertItem(insert);
            if (row < 0) {
                m_rows.remove(id); // the list refused the row: no row, no record
                continue;
            }
            m_list.setCellText(row, 1, record.sourceName);
            m_list.setCellText(row, 2, record.conversion);
            m_list.setCellText(row, 3, record.destinationName);
            m_list.setCellText(row, 4, record.state);
            m_list.setChecked(row, true);
        }
        if (count > 1) {
            m_list.setRedraw(true);
            m_list.invalidate();
        }
    });
}

void CMigrationView::ClearList()
{
    if (!m_list.exists())
        return;
    m_list.runOnListThread([&] {
        m_list.deleteAllItems();
        m_rows.clear();
    });
}

std::vector<TakenRecord> CMigrationView::takeRecords()
{
    std::vector<TakenRecord> taken;
    m_list.runOnListThread([&] {
        const int rows = m_list.rowCount();
        for (int row = 0; row < rows; ++row) {
            const LPARAM id = m_list.rowData(row);
            if (const MigrationItem* record = m_rows.find(id))
                taken.push_back(TakenRecord { id, *record });
        }
    });
    return taken;
}

bool CMigrationView::showRecordRowIfTicked(LPARAM id)
{
    bool ticked = false;
    m_list.runOnListThread([&] {
        const int row = m_list.findItemByParam(id);
        ticked = row >= 0 && m_list.isChecked(row);
        if (ticked)
            m_list.selectAndShowRow(row);
    });
    return ticked;
}

void CMigrationView::setRecordState(LPARAM id, const std::wstring& state)
{
    m_list.runOnListThread([&] {
        if (!m_rows.setState(id, state))
            return;
        const int row = m_list.findItemByParam(id);
        if (row >= 0)
            m_list.setCellText(row, 4, state);
    });
}

void CMigrationView::enableWorkerButtons(unsigned buttons)
{
    m_btnMigrate.enable((buttons & BUTTON_MIGRATE) != 0);
    m_btnClearAll.enable((buttons & BUTTON_CLEAR_ALL) != 0);
    m_btnSelectAll.enable((buttons & BUTTON_SELECT_ALL) != 0);
    m_btnRefresh.enable((buttons & BUTTON_REFRESH) != 0);
    m_btnDone.enable((buttons & BUTTON_DONE) != 0);
}
