// Whole-file reads and writes on real files. The console's message libraries
// are not loaded here, so error texts are the loader's "missing string" text,
// which still names the message number; file_io_messages_test checks the
// texts themselves.
#include "common/cmd/file_io.h"
#include "common/msg/nls_resources.h"
#include "common/trace/trace.h"
#include "tests/msg/msg_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qmtest;
using namespace std::string_literals;

namespace {

std::wstring missingMessage(UINT id)
{
    return L"Could not obtain string resource " + std::to_wstring(id) + L" from msg dll \n";
}

// Holds a file open the way another program might.
class HeldFile {
public:
    HeldFile(const std::wstring& path, DWORD access, DWORD share)
        : m_handle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~HeldFile()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    bool ok() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

class FileIoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Without a console no library can load; keep the loader from trying.
        resetLanguageState();
        CNlsResources off(1);
    }
    void TearDown() override { resetLanguageState(); }

    struct Read {
        int result;
        std::wstring text;
        std::wstring error;
        DWORD length;
    };
    Read get(const std::wstring& path, int unicode)
    {
        Read r{0, L"old", L"", 99};
        r.result = w32GetFile(path, r.text, r.error, r.length, unicode, 0);
        return r;
    }
    int put(const std::wstring& path, const std::wstring& text, int overwrite, int unicode, int sizeLimit = -1)
    {
        std::wstring error = L"old";
        int result = w32PutFile(path, text, overwrite, sizeLimit, error, unicode, 0);
        EXPECT_EQ(L"", error);
        return result;
    }

    TempDir dir;
};

using FileIoRead = FileIoTest;
using FileIoWrite = FileIoTest;
using FileIoBytes = FileIoTest;

} // namespace

TEST_F(FileIoRead, NarrowTextIsConvertedFromTheOemCodePage)
{
    ASSERT_EQ(437u, GetOEMCP()) << "the test prefix runs with the C locale";
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += char(b);
    writeBytes(dir / L"oem.txt", all);

    Read r = get(dir / L"oem.txt", 0);
    EXPECT_EQ(0, r.result);
    ASSERT_EQ(255u, r.length);
    ASSERT_EQ(255u, r.text.size());
    EXPECT_EQ(L"", r.error);
    for (int b = 1; b < 128; ++b)
        EXPECT_EQ(wchar_t(b), r.text[b - 1]);
    for (int b = 128; b < 256; ++b)
        EXPECT_NE(0, r.text[b - 1]) << b;
    EXPECT_EQ(0x00E9, r.text[0x82 - 1]);
    EXPECT_EQ(0x00C7, r.text[0x80 - 1]);
    EXPECT_EQ(0x00DF, r.text[0xE1 - 1]);
    EXPECT_EQ(0x2591, r.text[0xB0 - 1]);

    // Line ends are read as they are.
    writeBytes(dir / L"lines.txt", "a\r\nb\n");
    EXPECT_EQ(L"a\r\nb\n", get(dir / L"lines.txt", 0).text);
}

TEST_F(FileIoRead, NarrowTextEndsAtItsFirstZeroByte)
{
    writeBytes(dir / L"zero.txt", "ab\0cd"s);
    Read r = get(dir / L"zero.txt", 0);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(L"ab", r.text);
    EXPECT_EQ(2u, r.length);

    writeBytes(dir / L"lead.txt", "\0abc"s);
    r = get(dir / L"lead.txt", 0);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(L"", r.text);
    EXPECT_EQ(0u, r.length);

    writeBytes(dir / L"empty.txt", "");
    r = get(dir / L"empty.txt", 0);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(L"", r.text);
    EXPECT_EQ(0u, r.length);
}

