// The fingerprint of a file the tool wrote: what the restore compares to
// tell that file from one someone else has put under its name since.
#pragma once

#include "common/files/file_failure.h"

#include <windows.h>

#include <string>

// What a file holds, in a few characters: its size and a hash of its bytes.
// Tells the file a run wrote from one someone else made under its name.
//
// Lanes, what runs record: four 32-bit FNV-1a hashes, each over every fourth
// little-endian 32-bit word, the last few bytes one by one into the first
// ("1234:" and 32 hex digits). Four chains that do not wait for each other:
// a single 64-bit chain cost the 32-bit build more than writing a large
// conversion. Words64, what earlier versions recorded and a restore still
// reads: one 64-bit FNV-1a over 64-bit words ("1234:" and 16 hex digits).
class CFingerprint {
public:
    enum class Style { Lanes, Words64 };

    explicit CFingerprint(Style style = Style::Lanes) : m_style(style) {}
    void Add(const void* data, size_t size);
    std::wstring Text() const;
    // The style `text` was made in; Lanes for what is neither.
    static Style StyleOf(const std::wstring& text);

private:
    static constexpr unsigned long long FNV_PRIME_64 = 1099511628211ull;
    static constexpr unsigned FNV_PRIME_32 = 16777619u;
    static constexpr unsigned LANES = 4;

    size_t Unit() const { return m_style == Style::Lanes ? LANES * sizeof(unsigned) : sizeof(unsigned long long); }
    void Mix(const unsigned char* at, size_t size);

    Style m_style;
    unsigned long long m_size = 0;
    unsigned long long m_hash = 14695981039346656037ull;
    unsigned m_lanes[LANES] = { 2166136261u, 2166136261u, 2166136261u, 2166136261u };
    unsigned char m_pending[16] = {}; // bytes of a unit not yet whole
    unsigned m_pendingCount = 0;
};

// The fingerprint of what `file` holds, read from its start, in `style`.
bool w32FingerprintOf(HANDLE file, std::wstring& fingerprint, FileFailure& failure,
                      CFingerprint::Style style = CFingerprint::Style::Lanes);
