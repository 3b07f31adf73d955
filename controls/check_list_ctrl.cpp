#include "controls/check_list_ctrl.h"


#include <cwchar>
#include <cwctype>

namespace {

const UINT STATE_IMAGE_MASK = 0xF000;
const UINT STATE_IMAGE_UNTICKED = 0x1000;
const UINT STATE_IMAGE_TICKED = 0x2000;

POINT pointOf(LPARAM lParam)
{
    POINT p = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    return p;
}

} // namespace

CCheckListCtrl::~CCheckListCtrl()
{
    Detach();
}

bool CCheckListCtrl::CreateSmallIcons(const UINT* iconIds)
{
    CImageListHandle images(ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 8, 2));
    if (!images.IsValid())
        return false;
    HINSTANCE module = GetModuleHandleW(nullptr);
    for (const UINT* id = iconIds; id && *id; ++id) {
        HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(*id), IMAGE_ICON, 16, 16, 0));
        if (!icon)
            continue;
        ImageList_AddIcon(images.Get(), icon);
        DestroyIcon(icon);
    }
    m_smallIcons = std::move(images);
    return true;
}

bool CCheckListCtrl::Attach(HWND listView)
{
    if (Hwnd() || !IsWindow(listView))
        return false;
    // Plain window-procedure subclassing: the list's own messages are many
    // (every row operation is one), and SetWindowSubclass costs a property
    // look-up per message that Wine makes a server round trip.
    SetWindowLongPtrW(listView, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_previousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(listView, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CCheckListCtrl::WindowProc)));
    if (!m_previousProc) {
        SetWindowLongPtrW(listView, GWLP_USERDATA, 0);
        return false;
    }
    CWindow::Attach(listView);
    if (m_smallIcons.IsValid())
        SetImageList(m_smallIcons.Get(), LVSIL_SMALL);
    return true;
}

void CCheckListCtrl::Detach()
{
    const HWND list = Hwnd();
    if (!list)
        return;
    if (IsWindow(list)) {
        // The view would destroy the image list it holds when it goes; the
        // list is ours, so take it back first.
        if (m_smallIcons.IsValid() && GetImageList(LVSIL_SMALL) == m_smallIcons.Get())
            SetImageList(nullptr, LVSIL_SMALL);
        SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previousProc));
        SetWindowLongPtrW(list, GWLP_USERDATA, 0);
    }
    CWindow::Attach(nullptr);
}

LRESULT CCheckListCtrl::CallDefault(UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcW(m_previousProc, Hwnd(), message, wParam, lParam);
}

LRESULT CALLBACK CCheckListCtrl::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CCheckListCtrl* self = reinterpret_cast<CCheckListCtrl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || self->Hwnd() != hwnd)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->OnMessage(message, wParam, lParam);
}

LRESULT CCheckListCtrl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_LBUTTONDOWN:
        return OnLeftDown(wParam, lParam);
    case WM_LBUTTONDBLCLK:
        return OnLeftDoubleClick(wParam, lParam);
    case WM_RBUTTONDOWN:
        // A right press means nothing here.
        return 0;
    case WM_HSCROLL:
        return OnHorizontalScroll(wParam, lParam);
    case WM_DESTROY:
        if (m_smallIcons.IsValid() && GetImageList(LVSIL_SMALL) == m_smallIcons.Get())
            SetImageList(nullptr, LVSIL_SMALL);
        break;
    case WM_NCDESTROY: {
        const HWND list = Hwnd();
        const WNDPROC previous = m_previousProc;
        Detach();
        return CallWindowProcW(previous, list, message, wParam, lParam);
    }
    default:
        break;
    }
    return CallDefault(message, wParam, lParam);
}

LRESULT CCheckListCtrl::OnLeftDown(WPARAM wParam, LPARAM lParam)
{
    LVHITTESTINFO hit = {};
    hit.pt = pointOf(lParam);
    const int row = HitTest(hit);
    const bool onRow = row >= 0 && (hit.flags & LVHT_ONITEM);
    // A press only selects; the check box is the list view's own.
    if (onRow)
        SelectFocusAndShow(row, true);
    // Outside every row the list view would clear the selection; the press
    // is meant to leave it alone.
    if (!onRow)
        return 0;
    return CallDefault(WM_LBUTTONDOWN, wParam, lParam);
}

