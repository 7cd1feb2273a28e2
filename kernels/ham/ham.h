// HAM pixel codes, shared by the expander and the four encoders.
//
// A code byte holds two control bits above a value: control 00 loads the
// held colour from palette entry `value`, 01 sets its blue, 10 its red, 11
// its green. HAM6 has 4 value bits (modify values are v x 17), HAM8 has 6
// (v x 4). The encoders all walk a row from the left and, where a modify code
// is chosen, change the component that differs most from the held colour.
#pragma once

#include <bit>
#include <cstdint>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

enum : uint32_t { HAM_RED = 0, HAM_GREEN = 1, HAM_BLUE = 2 };

// Control bits of a modify code, by component.
inline constexpr uint8_t ham_control[3] = {2, 3, 1};

template <unsigned ValueBits>
inline uint8_t ham_modify_code(uint32_t component, uint32_t value)
{
    return uint8_t((ham_control[component] << ValueBits) | value);
}

// The component with the largest difference; ties go red, then green, then blue.
// Written as selections rather than branches: on photographs the winner
// changes from pixel to pixel.
inline uint32_t ham_largest_difference(uint32_t dr, uint32_t dg, uint32_t db)
{
    const bool green = dg > dr;
    const uint32_t largest = green ? dg : dr;
    return db > largest ? HAM_BLUE : green ? HAM_GREEN : HAM_RED;
}

