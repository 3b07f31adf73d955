// The records behind the list's rows. The store owns them, and is the only
// thing that changes them; a row carries its record's id as its item data.
// Every call is made on the dialog's thread (workers reach it through the
// list's runOnListThread), so the store needs no lock of its own.
#pragma once

#include "discovery/migration_item.h"

#include <windows.h>

#include <memory>
#include <unordered_map>

class CRowStore {
public:
    // Keeps a copy of `item`; returns its id (never 0).
    LPARAM add(const MigrationItem& item);
    // Null for an id that is not one of ours (a stale or a foreign value).
    const MigrationItem* find(LPARAM id) const;
    bool setState(LPARAM id, const std::wstring& state);
    void remove(LPARAM id) { m_records.erase(id); }
    void clear() { m_records.clear(); }
    size_t size() const { return m_records.size(); }

private:
    std::unordered_map<LPARAM, std::unique_ptr<MigrationItem>> m_records;
};
