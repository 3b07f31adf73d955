// Whole-file reads and writes on real files.
#include "common/cmd/file_io.h"
#include "common/cmd/system_error.h"
#include "tests/support/test_support.h"

#include <sddl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace qmtest;
using namespace std::string_literals;

namespace {

constexpr ULONGLONG MIB = 1u << 20;

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

// The file's access list in SDDL, "" when it cannot be read.
std::wstring daclOf(const std::wstring& path)
{
    DWORD needed = 0;
    GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> sd(needed ? needed : 1);
    wchar_t* text = nullptr;
    if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, sd.data(), needed, &needed)
        || !ConvertSecurityDescriptorToStringSecurityDescriptorW(sd.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                 &text, nullptr))
        return L"";
    std::wstring result = text;
    LocalFree(text);
    return result;
}

ULONGLONG creationOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return (ULONGLONG(data.ftCreationTime.dwHighDateTime) << 32) | data.ftCreationTime.dwLowDateTime;
}

class FileIo : public ::testing::Test {
protected:
    struct Read {
        bool ok;
        std::wstring text;
        FileFailure failure;
        DWORD length;
    };
    Read get(const std::wstring& path, TextEncoding encoding)
    {
        Read r { false, L"old", {}, 99 };
        r.ok = w32GetFile(path, r.text, r.failure, r.length, encoding, PathIs::AsGiven);
        return r;
    }
    bool put(const std::wstring& path, const std::wstring& text, PutMode mode, TextEncoding encoding,
             long long sizeLimit = NoSizeLimit)
    {
        lastFailure = FileFailure();
        return w32PutFile(path, text, mode, sizeLimit, lastFailure, encoding, PathIs::AsGiven);
    }

    TempDir dir;
    FileFailure lastFailure;
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
    Read r = get(dir / L"oem.txt", TextEncoding::Narrow);
    EXPECT_TRUE(r.ok);
    ASSERT_EQ(255u, r.length);
    ASSERT_EQ(255u, r.text.size());
    EXPECT_EQ(ascii, r.text.substr(0, 127));
    for (int b = 128; b < 256; ++b)
        EXPECT_NE(0, r.text[b - 1]) << b;
    EXPECT_EQ(0x00E9, r.text[0x82 - 1]);

    writeBytes(dir / L"zero.txt", "ab\0cd"s);
    r = get(dir / L"zero.txt", TextEncoding::Narrow);
    EXPECT_EQ(L"ab", r.text);
    EXPECT_EQ(2u, r.length);

    std::wstring wide;
    FileFailure failure;
    EXPECT_TRUE(w32NarrowToWide("caf\x82"s, wide, failure));
    EXPECT_EQ(L"caf\u00e9", wide);
}

TEST_F(FileIoRead, UnicodeIsWhatFollowsTheMarkUpToTheFirstZeroUnit)
{
    writeBytes(dir / L"u.txt", "\xFF\xFE" "a\0\xE9\0\x3D\xD8\x00\xDE\0\0b\0"s);
    Read r = get(dir / L"u.txt", TextEncoding::Utf16Le);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(L"a\u00e9\U0001F600", r.text);
    EXPECT_EQ(4u, r.length);

    // A mark with nothing behind it is not Unicode text.
    writeBytes(dir / L"mark.txt", "\xFF\xFE");
    r = get(dir / L"mark.txt", TextEncoding::Utf16Le);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(FILE_CAUSE_NOT_UNICODE, r.failure.cause);
    EXPECT_EQ(L"", r.text);

    r = get(dir / L"missing.txt", TextEncoding::Utf16Le);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(FILE_CAUSE_NOT_FOUND, r.failure.cause);
    EXPECT_EQ(systemErrorText(ERROR_FILE_NOT_FOUND), describeFileFailure(r.failure));
}

