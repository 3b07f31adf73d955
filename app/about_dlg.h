#pragma once

#include "res/resource.h"
#include "window/dialog.h"

// The About box, reached from the window's system menu.
class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(HWND parent) : CDialog(IDD_ABOUTBOX, parent) {}
};
