// The check-box list on a real list view in a real parent window. The parent
// records what the control posts to it and forwards the list's notices to the
// control, as the main dialog does.
#include "controls/check_list_ctrl.h"
#include "discovery/migration_item.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

const UINT kDocument = 129, kRegistry = 130, kCord = 131, kNoSuchIcon = 4242;

struct Posted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class CheckListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static const bool registered = [] {
            INITCOMMONCONTROLSEX init = {sizeof(init), ICC_LISTVIEW_CLASSES};
            InitCommonControlsEx(&init);
            WNDCLASSW wc = {};
            wc.lpfnWndProc = parentProc;
            wc.lpszClassName = L"CheckListTestParent";
            return RegisterClassW(&wc) != 0;
        }();
        ASSERT_TRUE(registered);
        m_parent = CreateWindowW(L"CheckListTestParent", L"list", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                 0, 0, 760, 420, nullptr, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(m_parent, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_list = CreateWindowW(WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT |
                               LVS_SINGLESEL | LVS_SHOWSELALWAYS, 10, 10, 720, 300, m_parent,
                               reinterpret_cast<HMENU>(1003), nullptr, nullptr);
        ASSERT_NE(m_list, nullptr);
    }

    void TearDown() override
    {
        DestroyWindow(m_parent);
        pump();
    }

    // The main dialog's configuration, in its order, with `rows` ticked rows.
    void configureLikeDialog(int rows)
    {
        const UINT icons[] = {kCord, kCord, kRegistry, kRegistry, kDocument, kDocument, 0};
        m_ctrl.useDefaultImageLists(0);
        m_ctrl.setRecordRows(1);
        m_ctrl.enableDrag(0);
        ASSERT_NE(m_ctrl.createImageList(CCheckListCtrl::IMAGES_SMALL, icons, 0, 16, 16, 32, 2), 0);
        ASSERT_TRUE(m_ctrl.attach(m_list));
        m_ctrl.setView(LVS_REPORT);
        m_ctrl.setClickToggle(0);
        SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, ~0u, LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES);
        m_ctrl.setChangeNotify(1, WM_LIST_SELCHANGE);
        const int widths[] = {130, 150, 100, 200, 500};
        for (int column = 0; column < 5; ++column) {
            LVCOLUMNW lvc = {};
            lvc.mask = LVCF_WIDTH | LVCF_SUBITEM;
            lvc.cx = widths[column];
            lvc.iSubItem = column;
            SendMessageW(m_list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&lvc));
        }
        for (int row = 0; row < rows; ++row)
            addRow(L"f" + std::to_wstring(row) + L".rcp", L"Not Started");
        takePosted();
    }

    // Appends a row as the dialog does: record as item data, texts, ticked.
    void addRow(const std::wstring& source, const std::wstring& state)
    {
        auto record = std::make_unique<MigrationItem>();
        record->description = L"Recipients";
        record->sourceName = source;
        record->state = state;
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = m_ctrl.rowCount();
        item.pszText = const_cast<wchar_t*>(L"Recipients");
        item.lParam = reinterpret_cast<LPARAM>(record.get());
        int row = static_cast<int>(SendMessageW(m_list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        m_ctrl.setCellText(row, 1, source);
        m_ctrl.setCellText(row, 4, state);
        m_ctrl.setChecked(row, true);
        m_records.push_back(std::move(record));
    }

    void pump()
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }

    // Pumps, then hands over what reached the parent and forgets it.
    std::vector<Posted> takePosted()
    {
        pump();
        return std::move(m_posted);
    }

    static size_t countOf(const std::vector<Posted>& posted, UINT message)
    {
        size_t n = 0;
        for (const Posted& p : posted)
            n += p.message == message;
        return n;
    }

    void setState(int row, UINT state, UINT mask)
    {
        LVITEMW item = {};
        item.state = state;
        item.stateMask = mask;
        SendMessageW(m_list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    }

    UINT stateOf(int row, UINT mask) { return static_cast<UINT>(SendMessageW(m_list, LVM_GETITEMSTATE, row, mask)); }

    std::vector<int> selectedRows()
    {
        std::vector<int> rows;
        for (int row = 0; row < m_ctrl.rowCount(); ++row)
            if (stateOf(row, LVIS_SELECTED))
                rows.push_back(row);
        return rows;
    }

    RECT rowRect(int row, int part)
    {
        RECT rc = {part, 0, 0, 0};
        SendMessageW(m_list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rc));
        return rc;
    }

    LPARAM onLabel(int row)
    {
        RECT rc = rowRect(row, LVIR_LABEL);
        return MAKELPARAM(rc.left + 20, (rc.top + rc.bottom) / 2);
    }

    // A point on a row's check box, found by hit-testing along the row.
    LPARAM onCheckBox(int row)
    {
        RECT rc = rowRect(row, LVIR_BOUNDS);
        LVHITTESTINFO hit = {};
        hit.pt = {rc.left, (rc.top + rc.bottom) / 2};
        for (; hit.pt.x < rc.left + 60; ++hit.pt.x)
            if (SendMessageW(m_list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) == row &&
                hit.flags == LVHT_ONITEMSTATEICON)
                return MAKELPARAM(hit.pt.x, hit.pt.y);
        ADD_FAILURE() << "no check box on row " << row;
        return 0;
    }

    void mouse(UINT down, UINT up, LPARAM where, WPARAM keys)
    {
        SendMessageW(m_list, down, keys, where);
        SendMessageW(m_list, up, 0, where);
    }

    // Source names in row order, from the records (rows carry their texts
    // and records together through a sort).
    std::vector<std::wstring> sourceColumn()
    {
        std::vector<std::wstring> names;
        for (int row = 0; row < m_ctrl.rowCount(); ++row)
            names.push_back(m_ctrl.rowRecord(row)->sourceName);
        return names;
    }

    static LRESULT CALLBACK parentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<CheckListTest*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        LRESULT result = 0;
        if (self && (message == WM_LIST_SELCHANGE || message == WM_LBUTTONDOWN ||
                     message == WM_RBUTTONDOWN || message == WM_LIST_DBLCLICK))
            self->m_posted.push_back({message, wParam, lParam});
        else if (self && message == WM_NOTIFY &&
                 self->m_ctrl.handleNotify(reinterpret_cast<const NMHDR*>(lParam), result))
            return result;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    HWND m_parent = nullptr;
    HWND m_list = nullptr;
    std::vector<std::unique_ptr<MigrationItem>> m_records;
    CCheckListCtrl m_ctrl;
    std::vector<Posted> m_posted;
};

