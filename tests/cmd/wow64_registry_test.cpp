// The WOW64 rule, run in a 64-bit prefix where this 32-bit program is a WOW64
// process. Wine refuses the connection to "\\." with ERROR_BAD_NETPATH, so
// every HKEY_LOCAL_MACHINE\SOFTWARE open must warn the user and fail.
#include "common/cmd/console_path.h"
#include "common/cmd/registry_key.h"
#include "tests/cmd/cmd_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <thread>

using namespace qmtest;

TEST(Wow64Registry, SoftwareKeysWarnWithError53AndFailWhileOtherKeysOpenDirectly)
{
#ifdef _WIN64
    GTEST_SKIP() << "the WOW64 rule is that of a 32-bit program; this is the 64-bit variant, "
                    "built where the kernel runs no 32-bit programs";
#endif
    ASSERT_TRUE(CRegistryKey::IsWow64()) << "needs a 64-bit Wine prefix";
    const std::vector<std::wstring> warning53 = {
        L"RegConnectRegistry error 53\nInsure Windows Remote Registry Service is running\n"};
    for (const wchar_t* subKey : {L"SOFTWARE\\Microsoft", L"software"}) {
        NoticeRecorder boxes;
        CRegistryKey key;
        EXPECT_EQ(ERROR_BAD_NETPATH, key.Open(HKEY_LOCAL_MACHINE, subKey)) << narrow(subKey);
        EXPECT_FALSE(key.IsOpen());
        EXPECT_EQ(warning53, boxes.Stop()) << narrow(subKey);
    }
    { // the console lookup, from a thread with no windows of its own
        NoticeRecorder boxes;
        std::wstring out;
        std::thread([&] { EXPECT_FALSE(GetConsoleInstallPath(L"exec_dll.dll", out)); }).join();
        EXPECT_EQ(warning53, boxes.Stop());
    }
    NoticeRecorder boxes;
    CRegistryKey key;
    EXPECT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet"));
    EXPECT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, L"Software"));
    EXPECT_TRUE(boxes.Stop().empty());
}
