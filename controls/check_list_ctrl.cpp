#include "controls/check_list_ctrl.h"

#include "discovery/migration_item.h"

#include <cwchar>
#include <cwctype>

namespace {


const UINT kStateImageMask = 0xF000;
const UINT kUnticked = 0x1000;
const UINT kTicked = 0x2000;

// Image lists of the control's own, used only when the owner asks for them.
const UINT kDefaultNormalBitmap = 31004;
const UINT kDefaultSmallBitmap = 31003;
const UINT kDefaultStateBitmap = 31005;

const int kImageListKinds[3] = {LVSIL_NORMAL, LVSIL_SMALL, LVSIL_STATE};

std::wstring trimmed(const std::wstring& text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && std::iswspace(text[first]))
        ++first;
    while (last > first && std::iswspace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

bool isNumericKey(const std::wstring& key)
{
    for (wchar_t c : key) {
        if (!(c >= L'0' && c <= L'9') && c != L'.')
            return false;
    }
    return true;
}

// The integer of the leading digits; long runs saturate instead of wrapping,
// so a long number never sorts before a short one.
unsigned long long leadingValue(const std::wstring& key)
{
    const unsigned long long limit = 1000000000000000000ULL;
    unsigned long long value = 0;
    for (wchar_t c : key) {
        if (c < L'0' || c > L'9')
            break;
        if (value >= limit)
            return limit;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    return value;
}

int CALLBACK compareRows(LPARAM first, LPARAM second, LPARAM column)
{
    return compareSortKeys(sortKeyOf(reinterpret_cast<const MigrationItem*>(first),
                                     static_cast<int>(column)),
                           sortKeyOf(reinterpret_cast<const MigrationItem*>(second),
                                     static_cast<int>(column)));
}

LPARAM pointParam(POINT p)
{
    return MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y));
}

POINT pointOf(LPARAM lParam)
{
    POINT p = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    return p;
}

} // namespace

int compareSortKeys(const std::wstring& first, const std::wstring& second)
{
    std::wstring a = trimmed(first);
    std::wstring b = trimmed(second);
    if (isNumericKey(a) && isNumericKey(b)) {
        unsigned long long va = leadingValue(a);
        unsigned long long vb = leadingValue(b);
        return va < vb ? -1 : (va > vb ? 1 : 0);
    }
    int order = _wcsicmp(a.c_str(), b.c_str());
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::wstring sortKeyOf(const MigrationItem* record, int column)
{
    if (!record)
        return std::wstring();
    switch (column) {
    case 0: return record->description;
    case 1: return record->sourceName;
    case 2: return record->conversion;
    case 3: return record->destinationName;
    case 4: return record->state;
    case 5: return record->sourceRoot;
    case 6: return record->destinationRoot;
    default: return std::wstring();
    }
}

CCheckListCtrl::CCheckListCtrl()
    : m_viewMenu(CreatePopupMenu())
{
}

CCheckListCtrl::~CCheckListCtrl()
{
    detach();
    for (HIMAGELIST& images : m_images) {
        if (images)
            ImageList_Destroy(images);
        images = nullptr;
    }
    if (m_viewMenu)
        DestroyMenu(m_viewMenu);
}

void CCheckListCtrl::setChangeNotify(int on, UINT message)
{
    m_changeNotify = on ? 1 : 0;
    m_changeMessage = on ? message : 0;
}

HIMAGELIST CCheckListCtrl::imageList(int which) const
{
    return which >= 0 && which < 3 ? m_images[which] : nullptr;
}

int CCheckListCtrl::createImageList(int which, const UINT* iconIds, UINT /*bitmapId*/,
                                    int height, int width, int initialSize, int growth)
{
    // The bitmap id served systems older than any this control runs on
    // (subclassing needs common controls 5.80), so lists are always built
    // from icons.
    if (which < 0 || which > 2)
        return 0;
    HIMAGELIST images = ImageList_Create(width, height, ILC_COLOR32 | ILC_MASK, initialSize, growth);
    if (!images)
        return 0;
    HINSTANCE module = GetModuleHandleW(nullptr);
    for (const UINT* id = iconIds; id && *id; ++id) {
        HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(*id), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXICON),
                                                   GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
        if (!icon)
            continue;
        ImageList_AddIcon(images, icon);
        DestroyIcon(icon);
    }
    if (m_images[which])
        ImageList_Destroy(m_images[which]);
    m_images[which] = images;
    m_installed[which] = 1;
    return 1;
}

