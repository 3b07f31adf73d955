#pragma once

#include <windows.h>

// Thread routine of a refresh: fills the dialog's list with everything the
// beta installation has to migrate. `view` is the dialog's IMigrationView.
DWORD WINAPI t_processRefresh(LPVOID view);