TEST_F(FileIoRead, SizesTooLargeToHoldAreRefusedBeforeReadingNeverTruncated)
{
    const std::wstring path = dir / L"huge.bin";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000000LL + 4; // would read as 4 bytes with a 32-bit length; sparse, so cheap
    EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(file));
    CloseHandle(file);

    // The most each form holds: what a 32-bit length counts on the 64-bit
    // build, what the string types hold on the 32-bit one.
    auto tooLarge = [](int limitMiB) {
        return L"The file is 4097 MiB, more than the " + std::to_wstring(limitMiB)
               + L" MiB this tool can hold in memory.";
    };
    const bool wide = sizeof(void*) == 8;
    const std::pair<TextEncoding, int> limits[] = { { TextEncoding::Narrow, wide ? 4095 : 511 },
                                                    { TextEncoding::Utf16Le, wide ? 4095 : 1023 } };
    for (const auto& [encoding, limit] : limits) {
        Read r = get(path, encoding);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(L"", r.text);
        EXPECT_EQ(tooLarge(limit), describeFileFailure(r.failure));
    }
    std::string bytes = "old";
    FileFailure failure;
    EXPECT_FALSE(w32ReadFileBytes(path, bytes, failure));
    EXPECT_EQ(tooLarge(wide ? 4095 : 1023), describeFileFailure(failure));
    EXPECT_EQ("", bytes);
    DeleteFileW(path.c_str());

    // What a 32-bit build's strings can hold: 1 GiB of bytes, 512 Mi wide units.
    const bool narrowBuild = sizeof(void*) == 4;
    EXPECT_TRUE(w32SizeFits(600 * MIB, HeldAs::Bytes, failure));
    EXPECT_EQ(!narrowBuild, w32SizeFits(600 * MIB, HeldAs::NarrowText, failure));
    EXPECT_EQ(!narrowBuild, w32SizeFits(1024 * MIB, HeldAs::Bytes, failure));
    EXPECT_EQ(!narrowBuild, w32SizeFits(1100 * MIB, HeldAs::Utf16Text, failure));
    EXPECT_TRUE(w32SizeFits(1000 * MIB, HeldAs::Utf16Text, failure));
    EXPECT_EQ(!narrowBuild, w32SizeFits(4095 * MIB, HeldAs::Bytes, failure));
    if (narrowBuild) {
        EXPECT_FALSE(w32SizeFits(600 * MIB, HeldAs::NarrowText, failure));
        EXPECT_EQ(L"The file is 600 MiB, more than the 511 MiB this tool can hold in memory.",
                  describeFileFailure(failure));
    }
}

TEST_F(FileIoWrite, UnicodeIsTheMarkAndLittleEndianUnitsNarrowOneBytePerCharacter)
{
    const std::wstring path = dir / L"out.txt";
    writeBytes(path, "a much longer old content");
    EXPECT_TRUE(put(path, L"abc", PutMode::Replace, TextEncoding::Utf16Le));
    EXPECT_EQ("\xFF\xFE" "a\0b\0c\0"s, readBytes(path));
    EXPECT_TRUE(put(path, L"", PutMode::Replace, TextEncoding::Utf16Le));
    EXPECT_EQ("\xFF\xFE"s, readBytes(path));

    // OEM text converted as it is written, over more than one piece.
    std::string oem(5u << 20, 'a');
    oem[3u << 20] = '\x82';
    std::wstring wide(oem.size(), L'a');
    wide[3u << 20] = L'\u00e9';
    EXPECT_TRUE(w32PutOemAsUtf16(path, oem + "z", lastFailure));
    EXPECT_EQ("\xFF\xFE" + utf16le(wide + L"z"), readBytes(path));

    EXPECT_TRUE(put(path, L"a\nc\u00e9", PutMode::Replace, TextEncoding::Narrow));
    EXPECT_EQ("a\r\nc\xE9"s, readBytes(path));
    EXPECT_TRUE(put(path, L"", PutMode::Replace, TextEncoding::Narrow));
    EXPECT_TRUE(fileExists(path));
    EXPECT_EQ(""s, readBytes(path));
}

TEST_F(FileIoWrite, AppendingAddsAtTheEndUnlessTheFileIsOverTheSizeLimit)
{
    const std::wstring path = dir / L"n.txt";
    writeBytes(path, "0123456789");
    EXPECT_TRUE(put(path, L"a", PutMode::Append, TextEncoding::Narrow, 10));
    EXPECT_EQ("0123456789a"s, readBytes(path));
    EXPECT_TRUE(put(path, L"b", PutMode::Append, TextEncoding::Narrow, 10));
    EXPECT_EQ("b"s, readBytes(path));

    // Each Unicode append brings its own mark.
    writeBytes(dir / L"u.txt", "\xFF\xFE" "a\0"s);
    EXPECT_TRUE(put(dir / L"u.txt", L"b", PutMode::Append, TextEncoding::Utf16Le));
    EXPECT_EQ("\xFF\xFE" "a\0\xFF\xFE" "b\0"s, readBytes(dir / L"u.txt"));
}

