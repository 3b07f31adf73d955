// The file utilities' error texts, taken from the stand-in console's message
// libraries, and console-relative names.
#include "common/cmd/console_path.h"
#include "common/cmd/file_io.h"
#include "common/msg/nls_resources.h"
#include "tests/msg/msg_test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace qmtest;
using namespace std::string_literals;

namespace {

class FileIoMessages : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetLanguageState();
        console.installLibrary(L"eng");
        console.installLibrary(L"deu");
    }
    void TearDown() override { resetLanguageState(); }

    void load()
    {
        MessageBoxWatcher boxes;
        CNlsResources nls;
        ASSERT_EQ(1, nlsState().initialised);
        ASSERT_TRUE(boxes.texts().empty());
    }

    bool startsWith(const std::wstring& text, const std::wstring& prefix)
    {
        return text.compare(0, prefix.size(), prefix) == 0 && text.size() > prefix.size();
    }

    ScratchConsole console;
    TempDir dir;
};

} // namespace

TEST_F(FileIoMessages, ReadErrorsAreTheConsolesEnglishMessages)
{
    load();
    std::wstring text, error;
    DWORD length = 0;
    const std::wstring missing = dir / L"missing.txt";
    EXPECT_EQ(W32_FILE_OPEN_FAILED, w32GetFile(missing, text, error, length, 0, 0));
    EXPECT_EQ(L"The file " + missing + L" could not be opened.", error);

    writeBytes(dir / L"mark.txt", "\xFF\xFE");
    EXPECT_EQ(W32_FILE_NOT_UNICODE, w32GetFile(dir / L"mark.txt", text, error, length, 1, 0));
    EXPECT_EQ(L"The file is not a Unicode text file: it does not begin with a byte-order mark.", error);

    const std::wstring huge = dir / L"huge.bin";
    HANDLE file = CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000000LL;
    SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
    EXPECT_EQ(W32_FILE_READ_FAILED, w32GetFile(huge, text, error, length, 0, 0));
    EXPECT_TRUE(startsWith(error, L"A file error occurred (cause 1, system error 223): ")) << narrow(error);
    DeleteFileW(huge.c_str());
}

TEST_F(FileIoMessages, TheGermanLibraryAnswersForAGermanSystem)
{
    console.setLanguages({{L"deu", systemLcidText()}});
    load();

    std::wstring text, error;
    DWORD length = 0;
    const std::wstring missing = dir / L"fehlt.txt";
    EXPECT_EQ(W32_FILE_OPEN_FAILED, w32GetFile(missing, text, error, length, 1, 0));
    EXPECT_EQ(L"Die Datei " + missing + L" konnte nicht ge\u00f6ffnet werden.", error);

    // A destination held open without sharing: a system error, printf style.
    writeBytes(dir / L"src.txt", "abc");
    writeBytes(dir / L"dst.txt", "old");
    HANDLE held = CreateFileW((dir / L"dst.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(W32_FILE_WRITE_FAILED, w32CopyFileBytes(dir / L"src.txt", dir / L"dst.txt", error));
    CloseHandle(held);
    EXPECT_TRUE(startsWith(error, L"Dateifehler (Ursache 11, Systemfehler 32): ")) << narrow(error);
}

TEST_F(FileIoMessages, ResolvedNamesAreFilesInTheConsoleDirectory)
{
    load();
    std::wstring error;
    EXPECT_EQ(0, w32PutFile(L"notes.txt", L"hello", 1, -1, error, 1, 1));
    EXPECT_EQ("\xFF\xFE"s + utf16le(L"hello"), readBytes(console / L"notes.txt"));

    std::wstring text;
    DWORD length = 0;
    EXPECT_EQ(0, w32GetFile(L"notes.txt", text, error, length, 1, 1));
    EXPECT_EQ(L"hello", text);
    EXPECT_EQ(5u, length);

    std::wstring expected;
    ASSERT_TRUE(GetConsoleInstallPath(L"absent.txt", expected));
    EXPECT_EQ(W32_FILE_OPEN_FAILED, w32GetFile(L"absent.txt", text, error, length, 0, 1));
    EXPECT_EQ(L"The file " + expected + L" could not be opened.", error);
}