// The pixels of one image as drawn, to tell images apart.
std::vector<DWORD> imagePixels(HIMAGELIST images, int index)
{
    BITMAPINFO bmi = {};
    bmi.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, -16, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> pixels(16 * 16);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP target = CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, nullptr, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, target);
    PatBlt(dc, 0, 0, 16, 16, WHITENESS);
    ImageList_Draw(images, index, dc, 0, 0, ILD_NORMAL);
    SelectObject(dc, old);
    GetDIBits(dc, target, 0, 16, pixels.data(), &bmi, DIB_RGB_COLORS);
    DeleteObject(target);
    DeleteDC(dc);
    return pixels;
}

TEST(CheckListSortKeys, NumbersByLeadingIntegerElseTextIgnoringCase)
{
    EXPECT_EQ(compareSortKeys(L"9", L"10"), -1);
    EXPECT_EQ(compareSortKeys(L"1.5", L"1.25"), 0);
    EXPECT_EQ(compareSortKeys(L"", L"0"), 0);
    EXPECT_EQ(compareSortKeys(L"\t7 ", L"10"), -1);
    EXPECT_EQ(compareSortKeys(L"99999999999999999999999", L"2"), 1); // no wrap-around
    EXPECT_EQ(compareSortKeys(L"abc", L"ABC"), 0);
    EXPECT_EQ(compareSortKeys(L" b ", L"A"), 1);
    EXPECT_EQ(compareSortKeys(L"1a", L"10"), 1); // not numeric: "1a" after "10" as text
    EXPECT_EQ(compareSortKeys(L"1a", L"2"), -1);
    MigrationItem item;
    item.destinationRoot = L"o";
    EXPECT_EQ(sortKeyOf(&item, 6), L"o");
    EXPECT_EQ(sortKeyOf(&item, 7), L"");
    EXPECT_EQ(sortKeyOf(nullptr, 0), L"");
}

