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

// The bytes of up to eight pixels, `Stride` bytes apart, stacked into one
// matrix word (pixel 0 in the most significant byte); missing pixels are 0.
template <unsigned Stride>
inline uint64_t stack_pixels(const uint8_t* pixels, uint32_t count)
{
    uint64_t x = 0;
    for (uint32_t i = 0; i < count; ++i) x |= uint64_t(pixels[i * Stride]) << (56 - 8 * i);
    return x;
}

// Spreads one row of `width` pixel bytes, `Stride` bytes apart, over the
// matching rows of `planes` planes (at most 8): bit k of pixel x sets bit
// 7 - x % 8 of byte x / 8 in plane_rows[k]. Bits of a pixel byte at and above
// `planes` are not looked at. A non-zero `FixedPlanes` stands for `planes`, so
// that the common depth gets a loop the compiler can unroll.
template <unsigned Stride, uint32_t FixedPlanes = 0>
inline void planes_from_pixel_row(const uint8_t* pixels, uint32_t width, uint8_t* const* plane_rows, uint32_t planes)
{
    if (FixedPlanes == 0 && planes == 8) return planes_from_pixel_row<Stride, 8>(pixels, width, plane_rows, 8);
    const uint32_t count = FixedPlanes ? FixedPlanes : planes;
    // A local copy of the row pointers: byte stores could alias the caller's.
    uint8_t* rows[8] = {};
    for (uint32_t k = 0; k < count; ++k) rows[k] = plane_rows[k];
    const uint32_t groups = (width + 7) / 8;
    for (uint32_t g = 0; g < groups; ++g) {
        // Full groups take the constant count, so the gather becomes one load.
        const bool full = g + 1 < groups || width % 8 == 0;
        const uint8_t* group = pixels + 8 * g * Stride;
        const uint64_t x = transpose_bits_8x8(full ? stack_pixels<Stride>(group, 8) : stack_pixels<Stride>(group, width % 8));
        for (uint32_t k = 0; k < count; ++k) rows[k][g] |= uint8_t(x >> (8 * k));
    }
}

// The reverse: gathers bit 7 - x % 8 of byte x / 8 of each of `planes` plane
// rows (at most 8) into bit k of pixel byte x, `Stride` bytes apart.
template <unsigned Stride, uint32_t FixedPlanes = 0>
inline void pixel_row_from_planes(const uint8_t* const* plane_rows, uint32_t planes, uint32_t width, uint8_t* pixels)
{
    if (FixedPlanes == 0 && planes == 8) return pixel_row_from_planes<Stride, 8>(plane_rows, 8, width, pixels);
    const uint32_t count = FixedPlanes ? FixedPlanes : planes;
    const uint8_t* rows[8] = {};
    for (uint32_t k = 0; k < count; ++k) rows[k] = plane_rows[k];
    const uint32_t groups = (width + 7) / 8;
    for (uint32_t g = 0; g < groups; ++g) {
        uint64_t x = 0;
        for (uint32_t k = 0; k < count; ++k) x |= uint64_t(rows[k][g]) << (8 * k);
        x = transpose_bits_8x8(x);
        uint8_t* out = pixels + 8 * g * Stride;
        if (g + 1 < groups || width % 8 == 0) {
            for (uint32_t i = 0; i < 8; ++i) out[i * Stride] |= uint8_t(x >> (56 - 8 * i));
        } else {
            for (uint32_t i = 0; i < width % 8; ++i) out[i * Stride] |= uint8_t(x >> (56 - 8 * i));
        }
    }
}