TEST_F(FileIoRead, UnicodeTextIsWhatFollowsTheMarkUpToTheFirstZeroUnit)
{
    writeBytes(dir / L"u.txt", "\xFF\xFE" "a\0\xE9\0\x3D\xD8\x00\xDE\0\0b\0"s);
    Read r = get(dir / L"u.txt", 1);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(L"a\u00e9\U0001F600", r.text);
    EXPECT_EQ(4u, r.length);

    writeBytes(dir / L"crlf.txt", "\xFF\xFE" "a\0\r\0\n\0"s);
    EXPECT_EQ(L"a\r\n", get(dir / L"crlf.txt", 1).text);

    // An empty file is empty text, not a missing mark.
    writeBytes(dir / L"empty.txt", "");
    r = get(dir / L"empty.txt", 1);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(L"", r.text);
}

TEST_F(FileIoRead, UnicodeWithoutAMarkOrWithNothingBehindItIsRefused)
{
    int n = 0;
    for (const std::string& bytes : {"\xFF\xFE"s, "\xFF"s, "\xFE\xFF\0a"s, "a\0b\0"s}) {
        const std::wstring path = dir / (L"f" + std::to_wstring(n++));
        writeBytes(path, bytes);
        Read r = get(path, 1);
        EXPECT_EQ(W32_FILE_NOT_UNICODE, r.result) << n;
        EXPECT_EQ(L"", r.text) << n;
        EXPECT_EQ(0u, r.length) << n;
    }
}

TEST_F(FileIoRead, AFileThatCannotBeOpenedGivesMessage18072)
{
    Read r = get(dir / L"missing.txt", 0);
    EXPECT_EQ(W32_FILE_OPEN_FAILED, r.result);
    EXPECT_EQ(L"", r.text);
    EXPECT_EQ(0u, r.length);
    EXPECT_EQ(missingMessage(18072), r.error);

    // The file is opened for exclusive use: one that another program has
    // open cannot be read.
    writeBytes(dir / L"busy.txt", "abc");
    HeldFile other(dir / L"busy.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(other.ok());
    EXPECT_EQ(W32_FILE_OPEN_FAILED, get(dir / L"busy.txt", 0).result);
}

TEST_F(FileIoRead, FilesOf4GiBOrMoreAreRefusedNotTruncated)
{
    const std::wstring path = dir / L"huge.bin";
    {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        LARGE_INTEGER size;
        size.QuadPart = 0x100000000LL + 4; // would read as 4 bytes with a 32-bit length
        EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN));
        EXPECT_TRUE(SetEndOfFile(file));
        CloseHandle(file);
    }
    for (int unicode : {0, 1}) {
        Read r = get(path, unicode);
        EXPECT_EQ(W32_FILE_READ_FAILED, r.result);
        EXPECT_EQ(L"", r.text);
        EXPECT_EQ(missingMessage(17577), r.error);
    }
    std::string bytes = "old";
    std::wstring error;
    EXPECT_EQ(W32_FILE_READ_FAILED, w32ReadFileBytes(path, bytes, error));
    EXPECT_EQ(""s, bytes);
    DeleteFileW(path.c_str());
}

TEST_F(FileIoRead, NarrowToWideConvertsOemTextAndReportsEmptyInput)
{
    std::wstring wide = L"old";
    EXPECT_EQ(0, w32NarrowToWide(nullptr, wide));
    EXPECT_EQ(L"", wide);
    wide = L"old";
    EXPECT_EQ(0, w32NarrowToWide("", wide));
    EXPECT_EQ(L"", wide);
    EXPECT_EQ(1, w32NarrowToWide("caf\x82", wide));
    EXPECT_EQ(L"caf\u00e9", wide);
}

TEST_F(FileIoWrite, UnicodeIsTheMarkAndLittleEndianUnitsWithoutLineEndTranslation)
{
    const std::wstring path = dir / L"u.txt";
    writeBytes(path, "a much longer old content");
    EXPECT_EQ(0, put(path, L"abc", 1, 1));
    EXPECT_EQ("\xFF\xFE" "a\0b\0c\0"s, readBytes(path));

    EXPECT_EQ(0, put(path, L"a\nb\u20ac", 1, 1));
    EXPECT_EQ("\xFF\xFE" "a\0\n\0b\0\xAC\x20"s, readBytes(path));

    EXPECT_EQ(0, put(path, L"", 1, 1));
    EXPECT_EQ("\xFF\xFE"s, readBytes(path));
}