TEST_F(CheckListTest, ImageListsAreHandedOverAndOutliveTheView)
{
    configureLikeDialog(0);
    HIMAGELIST small = m_ctrl.imageList(CCheckListCtrl::IMAGES_SMALL);
    EXPECT_EQ(ImageList_GetImageCount(small), 6);
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(SendMessageW(m_list, LVM_GETIMAGELIST, LVSIL_SMALL, 0)), small);
    EXPECT_EQ(SendMessageW(m_list, LVM_GETIMAGELIST, LVSIL_NORMAL, 0), 0);
    EXPECT_EQ(m_ctrl.viewMenuEntries().size(), 4u);
    EXPECT_FALSE(m_ctrl.attach(m_list));
    // The view goes first, as in the dialog; the images are the control's.
    DestroyWindow(m_list);
    EXPECT_EQ(m_ctrl.hwnd(), nullptr);
    EXPECT_EQ(ImageList_GetImageCount(small), 6);
}

TEST_F(CheckListTest, AMissingIconIsLeftOutAndTheRestMoveUp)
{
    const UINT complete[] = {kRegistry, kDocument, 0};
    const UINT gapped[] = {kNoSuchIcon, kNoSuchIcon, kRegistry, kRegistry, kDocument, kDocument, 0};
    CCheckListCtrl reference;
    ASSERT_NE(reference.createImageList(CCheckListCtrl::IMAGES_SMALL, complete, 0, 16, 16, 32, 2), 0);
    ASSERT_NE(m_ctrl.createImageList(CCheckListCtrl::IMAGES_SMALL, gapped, 0, 16, 16, 32, 2), 0);
    HIMAGELIST images = m_ctrl.imageList(CCheckListCtrl::IMAGES_SMALL);
    ASSERT_EQ(ImageList_GetImageCount(images), 4);
    std::vector<DWORD> registry = imagePixels(reference.imageList(CCheckListCtrl::IMAGES_SMALL), 0);
    std::vector<DWORD> document = imagePixels(reference.imageList(CCheckListCtrl::IMAGES_SMALL), 1);
    ASSERT_NE(registry, document);
    EXPECT_EQ(imagePixels(images, 0), registry);
    EXPECT_EQ(imagePixels(images, 1), registry);
    EXPECT_EQ(imagePixels(images, 2), document);
    EXPECT_EQ(imagePixels(images, 3), document);
    EXPECT_EQ(m_ctrl.createImageList(7, complete, 0, 16, 16, 32, 2), 0);
}

