// The migration list: a report-view list with check boxes whose rows carry
// MigrationItem records. It wraps an existing list view by subclassing it, so
// its own mouse handling runs before the list view's.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

struct MigrationItem;

// Posted to the parent when a row's selection or check box changes.
constexpr UINT WM_LIST_SELCHANGE = WM_USER + 22;
// Posted to the parent after a double-click on a row (both parameters 0).
constexpr UINT WM_LIST_DBLCLICK = WM_USER + 11;

// Sent to the list itself: runs the std::function<void()> at lParam on the list's thread.
constexpr UINT WM_LIST_RUN = WM_APP + 0x3A0;

// View-menu commands the control answers.
constexpr UINT ID_VIEW_LIST = 32771;
constexpr UINT ID_VIEW_DETAILS = 32772;
constexpr UINT ID_VIEW_SMALLICONS = 32773;
constexpr UINT ID_VIEW_LARGEICONS = 32774;

// Header-click order of two cell keys: both trimmed; keys made only of digits
// and full stops (the empty key too) compare by the integer of their leading
// digits, anything else compares as text without regard to case.
// Returns -1, 0 or 1.
int compareSortKeys(const std::wstring& first, const std::wstring& second);

// The key a record gives for a column: the record's texts in column order,
// empty for any other column or for a row without a record.
std::wstring sortKeyOf(const MigrationItem* record, int column);

class CCheckListCtrl {
public:
    // Which image list createImageList builds.
    enum { IMAGES_NORMAL = 0, IMAGES_SMALL = 1, IMAGES_STATE = 2 };

    struct ViewMenuEntry {
        int enabled = 1;
        int checked = 0;
        UINT commandId = 0;
        std::wstring text;
    };

    CCheckListCtrl();
    virtual ~CCheckListCtrl();
    CCheckListCtrl(const CCheckListCtrl&) = delete;
    CCheckListCtrl& operator=(const CCheckListCtrl&) = delete;

    // Options: set them before attach().
    void enableDrag(int on) { m_dragEnabled = on; }
    void useDefaultImageLists(int on) { m_defaultImageLists = on; }
    void setRecordRows(int on) { m_recordRows = on; }
    void setClickToggle(int on) { m_clickToggle = on; }
    void setChangeNotify(int on, UINT message);

    // Builds image list `which` (IMAGES_NORMAL/SMALL/STATE) from the program's
    // icon resources listed in iconIds (zero-terminated) and marks it to be
    // handed to the list view on attach. Icons that cannot be loaded are left
    // out. Non-zero when the list was built.
    int createImageList(int which, const UINT* iconIds, UINT bitmapId, int height, int width,
                        int initialSize, int growth);

    // Takes over an existing list view: prepares the view menu, hands it the
    // image lists marked installed, and subclasses it. The control does not
    // own the window.
    bool attach(HWND listView);
    HWND hwnd() const { return m_hwnd; }
    operator HWND() const { return m_hwnd; }

    // For the parent's WM_NOTIFY coming from the list. True when the control
    // handled the notice; `result` is then the value to return for it.
    bool handleNotify(const NMHDR* header, LRESULT& result);

    void setView(int view);
    // The last row that is both focused and selected, or -1.
    int getSelectedRow() const;
    // Selects and focuses the row and scrolls it fully into view; takes the
    // keyboard focus too when called on the list's own thread. Returns 0.
    int selectAndShowRow(int row);
    // With state images of its own: 1 and 2 become 3, 3 becomes 1. With the
    // platform's two-image check boxes: 1 and 2 swap, 3 becomes 1. Any other
    // index stays.
    virtual void toggleCheck(int row);

    // Thin list helpers; safe to call from worker threads (each is one
    // window call, carried out on the list's thread).
    int rowCount() const;
    bool isChecked(int row) const;
    bool setChecked(int row, bool checked);
    MigrationItem* rowRecord(int row) const;
    bool setCellText(int row, int column, const std::wstring& text);
    std::wstring cellText(int row, int column) const;
    void setRedraw(bool on);
    // Runs `work` on the list's own thread and returns when it is done: many
    // list operations in one window call, for bulk work from a worker thread.
    void runOnListThread(const std::function<void()>& work);

    // What the owner configured, for checks.
    int changeNotify() const { return m_changeNotify; }
    UINT changeMessage() const { return m_changeMessage; }
    HIMAGELIST imageList(int which) const;
    const std::vector<ViewMenuEntry>& viewMenuEntries() const { return m_viewMenuEntries; }
    int currentViewIndex() const { return m_currentViewIndex; }
    POINT lastLeftPress() const { return m_lastLeft; }
    POINT lastRightPress() const { return m_lastRight; }

protected:
    virtual void createDefaultImageLists();
    virtual void buildViewMenu(std::vector<ViewMenuEntry>& entries);

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT callDefault(UINT message, WPARAM wParam, LPARAM lParam);
    void unhook(HWND hwnd);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onLeftDown(WPARAM wParam, LPARAM lParam);
    LRESULT onLeftDoubleClick(WPARAM wParam, LPARAM lParam);
    LRESULT onRightDown(WPARAM wParam, LPARAM lParam);
    LRESULT onHorizontalScroll(WPARAM wParam, LPARAM lParam);

    void onItemChanged(const NMLISTVIEW& change);
    void onColumnClick(int column);
    void onSetFocus();
    void onEndLabelEdit(const NMLVDISPINFOW& info);

    void selectFocusAndShow(int row, bool takeFocus);
    UINT stateImageIndex(int row) const;
    HWND parentWindow() const;
    void releaseHandedImageLists();
    void detach();

    HWND m_hwnd = nullptr;
    WNDPROC m_previousProc = nullptr;

    int m_dragEnabled = 1;
    int m_defaultImageLists = 1;
    HIMAGELIST m_images[3] = {nullptr, nullptr, nullptr};
    int m_installed[3] = {0, 0, 0};
    int m_recordRows = 0;
    int m_changeNotify = 0;
    UINT m_changeMessage = 0;
    int m_rightClickNotify = 0;
    UINT m_rightClickMessage = 0;
    int m_inputBlocked = 0;
    int m_forwardLeft = 1;
    int m_forwardRight = 1;
    int m_clickToggle = 0;

    POINT m_lastLeft = {-1, -1};
    POINT m_lastRight = {-1, -1};
    int m_clientWidth = 0;

    HMENU m_viewMenu = nullptr;
    std::vector<ViewMenuEntry> m_viewMenuEntries;
    int m_currentViewIndex = 0;
};