void CCheckListCtrl::createDefaultImageLists()
{
    const UINT bitmaps[3] = {kDefaultNormalBitmap, kDefaultSmallBitmap, kDefaultStateBitmap};
    const int widths[3] = {32, 16, 16};
    HINSTANCE module = GetModuleHandleW(nullptr);
    for (int which = 0; which < 3; ++which) {
        if (m_images[which])
            ImageList_Destroy(m_images[which]);
        m_images[which] = ImageList_LoadImageW(module, MAKEINTRESOURCEW(bitmaps[which]),
                                               widths[which], 1, CLR_DEFAULT, IMAGE_BITMAP,
                                               LR_CREATEDIBSECTION);
    }
}

void CCheckListCtrl::buildViewMenu(std::vector<ViewMenuEntry>& entries)
{
    entries.clear();
    entries.push_back({1, 0, ID_VIEW_LARGEICONS, L"Lar&ge Icons"});
    entries.push_back({1, 0, ID_VIEW_SMALLICONS, L"S&mall Icons"});
    entries.push_back({1, 0, ID_VIEW_LIST, L"&List"});
    entries.push_back({1, 0, ID_VIEW_DETAILS, L"&Details"});
}

bool CCheckListCtrl::attach(HWND listView)
{
    if (m_hwnd || !IsWindow(listView))
        return false;
    buildViewMenu(m_viewMenuEntries);
    if (m_defaultImageLists) {
        createDefaultImageLists();
        m_installed[0] = m_installed[1] = m_installed[2] = 1;
    }
    // Plain window-procedure subclassing: the list's own messages are many
    // (every row operation is one), and SetWindowSubclass costs a property
    // look-up per message that Wine makes a server round trip.
    SetWindowLongPtrW(listView, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_previousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(listView, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CCheckListCtrl::windowProc)));
    if (!m_previousProc) {
        SetWindowLongPtrW(listView, GWLP_USERDATA, 0);
        return false;
    }
    m_hwnd = listView;
    // Only lists of our own are handed over: a list the owner gave the view
    // before (check-box images, say) stays as it is.
    for (int which = 0; which < 3; ++which) {
        if (m_installed[which])
            SendMessageW(listView, LVM_SETIMAGELIST, kImageListKinds[which],
                         reinterpret_cast<LPARAM>(m_images[which]));
    }
    return true;
}

// The view would destroy the image lists it holds when it goes away, but
// they are ours and are released by our destructor: take them back first.
void CCheckListCtrl::releaseHandedImageLists()
{
    for (int which = 0; which < 3; ++which) {
        if (!m_installed[which])
            continue;
        HIMAGELIST held = reinterpret_cast<HIMAGELIST>(
            SendMessageW(m_hwnd, LVM_GETIMAGELIST, kImageListKinds[which], 0));
        if (held && held == m_images[which])
            SendMessageW(m_hwnd, LVM_SETIMAGELIST, kImageListKinds[which], 0);
    }
}

void CCheckListCtrl::detach()
{
    if (!m_hwnd)
        return;
    if (IsWindow(m_hwnd)) {
        releaseHandedImageLists();
        unhook(m_hwnd);
    }
    m_hwnd = nullptr;
}

void CCheckListCtrl::unhook(HWND hwnd)
{
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previousProc));
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
}

LRESULT CCheckListCtrl::callDefault(UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcW(m_previousProc, m_hwnd, message, wParam, lParam);
}

LRESULT CALLBACK CCheckListCtrl::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CCheckListCtrl* self = reinterpret_cast<CCheckListCtrl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || self->m_hwnd != hwnd)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->onMessage(message, wParam, lParam);
}

