#include "app/migrate_app.h"

#include "app/migrate_dlg.h"
#include "common/trace/trace.h"

#include <commctrl.h>

void searchLibrariesInSystem32Only()
{
    // SetDefaultDllDirectories is missing before Windows 8 without update
    // KB2533623; SetDllDirectoryW(L"") drops the current directory everywhere.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryW(L"");
}

void openToolTrace()
{
    traceInit();
    traceOpen(TRACE_ENABLED, L"trace_quarnrept_migrate.txt", TRACE_TRUNCATE);
    traceSetCategory(TRACE_CAT_ALL, TRACE_OFF);
    traceSetCategory(TRACE_CAT_APP, TRACE_ON);
}

bool CMigrateApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    CMigrateDlg dialog(nullptr);
    dialog.DoModal();
    return false;
}
