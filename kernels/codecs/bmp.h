// The BMP pixel array, shared by the BMP kernels: rows of packed pixels, each
// padded with bytes at its end to a multiple of 4.
#pragma once

#include <cstdint>

// The padded length of one row at 1, 4, 8 or 24 bits per pixel; 0 at any
// other depth, which has no pixel array.
inline uint64_t bmp_row_length(uint32_t width, uint32_t depth)
{
    uint64_t packed;
    switch (depth) {
    case 1: packed = (uint64_t(width) + 7) / 8; break;
    case 4: packed = (uint64_t(width) + 1) / 2; break;
    case 8: packed = width; break;
    case 24: packed = 3 * uint64_t(width); break;
    default: return 0;
    }
    return (packed + 3) & ~uint64_t(3);
}

// A 24-bit BMP pixel is blue, green, red; the host's is red, green, blue.
// Copies `count` pixels from one order into the other.
inline void bmp_swap_red_blue(const uint8_t* from, uint32_t count, uint8_t* to)
{
    for (uint32_t x = 0; x < count; ++x, from += 3, to += 3) {
        to[0] = from[2];
        to[1] = from[1];
        to[2] = from[0];
    }
}
