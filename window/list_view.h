// A report-view list with one-line helpers over the list-view messages. Like
// CWindow it holds the window without owning it, and keeps no state.
#pragma once

#include "window/window.h"

#include <commctrl.h>

#include <string>

class CListView : public CWindow {
public:
    int ItemCount() const { return int(Send(LVM_GETITEMCOUNT)); }
    int InsertItem(const LVITEMW& item) const { return int(Send(LVM_INSERTITEMW, 0, Lp(&item))); }
    bool DeleteItem(int row) const { return Send(LVM_DELETEITEM, row) != 0; }
    bool DeleteAllItems() const { return Send(LVM_DELETEALLITEMS) != 0; }
    bool GetItem(LVITEMW& item) const { return Send(LVM_GETITEMW, 0, Lp(&item)) != 0; }
    bool SetItemText(int row, LVITEMW& item) const { return Send(LVM_SETITEMTEXTW, row, Lp(&item)) != 0; }
    int GetItemText(int row, LVITEMW& item) const { return int(Send(LVM_GETITEMTEXTW, row, Lp(&item))); }
    UINT GetItemState(int row, UINT mask) const { return UINT(Send(LVM_GETITEMSTATE, row, mask)); }
    bool SetItemState(int row, UINT state, UINT mask) const
    {
        LVITEMW item = {};
        item.stateMask = mask;
        item.state = state;
        return Send(LVM_SETITEMSTATE, row, Lp(&item)) != 0;
    }
    int GetNextItem(int start, UINT flags) const { return int(Send(LVM_GETNEXTITEM, WPARAM(start), flags)); }
    int GetSelectedCount() const { return int(Send(LVM_GETSELECTEDCOUNT)); }
    bool EnsureVisible(int row, bool partialOk) const { return Send(LVM_ENSUREVISIBLE, row, partialOk) != 0; }
    bool SortItems(PFNLVCOMPARE compare, LPARAM data) const { return Send(LVM_SORTITEMS, data, Lp(compare)) != 0; }
    int FindItemByParam(LPARAM param) const
    {
        LVFINDINFOW find = {};
        find.flags = LVFI_PARAM;
        find.lParam = param;
        return int(Send(LVM_FINDITEMW, WPARAM(-1), Lp(&find)));
    }
    int InsertColumn(int index, const LVCOLUMNW& column) const
    {
        return int(Send(LVM_INSERTCOLUMNW, index, Lp(&column)));
    }
    DWORD SetExtendedStyle(DWORD mask, DWORD style) const
    {
        return DWORD(Send(LVM_SETEXTENDEDLISTVIEWSTYLE, mask, style));
    }
    DWORD GetExtendedStyle() const { return DWORD(Send(LVM_GETEXTENDEDLISTVIEWSTYLE)); }
    HIMAGELIST SetImageList(HIMAGELIST images, int kind) const
    {
        return reinterpret_cast<HIMAGELIST>(Send(LVM_SETIMAGELIST, kind, Lp(images)));
    }
    HIMAGELIST GetImageList(int kind) const { return reinterpret_cast<HIMAGELIST>(Send(LVM_GETIMAGELIST, kind)); }
    int HitTest(LVHITTESTINFO& hit) const { return int(Send(LVM_HITTEST, 0, Lp(&hit))); }
    bool GetItemRect(int row, RECT& rect, int code) const
    {
        rect.left = code;
        return Send(LVM_GETITEMRECT, row, Lp(&rect)) != 0;
    }
    bool GetItemPosition(int row, POINT& point) const { return Send(LVM_GETITEMPOSITION, row, Lp(&point)) != 0; }
    HWND GetHeader() const { return reinterpret_cast<HWND>(Send(LVM_GETHEADER)); }
    // A cell's whole text. Grows the buffer until the text fits: the list
    // answers with the number of characters it copied, one short of the
    // buffer when it had to cut.
    std::wstring CellText(int row, int column) const
    {
        std::wstring text(256, L'\0');
        for (;;) {
            LVITEMW item = {};
            item.iSubItem = column;
            item.pszText = &text[0];
            item.cchTextMax = int(text.size());
            const int copied = Hwnd() ? GetItemText(row, item) : 0;
            if (copied < int(text.size()) - 1 || text.size() >= 65536) {
                text.resize(copied > 0 ? copied : 0);
                return text;
            }
            text.resize(text.size() * 4);
        }
    }

private:
    template <typename T> static LPARAM Lp(T pointer) { return reinterpret_cast<LPARAM>(pointer); }
};