TEST_F(CheckListTest, ChangeNotificationFollowsTheNewState)
{
    configureLikeDialog(4);
    setState(2, 0x1000, 0xF000);
    std::vector<Posted> posted = takePosted();
    ASSERT_EQ(posted.size(), 1u);
    POINT position = {};
    SendMessageW(m_list, LVM_GETITEMPOSITION, 2, reinterpret_cast<LPARAM>(&position));
    EXPECT_GT(position.y, 0);
    EXPECT_EQ(posted[0].message, WM_LIST_SELCHANGE);
    EXPECT_EQ(posted[0].wParam, 1u);
    EXPECT_EQ(posted[0].lParam, MAKELPARAM(0, position.y));
    setState(2, 0x2000, 0xF000);
    EXPECT_EQ(countOf(takePosted(), WM_LIST_SELCHANGE), 1u);

    // Ticked and focused but not selected; a state image that is no box.
    setState(1, LVIS_FOCUSED, LVIS_FOCUSED);
    setState(1, 0x1000, 0xF000);
    setState(1, 0x2000, 0xF000);
    setState(3, 0x3000, 0xF000);
    EXPECT_EQ(countOf(takePosted(), WM_LIST_SELCHANGE), 0u);

    // Anything that leaves a row selected reports, ticking included.
    setState(1, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_GE(countOf(takePosted(), WM_LIST_SELCHANGE), 1u);
    setState(1, 0x1000, 0xF000);
    EXPECT_EQ(countOf(takePosted(), WM_LIST_SELCHANGE), 1u);

    m_ctrl.setChangeNotify(0, WM_LIST_SELCHANGE);
    EXPECT_EQ(m_ctrl.changeMessage(), 0u);
    setState(0, 0x1000, 0xF000);
    setState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    EXPECT_EQ(countOf(takePosted(), WM_LIST_SELCHANGE), 0u);
}

TEST_F(CheckListTest, RowHelpersAndThePlatformCheckBoxToggle)
{
    configureLikeDialog(3);
    EXPECT_EQ(m_ctrl.getSelectedRow(), -1);
    setState(1, LVIS_FOCUSED, LVIS_FOCUSED);
    setState(0, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(m_ctrl.getSelectedRow(), -1);
    m_ctrl.selectAndShowRow(2);
    EXPECT_EQ(m_ctrl.getSelectedRow(), 2);
    EXPECT_EQ(GetFocus(), m_list);

    EXPECT_TRUE(m_ctrl.setChecked(0, false));
    EXPECT_FALSE(m_ctrl.isChecked(0));
    EXPECT_FALSE(m_ctrl.isChecked(3)); // no such row
    EXPECT_EQ(m_ctrl.rowRecord(1), m_records[1].get());
    // Any image but the unticked box counts as ticked.
    const struct { UINT from, to; bool ticked; } table[] = {{1, 2, false}, {2, 1, true}, {3, 1, true},
                                                              {0, 0, true}, {4, 4, true}};
    for (const auto& step : table) {
        setState(1, INDEXTOSTATEIMAGEMASK(step.from), 0xF000);
        EXPECT_EQ(m_ctrl.isChecked(1), step.ticked) << "index " << step.from;
        m_ctrl.toggleCheck(1);
        EXPECT_EQ(stateOf(1, 0xF000) >> 12, step.to) << "from " << step.from;
    }
}

TEST_F(CheckListTest, ToggleCheckCyclesThreeStatesWithItsOwnStateImages)
{
    const UINT icons[] = {kCord, kRegistry, kDocument, 0};
    ASSERT_NE(m_ctrl.createImageList(CCheckListCtrl::IMAGES_STATE, icons, 0, 16, 16, 4, 2), 0);
    ASSERT_TRUE(m_ctrl.attach(m_list));
    addRow(L"z.cfg", L"");
    const struct { UINT from, to; } table[] = {{1, 3}, {2, 3}, {3, 1}, {0, 0}, {4, 4}};
    for (const auto& step : table) {
        setState(0, INDEXTOSTATEIMAGEMASK(step.from), 0xF000);
        m_ctrl.toggleCheck(0);
        EXPECT_EQ(stateOf(0, 0xF000) >> 12, step.to) << "from " << step.from;
    }
}

TEST_F(CheckListTest, LeftPressOnARowSelectsItAndReachesTheParent)
{
    configureLikeDialog(3);
    LPARAM where = onLabel(1);
    mouse(WM_LBUTTONDOWN, WM_LBUTTONUP, where, MK_LBUTTON | MK_SHIFT);
    std::vector<Posted> posted = takePosted();
    EXPECT_EQ(selectedRows(), std::vector<int>{1});
    EXPECT_EQ(m_ctrl.getSelectedRow(), 1);
    EXPECT_EQ(GetFocus(), m_list);
    EXPECT_GE(countOf(posted, WM_LIST_SELCHANGE), 1u);
    ASSERT_EQ(countOf(posted, WM_LBUTTONDOWN), 1u);
    for (const Posted& p : posted) {
        if (p.message == WM_LBUTTONDOWN) {
            EXPECT_TRUE(p.lParam == where && p.wParam == (MK_LBUTTON | MK_SHIFT));
        }
    }

    // A press on the check box still gets the list's own handling.
    mouse(WM_LBUTTONDOWN, WM_LBUTTONUP, onCheckBox(2), MK_LBUTTON);
    EXPECT_FALSE(m_ctrl.isChecked(2));
}

TEST_F(CheckListTest, PressesOffTheRowsAndRightPressesChangeNothing)
{
    configureLikeDialog(3);
    m_ctrl.selectAndShowRow(1);
    takePosted();
    LPARAM below = MAKELPARAM(40, rowRect(2, LVIR_BOUNDS).bottom + 30);
    mouse(WM_LBUTTONDOWN, WM_LBUTTONUP, below, MK_LBUTTON);
    std::vector<Posted> posted = takePosted();
    EXPECT_EQ(selectedRows(), std::vector<int>{1});
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_LBUTTONDOWN));
    EXPECT_EQ(posted[0].lParam, below);

    // Right presses, on a row or not, are the parent's alone.
    setState(1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    takePosted();
    mouse(WM_RBUTTONDOWN, WM_RBUTTONUP, onLabel(0), MK_RBUTTON);
    posted = takePosted();
    EXPECT_TRUE(selectedRows().empty());
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_RBUTTONDOWN));
    EXPECT_EQ(posted[0].lParam, onLabel(0));

    // A double-click off the rows: nothing at all.
    mouse(WM_LBUTTONDBLCLK, WM_LBUTTONUP, below, MK_LBUTTON);
    EXPECT_TRUE(takePosted().empty());
    EXPECT_TRUE(selectedRows().empty());
    EXPECT_EQ(stateOf(0, 0xF000) | stateOf(1, 0xF000) | stateOf(2, 0xF000), 0x2000u);
}

