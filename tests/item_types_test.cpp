#include "discovery/item_types.h"

#include <gtest/gtest.h>

#include <string>

// The Conversion column is only a label; what the migration does follows the
// kind, so the two must agree. Each table ends with an all-null row.
TEST(ItemTypes, ConversionLabelAgreesWithKindAndTablesEndAllNull)
{
    for (const ItemTypeEntry* table : {reportItemTypes, webSummaryItemTypes, zeltItemTypes}) {
        const ItemTypeEntry* row = table;
        for (; row->pattern; ++row) {
            SCOPED_TRACE("kind " + std::to_string(row->kind));
            ASSERT_NE(nullptr, row->conversion);
            const std::wstring conversion = row->conversion;
            ASSERT_TRUE(conversion == L"To unicode" || conversion == L"None");
            EXPECT_EQ(conversion == L"To unicode", itemKindConvertsToUnicode(row->kind));
            EXPECT_TRUE(itemKindIsFile(row->kind));
        }
        EXPECT_EQ(nullptr, row->fileName);
        EXPECT_EQ(nullptr, row->description);
        EXPECT_EQ(nullptr, row->conversion);
        EXPECT_EQ(0u, unsigned(row->kind));
    }
}