inline uint32_t ham_difference(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

// Words 2 to 5 of every encoder's block: the true-colour source, the
// destination for the codes, the width and the height. A buffer that does not
// fit in its block is null.
struct ham_picture {
    const uint8_t* rgb;  // 3 bytes a pixel
    uint8_t* codes;      // 1 byte a pixel
    uint32_t width, height;
    uint64_t pixels;
};

inline ham_picture ham_encoder_picture(const void* block)
{
    ham_picture picture;
    picture.width = block_word(block, 4);
    picture.height = block_word(block, 5);
    picture.pixels = uint64_t(picture.width) * picture.height;
    picture.rgb = shared_bytes(block_word(block, 2), checked_size(picture.pixels, 3));
    picture.codes = shared_bytes(block_word(block, 3), picture.pixels);
    return picture;
}

// ---------------------------------------------------------------------------
// Quick encoders (hamsixfast, hameightfast): no palette; each row starts from
// entry 0 and black, every further pixel changes one component.
// Block: source, destination, width, height, error word (28 bytes).

inline constexpr uint32_t HAM_QUICK_BLOCK_SIZE = 28;

template <unsigned ValueBits>
uint32_t ham_quick_encode(void* block)
{
    const ham_picture picture = ham_encoder_picture(block);
    if (picture.rgb == nullptr || picture.codes == nullptr) {
        set_block_error(block, HAM_QUICK_BLOCK_SIZE, KERNEL_BAD_DATA);
        return 0;
    }
    const uint32_t width = picture.width;

    // An empty row has no first pixel to take code 0.
    if (width != 0) {
        for (uint32_t y = 0; y < picture.height; ++y) {
            const uint8_t* p = picture.rgb + uint64_t(y) * width * 3;
            uint8_t* out = picture.codes + uint64_t(y) * width;
            // The held colour lives in registers: each pixel depends on
            // the one before, so a trip through memory would cost every pixel.
            uint32_t hr = 0, hg = 0, hb = 0;
            out[0] = 0;
            for (uint32_t x = 1; x < width; ++x) {
                p += 3;
                const uint32_t r = p[0], g = p[1], b = p[2];
                const uint32_t c = ham_largest_difference(ham_difference(r, hr), ham_difference(g, hg),
                                                          ham_difference(b, hb));
                const uint32_t value = c == HAM_RED ? r : c == HAM_GREEN ? g : b;
                out[x] = ham_modify_code<ValueBits>(c, value >> (8 - ValueBits));
                hr = c == HAM_RED ? r : hr;
                hg = c == HAM_GREEN ? g : hg;
                hb = c == HAM_BLUE ? b : hb;
            }
        }
    }
    PPCCacheFlush(picture.codes, uint32_t(picture.pixels));
    return 0;
}

// ---------------------------------------------------------------------------
// Palette encoders (hamsix, hameight).
//
// Both count colours by key: the top four bits of red, green and blue.
inline constexpr uint32_t HAM_KEYS = 4096;

inline uint32_t ham_key(uint32_t red, uint32_t green, uint32_t blue)
{
    return ((red >> 4) << 8) | ((green >> 4) << 4) | (blue >> 4);
}

// The encoding works in each module's own units: hamsix on 4-bit key
// components (source bytes >> 4), hameight on full bytes.

struct ham_palette {
    uint32_t entries;                       // 16 or 64
    int32_t red[64], green[64], blue[64];   // in the encoder's units
};

// The entry nearest to (r, g, b) by squared distance among the entries whose
// bits are set in `candidates`, the lowest index on equal distances, as
// distance << 8 | index: one minimum over the packed values keeps both
// rules, and distance 0 means the first equal entry.
inline uint32_t ham_nearest_of(const ham_palette& palette, uint64_t candidates, int32_t r, int32_t g, int32_t b)
{
    uint32_t best = UINT32_MAX;
    for (; candidates != 0; candidates &= candidates - 1) {
        const uint32_t i = uint32_t(std::countr_zero(candidates));
        const int32_t dr = palette.red[i] - r, dg = palette.green[i] - g, db = palette.blue[i] - b;
        const uint32_t packed = (uint32_t(dr * dr + dg * dg + db * db) << 8) | i;
        best = packed < best ? packed : best;
    }
    return best;
}

inline uint32_t ham_nearest(const ham_palette& palette, int32_t r, int32_t g, int32_t b)
{
    return ham_nearest_of(palette, palette.entries == 64 ? ~uint64_t(0) : (uint64_t(1) << palette.entries) - 1, r, g, b);
}

// Codes for a whole picture. `nearest(r, g, b)` answers as ham_nearest does
// (hamsix looks it up in a table). H is the held colour in full units,
// although the decoder drops the low bits of a modified component; L is the
// last code. Every row starts with a palette code, so neither carries over.
template <unsigned ValueBits, unsigned UnitShift, typename Nearest>
void ham_palette_encode(const ham_palette& palette, Nearest nearest, const ham_picture& picture)
{
    const uint8_t* rgb = picture.rgb;
    uint8_t* codes = picture.codes;
    constexpr unsigned kValueShift = 8 - UnitShift - ValueBits;  // units to modify value
    // Rows of no pixels need no walk, however many there are.
    const uint32_t rows = picture.width == 0 ? 0 : picture.height;
    for (uint32_t y = 0; y < rows; ++y) {
        int32_t held[3] = {0, 0, 0};
        uint8_t last = 0;
        for (uint32_t x = 0; x < picture.width; ++x, rgb += 3, ++codes) {
            const int32_t p[3] = {rgb[0] >> UnitShift, rgb[1] >> UnitShift, rgb[2] >> UnitShift};
            uint32_t d[3] = {0, 0, 0};
            if (x != 0) {
                for (int c = 0; c < 3; ++c) d[c] = ham_difference(p[c], held[c]);
                const int differing = (d[0] != 0) + (d[1] != 0) + (d[2] != 0);
                if (differing == 0) {
                    *codes = last;
                    continue;
                }
                if (differing == 1) {
                    const uint32_t c = d[0] ? HAM_RED : d[1] ? HAM_GREEN : HAM_BLUE;
                    last = *codes = ham_modify_code<ValueBits>(c, uint32_t(p[c]) >> kValueShift);
                    held[c] = p[c];
                    continue;
                }
            }
            const uint32_t match = nearest(p[0], p[1], p[2]);
            const uint32_t index = match & 0xFF, distance = match >> 8;
            if (x != 0 && distance != 0) {
                const uint32_t c = ham_largest_difference(d[0], d[1], d[2]);
                const uint32_t candidate = d[0] * d[0] + d[1] * d[1] + d[2] * d[2] - d[c] * d[c];
                if (candidate < distance) {
                    last = *codes = ham_modify_code<ValueBits>(c, uint32_t(p[c]) >> kValueShift);
                    held[c] = p[c];
                    continue;
                }
            }
            last = *codes = uint8_t(index);
            held[0] = palette.red[index];
            held[1] = palette.green[index];
            held[2] = palette.blue[index];
        }
    }
}