TEST_F(CheckListTest, DoubleClickOnARowFlipsItsCheckAndTellsTheParent)
{
    configureLikeDialog(3);
    mouse(WM_LBUTTONDOWN, WM_LBUTTONUP, onLabel(2), MK_LBUTTON);
    mouse(WM_LBUTTONDBLCLK, WM_LBUTTONUP, onLabel(2), MK_LBUTTON);
    std::vector<Posted> posted = takePosted();
    EXPECT_EQ(stateOf(2, 0xF000), 0x1000u);
    EXPECT_EQ(m_ctrl.getSelectedRow(), 2);
    ASSERT_EQ(countOf(posted, WM_LIST_DBLCLICK), 1u);
    for (const Posted& p : posted) {
        if (p.message == WM_LIST_DBLCLICK) {
            EXPECT_TRUE(p.wParam == 0 && p.lParam == 0);
        }
    }
    mouse(WM_LBUTTONDBLCLK, WM_LBUTTONUP, onLabel(2), MK_LBUTTON);
    EXPECT_EQ(stateOf(2, 0xF000), 0x2000u);
}

TEST_F(CheckListTest, HeaderClickSortsAscendingAndAgainKeepsTheOrder)
{
    configureLikeDialog(0);
    addRow(L"b.xml", L"10");
    addRow(L"C.xml", L"9");
    addRow(L"a2.xml", L"100");
    addRow(L"A.xml", L" 7 ");
    HWND header = reinterpret_cast<HWND>(SendMessageW(m_list, LVM_GETHEADER, 0, 0));
    auto clickHeader = [&](int column) {
        RECT rc = {};
        SendMessageW(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&rc));
        // Near the left edge: the wide last column runs past the window.
        LPARAM where = MAKELPARAM(rc.left + 20, (rc.top + rc.bottom) / 2);
        SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, where);
        SendMessageW(header, WM_LBUTTONUP, 0, where);
        pump();
    };
    const std::vector<std::wstring> bySource = {L"A.xml", L"a2.xml", L"b.xml", L"C.xml"};
    clickHeader(1);
    EXPECT_EQ(sourceColumn(), bySource);
    clickHeader(1);
    EXPECT_EQ(sourceColumn(), bySource);
    // The state column holds numbers here: compared as numbers.
    const std::vector<std::wstring> byState = {L"A.xml", L"C.xml", L"b.xml", L"a2.xml"};
    clickHeader(4);
    EXPECT_EQ(sourceColumn(), byState);
    m_ctrl.setRecordRows(0);
    clickHeader(1);
    EXPECT_EQ(sourceColumn(), byState);
}

TEST_F(CheckListTest, WorkerThreadSelectsAndScrollsTheRowIntoView)
{
    configureLikeDialog(200);
    ASSERT_EQ(SendMessageW(m_list, LVM_GETTOPINDEX, 0, 0), 0);
    std::atomic<bool> done(false);
    std::thread worker([&] {
        m_ctrl.selectAndShowRow(150);
        done = true;
    });
    // The worker's calls run on this thread: keep serving messages.
    while (!done) {
        pump();
        Sleep(1);
    }
    worker.join();
    EXPECT_EQ(m_ctrl.getSelectedRow(), 150);
    EXPECT_GT(SendMessageW(m_list, LVM_GETTOPINDEX, 0, 0), 0);
    RECT row = rowRect(150, LVIR_BOUNDS), client = {};
    GetClientRect(m_list, &client);
    EXPECT_TRUE(row.top >= 0 && row.bottom <= client.bottom);
}

} // namespace
