// Files of any size carried over a block at a time (module wn32util): read,
// compared and converted in blocks, so that the memory a file takes does not
// grow with the file.
#pragma once

#include "common/files/checked_file.h"
#include "common/files/file_failure.h"
#include "common/files/replacing_writer.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

// The source bytes one block holds at most; its UTF-16 text is twice that.
// Blocks that stay in the processor's cache: under Wine 2 and 4 MiB blocks
// converted 512 MiB no faster, and took more memory.
constexpr DWORD SOURCE_BLOCK = 256u << 10;

// The byte-order mark of UTF-16LE, which converted text begins with.
extern const unsigned char UTF16LE_MARK[2];

// Text of a code page (the OEM one by default) to UTF-16LE, a block at a
// time. A block may end inside a double-byte character: its lead byte waits
// for the next block, so the units are exactly those of the whole text
// converted at once.
// Whether `size` bytes at `data` hold a zero byte, which OEM text never does.
bool holdsZeroByte(const char* data, size_t size);

class COemToUtf16 {
public:
    explicit COemToUtf16(UINT codePage = CP_OEMCP);
    // The units of the next `size` bytes into `units` (replaced); `last`
    // for the text's last block, which converts a lead byte left waiting.
    bool Convert(const char* data, size_t size, bool last, std::vector<wchar_t>& units, FileFailure& failure);

private:
    UINT m_codePage;
    CPINFOEXW m_info = {};
    bool m_doubleByte = false;
    std::vector<char> m_waiting; // a lead byte the last block ended on, then the next block behind it
};

// What `use` gets of a source: the next block, and whether it is the last.
using BlockUse = std::function<bool(const char* data, DWORD size, bool last)>;

// A file read from its start a block at a time, exactly as long as it
// measured. A file of one block is read once: a second pass over it reads
// nothing.
class CBlockSource {
public:
    explicit CBlockSource(const CInFile& file) : m_file(file) {}

    // Takes the file's size; a file of 4 GiB or more is refused
    // (FILE_CAUSE_TOO_LARGE).
    bool Measure(FileFailure& failure);
    ULONGLONG Size() const { return m_size; }
    // Hands every block, from the start, to `use`; an empty file is one
    // empty last block. False when a read fails, when the file is no longer
    // as long as it measured (FILE_CAUSE_CHANGED_SIZE), or when `use`
    // returns false (with `failure` as `use` left it).
    bool ForEach(const BlockUse& use, FileFailure& failure);

private:
    const CInFile& m_file;
    ULONGLONG m_size = 0;
    std::unique_ptr<char[]> m_block;
    DWORD m_blockSize = 0;
    bool m_whole = false; // the one block holds the whole file
};

// Compares what it is fed with the bytes of a file from its start, a piece
// at a time; after the first difference it reads no more.
class CStreamCompare {
public:
    // `expectedSize`, when the caller knows it, saves reading a file of
    // another size at all.
    explicit CStreamCompare(const CInFile& file, ULONGLONG expectedSize = ULONGLONG(-1));
    // False only when the file cannot be read.
    bool Feed(const void* data, size_t size, FileFailure& failure);
    // Whether a difference is known already.
    bool Differs() const { return !m_same; }
    // Whether what was fed is all the file holds; a file that cannot be
    // read counts as different. The file is left at its start again.
    bool Same(FileFailure& failure);

private:
    const CInFile& m_file;
    bool m_same = true;
    std::vector<char> m_piece;
};
