#pragma once

// The application object: runs the main dialog modally; the process ends
// when the dialog closes.
class CMigrateApp {
public:
    // Returns false so that the process ends after the dialog.
    bool InitInstance();
};
