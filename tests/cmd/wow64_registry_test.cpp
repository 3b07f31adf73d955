// The WOW64 rule, run in a 64-bit prefix where this 32-bit program is a WOW64
// process. Wine refuses the connection to "\\." with ERROR_BAD_NETPATH, so
// every HKEY_LOCAL_MACHINE\SOFTWARE open must show the warning box and fail.
#include "common/cmd/console_path.h"
#include "common/cmd/registry_key.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace qmtest;

namespace {

const std::wstring kWarning53 =
    L"RegConnectRegistry error 53\nInsure Windows Remote Registry Service is running\n";

// While it lives, records the text of every "Quarn Console" box of this
// process and answers it with OK.
class BoxWatcher {
public:
    BoxWatcher() : m_thread([this] { run(); }) {}
    ~BoxWatcher()
    {
        m_stop = true;
        m_thread.join();
    }
    std::vector<std::wstring> texts()
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_texts;
    }

private:
    static HWND findBox()
    {
        HWND box = nullptr;
        while ((box = FindWindowExW(nullptr, box, L"#32770", L"Quarn Console")) != nullptr) {
            DWORD pid = 0;
            GetWindowThreadProcessId(box, &pid);
            if (pid == GetCurrentProcessId() && IsWindowVisible(box))
                return box;
        }
        return nullptr;
    }

    void run()
    {
        while (!m_stop) {
            HWND box = findBox();
            if (!box) {
                Sleep(10);
                continue;
            }
            // The message is the box's static control with text (the icon's has none).
            std::wstring text;
            for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                wchar_t buffer[512] = L"", cls[16] = L"";
                GetClassNameW(child, cls, 16);
                if (_wcsicmp(cls, L"Static") == 0 && GetWindowTextW(child, buffer, 512) > 0)
                    text = buffer;
            }
            {
                std::lock_guard<std::mutex> hold(m_mutex);
                m_texts.push_back(text);
            }
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            while (IsWindow(box))
                Sleep(10);
        }
    }

    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::wstring> m_texts;
    std::thread m_thread;
};

class Wow64Registry : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CRegistryKey::IsWow64()) << "needs a 64-bit Wine prefix"; }
};

} // namespace

TEST_F(Wow64Registry, SoftwareKeysInAnyCaseGoThroughTheFailingConnection)
{
    for (const wchar_t* subKey : {L"SOFTWARE\\Microsoft", L"software\\Microsoft", L"Software",
                                  L"SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console\\"}) {
        BoxWatcher boxes;
        CRegistryKey key;
        EXPECT_EQ(ERROR_BAD_NETPATH, key.Open(HKEY_LOCAL_MACHINE, subKey)) << narrow(subKey);
        EXPECT_FALSE(key.IsOpen());
        EXPECT_EQ(std::vector<std::wstring>{kWarning53}, boxes.texts()) << narrow(subKey);
    }
}

TEST_F(Wow64Registry, OtherKeysOpenDirectly)
{
    BoxWatcher boxes;
    const std::pair<HKEY, const wchar_t*> keys[] = {{HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet"},
                                                    {HKEY_CURRENT_USER, L"Software"}};
    for (const auto& [root, subKey] : keys) {
        HKEY through = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, CRegistryKey::RedirectRoot(root, subKey, through));
        EXPECT_EQ(root, through);
        CRegistryKey key;
        EXPECT_EQ(ERROR_SUCCESS, key.Open(root, subKey)) << narrow(subKey);
    }
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(Wow64Registry, ThisComputerByNameFollowsTheRuleAndAnotherOneGetsNoBox)
{
    wchar_t name[256];
    DWORD length = 256;
    ASSERT_TRUE(GetComputerNameW(name, &length));
    BoxWatcher boxes;
    CRegistryKey key;
    EXPECT_EQ(ERROR_BAD_NETPATH, key.OpenOnMachine(name, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft"));
    EXPECT_NE(ERROR_SUCCESS, key.OpenOnMachine(L"qm-other-host", HKEY_LOCAL_MACHINE, L"SOFTWARE"));
    EXPECT_EQ(std::vector<std::wstring>{kWarning53}, boxes.texts());
}

TEST_F(Wow64Registry, ConsoleLookupFailsAfterTheWarningOnAWorkerThread)
{
    BoxWatcher boxes;
    bool found = true;
    std::wstring out = L"stale";
    std::thread([&] { found = GetConsoleInstallPath(L"exec_dll.dll", out); }).join();
    EXPECT_FALSE(found);
    EXPECT_EQ(L"", out);
    EXPECT_EQ(std::vector<std::wstring>{kWarning53}, boxes.texts());
}
