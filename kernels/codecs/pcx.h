// The PCX run-length line, shared by the PCX decoders and encoders (and by
// the DEEP decoder, whose rows use the same coding).
//
// A byte 0xC0 to 0xFF is a run byte: its low six bits count how often the
// byte after it repeats. Any other byte stands for itself. A scan line is one
// coded line per plane, each decoding to exactly `length` bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "kernels/common/buffers.h"

// Decodes one line of `length` bytes from source[at] on. Decoded byte k goes
// to out[k * stride] while k is below `keep`; the rest are dropped. A run
// that passes the end of the line stores only its part inside and becomes
// the run of what is left, where the next line starts. Returns false when the
// source ends before the line is complete; what was decoded stays stored.
inline bool pcx_decode_line(std::span<uint8_t> source, uint64_t& at, uint32_t length, uint8_t* out,
                            uint32_t stride, uint32_t keep)
{
    uint32_t m = 0;

    // Well inside the kept part of the line, no run can reach its end: decode
    // without branching on what kind of byte comes, a byte of itself being a
    // run of one.
    const uint32_t inside = length < keep ? length : keep;
    while (uint64_t(m) + 63 <= inside && source.size() - at >= 2) {
        const uint8_t b = source[at];
        const bool run = b >= 0xC0;
        const uint32_t n = run ? b & 0x3Fu : 1u;
        const uint8_t value = run ? source[at + 1] : b;
        at += run ? 2 : 1;
        if (stride == 1 && n > 1) {
            std::memset(out + m, value, n);
        } else {
            for (uint32_t k = 0; k < n; ++k) out[uint64_t(m + k) * stride] = value;
        }
        m += n;
    }

    while (m < length) {
        if (at >= source.size()) return false;
        const uint8_t b = source[at];
        if (b < 0xC0) {
            if (m < keep) out[uint64_t(m) * stride] = b;
            ++m;
            ++at;
            continue;
        }
        if (source.size() - at < 2) return false;
        const uint8_t value = source[at + 1];
        uint32_t n = b & 0x3F;
        const uint32_t excess = n > length - m ? n - (length - m) : 0;
        n -= excess;
        for (uint32_t k = m; k < m + n && k < keep; ++k) out[uint64_t(k) * stride] = value;
        m += n;
        if (excess != 0) {
            source[at] = uint8_t(0xC0 | excess);  // the next line begins with the rest
        } else {
            at += 2;
        }
    }
    return true;
}

// Encodes one line of `length` bytes into out and returns the bytes written,
// at most 2 x length. A byte followed by equal bytes starts a run of at most
// 63 that leaves the last of the equal bytes to be looked at again; a lone
// byte of 0xC0 or more can only be written as a run of one.
inline uint32_t pcx_encode_line(const uint8_t* line, uint32_t length, uint8_t* out)
{
    uint32_t w = 0;
    uint32_t i = 0;
    while (i < length) {
        const uint8_t v = line[i];
        uint32_t k = 0;
        while (k < 63 && i + k + 1 < length && line[i + k + 1] == v) ++k;
        if (k > 0) {
            out[w++] = uint8_t(0xC0 | k);
            out[w++] = v;
            i += k;
        } else {
            out[w] = 0xC1;  // kept only before a byte of 0xC0 or more
            w += v >= 0xC0;
            out[w++] = v;
            ++i;
        }
    }
    return w;
}
