#include "common/files/fingerprint.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

// Whole units only. In locals: the bytes read could alias the members,
// which would then be stored and loaded again for every word.
void CFingerprint::Mix(const unsigned char* at, size_t size)
{
    if (m_style == Style::Words64) {
        unsigned long long hash = m_hash;
        for (; size > 0; at += sizeof hash, size -= sizeof hash) {
            unsigned long long word;
            std::memcpy(&word, at, sizeof word);
            hash = (hash ^ word) * FNV_PRIME_64;
        }
        m_hash = hash;
        return;
    }
    unsigned a = m_lanes[0], b = m_lanes[1], c = m_lanes[2], d = m_lanes[3];
    for (; size > 0; at += LANES * sizeof(unsigned), size -= LANES * sizeof(unsigned)) {
        unsigned words[LANES];
        std::memcpy(words, at, sizeof words);
        a = (a ^ words[0]) * FNV_PRIME_32;
        b = (b ^ words[1]) * FNV_PRIME_32;
        c = (c ^ words[2]) * FNV_PRIME_32;
        d = (d ^ words[3]) * FNV_PRIME_32;
    }
    m_lanes[0] = a;
    m_lanes[1] = b;
    m_lanes[2] = c;
    m_lanes[3] = d;
}

void CFingerprint::Add(const void* data, size_t size)
{
    const unsigned char* at = static_cast<const unsigned char*>(data);
    const size_t unit = Unit();
    m_size += size;
    if (m_pendingCount > 0) {
        const size_t fill = std::min(size, unit - m_pendingCount);
        std::memcpy(m_pending + m_pendingCount, at, fill);
        m_pendingCount += unsigned(fill);
        at += fill;
        size -= fill;
        if (m_pendingCount < unit)
            return;
        Mix(m_pending, unit);
        m_pendingCount = 0;
    }
    const size_t whole = size - size % unit;
    Mix(at, whole);
    std::memcpy(m_pending, at + whole, size - whole);
    m_pendingCount = unsigned(size - whole);
}

std::wstring CFingerprint::Text() const
{
    wchar_t text[64];
    if (m_style == Style::Words64) {
        unsigned long long hash = m_hash;
        for (unsigned i = 0; i < m_pendingCount; ++i)
            hash = (hash ^ m_pending[i]) * FNV_PRIME_64;
        _snwprintf(text, 63, L"%llu:%016llx", m_size, hash);
    } else {
        unsigned first = m_lanes[0];
        for (unsigned i = 0; i < m_pendingCount; ++i)
            first = (first ^ m_pending[i]) * FNV_PRIME_32;
        _snwprintf(text, 63, L"%llu:%08x%08x%08x%08x", m_size, first, m_lanes[1], m_lanes[2], m_lanes[3]);
    }
    text[63] = L'\0';
    return text;
}

CFingerprint::Style CFingerprint::StyleOf(const std::wstring& text)
{
    const size_t colon = text.find(L':');
    return colon != std::wstring::npos && text.size() - colon - 1 == 16 ? Style::Words64 : Style::Lanes;
}

bool w32FingerprintOf(HANDLE file, std::wstring& fingerprint, FileFailure& failure, CFingerprint::Style style)
{
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        failure = lastSystemFailure();
        return false;
    }
    // A block no larger than the file: a read under Wine touches all of its buffer.
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size)) {
        failure = lastSystemFailure();
        return false;
    }
    CFingerprint sum(style);
    std::vector<char> block(size_t(std::max<LONGLONG>(std::min<LONGLONG>(size.QuadPart, 256 << 10), 1)));
    for (DWORD got = 1; got > 0;) {
        if (!ReadFile(file, block.data(), DWORD(block.size()), &got, nullptr)) {
            failure = lastSystemFailure();
            return false;
        }
        sum.Add(block.data(), got);
    }
    fingerprint = sum.Text();
    return true;
}

