// What one row of the migration list stands for, and the kinds of item the
// tool knows how to carry over.
#pragma once

#include <cstdint>
#include <string>

enum ItemKind : std::uint32_t {
    ITEM_REGISTRY_SETTINGS = 0,
    ITEM_RECIPIENTS = 1,
    ITEM_EXTENSION = 2,
    ITEM_TEMPLATE = 3,
    ITEM_SQL_CACHE = 4,
    ITEM_NOTIFY_MISSED = 5,
    ITEM_NOTIFY_FAILED = 6,
    ITEM_NONE_FOUND = 7,
    ITEM_WEB_SUMMARY_HTM = 8,
    ITEM_WEB_SUMMARY_INFO = 9,
    ITEM_ZELT = 10,
};

// A record's state: not started until a migration reaches its row, then
// migrated, or failed with the reason. It travels as this value; its text
// is for the State column and the console only.
enum class RowOutcome { NotStarted, Migrated, Failed };
struct RowState {
    RowOutcome outcome = RowOutcome::NotStarted;
    std::wstring reason; // why it failed
};

// The State column's texts: "Not Started", "Migrated", or "Failed: " followed
// by the reason.
constexpr wchar_t ITEM_STATE_NOT_STARTED[] = L"Not Started";
constexpr wchar_t ITEM_STATE_MIGRATED[] = L"Migrated";
constexpr wchar_t ITEM_STATE_FAILED[] = L"Failed: ";
std::wstring stateText(const RowState& state);

// One record per list row, kept by the row store (contract/row_store.h).
struct MigrationItem {
    std::wstring description;     // column 0
    std::wstring sourceName; // column 1: file name, no directory, in lower case
    std::wstring sourceFileName; // the same name as the finder found it: what the migration opens
    std::wstring conversion;      // column 2: "To unicode" or "None" (a label only)
    std::wstring destinationName; // column 3
    RowState state;               // column 4: what the migration did (stateText)
    std::wstring sourceRoot;      // directory holding sourceName
    std::wstring destinationRoot; // directory receiving destinationName
    ItemKind kind = ITEM_NONE_FOUND;
};

// File kinds the migration writes as UTF-16LE text. The other file kinds
// (templates, Zelt files) are copied as they are.
inline bool itemKindConvertsToUnicode(std::uint32_t kind)
{
    switch (kind) {
    case ITEM_RECIPIENTS:
    case ITEM_EXTENSION:
    case ITEM_SQL_CACHE:
    case ITEM_NOTIFY_MISSED:
    case ITEM_NOTIFY_FAILED:
    case ITEM_WEB_SUMMARY_HTM:
    case ITEM_WEB_SUMMARY_INFO:
        return true;
    default:
        return false;
    }
}

// Kinds that stand for one file to copy.
inline bool itemKindIsFile(std::uint32_t kind)
{
    return itemKindConvertsToUnicode(kind) || kind == ITEM_TEMPLATE || kind == ITEM_ZELT;
}

// The key a record gives for a column: the record's texts in column order,
// empty for any other column or for no record.
std::wstring sortKeyOf(const MigrationItem* record, int column);
