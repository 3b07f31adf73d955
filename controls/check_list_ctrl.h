// The check-box list: a report-view list with the platform's check boxes,
// subclassed so that its own mouse handling runs before the list view's.
// It knows nothing of what its rows stand for: the owner keeps one value per
// row (the item data) and supplies the sort key of a cell from it.
#pragma once

#include "controls/sort_key.h"
#include "window/handle.h"
#include "window/list_view.h"

#include <functional>
#include <string>

// Posted to the parent when a row's selection or check box changes.
constexpr UINT WM_LIST_SELCHANGE = WM_USER + 22;

class CCheckListCtrl : public CListView {
public:
    // The text a header click sorts a row by: (the row's item data, column).
    using SortKey = std::function<std::wstring(LPARAM, int)>;

    CCheckListCtrl() = default;
    ~CCheckListCtrl() override;
    CCheckListCtrl(const CCheckListCtrl&) = delete;
    CCheckListCtrl& operator=(const CCheckListCtrl&) = delete;

    // Builds the small-icon list from the program's icon resources listed in
    // `iconIds` (zero-terminated); icons that cannot be loaded are left out.
    // Handed to the list view on attach. False when no list could be made.
    bool CreateSmallIcons(const UINT* iconIds);
    HIMAGELIST SmallIcons() const { return m_smallIcons.Get(); }
    // The message posted to the parent on a change (0: none).
    void SetChangeNotify(UINT message) { m_changeMessage = message; }
    // While held, changes post nothing; the release posts one change message
    // for all of them, when there were any. For rows added in a batch, which
    // would otherwise post one or two each (list's thread only).
    void HoldChangeNotices(bool hold);
    // Header clicks sort by this key while sorting is allowed.
    void SetSortKey(SortKey key) { m_sortKey = std::move(key); }
    void AllowSorting(bool allowed) { m_sortingAllowed = allowed; }

    // Takes over an existing list view and subclasses it. The control does
    // not own the window.
    bool Attach(HWND listView);

    // For the parent's WM_NOTIFY coming from the list. True when the control
    // handled the notice; `result` is then the value to return for it.
    bool HandleNotify(const NMHDR* header, LRESULT& result);

    // The last row that is both focused and selected, or -1.
    int GetSelectedRow() const;
    // Selects and focuses the row and scrolls it fully into view; takes the
    // keyboard focus too when called on the list's own thread.
    void SelectAndShowRow(int row);
    // With the platform's two-image check boxes 1 and 2 swap and a stray 3
    // becomes 1; a list with state images of its own goes 1 and 2 to 3, 3 to 1.
    void ToggleCheck(int row);

    int RowCount() const;
    bool IsChecked(int row) const;
    bool SetChecked(int row, bool checked);
    // Adds `item` as row `item.iItem` with the texts of `columns` columns
    // (the first being the row's own) and its check box set, answering the
    // row or -1 when the list refused it. On the list's thread only: for
    // rows by the thousand, the messages go straight to the list's own
    // procedure, not round through this class's, which takes none of them.
    int InsertRow(LVITEMW item, const std::wstring* const* texts, int columns, bool checked);
    // The row's item data (0 for a row that does not exist).
    LPARAM RowData(int row) const;
    bool SetCellText(int row, int column, const std::wstring& text);

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT CallDefault(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnLeftDown(WPARAM wParam, LPARAM lParam);
    LRESULT OnLeftDoubleClick(WPARAM wParam, LPARAM lParam);
    LRESULT OnHorizontalScroll(WPARAM wParam, LPARAM lParam);
    void OnItemChanged(const NMLISTVIEW& change);
    void OnColumnClick(int column);
    void OnSetFocus();
    static int CALLBACK CompareRows(LPARAM first, LPARAM second, LPARAM self);

    void SelectFocusAndShow(int row, bool takeFocus);
    UINT StateImageIndex(int row) const;
    void PostToParent(UINT message, WPARAM wParam, LPARAM lParam) const;
    void Detach();

    WNDPROC m_previousProc = nullptr;
    CImageListHandle m_smallIcons;
    UINT m_changeMessage = 0;
    bool m_noticesHeld = false;
    bool m_noticeWaiting = false;
    LPARAM m_waitingNotice = 0;
    SortKey m_sortKey;
    bool m_sortingAllowed = true;
    int m_sortColumn = 0;
};
