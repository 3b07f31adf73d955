#pragma once

// Has the process look for a library loaded by name in System32 alone: not
// in the current directory, nor beside the exe, nor along PATH, where others
// may have put one (the guide keeps the tool in folders only administrators
// write, but the tool does not count on it). The first thing the tool does.
void searchLibrariesInSystem32Only();

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
