// A report-view list with one-line helpers over the list-view messages. Like
// CWindow it holds the window without owning it, and keeps no state.
#pragma once

#include "window/window.h"

#include <commctrl.h>

class CListView : public CWindow {
public:
    int itemCount() const { return int(send(LVM_GETITEMCOUNT)); }
    int insertItem(const LVITEMW& item) const { return int(send(LVM_INSERTITEMW, 0, lp(&item))); }
    bool deleteItem(int row) const { return send(LVM_DELETEITEM, row) != 0; }
    bool deleteAllItems() const { return send(LVM_DELETEALLITEMS) != 0; }
    bool getItem(LVITEMW& item) const { return send(LVM_GETITEMW, 0, lp(&item)) != 0; }
    bool setItemText(int row, LVITEMW& item) const { return send(LVM_SETITEMTEXTW, row, lp(&item)) != 0; }
    int getItemText(int row, LVITEMW& item) const { return int(send(LVM_GETITEMTEXTW, row, lp(&item))); }
    UINT getItemState(int row, UINT mask) const { return UINT(send(LVM_GETITEMSTATE, row, mask)); }
    bool setItemState(int row, UINT state, UINT mask) const
    {
        LVITEMW item = {};
        item.stateMask = mask;
        item.state = state;
        return send(LVM_SETITEMSTATE, row, lp(&item)) != 0;
    }
    int getNextItem(int start, UINT flags) const { return int(send(LVM_GETNEXTITEM, WPARAM(start), flags)); }
    bool ensureVisible(int row, bool partialOk) const { return send(LVM_ENSUREVISIBLE, row, partialOk) != 0; }
    bool sortItems(PFNLVCOMPARE compare, LPARAM data) const { return send(LVM_SORTITEMS, data, lp(compare)) != 0; }
    int findItemByParam(LPARAM param) const
    {
        LVFINDINFOW find = {};
        find.flags = LVFI_PARAM;
        find.lParam = param;
        return int(send(LVM_FINDITEMW, WPARAM(-1), lp(&find)));
    }
    int insertColumn(int index, const LVCOLUMNW& column) const
    {
        return int(send(LVM_INSERTCOLUMNW, index, lp(&column)));
    }
    DWORD setExtendedStyle(DWORD mask, DWORD style) const
    {
        return DWORD(send(LVM_SETEXTENDEDLISTVIEWSTYLE, mask, style));
    }
    DWORD getExtendedStyle() const { return DWORD(send(LVM_GETEXTENDEDLISTVIEWSTYLE)); }
    HIMAGELIST setImageList(HIMAGELIST images, int kind) const
    {
        return reinterpret_cast<HIMAGELIST>(send(LVM_SETIMAGELIST, kind, lp(images)));
    }
    HIMAGELIST getImageList(int kind) const { return reinterpret_cast<HIMAGELIST>(send(LVM_GETIMAGELIST, kind)); }
    int hitTest(LVHITTESTINFO& hit) const { return int(send(LVM_HITTEST, 0, lp(&hit))); }
    bool getItemRect(int row, RECT& rect, int code) const
    {
        rect.left = code;
        return send(LVM_GETITEMRECT, row, lp(&rect)) != 0;
    }
    bool getItemPosition(int row, POINT& point) const { return send(LVM_GETITEMPOSITION, row, lp(&point)) != 0; }
    HWND getHeader() const { return reinterpret_cast<HWND>(send(LVM_GETHEADER)); }

private:
    template <typename T> static LPARAM lp(T pointer) { return reinterpret_cast<LPARAM>(pointer); }
};