TEST_F(FileIoWrite, NarrowIsOneBytePerCharacterWithCrLfLineEnds)
{
    const std::wstring path = dir / L"n.txt";
    EXPECT_EQ(0, put(path, L"a\nb\r\nc\u00e9\u00ff", 1, 0));
    EXPECT_EQ("a\r\nb\r\r\nc\xE9\xFF"s, readBytes(path));

    // The text ends at its first zero unit.
    EXPECT_EQ(0, put(path, std::wstring(L"ab\0cd", 5), 1, 0));
    EXPECT_EQ("ab"s, readBytes(path));

    EXPECT_EQ(0, put(path, L"", 1, 0));
    EXPECT_TRUE(fileExists(path));
    EXPECT_EQ(""s, readBytes(path));
}

TEST_F(FileIoWrite, NarrowTextWithACharacterAbove255IsNotWrittenAtAll)
{
    const std::wstring path = dir / L"n.txt";
    writeBytes(path, "old");
    EXPECT_EQ(W32_FILE_WRITE_FAILED, put(path, L"price: 5\u20ac", 1, 0));
    EXPECT_EQ("old"s, readBytes(path));
    EXPECT_EQ(std::vector<std::wstring>{L"n.txt"}, directoryNames(dir.path()));
}

TEST_F(FileIoWrite, AMissingDirectoryGives1AndTheTraceSaysSo)
{
    traceInit();
    ASSERT_EQ(0, traceOpen(1, (dir / L"trace.txt").c_str(), 0));
    traceSetCategory(TRACE_CAT_UTIL, 1);
    const int result = put(dir / L"missing\\out.txt", L"abc", 1, 1);
    traceSetCategory(TRACE_CAT_UTIL, 0);
    traceOpen(0, nullptr, 0);

    EXPECT_EQ(W32_FILE_WRITE_FAILED, result);
    const std::wstring trace = fromUtf16le(readBytes(dir / L"trace.txt"));
    EXPECT_NE(std::wstring::npos, trace.find(L"# Entering w32 putfile...\r\n"));
    EXPECT_NE(std::wstring::npos, trace.find(L"# Leaving w32 putfile. RC: 1...\r\n"));
}

TEST_F(FileIoWrite, AppendingAddsToTheEndAndWritesTheMarkAgain)
{
    const std::wstring narrowPath = dir / L"n.txt";
    writeBytes(narrowPath, "xy");
    EXPECT_EQ(0, put(narrowPath, L"z\n", 0, 0));
    EXPECT_EQ("xyz\r\n"s, readBytes(narrowPath));

    const std::wstring unicodePath = dir / L"u.txt";
    writeBytes(unicodePath, "\xFF\xFE" "a\0"s);
    EXPECT_EQ(0, put(unicodePath, L"b", 0, 1));
    EXPECT_EQ("\xFF\xFE" "a\0\xFF\xFE" "b\0"s, readBytes(unicodePath));

    EXPECT_EQ(0, put(dir / L"new.txt", L"q", 0, 0));
    EXPECT_EQ("q"s, readBytes(dir / L"new.txt"));
}

TEST_F(FileIoWrite, AFileLargerThanTheSizeLimitIsReplacedEvenWhenAppending)
{
    const std::wstring path = dir / L"n.txt";
    writeBytes(path, "0123456789");
    EXPECT_EQ(0, put(path, L"a", 0, 0, 10));
    EXPECT_EQ("0123456789a"s, readBytes(path));
    EXPECT_EQ(0, put(path, L"b", 0, 0, -1));
    EXPECT_EQ("0123456789ab"s, readBytes(path));
    EXPECT_EQ(0, put(path, L"c", 0, 0, 11));
    EXPECT_EQ("c"s, readBytes(path));
}