LRESULT CCheckListCtrl::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_LIST_RUN: {
        auto* call = reinterpret_cast<const std::function<void()>*>(lParam);
        (*call)();
        return 0;
    }
    case WM_LBUTTONDOWN:
        return onLeftDown(wParam, lParam);
    case WM_LBUTTONDBLCLK:
        return onLeftDoubleClick(wParam, lParam);
    case WM_RBUTTONDOWN:
        return onRightDown(wParam, lParam);
    case WM_HSCROLL:
        return onHorizontalScroll(wParam, lParam);
    case WM_SIZE:
        m_clientWidth = LOWORD(lParam);
        break;
    case WM_COMMAND:
        if (HIWORD(wParam) == 0 && lParam == 0) {
            switch (LOWORD(wParam)) {
            case ID_VIEW_LIST: setView(LVS_LIST); m_currentViewIndex = 2; return 0;
            case ID_VIEW_DETAILS: setView(LVS_REPORT); m_currentViewIndex = 3; return 0;
            case ID_VIEW_SMALLICONS: setView(LVS_SMALLICON); m_currentViewIndex = 1; return 0;
            case ID_VIEW_LARGEICONS: setView(LVS_ICON); m_currentViewIndex = 0; return 0;
            default: break;
            }
        }
        break;
    case WM_DESTROY:
        releaseHandedImageLists();
        break;
    case WM_NCDESTROY: {
        HWND hwnd = m_hwnd;
        WNDPROC previous = m_previousProc;
        unhook(hwnd);
        m_hwnd = nullptr;
        return CallWindowProcW(previous, hwnd, message, wParam, lParam);
    }
    default:
        break;
    }
    return callDefault(message, wParam, lParam);
}

