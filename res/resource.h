// Resource ids of quarnrept_migrate. Included by the C++ sources and by
// quarnrept_migrate.rc (windres and rc.exe), so only #define lines here.
#ifndef QM_RES_RESOURCE_H
#define QM_RES_RESOURCE_H

// Dialog templates and strings
#define IDD_ABOUTBOX                    100
#define IDS_ABOUTBOX                    101
#define IDD_QUARNREPT_MIGRATE_DIALOG    102

// Icons: the application icon and the three row icons of the item list
#define IDR_MAINFRAME                   128
#define IDI_DOCUMENT                    129
#define IDI_REGISTRY                    130
#define IDI_CORD                        131

// Controls of the main dialog. Migrate and Done use IDOK (1) and IDCANCEL (2)
// from windows.h, so Enter and Escape reach them without extra routing.
#define IDC_REFRESH                     3
#define IDC_CLEAR_ALL                   4
#define IDC_SELECT_ALL                  5
#define IDC_HELP_BUTTON                 9
#define IDC_DEST_PATH                   1001
#define IDC_SOURCE_PATH                 1002
#define IDC_ITEM_LIST                   1003
#define IDC_STATUS                      1052

// System-menu command of the About entry; the low four bits stay clear
// because the system uses them in WM_SYSCOMMAND.
#define IDM_ABOUTBOX                    0x0010

#endif
