// Files read, converted, compared and fingerprinted a block at a time.
#include "common/files/block_transfer.h"
#include "common/files/fingerprint.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace qmtest;

namespace {

// `text` converted at once, as MultiByteToWideChar does it.
std::wstring whole(UINT codePage, const std::string& text)
{
    std::wstring units(text.size(), L'\0');
    const int n = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), &units[0], int(text.size()));
    units.resize(size_t(n > 0 ? n : 0));
    return units;
}

// `text` converted in blocks of the sizes `cuts` gives, in turn.
std::wstring inBlocks(UINT codePage, const std::string& text, const std::vector<size_t>& cuts)
{
    COemToUtf16 converter(codePage);
    std::vector<wchar_t> units;
    std::wstring result;
    FileFailure failure;
    size_t at = 0;
    for (size_t i = 0; at < text.size() || i == 0; ++i) {
        const size_t size = std::min(cuts[i % cuts.size()], text.size() - at);
        const bool last = at + size == text.size();
        EXPECT_TRUE(converter.Convert(text.data() + at, size, last, units, failure));
        result.append(units.begin(), units.end());
        at += size;
        if (last)
            break;
    }
    return result;
}

} // namespace

// Wherever a block ends, inside a double-byte character, a UTF-8 sequence or
// a CR LF pair, the units are those of the whole text at once.
TEST(OemToUtf16, BlocksEndingAnywhereGiveTheWholeTextsUnits)
{
    std::string text;
    unsigned seed = 12345;
    for (int i = 0; i < 700; ++i) {
        seed = seed * 1103515245u + 12345u;
        text += char(1 + (seed >> 16) % 255); // any byte but zero: lead, trail, CR, LF, ASCII
    }
    text += "\r\n\x82\x81\xE3\x81\x82\r\n";
    for (UINT codePage : { 437u, 932u, 936u, 65001u }) {
        const std::wstring expected = whole(codePage, text);
        ASSERT_FALSE(expected.empty()) << codePage;
        for (size_t cut = 1; cut < text.size(); ++cut)
            ASSERT_EQ(expected, inBlocks(codePage, text, { cut, text.size() })) << codePage << " cut at " << cut;
        for (size_t block : { 1u, 2u, 3u, 5u, 64u })
            ASSERT_EQ(expected, inBlocks(codePage, text, { block })) << codePage << " blocks of " << block;
    }
    EXPECT_EQ(L"", inBlocks(437, "", { 1 }));

    // The zero check finds a zero byte wherever it is, among bytes whose
    // bits are all set, only the lowest, or only the highest.
    for (char filler : { '\xFF', '\x01', '\x80' }) {
        for (size_t size = 0; size < 40; ++size) {
            std::string bytes(size, filler);
            EXPECT_FALSE(holdsZeroByte(bytes.data(), size)) << size;
            for (size_t at = 0; at < size; ++at) {
                bytes[at] = '\0';
                EXPECT_TRUE(holdsZeroByte(bytes.data(), size)) << "zero at " << at << " of " << size;
                bytes[at] = filler;
            }
        }
    }
}

// A fingerprint does not depend on how its bytes were handed over, and one
// byte changed anywhere changes it. The style earlier versions recorded in
// their backups reads as it always did, and is told by its length.
TEST(Fingerprint, TakesBytesInAnyPiecesAndReadsTheOldStyleAsBefore)
{
    std::string bytes;
    for (int i = 0; i < 301; ++i)
        bytes += char(i * 37 + 11);
    for (CFingerprint::Style style : { CFingerprint::Style::Lanes, CFingerprint::Style::Words64 }) {
        CFingerprint whole(style);
        whole.Add(bytes.data(), bytes.size());
        for (size_t piece : { 1u, 3u, 7u, 15u, 17u, 64u }) {
            CFingerprint pieces(style);
            for (size_t at = 0; at < bytes.size(); at += piece)
                pieces.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
            EXPECT_EQ(whole.Text(), pieces.Text()) << "pieces of " << piece;
        }
        EXPECT_EQ(style, CFingerprint::StyleOf(whole.Text()));
        for (size_t at : { size_t(0), size_t(5), size_t(150), bytes.size() - 1 }) {
            std::string changed = bytes;
            changed[at] ^= 1;
            CFingerprint other(style);
            other.Add(changed.data(), changed.size());
            EXPECT_NE(whole.Text(), other.Text()) << "byte " << at;
        }
    }
    CFingerprint old(CFingerprint::Style::Words64);
    old.Add("restore.lst of 5.2.2!", 21);
    EXPECT_EQ(L"21:343fe59443bee34e", old.Text());
}

// Every byte once and in order, the last block marked; and a file that grows
// or shrinks after it was measured fails instead of being cut or run on.
TEST(BlockSource, HandsOverTheFileAsItMeasuredOrFailsWhenItChangedSize)
{
    TempDir dir;
    std::string bytes(2 * SOURCE_BLOCK + 5, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 4096);
    writeBytes(dir / L"big.txt", bytes);
    writeBytes(dir / L"empty.txt", "");
    CCheckedDir folder;
    FileFailure failure;
    ASSERT_TRUE(folder.OpenRoot(dir.Path(), failure));

    auto collect = [&](const wchar_t* name, std::string& seen, int& lasts, const std::function<void()>& meanwhile) {
        CInFile file;
        EXPECT_TRUE(file.Open(folder, name, failure));
        CBlockSource source(file);
        EXPECT_TRUE(source.Measure(failure));
        meanwhile();
        seen.clear();
        lasts = 0;
        failure = FileFailure();
        return source.ForEach(
            [&](const char* data, DWORD size, bool last) {
                EXPECT_EQ(0, lasts) << "a block after the last";
                seen.append(data, size);
                lasts += last;
                return true;
            },
            failure);
    };
    std::string seen;
    int lasts = 0;
    EXPECT_TRUE(collect(L"big.txt", seen, lasts, [] {}));
    EXPECT_TRUE(seen == bytes);
    EXPECT_EQ(1, lasts);
    EXPECT_TRUE(collect(L"empty.txt", seen, lasts, [] {}));
    EXPECT_EQ("", seen);
    EXPECT_EQ(1, lasts) << "an empty file is one empty last block";

    // Changed by a program that the share modes do not stop.
    for (ULONGLONG changed : { ULONGLONG(bytes.size() + 1), ULONGLONG(SOURCE_BLOCK + 1) }) {
        EXPECT_FALSE(collect(L"big.txt", seen, lasts, [&] { resizeOnHost(dir / L"big.txt", changed); })) << changed;
        EXPECT_EQ(FILE_CAUSE_CHANGED_SIZE, failure.cause);
        EXPECT_EQ(bytes.size(), failure.size);
        EXPECT_EQ(0, lasts) << "no last block of a file that changed size";
        writeBytes(dir / L"big.txt", bytes);
    }
}
