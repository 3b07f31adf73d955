// The workers' face without a window (IMigrationView): it keeps the rows
// and prints each row's result as the migration reaches it.
#pragma once

#include "app/console_out.h"
#include "common/cmd/console_names.h"
#include "common/cmd/registry_key.h"
#include "common/text.h"
#include "contract/migration_view.h"
#include "window/handle.h"

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

class CConsoleView : public IMigrationView {
public:
    // A row as the run ends: its record, whether it was to be migrated, and
    // what its destination was before the run ("replaced" or "new").
    struct Row {
        MigrationItem item;
        bool ticked;
        const wchar_t* destinationToday;
    };

    CConsoleView(CConsoleOut& out, bool listOnly) : m_out(out), m_listOnly(listOnly) {}

    std::wstring status;
    std::wstring closingText;

    // Every row, in the order the refresh added them.
    std::vector<Row> Rows() const
    {
        std::vector<Row> rows;
        for (const TakenRecord& record : m_rows.TakeAll())
            rows.push_back(Row { record.item, !m_unticked.count(record.id), m_before.at(record.id) });
        return rows;
    }
    // Only the rows `wanted` names are migrated.
    template <typename Wanted> void TickOnly(Wanted wanted)
    {
        m_unticked.clear();
        for (const TakenRecord& record : m_rows.TakeAll())
            if (!wanted(record.item))
                m_unticked.insert(record.id);
    }

    void SetStatus(const std::wstring& text) override { status = text; }
    void SetSourcePath(const std::wstring&) override {}
    void SetDestinationPath(const std::wstring&) override {}
    void EnableWorkerButtons(unsigned) override {}
    void AddListItems(const NewListItem* items, size_t count) override
    {
        for (size_t i = 0; i < count; ++i) {
            const LPARAM id = m_rows.Add(items[i]);
            m_before[id] = destinationToday(*m_rows.Find(id));
        }
    }
    void ClearList() override
    {
        m_rows.Clear();
        m_before.clear();
        m_unticked.clear();
    }
    int RowCount() override { return int(m_rows.Size()); }
    void SetListRedraw(bool) override {}
    void SelectAndShowRow(int) override {}
    std::vector<TakenRecord> TakeRecords() override { return m_rows.TakeAll(); }
    bool ShowRecordRowIfTicked(LPARAM id) override { return m_rows.Find(id) && !m_unticked.count(id); }
    void SetRecordState(LPARAM id, const RowState& state) override
    {
        if (m_rows.SetState(id, state))
            m_out.Line(rowLine(Row { *m_rows.Find(id), true, m_before[id] }));
    }
    bool ListsOnly() override { return m_listOnly; }
    void SetInstallPaths(const std::wstring& betaPath, const std::wstring& gaPath) override
    {
        m_betaPath = betaPath;
        m_gaPath = gaPath;
    }
    std::wstring BetaPath() override { return m_betaPath; }
    std::wstring GaPath() override { return m_gaPath; }
    bool ShowMessage(const std::wstring& text, MessageKind) override
    {
        closingText = text;
        return false; // the workers ask nothing; a question would be No
    }
    void EndRun(unsigned) override {}

    // "Description  source -> destination (replaced or new): State".
    static std::wstring rowLine(const Row& row)
    {
        const MigrationItem& item = row.item;
        // The registry row's roots are its keys already.
        const bool key = item.kind == ITEM_REGISTRY_SETTINGS;
        return item.description + L"  " + item.sourceRoot + (key ? L"" : L"\\" + item.sourceName) + L" -> "
            + item.destinationRoot + (key ? L"" : L"\\" + item.destinationName) + L" (" + row.destinationToday
            + L"): " + stateText(item.state);
    }

private:
    const wchar_t* destinationToday(const MigrationItem& item)
    {
        if (item.kind == ITEM_REGISTRY_SETTINGS) {
            CRegistryKey key;
            return key.Open(HKEY_LOCAL_MACHINE, GA_SETTINGS_SUBKEY) == ERROR_SUCCESS ? L"replaced" : L"new";
        }
        if (!itemKindIsFile(item.kind))
            return L"-";
        const std::wstring& name = item.destinationName;
        if (name.find_first_of(L"\\/") != std::wstring::npos) {
            const std::wstring path = item.destinationRoot + L"\\" + name;
            return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ? L"replaced" : L"new";
        }
        return namesIn(item.destinationRoot).count(foldedCase(name)) ? L"replaced" : L"new";
    }

    // The names in a destination directory as the listing found them, read
    // once: looking up each missing name would search the directory again.
    const std::set<std::wstring>& namesIn(const std::wstring& directory)
    {
        const std::wstring key = foldedCase(directory);
        const auto known = m_namesIn.find(key);
        if (known != m_namesIn.end())
            return known->second;
        std::set<std::wstring>& names = m_namesIn[key];
        WIN32_FIND_DATAW entry;
        CFindHandle find(FindFirstFileW((directory + L"\\*").c_str(), &entry));
        if (find.IsValid()) {
            do {
                names.insert(foldedCase(entry.cFileName));
            } while (FindNextFileW(find.Get(), &entry));
        }
        return names;
    }

    CConsoleOut& m_out;
    bool m_listOnly;
    CRowStore m_rows;
    std::map<LPARAM, const wchar_t*> m_before; // what each row's destination was
    std::set<LPARAM> m_unticked;
    std::map<std::wstring, std::set<std::wstring>> m_namesIn;
    std::wstring m_betaPath, m_gaPath;
};
