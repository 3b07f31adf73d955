#include "contract/row_store.h"

LPARAM CRowStore::Add(const NewListItem& add)
{
    MigrationItem record;
    record.description = add.description;
    record.sourceName = add.sourceName;
    record.sourceFileName = add.sourceFileName.empty() ? add.sourceName : add.sourceFileName;
    record.conversion = add.conversion;
    record.destinationName = add.destinationName;
    record.sourceRoot = add.sourceRoot;
    record.destinationRoot = add.destinationRoot;
    record.kind = add.kind;
    const LPARAM id = ++m_lastId;
    m_records.emplace_hint(m_records.end(), id, std::move(record));
    return id;
}

const MigrationItem* CRowStore::Find(LPARAM id) const
{
    const auto found = m_records.find(id);
    return found == m_records.end() ? nullptr : &found->second;
}

bool CRowStore::SetState(LPARAM id, const RowState& state)
{
    const auto found = m_records.find(id);
    if (found == m_records.end())
        return false;
    found->second.state = state;
    return true;
}

std::vector<TakenRecord> CRowStore::TakeAll() const
{
    std::vector<TakenRecord> taken;
    taken.reserve(m_records.size());
    for (const auto& record : m_records)
        taken.push_back(TakenRecord { record.first, record.second });
    return taken;
}

std::wstring stateText(const RowState& state)
{
    switch (state.outcome) {
    case RowOutcome::Migrated:
        return ITEM_STATE_MIGRATED;
    case RowOutcome::Failed:
        return ITEM_STATE_FAILED + state.reason;
    default:
        return ITEM_STATE_NOT_STARTED;
    }
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
        return stateText(record->state);
    default:
        return std::wstring();
    }
}
