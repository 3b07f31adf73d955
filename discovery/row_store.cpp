#include "discovery/row_store.h"

#include <utility>

LPARAM CRowStore::Add(MigrationItem item)
{
    auto record = std::make_unique<MigrationItem>(std::move(item));
    // The record's address is its id: unique while it lives, never 0.
    const LPARAM id = reinterpret_cast<LPARAM>(record.get());
    m_records.emplace(id, std::move(record));
    return id;
}

const MigrationItem* CRowStore::Find(LPARAM id) const
{
    const auto found = m_records.find(id);
    return found == m_records.end() ? nullptr : found->second.get();
}

bool CRowStore::SetState(LPARAM id, const std::wstring& state)
{
    const auto found = m_records.find(id);
    if (found == m_records.end())
        return false;
    found->second->state = state;
    return true;
}

std::wstring sortKeyOf(const MigrationItem* record, int column)
{
    if (!record)
        return std::wstring();
    switch (column) {
    case 0:
        return record->description;
    case 1:
        return record->sourceName;
    case 2:
        return record->conversion;
    case 3:
        return record->destinationName;
    case 4:
        return record->state;
    default:
        return std::wstring();
    }
}
