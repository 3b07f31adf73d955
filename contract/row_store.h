// The records behind the rows of a face, kept once for all of them: the
// window (with its list showing the rows), the unattended run's console, and
// the tests' recording view. The store owns the records and is the only
// thing that changes them; each has an id, never 0 and never given twice,
// that a row carries as its item data. The store has no lock: each face
// calls it from one thread at a time.
#pragma once

#include "contract/migration_item.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// One row to add: the texts and kind of a new record.
struct NewListItem {
    ItemKind kind;
    std::wstring description;
    std::wstring sourceName;
    std::wstring sourceRoot;
    std::wstring destinationName;
    std::wstring destinationRoot;
    std::wstring conversion;
    std::wstring sourceFileName; // the name as found; sourceName when empty
};

// A row's record as it was when a migration took it, and the id that finds
// its row again however the list has been reordered since.
struct TakenRecord {
    LPARAM id;
    MigrationItem item;
};

class CRowStore {
public:
    // A new record for `add`, "Not Started"; returns its id.
    LPARAM Add(const NewListItem& add);
    // Null for an id that is not one of ours (a stale or a foreign value).
    const MigrationItem* Find(LPARAM id) const;
    bool SetState(LPARAM id, const RowState& state);
    void Remove(LPARAM id) { m_records.erase(id); }
    void Clear() { m_records.clear(); }
    size_t Size() const { return m_records.size(); }
    // Copies of every record, in the order they were added.
    std::vector<TakenRecord> TakeAll() const;

private:
    std::map<LPARAM, MigrationItem> m_records; // ids rise as records come
    LPARAM m_lastId = 0;
};
