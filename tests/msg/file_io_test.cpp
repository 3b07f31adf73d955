// Whole-file reads and writes on real files. No message library is loaded
// here, so error texts are the loader's "missing string" text, which names
// the message number; nls_resources_test checks the texts themselves.
#include "common/cmd/file_io.h"
#include "common/msg/nls_resources.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace qmtest;
using namespace std::string_literals;

namespace {

std::wstring missingMessage(UINT id)
{
    return L"Could not obtain string resource " + std::to_wstring(id) + L" from msg dll \n";
}

// The names in a directory, sorted.
std::vector<std::wstring> directoryNames(const std::wstring& dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data))
        if (data.cFileName != std::wstring(L".") && data.cFileName != std::wstring(L".."))
            names.push_back(data.cFileName);
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

class FileIo : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Without a console no library can load; keep the loader from trying.
        nlsState() = NlsState();
        CNlsResources off(1);
    }
    void TearDown() override { nlsState() = NlsState(); }

    struct Read { int result; std::wstring text, error; DWORD length; };
    Read get(const std::wstring& path, int unicode)
    {
        Read r{0, L"old", L"", 99};
        r.result = w32GetFile(path, r.text, r.error, r.length, unicode, 0);
        return r;
    }
    int put(const std::wstring& path, const std::wstring& text, int overwrite, int unicode, int sizeLimit = -1)
    {
        std::wstring error;
        const int result = w32PutFile(path, text, overwrite, sizeLimit, error, unicode, 0);
        EXPECT_EQ(L"", error);
        return result;
    }

    TempDir dir;
};

using FileIoRead = FileIo;
using FileIoWrite = FileIo;

} // namespace

TEST_F(FileIoRead, NarrowTextIsConvertedFromOemAndEndsAtItsFirstZeroByte)
{
    ASSERT_EQ(437u, GetOEMCP()) << "the test prefix runs with the C locale";
    std::string all;
    std::wstring ascii;
    for (int b = 1; b < 256; ++b) {
        all += char(b);
        if (b < 128)
            ascii += wchar_t(b);
    }
    writeBytes(dir / L"oem.txt", all);
    Read r = get(dir / L"oem.txt", 0);
    EXPECT_EQ(0, r.result);
    ASSERT_EQ(255u, r.length);
    ASSERT_EQ(255u, r.text.size());
    EXPECT_EQ(ascii, r.text.substr(0, 127));
    for (int b = 128; b < 256; ++b)
        EXPECT_NE(0, r.text[b - 1]) << b;
    EXPECT_EQ(0x00E9, r.text[0x82 - 1]);

    writeBytes(dir / L"zero.txt", "ab\0cd"s);
    r = get(dir / L"zero.txt", 0);
    EXPECT_EQ(L"ab", r.text);
    EXPECT_EQ(2u, r.length);

    std::wstring wide;
    EXPECT_EQ(1, w32NarrowToWide("caf\x82", wide));
    EXPECT_EQ(L"caf\u00e9", wide);
}

TEST_F(FileIoRead, UnicodeIsWhatFollowsTheMarkUpToTheFirstZeroUnit)
{
    writeBytes(dir / L"u.txt", "\xFF\xFE" "a\0\xE9\0\x3D\xD8\x00\xDE\0\0b\0"s);
    Read r = get(dir / L"u.txt", 1);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(L"a\u00e9\U0001F600", r.text);
    EXPECT_EQ(4u, r.length);

    // A mark with nothing behind it is not Unicode text.
    writeBytes(dir / L"mark.txt", "\xFF\xFE");
    r = get(dir / L"mark.txt", 1);
    EXPECT_EQ(W32_FILE_NOT_UNICODE, r.result);
    EXPECT_EQ(L"", r.text);

    r = get(dir / L"missing.txt", 1);
    EXPECT_EQ(W32_FILE_OPEN_FAILED, r.result);
    EXPECT_EQ(missingMessage(18072), r.error);
}

