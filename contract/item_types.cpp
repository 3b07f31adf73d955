#include "contract/item_types.h"

const wchar_t CONVERSION_TO_UNICODE[] = L"To unicode";
const wchar_t CONVERSION_NONE[] = L"None";

const ItemTypeEntry reportItemTypes[] = {
    {L"*.rcp", nullptr, L"Recipients", CONVERSION_TO_UNICODE, ITEM_RECIPIENTS},
    {L"*.ext", nullptr, L"Extension", CONVERSION_TO_UNICODE, ITEM_EXTENSION},
    {L"*.xml", nullptr, L"Template", CONVERSION_NONE, ITEM_TEMPLATE},
    {L"*.dat", nullptr, L"SQL Cache", CONVERSION_TO_UNICODE, ITEM_SQL_CACHE},
    {L"notifymissed.txt", L"notifymissed.txt", L"Notify Missed", CONVERSION_TO_UNICODE, ITEM_NOTIFY_MISSED},
    {L"notifyfailed.txt", L"notifyfailed.txt", L"Notify Failed", CONVERSION_TO_UNICODE, ITEM_NOTIFY_FAILED},
    {nullptr, nullptr, nullptr, nullptr, ITEM_REGISTRY_SETTINGS},
};

// ".info" pages come before ".htm" pages in the list.
const ItemTypeEntry webSummaryItemTypes[] = {
    {L"*.info", nullptr, L"Web Summary", CONVERSION_TO_UNICODE, ITEM_WEB_SUMMARY_INFO},
    {L"*.htm", nullptr, L"Web Summary", CONVERSION_TO_UNICODE, ITEM_WEB_SUMMARY_HTM},
    {nullptr, nullptr, nullptr, nullptr, ITEM_REGISTRY_SETTINGS},
};

const ItemTypeEntry zeltItemTypes[] = {
    {L"*.*", nullptr, L"Zelt", CONVERSION_NONE, ITEM_ZELT},
    {nullptr, nullptr, nullptr, nullptr, ITEM_REGISTRY_SETTINGS},
};