LRESULT CCheckListCtrl::OnLeftDoubleClick(WPARAM wParam, LPARAM lParam)
{
    LVHITTESTINFO hit = {};
    hit.pt = pointOf(lParam);
    const int row = HitTest(hit);
    if (row < 0 || !(hit.flags & LVHT_ONITEM))
        return 0;
    ToggleCheck(row);
    SelectFocusAndShow(row, true);
    return CallDefault(WM_LBUTTONDBLCLK, wParam, lParam);
}

LRESULT CCheckListCtrl::OnHorizontalScroll(WPARAM wParam, LPARAM lParam)
{
    // The report view is wider than the control; scrolling it with drawing
    // on repaints it in strips. Scroll blind, then repaint once.
    SetRedraw(false);
    LRESULT result = CallDefault(WM_HSCROLL, wParam, lParam);
    SetRedraw(true);
    Invalidate();
    return result;
}

bool CCheckListCtrl::HandleNotify(const NMHDR* header, LRESULT& result)
{
    if (!header || !Hwnd() || header->hwndFrom != Hwnd())
        return false;
    switch (header->code) {
    case LVN_ITEMCHANGED:
        OnItemChanged(*reinterpret_cast<const NMLISTVIEW*>(header));
        break;
    case LVN_COLUMNCLICK:
        OnColumnClick(reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem);
        break;
    case NM_SETFOCUS:
        OnSetFocus();
        break;
    case LVN_DELETEALLITEMS:
        // No notice per row when the list is emptied: nothing here keeps
        // anything for a row that its deletion would have to let go of.
        result = TRUE;
        return true;
    default:
        return false;
    }
    result = 0;
    return true;
}

void CCheckListCtrl::OnItemChanged(const NMLISTVIEW& change)
{
    const bool reported
        = (change.uNewState & LVIS_SELECTED) || change.uNewState == STATE_IMAGE_TICKED || change.uNewState == STATE_IMAGE_UNTICKED;
    if (!reported || !m_changeMessage)
        return;
    POINT position = {};
    if (!GetItemPosition(change.iItem, position))
        return;
    const LPARAM notice = static_cast<LPARAM>(static_cast<DWORD>(static_cast<WORD>(position.y)) << 16);
    if (m_noticesHeld) {
        m_noticeWaiting = true;
        m_waitingNotice = notice;
        return;
    }
    PostToParent(m_changeMessage, 1, notice);
}

void CCheckListCtrl::HoldChangeNotices(bool hold)
{
    m_noticesHeld = hold;
    if (hold || !m_noticeWaiting)
        return;
    m_noticeWaiting = false;
    if (m_changeMessage)
        PostToParent(m_changeMessage, 1, m_waitingNotice);
}

int CALLBACK CCheckListCtrl::CompareRows(LPARAM first, LPARAM second, LPARAM self)
{
    const CCheckListCtrl& list = *reinterpret_cast<const CCheckListCtrl*>(self);
    return compareSortKeys(list.m_sortKey(first, list.m_sortColumn), list.m_sortKey(second, list.m_sortColumn));
}

void CCheckListCtrl::OnColumnClick(int column)
{
    // While a worker walks the rows their order stays as it is.
    if (!m_sortKey || !m_sortingAllowed)
        return;
    m_sortColumn = column;
    SortItems(CompareRows, reinterpret_cast<LPARAM>(this));
}

void CCheckListCtrl::OnSetFocus()
{
    // The focused row (and the selected ones, when the list hides its
    // selection without the focus) change their look with the focus.
    auto invalidateRow = [this](int row) {
        RECT label = {};
        RECT bounds = {};
        if (!GetItemRect(row, label, LVIR_LABEL) || !GetItemRect(row, bounds, LVIR_BOUNDS))
            return;
        bounds.left = label.left;
        Invalidate(&bounds, false);
    };
    const int focused = GetNextItem(-1, LVNI_FOCUSED);
    if (focused >= 0)
        invalidateRow(focused);
    if (!(GetWindowLongW(Hwnd(), GWL_STYLE) & LVS_SHOWSELALWAYS)) {
        for (int row = -1; (row = GetNextItem(row, LVNI_SELECTED)) >= 0;)
            invalidateRow(row);
    }
    UpdateWindow(Hwnd());
}

