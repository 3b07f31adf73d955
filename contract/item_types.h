// The fixed tables that say which files of the beta installation are
// migration items. Each table ends with an all-null row.
#pragma once

#include "contract/migration_item.h"

struct ItemTypeEntry {
    const wchar_t* pattern;     // file finder pattern; null ends the table
    const wchar_t* fileName;    // fixed destination name, or null to keep the found name
    const wchar_t* description; // MigrationItem::description
    const wchar_t* conversion;  // MigrationItem::conversion
    ItemKind kind;              // MigrationItem::kind
};

// Scanned in the beta installation directory; destination the 5.2.2 installation directory.
extern const ItemTypeEntry reportItemTypes[];
// Scanned in the beta web site directory; destination the 5.2.2 web site directory.
extern const ItemTypeEntry webSummaryItemTypes[];
// Scanned in the beta "\zelt" directory; destination the 5.2.2 "\zelt" directory.
extern const ItemTypeEntry zeltItemTypes[];

extern const wchar_t CONVERSION_TO_UNICODE[]; // "To unicode"
extern const wchar_t CONVERSION_NONE[];       // "None"
