// Whole-file reads and writes on real files.
#include "common/files/replacing_writer.h"
#include "common/files/text_file.h"
#include "common/cmd/system_error.h"
#include "tests/support/test_support.h"

#include <sddl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qmtest;
using namespace std::string_literals;

namespace {

constexpr ULONGLONG MIB = 1u << 20;

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
    // The text read, or "<failed>" with the reason in lastFailure.
    std::wstring Get(const std::wstring& path, TextEncoding encoding)
    {
        std::wstring text = L"old";
        lastFailure = FileFailure();
        return w32GetFile(path, text, lastFailure, { encoding }) ? text : L"<failed>";
    }
    bool Put(const std::wstring& path, const std::wstring& text, PutMode mode, TextEncoding encoding,
             long long sizeLimit = NO_SIZE_LIMIT)
    {
        lastFailure = FileFailure();
        return w32PutFile(path, text, lastFailure, { encoding, mode, sizeLimit });
    }
    // Every file in the scratch directory, by path.
    Snapshot Files() const
    {
        Snapshot all;
        snapshotFiles(dir.Path(), all);
        return all;
    }

    TempDir dir;
    FileFailure lastFailure;
};

} // namespace

TEST_F(FileIo, NarrowIsOemTextUpToTheFirstZeroByteUnicodeNeedsTheMarkAndEndsAtTheFirstZeroUnit)
{
    // 82 is é in the OEM code page (a low quote in the ANSI one), C9 a box corner.
    ASSERT_EQ(437u, GetOEMCP()) << "the test prefix runs with the C locale";
    writeBytes(dir / L"oem.txt", "a\x82\xC9\0"s + std::string(5u << 20, 'c')); // more than one piece
    // Compared in part: a failure would print 5 MiB.
    EXPECT_EQ(L"a\u00e9\u2554", Get(dir / L"oem.txt", TextEncoding::Narrow).substr(0, 8));

    writeBytes(dir / L"u.txt", "\xFF\xFE" "a\0\xE9\0\x3D\xD8\x00\xDE\0\0b\0"s);
    EXPECT_EQ(L"a\u00e9\U0001F600", Get(dir / L"u.txt", TextEncoding::Utf16Le));

    // Without the mark, or with nothing behind it, a file is not Unicode text.
    for (const std::string& bytes : { "a\0b\0"s, "\xFF\xFE"s }) {
        writeBytes(dir / L"u.txt", bytes);
        EXPECT_EQ(L"<failed>", Get(dir / L"u.txt", TextEncoding::Utf16Le));
        EXPECT_EQ(FILE_CAUSE_NOT_UNICODE, lastFailure.cause);
    }
    Get(dir / L"missing.txt", TextEncoding::Narrow);
    EXPECT_EQ(FILE_CAUSE_NOT_FOUND, lastFailure.cause);
}

TEST_F(FileIo, SizesTooLargeToHoldAreRefusedBeforeReadingNeverTruncated)
{
    const std::wstring path = dir / L"huge.bin";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    // 4 GiB and 4 bytes: 4 bytes to a 32-bit length. Sparse, so cheap.
    const LARGE_INTEGER size = { { 4, 1 } };
    EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(file));
    CloseHandle(file);

    // The most each form holds: what a 32-bit length counts on the 64-bit
    // build, what the string types hold on the 32-bit one.
    const bool wide = sizeof(void*) == 8;
    const std::pair<TextEncoding, int> limits[] = { { TextEncoding::Narrow, wide ? 4095 : 511 },
                                                    { TextEncoding::Utf16Le, wide ? 4095 : 1023 } };
    for (const auto& [encoding, limit] : limits) {
        EXPECT_EQ(L"<failed>", Get(path, encoding));
        EXPECT_EQ(L"The file is 4097 MiB, more than the " + std::to_wstring(limit)
                      + L" MiB this tool can hold in memory.",
                  describeFileFailure(lastFailure));
    }

    // Below 4 GiB only the 32-bit build's strings refuse: 1 GiB of bytes, 512 Mi wide units.
    EXPECT_TRUE(w32SizeFits(1000 * MIB, HeldAs::Utf16Text, lastFailure));
    EXPECT_EQ(wide, w32SizeFits(600 * MIB, HeldAs::NarrowText, lastFailure));
    EXPECT_EQ(wide, w32SizeFits(1024 * MIB, HeldAs::Bytes, lastFailure));
    EXPECT_EQ(wide, w32SizeFits(1100 * MIB, HeldAs::Utf16Text, lastFailure));
}

TEST_F(FileIo, UnicodeIsTheMarkAndLittleEndianUnitsNarrowOneBytePerCharacterAppendingAddsAtTheEnd)
{
    const std::wstring path = dir / L"out.txt";
    EXPECT_TRUE(Put(path, L"abc", PutMode::Replace, TextEncoding::Utf16Le));
    EXPECT_EQ("\xFF\xFE" "a\0b\0c\0"s, readBytes(path));

    EXPECT_TRUE(Put(path, L"a\nc\u00e9", PutMode::Replace, TextEncoding::Narrow));
    EXPECT_EQ("a\r\nc\xE9"s, readBytes(path));
    // Each Unicode append brings its own mark; a file over the size limit is replaced.
    EXPECT_TRUE(Put(path, L"d", PutMode::Append, TextEncoding::Utf16Le, 5));
    EXPECT_EQ("a\r\nc\xE9\xFF\xFE"s + utf16le(L"d"), readBytes(path));
    EXPECT_TRUE(Put(path, L"e", PutMode::Append, TextEncoding::Narrow, 5));
    EXPECT_EQ("e"s, readBytes(path));
}

TEST_F(FileIo, AReplacementKeepsTheOldFilesAccessListAttributesAndCreationTime)
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

    ASSERT_TRUE(w32WriteFileBytes(path, "new", lastFailure)) << narrow(describeFileFailure(lastFailure));
    EXPECT_EQ("new", readBytes(path));
    EXPECT_TRUE(Put(path, L"newer", PutMode::Replace, TextEncoding::Utf16Le))
        << narrow(describeFileFailure(lastFailure));
    // Held open, the old file cannot be renamed over: the temporary file written by then goes.
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    EXPECT_FALSE(w32WriteFileBytes(path, "lost", lastFailure));
    CloseHandle(held);
    EXPECT_EQ((Snapshot { { path, "\xFF\xFE" + utf16le(L"newer") } }), Files()) << "no temporary file left";
    // A write meant for a new file leaves one that is there by then alone.
    EXPECT_FALSE(w32WriteFileBytes(path, "lost", lastFailure, WriteTo::NewFile));
    EXPECT_EQ((Snapshot { { path, "\xFF\xFE" + utf16le(L"newer") } }), Files()) << "no temporary file left";
    EXPECT_EQ(dacl, daclOf(path));
    const DWORD carried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(carried, GetFileAttributesW(path.c_str()) & (carried | FILE_ATTRIBUTE_READONLY));
    if (creationKept) {
        EXPECT_EQ(0x01D0000000000000ULL, creationOf(path));
    }
}
