#include "discovery/refresh_worker.h"

#include "common/trace/trace.h"
#include "discovery/migration_view.h"

#include <commctrl.h>

DWORD WINAPI t_processRefresh(LPVOID parameter)
{
    CMigrationView* view = static_cast<CMigrationView*>(parameter);
    DWORD result = 0;
    int rowsFound = 0;
    try {
        if (traceCategoryOn[TRACE_CAT_APP])
            traceWrite(__FILE__, __LINE__, L"quarnrept_migr: entering t_processRefresh\n");
        view->disableWorkerButtons();
        view->m_list.setRedraw(true);
        view->m_status.setText(L"Working");
        view->ClearList();

        if (traceCategoryOn[TRACE_CAT_APP])
            traceWrite(__FILE__, __LINE__, L"quarnrept_migr: refresh list\n");
        rowsFound = 1;
        if (view->m_list.rowCount() == 0) {
            view->AddListItem(ITEM_NONE_FOUND, L"No items were found", L"", L"", L"", L"", L"");
            rowsFound = 0;
        }
        view->m_list.selectAndShowRow(0);
        view->m_list.setRedraw(true);

        view->enableWorkerButtons(rowsFound != 0, rowsFound != 0, rowsFound != 0, true, true);
        view->m_status.setText(L"Ready");
    } catch (...) {
    }
    if (traceCategoryOn[TRACE_CAT_APP])
        traceWrite(__FILE__, __LINE__, L"quarnrept_migr: leaving refresh\n");
    return result;
}
