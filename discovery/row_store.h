// The records behind the list's rows. The store owns them, and is the only
// thing that changes them; a row carries its record's id as its item data.
// Every call is made on the dialog's thread (workers reach it through the
// list's RunOnListThread), so the store needs no lock of its own.
#pragma once

#include "contract/migration_item.h"

#include <windows.h>

#include <memory>
#include <unordered_map>

class CRowStore {
public:
    // Keeps a copy of `item`; returns its id (never 0).
    LPARAM Add(MigrationItem item);
    // Null for an id that is not one of ours (a stale or a foreign value).
    const MigrationItem* Find(LPARAM id) const;
    bool SetState(LPARAM id, const std::wstring& state);
    void Remove(LPARAM id) { m_records.erase(id); }
    void Clear() { m_records.clear(); }
    size_t Size() const { return m_records.size(); }

private:
    std::unordered_map<LPARAM, std::unique_ptr<MigrationItem>> m_records;
};
