// The planar bitmap, shared by the planar, ByteRun1 and codec kernels.
//
// Planes lie one after another, plane 0 first; a plane is `height` rows of
// (width + 7) / 8 bytes; pixel x of a row is bit 7 - x % 8 of byte x / 8, so
// the leftmost pixel is the most significant bit. Plane k holds bit k of a
// palette index; a true-colour bitmap has 24 planes, bits 0 to 7 of red in
// planes 0 to 7, of green in 8 to 15, of blue in 16 to 23.
//
// Eight pixels and eight planes meet in an 8 x 8 bit matrix: the bytes of
// eight pixels, stacked, turned on their side, are the bytes of eight planes.
// The converters below do that a group of eight pixels at a time. They only
// ever set bits in their output, as the host clears it first.
#pragma once

#include <cstdint>

inline uint64_t planar_row_bytes(uint32_t width) { return (uint64_t(width) + 7) / 8; }

// Transposes the 8 x 8 bit matrix whose row r is byte 7 - r of `x` (row 0 the
// most significant byte) and whose column c is bit 7 - c of that byte.
inline uint64_t transpose_bits_8x8(uint64_t x)
{
    uint64_t t;
    t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x ^= t ^ (t << 28);
    return x;
}

// Spreads one row of `width` pixel bytes, `stride` bytes apart, over the
// matching rows of `planes` planes (at most 8): bit k of pixel x sets bit
// 7 - x % 8 of byte x / 8 in plane_rows[k]. Bits of a pixel byte at and above
// `planes` are not looked at.
template <unsigned Stride>
inline void planes_from_pixel_row(const uint8_t* pixels, uint32_t width, uint8_t* const* plane_rows, uint32_t planes)
{
    const uint32_t groups = width / 8;
    const uint32_t tail = width % 8;
    for (uint32_t g = 0; g <= groups; ++g) {
        const uint32_t count = g < groups ? 8 : tail;
        if (count == 0) break;
        uint64_t x = 0;
        for (uint32_t i = 0; i < count; ++i) x |= uint64_t(pixels[(8 * g + i) * Stride]) << (56 - 8 * i);
        x = transpose_bits_8x8(x);
        for (uint32_t k = 0; k < planes; ++k) plane_rows[k][g] |= uint8_t(x >> (8 * k));
    }
}

// The reverse: gathers bit 7 - x % 8 of byte x / 8 of each of `planes` plane
// rows (at most 8) into bit k of pixel byte x, `stride` bytes apart.
template <unsigned Stride>
inline void pixel_row_from_planes(const uint8_t* const* plane_rows, uint32_t planes, uint32_t width, uint8_t* pixels)
{
    const uint32_t groups = width / 8;
    const uint32_t tail = width % 8;
    for (uint32_t g = 0; g <= groups; ++g) {
        const uint32_t count = g < groups ? 8 : tail;
        if (count == 0) break;
        uint64_t x = 0;
        for (uint32_t k = 0; k < planes; ++k) x |= uint64_t(plane_rows[k][g]) << (8 * k);
        x = transpose_bits_8x8(x);
        for (uint32_t i = 0; i < count; ++i) pixels[(8 * g + i) * Stride] |= uint8_t(x >> (56 - 8 * i));
    }
}
