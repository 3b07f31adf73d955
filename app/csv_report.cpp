#include "app/csv_report.h"

std::wstring csvField(const std::wstring& field)
{
    const bool formula = !field.empty() && std::wstring(L"=+-@\t\r").find(field[0]) != std::wstring::npos;
    const std::wstring text = formula ? L"'" + field : field;
    if (text.find_first_of(L",\"\r\n") == std::wstring::npos)
        return text;
    std::wstring quoted = L"\"";
    for (wchar_t c : text) {
        quoted += c;
        if (c == L'"')
            quoted += L'"';
    }
    return quoted + L"\"";
}

std::string reportBytes(const std::vector<CConsoleView::Row>& rows)
{
    std::wstring text = L"Description,Source,Conversion,Destination,Source Folder,Destination Folder,"
                        L"Destination Before,State,Reason\r\n";
    for (const CConsoleView::Row& row : rows) {
        const MigrationItem& item = row.item;
        const bool isFailure = item.state.outcome == RowOutcome::Failed;
        const std::wstring state = isFailure ? L"Failed" : stateText(item.state);
        const std::wstring& reason = item.state.reason;
        for (const std::wstring& field : { item.description, item.sourceName, item.conversion, item.destinationName,
                                           item.sourceRoot, item.destinationRoot,
                                           std::wstring(row.destinationToday), state, reason })
            text += csvField(field) + L",";
        text.back() = L'\r';
        text += L"\n";
    }
    return "\xEF\xBB\xBF" + CConsoleOut::utf8(text);
}
