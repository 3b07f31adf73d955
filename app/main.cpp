#include "app/migrate_app.h"

#include <windows.h>

namespace {
CMigrateApp theApp;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    removeCurrentDirectoryFromDllSearch();
    theApp.InitInstance();
    return 0;
}
