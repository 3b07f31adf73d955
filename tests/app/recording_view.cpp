#include "tests/app/recording_view.h"

#include "tests/support/test_support.h"

namespace qmtest {

std::vector<std::wstring> CRecordingView::TakeCalls()
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<std::wstring> calls;
    calls.swap(m_calls);
    return calls;
}

void CRecordingView::Record(const std::wstring& call)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_calls.push_back(call);
}

std::wstring CRecordingView::ButtonText(unsigned buttons)
{
    std::wstring text;
    for (unsigned button : { BUTTON_MIGRATE, BUTTON_CLEAR_ALL, BUTTON_SELECT_ALL, BUTTON_REFRESH, BUTTON_DONE })
        text += (buttons & button) ? L'1' : L'0';
    return text;
}

void CRecordingView::AddListItems(const NewListItem* items, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const NewListItem& add = items[i];
        m_rows.Add(add);
        Record(L"add " + add.description + L"|" + add.sourceName + L"|" + add.conversion + L"|"
               + add.destinationName);
    }
}


void CRecordingView::ClearList()
{
    m_rows.Clear();
    Record(L"clear");
}

std::vector<TakenRecord> CRecordingView::TakeRecords()
{
    const std::vector<TakenRecord> taken = m_rows.TakeAll();
    Record(L"take " + std::to_wstring(taken.size()));
    return taken;
}

bool CRecordingView::ShowRecordRowIfTicked(LPARAM id)
{
    return m_rows.Find(id) != nullptr; // every row stays ticked
}

void CRecordingView::SetRecordState(LPARAM id, const RowState& state)
{
    const MigrationItem* row = m_rows.SetState(id, state) ? m_rows.Find(id) : nullptr;
    Record(L"state " + (row ? row->description + L"|" + row->sourceName : L"?") + L": " + stateText(state));
}

void CRecordingView::SetInstallPaths(const std::wstring& betaPath, const std::wstring& gaPath)
{
    m_betaPath = betaPath;
    m_gaPath = gaPath;
    Record(L"paths " + betaPath + L"|" + gaPath);
}

bool CRecordingView::ShowMessage(const std::wstring& text, MessageKind kind)
{
    const wchar_t* kinds[] = { L"plain", L"warning", L"error", L"question" };
    Record(L"message " + std::wstring(kinds[int(kind)]) + L": " + text);
    return false;
}

void expectCalls(CRecordingView& view, const std::vector<std::wstring>& expected, const char* file, int line)
{
    const std::vector<std::wstring> calls = view.TakeCalls();
    for (size_t i = 0; i < calls.size() || i < expected.size(); ++i) {
        const std::wstring got = i < calls.size() ? calls[i] : L"(no call)";
        const std::wstring want = i < expected.size() ? expected[i] : L"(no call)";
        if (got != want) {
            ADD_FAILURE_AT(file, line) << "call " << i << " of the sequence differs\n  expected: " << narrow(want)
                                           << "\n  actual:   " << narrow(got);
            return;
        }
    }
}

} // namespace qmtest
