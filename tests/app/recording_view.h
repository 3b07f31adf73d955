// A real implementation of the workers' contract for tests that need no
// window: it keeps the rows, the lines and the paths as the dialog would, and
// records each call as one line, so that a test compares the whole sequence
// a worker produced (as Wine's own control tests compare message sequences).
#pragma once

#include "contract/migration_view.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace qmtest {

class CRecordingView : public IMigrationView {
public:
    // The calls recorded so far, and forgets them.
    std::vector<std::wstring> TakeCalls();
    // Every row's record, in the order added.
    std::vector<TakenRecord> Rows() const { return m_rows.TakeAll(); }

    void SetStatus(const std::wstring& text) override { Record(L"status " + text); }
    void SetSourcePath(const std::wstring& text) override { Record(L"source " + text); }
    void SetDestinationPath(const std::wstring& text) override { Record(L"destination " + text); }
    void EnableWorkerButtons(unsigned buttons) override { Record(L"buttons " + ButtonText(buttons)); }
    void AddListItems(const NewListItem* items, size_t count) override;
    void ClearList() override;
    int RowCount() override { return int(m_rows.Size()); }
    void SetListRedraw(bool on) override { Record(on ? L"redraw on" : L"redraw off"); }
    void SelectAndShowRow(int row) override { Record(L"show " + std::to_wstring(row)); }
    std::vector<TakenRecord> TakeRecords() override;
    bool ShowRecordRowIfTicked(LPARAM id) override;
    void SetRecordState(LPARAM id, const RowState& state) override;
    void SetInstallPaths(const std::wstring& betaPath, const std::wstring& gaPath) override;
    std::wstring BetaPath() override { return m_betaPath; }
    std::wstring GaPath() override { return m_gaPath; }
    bool ListsOnly() override { return false; }
    // Records the message; a question is answered No.
    bool ShowMessage(const std::wstring& text, MessageKind kind) override;
    void EndRun(unsigned buttons) override { Record(L"end " + ButtonText(buttons)); }

private:
    // Migrate, Clear All, Select All, Refresh, Done as 1 (on) or 0 (off).
    static std::wstring ButtonText(unsigned buttons);
    void Record(const std::wstring& call);

    std::mutex m_lock;
    std::vector<std::wstring> m_calls;
    CRowStore m_rows;
    std::wstring m_betaPath, m_gaPath;
};

// Compares the calls recorded since the last look with `expected`, naming the
// first that differs and the line of the test that expected it.
void expectCalls(CRecordingView& view, const std::vector<std::wstring>& expected, const char* file, int line);
#define EXPECT_CALLS(view, ...) ::qmtest::expectCalls(view, __VA_ARGS__, __FILE__, __LINE__)

} // namespace qmtest
