#include "app/migrate_app.h"
#include "app/migrate_dlg.h"
#include "app/single_run.h"
#include "app/unattended_run.h"

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace {
CMigrateApp theApp;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    searchLibrariesInSystem32Only();
    int count = 0;
    std::vector<std::wstring> args;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
        args.assign(argv + (count > 0 ? 1 : 0), argv + count);
        LocalFree(argv);
    }
    if (!args.empty())
        return runUnattended(args);

    // The window, one copy at a time, as the unattended run.
    CSingleRun single;
    if (!single.Taken()) {
        MessageBoxW(nullptr, ANOTHER_COPY_TEXT, APP_TITLE, MB_OK | MB_ICONWARNING);
        return EXIT_CANNOT_RUN;
    }
    if (!single.Holder().empty())
        MessageBoxW(nullptr, single.HolderText().c_str(), APP_TITLE, MB_OK | MB_ICONWARNING);
    theApp.InitInstance();
    return 0;
}