LRESULT CCheckListCtrl::onLeftDown(WPARAM wParam, LPARAM lParam)
{
    LVHITTESTINFO hit = {};
    hit.pt = pointOf(lParam);
    int row = static_cast<int>(SendMessageW(m_hwnd, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    m_lastLeft = hit.pt;
    if (m_inputBlocked)
        return 0;
    bool onRow = row >= 0 && (hit.flags & LVHT_ONITEM);
    if (onRow) {
        selectFocusAndShow(row, true);
        // Drag and drop is never switched on in this tool, so a press only
        // selects; the check box is the list view's own unless asked for.
        if ((hit.flags & LVHT_ONITEMSTATEICON) && m_clickToggle)
            toggleCheck(row);
    }
    HWND parent = parentWindow();
    if (m_forwardLeft && parent)
        PostMessageW(parent, WM_LBUTTONDOWN, wParam, pointParam(m_lastLeft));
    // Outside every row the list view would clear the selection; the press
    // is meant to leave it alone.
    if (!onRow)
        return 0;
    return callDefault(WM_LBUTTONDOWN, wParam, lParam);
}

LRESULT CCheckListCtrl::onLeftDoubleClick(WPARAM wParam, LPARAM lParam)
{
    LVHITTESTINFO hit = {};
    hit.pt = pointOf(lParam);
    int row = static_cast<int>(SendMessageW(m_hwnd, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (row < 0 || !(hit.flags & LVHT_ONITEM))
        return 0;
    bool ownStateImages = m_installed[IMAGES_STATE] && m_images[IMAGES_STATE];
    LONG view = GetWindowLongW(m_hwnd, GWL_STYLE) & LVS_TYPEMASK;
    if (!ownStateImages || view == LVS_ICON || view == LVS_SMALLICON)
        toggleCheck(row);
    selectFocusAndShow(row, true);
    HWND parent = parentWindow();
    if (parent)
        PostMessageW(parent, WM_LIST_DBLCLICK, 0, 0);
    return callDefault(WM_LBUTTONDBLCLK, wParam, lParam);
}

LRESULT CCheckListCtrl::onRightDown(WPARAM wParam, LPARAM lParam)
{
    m_lastRight = pointOf(lParam);
    HWND parent = parentWindow();
    if (m_rightClickNotify && parent)
        PostMessageW(parent, m_rightClickMessage, 0, 0);
    if (!m_forwardRight)
        return callDefault(WM_RBUTTONDOWN, wParam, lParam);
    // The parent decides what a right press means; the list itself ignores it.
    if (parent)
        PostMessageW(parent, WM_RBUTTONDOWN, wParam, pointParam(m_lastRight));
    return 0;
}

LRESULT CCheckListCtrl::onHorizontalScroll(WPARAM wParam, LPARAM lParam)
{
    // The report view is wider than the control; scrolling it with drawing
    // on repaints it in strips. Scroll blind, then repaint once.
    SendMessageW(m_hwnd, WM_SETREDRAW, FALSE, 0);
    LRESULT result = callDefault(WM_HSCROLL, wParam, lParam);
    SendMessageW(m_hwnd, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(m_hwnd, nullptr, TRUE);
    return result;
}

bool CCheckListCtrl::handleNotify(const NMHDR* header, LRESULT& result)
{
    if (!header || !m_hwnd || header->hwndFrom != m_hwnd)
        return false;
    switch (header->code) {
    case LVN_ITEMCHANGED:
        onItemChanged(*reinterpret_cast<const NMLISTVIEW*>(header));
        result = 0;
        return true;
    case LVN_COLUMNCLICK:
        onColumnClick(reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem);
        result = 0;
        return true;
    case NM_SETFOCUS:
        onSetFocus();
        result = 0;
        return true;
    case LVN_BEGINDRAG:
        // Dragging rows out is never switched on in this tool.
        result = 0;
        return true;
    case LVN_BEGINLABELEDITW:
        result = 0; // allow the edit
        return true;
    case LVN_ENDLABELEDITW:
        onEndLabelEdit(*reinterpret_cast<const NMLVDISPINFOW*>(header));
        result = 0;
        return true;
    default:
        return false;
    }
}

void CCheckListCtrl::onItemChanged(const NMLISTVIEW& change)
{
    bool reported = (change.uNewState & LVIS_SELECTED) || change.uNewState == kTicked ||
                    change.uNewState == kUnticked;
    if (!reported || !m_changeNotify)
        return;
    HWND parent = parentWindow();
    if (!parent)
        return;
    POINT position = {};
    if (!SendMessageW(m_hwnd, LVM_GETITEMPOSITION, change.iItem, reinterpret_cast<LPARAM>(&position)))
        return;
    LPARAM where = static_cast<LPARAM>(static_cast<DWORD>(static_cast<WORD>(position.y)) << 16);
    PostMessageW(parent, m_changeMessage, 1, where);
}

void CCheckListCtrl::onColumnClick(int column)
{
    if (!m_recordRows)
        return;
    SendMessageW(m_hwnd, LVM_SORTITEMS, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(compareRows));
}

void CCheckListCtrl::onSetFocus()
{
    // The focused row (and the selected ones, when the list hides its
    // selection without the focus) change their look with the focus.
    auto invalidateRow = [this](int row) {
        RECT label = {};
        label.left = LVIR_LABEL;
        RECT bounds = {};
        bounds.left = LVIR_BOUNDS;
        if (!SendMessageW(m_hwnd, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&label)) ||
            !SendMessageW(m_hwnd, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds)))
            return;
        bounds.left = label.left;
        InvalidateRect(m_hwnd, &bounds, FALSE);
    };
    int focused = static_cast<int>(SendMessageW(m_hwnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                                LVNI_FOCUSED));
    if (focused >= 0)
        invalidateRow(focused);
    if (!(GetWindowLongW(m_hwnd, GWL_STYLE) & LVS_SHOWSELALWAYS)) {
        int row = -1;
        while ((row = static_cast<int>(SendMessageW(m_hwnd, LVM_GETNEXTITEM,
                                                    static_cast<WPARAM>(row), LVNI_SELECTED))) >= 0)
            invalidateRow(row);
    }
    UpdateWindow(m_hwnd);
}

void CCheckListCtrl::onEndLabelEdit(const NMLVDISPINFOW& info)
{
    if (!info.item.pszText || info.item.iItem < 0)
        return;
    if (m_recordRows) {
        if (MigrationItem* record = rowRecord(info.item.iItem))
            record->description = info.item.pszText;
    }
    setCellText(info.item.iItem, info.item.iSubItem, info.item.pszText);
}

void CCheckListCtrl::setView(int view)
{
    if (!m_hwnd)
        return;
    LONG style = GetWindowLongW(m_hwnd, GWL_STYLE);
    SetWindowLongW(m_hwnd, GWL_STYLE, (style & ~LVS_TYPEMASK) | (view & LVS_TYPEMASK));
}

int CCheckListCtrl::getSelectedRow() const
{
    // Only selected rows can qualify, so walk those rather than every row:
    // the change message arrives once per row added, and a refresh adds
    // thousands.
    int selected = -1;
    const UINT wanted = LVIS_FOCUSED | LVIS_SELECTED;
    int row = -1;
    while ((row = int(SendMessageW(m_hwnd, LVM_GETNEXTITEM, WPARAM(row), MAKELPARAM(LVNI_SELECTED, 0)))) >= 0) {
        UINT state = static_cast<UINT>(SendMessageW(m_hwnd, LVM_GETITEMSTATE, row, wanted));
        if ((state & wanted) == wanted)
            selected = row;
    }
    return selected;
}

void CCheckListCtrl::selectFocusAndShow(int row, bool takeFocus)
{
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(m_hwnd, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    if (takeFocus)
        SetFocus(m_hwnd);
    SendMessageW(m_hwnd, LVM_ENSUREVISIBLE, row, FALSE);
}

int CCheckListCtrl::selectAndShowRow(int row)
{
    if (!m_hwnd)
        return 0;
    // Only the list's own thread can give it the keyboard focus; a worker
    // still selects and scrolls.
    bool ownThread = GetWindowThreadProcessId(m_hwnd, nullptr) == GetCurrentThreadId();
    selectFocusAndShow(row, ownThread);
    return 0;
}

UINT CCheckListCtrl::stateImageIndex(int row) const
{
    UINT state = static_cast<UINT>(SendMessageW(m_hwnd, LVM_GETITEMSTATE, row, kStateImageMask));
    return (state & kStateImageMask) >> 12;
}

void CCheckListCtrl::toggleCheck(int row)
{
    if (!m_hwnd)
        return;
    UINT index = stateImageIndex(row);
    UINT next = index;
    bool platformBoxes =
        (SendMessageW(m_hwnd, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES) != 0;
    if (platformBoxes) {
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
    LVITEMW item = {};
    item.stateMask = kStateImageMask;
    item.state = INDEXTOSTATEIMAGEMASK(next);
    SendMessageW(m_hwnd, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

int CCheckListCtrl::rowCount() const
{
    return m_hwnd ? static_cast<int>(SendMessageW(m_hwnd, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

bool CCheckListCtrl::isChecked(int row) const
{
    // Every state image but the unticked box counts as ticked; a row that
    // does not exist is not ticked.
    if (row < 0 || row >= rowCount())
        return false;
    return stateImageIndex(row) != 1;
}

bool CCheckListCtrl::setChecked(int row, bool checked)
{
    if (!m_hwnd)
        return false;
    LVITEMW item = {};
    item.stateMask = kStateImageMask;
    item.state = checked ? kTicked : kUnticked;
    return SendMessageW(m_hwnd, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item)) != 0;
}

MigrationItem* CCheckListCtrl::rowRecord(int row) const
{
    if (!m_hwnd)
        return nullptr;
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageW(m_hwnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        return nullptr;
    return reinterpret_cast<MigrationItem*>(item.lParam);
}

bool CCheckListCtrl::setCellText(int row, int column, const std::wstring& text)
{
    if (!m_hwnd)
        return false;
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    return SendMessageW(m_hwnd, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)) != 0;
}

std::wstring CCheckListCtrl::cellText(int row, int column) const
{
    // Grows the buffer until the text fits: the list answers with the number
    // of characters it copied, one short of the buffer when it had to cut.
    std::wstring text(256, L'\0');
    for (;;) {
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = &text[0];
        item.cchTextMax = int(text.size());
        const int copied = m_hwnd ? int(SendMessageW(m_hwnd, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item))) : 0;
        if (copied < int(text.size()) - 1 || text.size() >= 65536) {
            text.resize(copied > 0 ? copied : 0);
            return text;
        }
        text.resize(text.size() * 4);
    }
}

void CCheckListCtrl::runOnListThread(const std::function<void()>& work)
{
    if (!m_hwnd || GetWindowThreadProcessId(m_hwnd, nullptr) == GetCurrentThreadId())
        work();
    else
        SendMessageW(m_hwnd, WM_LIST_RUN, 0, reinterpret_cast<LPARAM>(&work));
}

void CCheckListCtrl::setRedraw(bool on)
{
    if (!m_hwnd)
        return;
    SendMessageW(m_hwnd, WM_SETREDRAW, on ? TRUE : FALSE, 0);
    if (on)
        InvalidateRect(m_hwnd, nullptr, TRUE);
}

HWND CCheckListCtrl::parentWindow() const
{
    HWND parent = GetParent(m_hwnd);
    return parent && IsWindow(parent) ? parent : nullptr;
}
