#include "app/migrate_app.h"

#include "app/migrate_dlg.h"

#include <commctrl.h>

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
