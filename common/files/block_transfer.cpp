#include "common/files/block_transfer.h"

#include <algorithm>
#include <cstring>
#include <new>

const unsigned char UTF16LE_MARK[2] = { 0xFF, 0xFE };

namespace {

constexpr UINT UTF8_CODE_PAGE = 65001;

// How many of the first `count` bytes end on a character boundary of the
// double-byte code page: walked from the start, which is one, a lead byte
// and the byte after it being one character. Only a lead byte at the very
// end is left over.
size_t wholeDoubleByteCharacters(UINT codePage, const char* data, size_t count)
{
    size_t at = 0;
    while (at < count)
        at += IsDBCSLeadByteEx(codePage, BYTE(data[at])) ? 2 : 1;
    return at > count ? count - 1 : count;
}

// The same for UTF-8: the block is cut where no sequence that began before
// the cut would run past it by what its lead byte says. (At the end of a
// text Wine takes a lead byte's length for granted, whatever bytes follow it,
// and a cut anywhere else would read differently from the whole text.) A
// block with no such place in its last 4 KiB is taken whole.
size_t wholeUtf8Characters(const char* data, size_t count)
{
    for (size_t cut = count; count - cut < 4096; --cut) {
        if (cut == 0)
            return 0; // all of it waits: its start is a character's
        bool fits = true;
        for (size_t back = 1; fits && back <= 3 && back <= cut; ++back) {
            const BYTE byte = BYTE(data[cut - back]);
            const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            fits = length <= back;
        }
        if (fits)
            return cut;
    }
    return count;
}

FileFailure changedSize(ULONGLONG measured)
{
    FileFailure failure = toolFailure(FILE_CAUSE_CHANGED_SIZE);
    failure.size = measured;
    return failure;
}

} // namespace

bool holdsZeroByte(const char* data, size_t size)
{
    // A word at a time: the C library's memchr goes byte by byte under Wine.
    constexpr size_t ones = ~size_t(0) / 0xFF, highs = ones << 7;
    size_t at = 0;
    for (; at + sizeof(size_t) <= size; at += sizeof(size_t)) {
        size_t word;
        std::memcpy(&word, data + at, sizeof word);
        if ((word - ones) & ~word & highs)
            return true;
    }
    for (; at < size; ++at)
        if (data[at] == 0)
            return true;
    return false;
}

COemToUtf16::COemToUtf16(UINT codePage) : m_codePage(codePage)
{
    if (GetCPInfoExW(codePage, 0, &m_info)) {
        m_codePage = m_info.CodePage;
        m_doubleByte = m_info.MaxCharSize > 1;
    }
}

bool COemToUtf16::Convert(const char* data, size_t size, bool last, std::vector<wchar_t>& units,
                          FileFailure& failure)
{
    const char* from = data;
    size_t count = size;
    if (!m_waiting.empty()) {
        m_waiting.insert(m_waiting.end(), data, data + size);
        from = m_waiting.data();
        count = m_waiting.size();
    }
    size_t take = count;
    if (m_doubleByte && !last)
        take = m_codePage == UTF8_CODE_PAGE ? wholeUtf8Characters(from, count)
                                            : wholeDoubleByteCharacters(m_codePage, from, count);
    if (take > 0) {
        // Never more units than bytes: one for a byte, one for a pair, two
        // for a four-byte UTF-8 sequence. (Wine's UTF-8 decoder drops the
        // last unit of a broken text that fills its room exactly, so there
        // is some to spare.) Not cleared first: only what the last block
        // did not fill is filled.
        units.resize(take + 16);
        const int converted =
            MultiByteToWideChar(m_codePage, 0, from, int(take), units.data(), int(units.size()));
        if (converted <= 0) {
            failure = toolFailure(FILE_CAUSE_NOT_CONVERTIBLE, GetLastError());
            units.clear();
            return false;
        }
        units.resize(size_t(converted));
    } else {
        units.clear();
    }
    std::vector<char> rest(from + take, from + count);
    m_waiting.swap(rest);
    return true;
}

bool CBlockSource::Measure(FileFailure& failure)
{
    m_whole = false;
    if (!m_file.Size(m_size, failure))
        return false;
    // The sizes the tool records and compares are 32-bit, as the console's.
    if (m_size > MAXDWORD) {
        failure = toolFailure(FILE_CAUSE_TOO_LARGE);
        failure.size = m_size;
        failure.limit = MAXDWORD;
        return false;
    }
    return true;
}

bool CBlockSource::ForEach(const BlockUse& use, FileFailure& failure)
{
    if (m_whole)
        return use(m_block.get(), DWORD(m_size), true);
    if (!m_file.Rewind(failure))
        return false;
    if (!m_block) {
        // No larger than the file: under Wine a read touches all of its buffer.
        m_blockSize = DWORD(std::max<ULONGLONG>(1, std::min<ULONGLONG>(m_size, SOURCE_BLOCK)));
        m_block.reset(new (std::nothrow) char[m_blockSize]);
        if (!m_block) {
            failure = systemFailure(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
    }
    ULONGLONG done = 0;
    do {
        const DWORD want = DWORD(std::min<ULONGLONG>(m_blockSize, m_size - done));
        DWORD filled = 0;
        while (filled < want) {
            DWORD got = 0;
            if (!m_file.Read(m_block.get() + filled, want - filled, got, failure))
                return false;
            if (got == 0) {
                failure = changedSize(m_size);
                return false;
            }
            filled += got;
        }
        done += filled;
        const bool last = done == m_size;
        if (last) {
            // Nothing may follow what the file measured.
            char more = 0;
            DWORD got = 0;
            if (!m_file.Read(&more, 1, got, failure))
                return false;
            if (got != 0) {
                failure = changedSize(m_size);
                return false;
            }
            m_whole = m_size <= m_blockSize;
        }
        if (!use(m_block.get(), filled, last))
            return false;
    } while (done < m_size);
    return true;
}

CStreamCompare::CStreamCompare(const CInFile& file, ULONGLONG expectedSize) : m_file(file)
{
    FileFailure ignored;
    ULONGLONG size = 0;
    if (expectedSize != ULONGLONG(-1) && (!file.Size(size, ignored) || size != expectedSize))
        m_same = false;
    else if (!file.Rewind(ignored))
        m_same = false;
}

bool CStreamCompare::Feed(const void* data, size_t size, FileFailure& failure)
{
    const char* at = static_cast<const char*>(data);
    while (m_same && size > 0) {
        const DWORD want = DWORD(std::min<size_t>(size, IO_CHUNK));
        if (m_piece.size() < want)
            m_piece.resize(want);
        DWORD got = 0;
        if (!m_file.Read(m_piece.data(), want, got, failure))
            return false;
        if (got == 0 || std::memcmp(m_piece.data(), at, got) != 0)
            m_same = false;
        at += got;
        size -= got;
    }
    return true;
}

bool CStreamCompare::Same(FileFailure& failure)
{
    if (m_same) {
        char more = 0;
        DWORD got = 0;
        if (!m_file.Read(&more, 1, got, failure))
            return false;
        m_same = got == 0;
    }
    return m_file.Rewind(failure) && m_same;
}
