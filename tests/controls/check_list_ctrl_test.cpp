// The check-box list on a real list view in a real parent window. The parent
// counts the control's change notices and forwards the list's notices to the
// control, as the main dialog does.
#include "controls/check_list_ctrl.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

void pump()
{
    for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);)
        DispatchMessageW(&msg);
}

class CheckListTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX init = {sizeof(init), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&init);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ParentProc;
        wc.lpszClassName = L"CheckListTestParent";
        RegisterClassW(&wc);
    }
    void SetUp() override
    {
        m_parent = CreateWindowW(L"CheckListTestParent", L"list", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                 0, 0, 760, 420, nullptr, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(m_parent, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_list = CreateWindowW(WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT |
                               LVS_SINGLESEL | LVS_SHOWSELALWAYS, 10, 10, 720, 300, m_parent,
                               reinterpret_cast<HMENU>(1003), nullptr, nullptr);
        // The main dialog's configuration, in its order.
        ASSERT_TRUE(m_ctrl.Attach(m_list));
        ListView_SetExtendedListViewStyle(m_list, LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES);
        m_ctrl.SetChangeNotify(WM_LIST_SELCHANGE);
        // The owner's rows: item data indexes the test's own texts.
        m_ctrl.SetSortKey([this](LPARAM row, int column) { return m_rows.at(row)[column]; });
        LVCOLUMNW lvc = {};
        lvc.mask = LVCF_WIDTH | LVCF_SUBITEM;
        lvc.cx = 130;
        for (lvc.iSubItem = 0; lvc.iSubItem < 5; ++lvc.iSubItem)
            ListView_InsertColumn(m_list, lvc.iSubItem, &lvc);
    }
    void TearDown() override { DestroyWindow(m_parent); pump(); }

    // Appends a row as the dialog does: the owner's key as item data, texts, ticked.
    void AddRow(const std::wstring& source, const std::wstring& state)
    {
        m_rows.push_back({ L"", source, L"", L"", state });
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = m_ctrl.RowCount();
        item.lParam = LPARAM(m_rows.size() - 1);
        int row = ListView_InsertItem(m_list, &item);
        m_ctrl.SetCellText(row, 1, source);
        m_ctrl.SetCellText(row, 4, state);
        m_ctrl.SetChecked(row, true);
    }

    // Pumps, then hands over how many change notices reached the parent since last asked.
    int Changes()
    {
        pump();
        return std::exchange(m_changes, 0);
    }

    void SetState(int row, UINT state, UINT mask) { ListView_SetItemState(m_list, row, state, mask); }
    UINT CheckImage(int row) { return ListView_GetItemState(m_list, row, 0xF000); }
    // A point 20 pixels into `rc`, halfway down.
    static LPARAM PointIn(const RECT& rc) { return MAKELPARAM(rc.left + 20, (rc.top + rc.bottom) / 2); }
    LPARAM OnLabel(int row)
    {
        RECT rc = {};
        ListView_GetItemRect(m_list, row, &rc, LVIR_LABEL);
        return PointIn(rc);
    }
    // The list is 300 pixels high; a few rows end far above this.
    static LPARAM BelowTheRows() { return MAKELPARAM(40, 250); }

    // Presses and releases, on the list unless told otherwise.
    void Mouse(UINT down, LPARAM where, HWND window = nullptr)
    {
        window = window ? window : m_list;
        const bool right = down == WM_RBUTTONDOWN;
        SendMessageW(window, down, right ? MK_RBUTTON : MK_LBUTTON, where);
        SendMessageW(window, right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, where);
        pump();
    }

    static LRESULT CALLBACK ParentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<CheckListTest*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        LRESULT result = 0;
        if (self && message == WM_LIST_SELCHANGE)
            ++self->m_changes;
        else if (self && message == WM_NOTIFY &&
                 self->m_ctrl.HandleNotify(reinterpret_cast<const NMHDR*>(lParam), result))
            return result;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    HWND m_parent = nullptr;
    HWND m_list = nullptr;
    std::vector<std::vector<std::wstring>> m_rows;
    CCheckListCtrl m_ctrl;
    int m_changes = 0;
};

TEST(CheckListSortKeys, NumbersByLeadingIntegerElseTextIgnoringCase)
{
    EXPECT_EQ(compareSortKeys(L"1.5", L"1.25"), 0);
    EXPECT_EQ(compareSortKeys(L"99999999999999999999999", L"2"), 1); // no wrap-around
    EXPECT_EQ(compareSortKeys(L"1a", L"10"), 1); // not numeric: "1a" after "10" as text
}

// The parent hears of changes that leave a row selected, and of plain tick
// changes. Unlike the platform's list, only a left press on a row selects,
// and a double-click on a row flips its check.
TEST_F(CheckListTest, ChangesReachTheParentAndOnlyLeftPressesOnARowSelect)
{
    for (int row = 0; row < 4; ++row)
        AddRow(L"f" + std::to_wstring(row) + L".rcp", L"Not Started");
    Changes();
    SetState(2, 0x1000, 0xF000);
    EXPECT_EQ(Changes(), 1);
    // Ticked and focused but not selected; a state image that is no box.
    SetState(1, LVIS_FOCUSED, LVIS_FOCUSED);
    SetState(1, 0x1000, 0xF000);
    SetState(3, 0x3000, 0xF000);
    EXPECT_EQ(Changes(), 0);
    SetState(1, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_GE(Changes(), 1);
    SetState(1, 0x2000, 0xF000);
    EXPECT_EQ(Changes(), 1);

    Mouse(WM_LBUTTONDOWN, OnLabel(2));
    EXPECT_EQ(m_ctrl.GetSelectedRow(), 2);
    // Off the rows, or with the right button: the selection stays.
    Mouse(WM_LBUTTONDOWN, BelowTheRows());
    Mouse(WM_RBUTTONDOWN, OnLabel(0));
    EXPECT_EQ(m_ctrl.GetSelectedRow(), 2);

    Mouse(WM_LBUTTONDBLCLK, OnLabel(0));
    EXPECT_EQ(CheckImage(0), 0x1000u);
    EXPECT_EQ(m_ctrl.GetSelectedRow(), 0);
    // Every state that counts as ticked, the stray one too, is cleared by a
    // flip, and a second flip ticks the row again.
    for (int row : { 1, 3 }) {
        ASSERT_TRUE(m_ctrl.IsChecked(row));
        Mouse(WM_LBUTTONDBLCLK, OnLabel(row));
        EXPECT_FALSE(m_ctrl.IsChecked(row)) << row;
        Mouse(WM_LBUTTONDBLCLK, OnLabel(row));
        EXPECT_EQ(CheckImage(row), 0x2000u) << row;
    }
}

TEST_F(CheckListTest, HeaderClickSortsAscendingAndAgainKeepsTheOrder)
{
    const wchar_t* rows[][2] = {{L"b.xml", L"10"}, {L"C.xml", L"9"}, {L"a2.xml", L"100"}, {L"A.xml", L" 7 "}};
    for (auto& row : rows)
        AddRow(row[0], row[1]);
    HWND header = ListView_GetHeader(m_list);
    // Sorts by a column, then lists the source names through the records
    // (a sort must move texts and records together).
    auto sortBy = [&](int column) {
        RECT rc = {};
        Header_GetItemRect(header, column, &rc);
        Mouse(WM_LBUTTONDOWN, PointIn(rc), header);
        std::vector<std::wstring> names;
        for (int row = 0; row < m_ctrl.RowCount(); ++row)
            names.push_back(m_rows.at(m_ctrl.RowData(row))[1]);
        return names;
    };
    // While the owner holds sorting off (a worker walks the rows) a click
    // leaves the order as it is.
    m_ctrl.AllowSorting(false);
    EXPECT_EQ(sortBy(1), (std::vector<std::wstring> { L"b.xml", L"C.xml", L"a2.xml", L"A.xml" }));
    m_ctrl.AllowSorting(true);
    const std::vector<std::wstring> bySource = {L"A.xml", L"a2.xml", L"b.xml", L"C.xml"};
    EXPECT_EQ(sortBy(1), bySource);
    EXPECT_EQ(sortBy(1), bySource);
    // The state column holds numbers here: compared as numbers.
    EXPECT_EQ(sortBy(4), (std::vector<std::wstring>{L"A.xml", L"C.xml", L"b.xml", L"a2.xml"}));
}

} // namespace
