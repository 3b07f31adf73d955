#include "discovery/item_types.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct Table {
    const char* name;
    const ItemTypeEntry* rows;
};

const Table kTables[] = {
    {"report", reportItemTypes},
    {"web summary", webSummaryItemTypes},
    {"zelt", zeltItemTypes},
};

} // namespace

// The Conversion column is only a label; what the migration does follows the
// kind. The two must never tell the user different things.
TEST(ItemTypes, ConversionLabelAgreesWithWhatTheKindDoes)
{
    for (const Table& table : kTables) {
        for (const ItemTypeEntry* row = table.rows; row->pattern; ++row) {
            SCOPED_TRACE(std::string(table.name) + " row for kind " + std::to_string(row->kind));
            ASSERT_NE(nullptr, row->description);
            ASSERT_NE(nullptr, row->conversion);
            const std::wstring conversion = row->conversion;
            ASSERT_TRUE(conversion == L"To unicode" || conversion == L"None");
            EXPECT_EQ(conversion == L"To unicode", itemKindConvertsToUnicode(row->kind));
            EXPECT_TRUE(itemKindIsFile(row->kind));
        }
    }
}

TEST(ItemTypes, TablesEndWithAnAllNullRowAndCoverEveryFileKindOnce)
{
    std::set<unsigned> kinds;
    for (const Table& table : kTables) {
        const ItemTypeEntry* row = table.rows;
        while (row->pattern) {
            EXPECT_TRUE(kinds.insert(row->kind).second) << "kind " << row->kind << " twice";
            ++row;
        }
        EXPECT_EQ(nullptr, row->fileName);
        EXPECT_EQ(nullptr, row->description);
        EXPECT_EQ(nullptr, row->conversion);
        EXPECT_EQ(0u, unsigned(row->kind));
    }
    for (unsigned kind = 0; kind <= 10; ++kind)
        EXPECT_EQ(itemKindIsFile(kind), kinds.count(kind) == 1) << "kind " << kind;
    EXPECT_FALSE(itemKindIsFile(11));
    EXPECT_FALSE(itemKindConvertsToUnicode(11));
}

TEST(ItemTypes, WebSummaryInfoPagesComeBeforeHtmPages)
{
    EXPECT_EQ(ITEM_WEB_SUMMARY_INFO, webSummaryItemTypes[0].kind);
    EXPECT_EQ(ITEM_WEB_SUMMARY_HTM, webSummaryItemTypes[1].kind);
}
