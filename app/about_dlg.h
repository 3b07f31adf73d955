#pragma once

#include "app/dialog.h"
#include "res/resource.h"

// The About box, reached from the window's system menu.
class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(HWND parent) : CDialog(IDD_ABOUTBOX, parent) {}
};