TEST_F(FileIoWrite, AFailedWriteLeavesTheOldFileAndNoTemporaryFile)
{
    const std::string old = "\xFF\xFE" "o\0l\0d\0"s;
    const std::wstring readOnly = dir / L"ro.txt";
    writeBytes(readOnly, old);
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(W32_FILE_WRITE_FAILED, put(readOnly, L"new", 1, 1));
    EXPECT_EQ(old, readBytes(readOnly));
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);

    const std::wstring locked = dir / L"locked.txt";
    writeBytes(locked, old);
    {
        HeldFile other(locked, GENERIC_READ, 0);
        ASSERT_TRUE(other.ok());
        EXPECT_EQ(W32_FILE_WRITE_FAILED, put(locked, L"new", 1, 1));
        EXPECT_EQ(W32_FILE_WRITE_FAILED, put(locked, L"new", 0, 0));
    }
    EXPECT_EQ(old, readBytes(locked));

    EXPECT_EQ((std::vector<std::wstring>{L"locked.txt", L"ro.txt"}), directoryNames(dir.path()));
}

TEST_F(FileIoWrite, AnInPlaceConversionReplacesItsSource)
{
    const std::wstring path = dir / L"report.txt";
    writeBytes(path, "caf\x82\r\n");
    Read r = get(path, 0);
    ASSERT_EQ(0, r.result);
    EXPECT_EQ(0, put(path, r.text, 1, 1));
    EXPECT_EQ("\xFF\xFE"s + utf16le(L"caf\u00e9\r\n"), readBytes(path));
    EXPECT_EQ(std::vector<std::wstring>{L"report.txt"}, directoryNames(dir.path()));
}

TEST_F(FileIoBytes, BytesAreReadAndWrittenUnchanged)
{
    const std::string bytes = "\xFF\xFE\0\r\n\x1A\x82 end"s;
    std::wstring error;
    EXPECT_EQ(0, w32WriteFileBytes(dir / L"b.bin", bytes, error));
    EXPECT_EQ(bytes, readBytes(dir / L"b.bin"));

    std::string back;
    EXPECT_EQ(0, w32ReadFileBytes(dir / L"b.bin", back, error));
    EXPECT_EQ(bytes, back);
    EXPECT_EQ(L"", error);

    EXPECT_EQ(W32_FILE_OPEN_FAILED, w32ReadFileBytes(dir / L"none.bin", back, error));
    EXPECT_EQ(missingMessage(18072), error);

    EXPECT_EQ(W32_FILE_WRITE_FAILED, w32WriteFileBytes(dir / L"no\\such.bin", bytes, error));
    EXPECT_EQ(missingMessage(17577), error);
}

TEST_F(FileIoBytes, CopiesAreByteForByteAndMayReplaceTheirSource)
{
    std::string bytes = "\xFF\xFE" "a\0\0\0"s;
    for (int i = 0; i < 300000; ++i)
        bytes += char(i * 7);
    writeBytes(dir / L"src.bin", bytes);
    writeBytes(dir / L"dst.bin", std::string(400000, 'x'));

    std::wstring error;
    EXPECT_EQ(0, w32CopyFileBytes(dir / L"src.bin", dir / L"dst.bin", error));
    EXPECT_EQ(bytes, readBytes(dir / L"dst.bin"));
    EXPECT_EQ(0, w32CopyFileBytes(dir / L"src.bin", dir / L"src.bin", error));
    EXPECT_EQ(bytes, readBytes(dir / L"src.bin"));
    EXPECT_EQ(L"", error);

    EXPECT_EQ(W32_FILE_OPEN_FAILED, w32CopyFileBytes(dir / L"none.bin", dir / L"dst.bin", error));
    EXPECT_EQ(missingMessage(18072), error);
    EXPECT_EQ(bytes, readBytes(dir / L"dst.bin"));

    {
        HeldFile other(dir / L"dst.bin", GENERIC_READ, 0);
        EXPECT_EQ(W32_FILE_WRITE_FAILED, w32CopyFileBytes(dir / L"src.bin", dir / L"dst.bin", error));
        EXPECT_EQ(missingMessage(17577), error);
    }
    EXPECT_EQ(bytes, readBytes(dir / L"dst.bin"));
    EXPECT_EQ((std::vector<std::wstring>{L"dst.bin", L"src.bin"}), directoryNames(dir.path()));
}