TEST_F(FileIoWrite, AReplacementKeepsTheOldFilesAccessListAttributesAndCreationTime)
{
    const std::wstring path = dir / L"kept.txt";
    writeBytes(path, "old");
    // Protected from inheritance, nothing for everyone. Wine keeps no access
    // list of its own: it maps this one onto the Unix mode and reports the
    // list that mode gives, which still shows whether everyone may read.
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1,
                                                                     &sd, nullptr));
    ASSERT_TRUE(SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, sd));
    LocalFree(sd);
    const std::wstring dacl = daclOf(path);
    ASSERT_EQ(std::wstring::npos, dacl.find(L";WD)")) << narrow(dacl);
    const FILETIME created = { 0, 0x01D00000 }; // in 2014
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    SetFileTime(file, &created, nullptr, nullptr);
    CloseHandle(file);
    // Wine keeps no creation time of its own (it reports the inode's change time).
    const bool creationKept = creationOf(path) == 0x01D0000000000000ULL;
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

    FileFailure failure;
    ASSERT_TRUE(w32WriteFileBytes(path, "new", failure)) << narrow(describeFileFailure(failure));
    EXPECT_EQ("new", readBytes(path));
    EXPECT_TRUE(put(path, L"newer", PutMode::Replace, TextEncoding::Utf16Le))
        << narrow(describeFileFailure(lastFailure));
    EXPECT_EQ("\xFF\xFE" + utf16le(L"newer"), readBytes(path));
    EXPECT_EQ(dacl, daclOf(path));
    const DWORD attributes = GetFileAttributesW(path.c_str());
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
    if (creationKept) {
        EXPECT_EQ(0x01D0000000000000ULL, creationOf(path));
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ((std::vector<std::wstring> { L"kept.txt" }), directoryNames(dir.path()));
}

TEST_F(FileIoWrite, AFailedWriteLeavesTheOldFileAndNoTemporaryFile)
{
    EXPECT_FALSE(put(dir / L"missing\\out.txt", L"abc", PutMode::Replace, TextEncoding::Utf16Le));
    EXPECT_EQ(FILE_CAUSE_BAD_PATH, lastFailure.cause);

    const std::string old = "\xFF\xFE" "o\0l\0d\0"s;
    const std::wstring readOnly = dir / L"ro.txt";
    writeBytes(readOnly, old);
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(put(readOnly, L"new", PutMode::Replace, TextEncoding::Utf16Le));
    EXPECT_EQ(systemErrorText(ERROR_ACCESS_DENIED), describeFileFailure(lastFailure));
    EXPECT_EQ(old, readBytes(readOnly));
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);

    const std::wstring locked = dir / L"locked.txt";
    writeBytes(locked, old);
    // Held open without sharing, as another program might.
    HANDLE other = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    EXPECT_FALSE(put(locked, L"new", PutMode::Replace, TextEncoding::Utf16Le));
    EXPECT_EQ(FILE_CAUSE_SHARING_VIOLATION, lastFailure.cause);
    EXPECT_FALSE(put(locked, L"new", PutMode::Append, TextEncoding::Narrow));
    CloseHandle(other);
    EXPECT_EQ(old, readBytes(locked));

    // Narrow output cannot hold a character above 255: nothing is written.
    writeBytes(dir / L"n.txt", "old");
    EXPECT_FALSE(put(dir / L"n.txt", L"price: 5\u20ac", PutMode::Replace, TextEncoding::Narrow));
    EXPECT_EQ(FILE_CAUSE_NOT_NARROW, lastFailure.cause);
    EXPECT_EQ("old"s, readBytes(dir / L"n.txt"));

    EXPECT_EQ((std::vector<std::wstring>{L"locked.txt", L"n.txt", L"ro.txt"}), directoryNames(dir.path()));
}