int CCheckListCtrl::GetSelectedRow() const
{
    // The change message arrives once per row added, and a refresh adds
    // thousands: with nothing selected say so at once, and otherwise walk
    // only as many selected rows as there are (each search for the next one
    // runs on to the end of the list when there is none).
    int selected = -1;
    const int selectedCount = GetSelectedCount();
    const UINT wanted = LVIS_FOCUSED | LVIS_SELECTED;
    int row = -1;
    for (int seen = 0; seen < selectedCount && (row = GetNextItem(row, LVNI_SELECTED)) >= 0; ++seen) {
        if ((GetItemState(row, wanted) & wanted) == wanted)
            selected = row;
    }
    return selected;
}

void CCheckListCtrl::SelectFocusAndShow(int row, bool takeFocus)
{
    SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    if (takeFocus)
        SetFocus(Hwnd());
    EnsureVisible(row, false);
}

void CCheckListCtrl::SelectAndShowRow(int row)
{
    // Only the list's own thread can give it the keyboard focus; a worker
    // still selects and scrolls.
    if (Hwnd())
        SelectFocusAndShow(row, OwnThread());
}

UINT CCheckListCtrl::StateImageIndex(int row) const
{
    return (GetItemState(row, STATE_IMAGE_MASK) & STATE_IMAGE_MASK) >> 12;
}

void CCheckListCtrl::ToggleCheck(int row)
{
    if (!Hwnd())
        return;
    const UINT index = StateImageIndex(row);
    UINT next = index;
    if (GetExtendedStyle() & LVS_EX_CHECKBOXES) {
        // The platform's boxes have two images only; a third state would be
        // counted as ticked yet show no box, and a click could not clear it.
        if (index == 1)
            next = 2;
        else if (index == 2 || index == 3)
            next = 1;
    } else if (index == 1 || index == 2) {
        next = 3;
    } else if (index == 3) {
        next = 1;
    }
    SetItemState(row, INDEXTOSTATEIMAGEMASK(next), STATE_IMAGE_MASK);
}

int CCheckListCtrl::RowCount() const
{
    return Hwnd() ? ItemCount() : 0;
}

bool CCheckListCtrl::IsChecked(int row) const
{
    // Every state image but the unticked box counts as ticked; a row that
    // does not exist is not ticked.
    if (row < 0 || row >= RowCount())
        return false;
    return StateImageIndex(row) != 1;
}

bool CCheckListCtrl::SetChecked(int row, bool checked)
{
    return Hwnd() && SetItemState(row, checked ? STATE_IMAGE_TICKED : STATE_IMAGE_UNTICKED, STATE_IMAGE_MASK);
}

int CCheckListCtrl::InsertRow(LVITEMW item, const std::wstring* const* texts, int columns, bool checked)
{
    if (!Hwnd() || columns < 1)
        return -1;
    item.mask |= LVIF_TEXT;
    item.iSubItem = 0;
    item.pszText = const_cast<wchar_t*>(texts[0]->c_str());
    const int row = int(CallDefault(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0)
        return -1;
    for (int column = 1; column < columns; ++column) {
        LVITEMW cell = {};
        cell.iSubItem = column;
        cell.pszText = const_cast<wchar_t*>(texts[column]->c_str());
        CallDefault(LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
    }
    // A list with check boxes gives each new row an empty one.
    LVITEMW state = {};
    state.stateMask = STATE_IMAGE_MASK;
    state.state = checked ? STATE_IMAGE_TICKED : STATE_IMAGE_UNTICKED;
    CallDefault(LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    return row;
}

LPARAM CCheckListCtrl::RowData(int row) const
{
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    return Hwnd() && GetItem(item) ? item.lParam : 0;
}

bool CCheckListCtrl::SetCellText(int row, int column, const std::wstring& text)
{
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    return Hwnd() && SetItemText(row, item);
}

void CCheckListCtrl::PostToParent(UINT message, WPARAM wParam, LPARAM lParam) const
{
    const HWND owner = Parent();
    if (owner && IsWindow(owner))
        PostMessageW(owner, message, wParam, lParam);
}