TEST_F(FileIoRead, FilesOf4GiBOrMoreAreRefusedNotTruncated)
{
    const std::wstring path = dir / L"huge.bin";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000000LL + 4; // would read as 4 bytes with a 32-bit length
    EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(file));
    CloseHandle(file);

    for (int unicode : {0, 1}) {
        Read r = get(path, unicode);
        EXPECT_EQ(W32_FILE_READ_FAILED, r.result);
        EXPECT_EQ(L"", r.text);
        EXPECT_EQ(missingMessage(17577), r.error);
    }
    DeleteFileW(path.c_str());
}

TEST_F(FileIoWrite, UnicodeIsTheMarkAndLittleEndianUnitsNarrowOneBytePerCharacter)
{
    const std::wstring path = dir / L"out.txt";
    writeBytes(path, "a much longer old content");
    EXPECT_EQ(0, put(path, L"abc", 1, 1));
    EXPECT_EQ("\xFF\xFE" "a\0b\0c\0"s, readBytes(path));
    EXPECT_EQ(0, put(path, L"", 1, 1));
    EXPECT_EQ("\xFF\xFE"s, readBytes(path));

    EXPECT_EQ(0, put(path, L"a\nc\u00e9", 1, 0));
    EXPECT_EQ("a\r\nc\xE9"s, readBytes(path));
    EXPECT_EQ(0, put(path, L"", 1, 0));
    EXPECT_TRUE(fileExists(path));
    EXPECT_EQ(""s, readBytes(path));
}

TEST_F(FileIoWrite, AppendingAddsAtTheEndUnlessTheFileIsOverTheSizeLimit)
{
    const std::wstring path = dir / L"n.txt";
    writeBytes(path, "0123456789");
    EXPECT_EQ(0, put(path, L"a", 0, 0, 10));
    EXPECT_EQ("0123456789a"s, readBytes(path));
    EXPECT_EQ(0, put(path, L"b", 0, 0, 10));
    EXPECT_EQ("b"s, readBytes(path));

    // Each Unicode append brings its own mark.
    writeBytes(dir / L"u.txt", "\xFF\xFE" "a\0"s);
    EXPECT_EQ(0, put(dir / L"u.txt", L"b", 0, 1));
    EXPECT_EQ("\xFF\xFE" "a\0\xFF\xFE" "b\0"s, readBytes(dir / L"u.txt"));
}

TEST_F(FileIoWrite, AFailedWriteLeavesTheOldFileAndNoTemporaryFile)
{
    EXPECT_EQ(W32_FILE_WRITE_FAILED, put(dir / L"missing\\out.txt", L"abc", 1, 1));

    const std::string old = "\xFF\xFE" "o\0l\0d\0"s;
    const std::wstring readOnly = dir / L"ro.txt";
    writeBytes(readOnly, old);
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(W32_FILE_WRITE_FAILED, put(readOnly, L"new", 1, 1));
    EXPECT_EQ(old, readBytes(readOnly));
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);

    const std::wstring locked = dir / L"locked.txt";
    writeBytes(locked, old);
    // Held open without sharing, as another program might.
    HANDLE other = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    EXPECT_EQ(W32_FILE_WRITE_FAILED, put(locked, L"new", 1, 1));
    EXPECT_EQ(W32_FILE_WRITE_FAILED, put(locked, L"new", 0, 0));
    CloseHandle(other);
    EXPECT_EQ(old, readBytes(locked));

    // Narrow output cannot hold a character above 255: nothing is written.
    writeBytes(dir / L"n.txt", "old");
    EXPECT_EQ(W32_FILE_WRITE_FAILED, put(dir / L"n.txt", L"price: 5\u20ac", 1, 0));
    EXPECT_EQ("old"s, readBytes(dir / L"n.txt"));

    EXPECT_EQ((std::vector<std::wstring>{L"locked.txt", L"n.txt", L"ro.txt"}), directoryNames(dir.path()));
}
