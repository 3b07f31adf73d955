#pragma once

// Takes the current directory out of the process's DLL search, so that no
// library the tool or the help control loads by name can be planted beside
// wherever the tool was started from. The first thing the tool does.
void removeCurrentDirectoryFromDllSearch();

// Starts the tool's trace, trace_quarnrept_migrate.txt in the current
// directory, anew, with the application's lines only; the window and the
// unattended run alike.
void openToolTrace();

// The application object: runs the main dialog modally; the process ends
// when the dialog closes.
class CMigrateApp {
public:
    // Returns false so that the process ends after the dialog.
    bool InitInstance();
};
