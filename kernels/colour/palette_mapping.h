// Mapping a true-colour picture onto a palette of up to 256 entries, shared
// by diffusedither (onto the palette it chose, sorted by red, green, blue)
// and mapdither (onto the host's palette as it stands), which also share
// the layout of their blocks.
//
// Every looked-up colour is remembered by its colour key, the top five bits
// of red, green and blue: a later colour with the same key takes the index
// found for the first one, so the order in which pixels are visited decides
// the output. The search starts where a binary search on red lands and scans
// outwards while the red difference alone can still beat the best distance;
// that finds the nearest entry only in a palette sorted by red, and its
// result is what is written in any case.
#pragma once

#include <cstdint>
#include <cstring>

#include "kernels/common/buffers.h"
#include "kernels/common/checked.h"
#include "kernels/common/entry.h"
#include "kernels/common/picture.h"

inline constexpr uint32_t COLOUR_KEYS = 32768;

// ---------------------------------------------------------------------------
// Both modules' blocks: 28 bytes, the source, the destination, the picture
// record (width, height, depth) and the dither mode.

inline constexpr uint32_t PALETTE_DITHER_BLOCK_SIZE = 28;
enum : uint32_t {
    PALETTE_DITHER_SOURCE = 2,
    PALETTE_DITHER_DESTINATION = 3,
    PALETTE_DITHER_RECORD = 4,
    PALETTE_DITHER_MODE = 5,
};

struct palette_dither_call {
    picture_record* record;
    const uint8_t* rgb;  // 3 bytes a pixel
    uint8_t* indices;    // 1 byte a pixel
    uint32_t width, height, depth, mode;
    uint32_t pixels;     // fits: the destination holds them
};

// Reads and checks the block. False when there is nothing to do: a record,
// a depth outside 1 to 8 or a buffer that cannot serve the call (error 14
// stored), or a picture of no pixels (the error word left alone).
inline bool take_palette_dither_call(void* block, palette_dither_call& call)
{
    call = palette_dither_call{};
    call.record = picture_at(block_word(block, PALETTE_DITHER_RECORD));
    if (call.record != nullptr) {
        call.width = picture_width(call.record);
        call.height = picture_height(call.record);
        call.depth = picture_depth(call.record);
    }
    if (call.record == nullptr || call.depth < 1 || call.depth > 8) {
        set_block_error(block, PALETTE_DITHER_BLOCK_SIZE, KERNEL_BAD_DATA);
        return false;
    }
    if (call.width == 0 || call.height == 0) return false;
    const checked_u64 pixels = checked_size(call.width, call.height);
    call.rgb = shared_bytes(block_word(block, PALETTE_DITHER_SOURCE), checked_size(pixels, 3));
    call.indices = shared_bytes(block_word(block, PALETTE_DITHER_DESTINATION), pixels);
    if (call.rgb == nullptr || call.indices == nullptr) {
        set_block_error(block, PALETTE_DITHER_BLOCK_SIZE, KERNEL_BAD_DATA);
        return false;
    }
    call.pixels = uint32_t(*pixels);
    call.mode = block_word(block, PALETTE_DITHER_MODE);
    return true;
}

// Red in bits 14 to 10, green in 9 to 5, blue in 4 to 0.
inline uint32_t colour_key(uint32_t red, uint32_t green, uint32_t blue)
{
    return ((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3);
}

// A palette as the search reads it: `count` entries of red, green, blue,
// `stride` bytes apart.
struct search_palette {
    const uint8_t* entries;
    uint32_t stride;
    int32_t count;
};

inline int32_t clamp_component(int32_t value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

inline int32_t squared_distance(const uint8_t* entry, int32_t red, int32_t green, int32_t blue)
{
    const int32_t dr = entry[0] - red, dg = entry[1] - green, db = entry[2] - blue;
    return dr * dr + dg * dg + db * db;
}

// The search proper, for a colour whose key is not cached yet. Only a
// strictly nearer entry replaces the best one, so on equal distances the
// start entry wins, then the first found in the order down 1, up 1, down 2,
// up 2, ...
inline int32_t search_nearest(const search_palette& palette, int32_t red, int32_t green, int32_t blue)
{
    const auto entry = [&palette](int32_t i) { return palette.entries + uint32_t(i) * palette.stride; };
    int32_t lo = 0, hi = palette.count - 1, start = 0;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        const int32_t mid_red = entry(mid)[0];
        if (mid_red == red) {
            start = mid;
            break;
        }
        if (mid_red < red) {
            lo = mid + 1;
            start = mid + 1;
        } else {
            hi = mid;
            start = mid;
        }
    }

    int32_t best = start;
    int32_t d = squared_distance(entry(start), red, green, blue);
    int32_t down = start - 1, up = start + 1;
    while (d > 0 && (down >= 0 || up < palette.count)) {
        if (down >= 0) {
            const int32_t dd = squared_distance(entry(down), red, green, blue);
            if (dd < d) {
                best = down;
                d = dd;
            }
            const int32_t dr = entry(down)[0] - red;
            down = dr * dr < d ? down - 1 : -1;
        }
        if (up < palette.count) {
            const int32_t du = squared_distance(entry(up), red, green, blue);
            if (du < d) {
                best = up;
                d = du;
            }
            const int32_t dr = entry(up)[0] - red;
            up = dr * dr < d ? up + 1 : palette.count;
        }
    }
    return best;
}

// The index for a wanted colour, components clamped to 0 to 255 first.
inline uint32_t nearest_colour(const search_palette& palette, int16_t* cache, int32_t red, int32_t green,
                               int32_t blue)
{
    red = clamp_component(red);
    green = clamp_component(green);
    blue = clamp_component(blue);
    int16_t& cached = cache[colour_key(uint32_t(red), uint32_t(green), uint32_t(blue))];
    if (cached < 0) cached = int16_t(search_nearest(palette, red, green, blue));
    return uint32_t(cached);
}

// ---------------------------------------------------------------------------
// Working storage of a mapping: the colour cache and six accumulator rows of
// scaled errors (this row and the next, red, green and blue), each with
// `margin` positions on either side of the picture for the shares that fall
// beside it. All of it is requested in every mode.

struct mapping_work {
    int16_t* cache;
    int32_t* rows[6];
    uint32_t margin;
};

inline void release_mapping_work(mapping_work& work)
{
    for (int32_t*& row : work.rows) {
        PPCFreeVec(row);
        row = nullptr;
    }
    PPCFreeVec(work.cache);
    work.cache = nullptr;
}

// KERNEL_OK with the cache cleared to "not looked up yet", or
// KERNEL_NO_MEMORY with nothing held.
inline uint32_t request_mapping_work(mapping_work& work, uint32_t width, uint32_t margin)
{
    work = mapping_work{};
    work.margin = margin;
    work.cache = static_cast<int16_t*>(PPCAllocVec(COLOUR_KEYS * 2, KERNEL_MEMORY_FLAGS));
    if (work.cache == nullptr) return KERNEL_NO_MEMORY;
    // A row the run-time cannot even be asked for is memory it cannot give.
    const checked_u64 row_size = checked_size(checked_add(width, 2 * margin), 4);
    const bool askable = row_size && *row_size <= UINT32_MAX;
    for (int32_t*& row : work.rows) {
        row = askable ? static_cast<int32_t*>(PPCAllocVec(uint32_t(*row_size), KERNEL_MEMORY_FLAGS)) : nullptr;
        if (row == nullptr) {
            release_mapping_work(work);
            return KERNEL_NO_MEMORY;
        }
    }
    std::memset(work.cache, 0xFF, COLOUR_KEYS * 2);
    return KERNEL_OK;
}

// ---------------------------------------------------------------------------
// Without diffusion every pixel is mapped on its own, in this order: row 0
// from the left; column 0 from the top; the last column from the top; then
// rows 1 onwards from column 1 to the last but one.

inline void map_undiffused(const search_palette& palette, int16_t* cache, const uint8_t* rgb, uint8_t* indices,
                           uint32_t width, uint32_t height)
{
    const auto map = [&](uint64_t i) {
        const uint8_t* p = rgb + 3 * i;
        indices[i] = uint8_t(nearest_colour(palette, cache, p[0], p[1], p[2]));
    };
    for (uint32_t x = 0; x < width; ++x) map(x);
    for (uint32_t y = 0; y < height; ++y) map(uint64_t(y) * width);
    for (uint32_t y = 0; y < height; ++y) map(uint64_t(y) * width + width - 1);
    for (uint32_t y = 1; y < height; ++y)
        for (uint32_t x = 1; x + 1 < width; ++x) map(uint64_t(y) * width + x);
}

// ---------------------------------------------------------------------------
// Error diffusion. Errors are kept times 1024; each share is (weight x error)
// shifted right arithmetically, computed on its own. Rows run in alternating
// directions, row 0 from the left; "ahead" is the direction of the row.

struct floyd_steinberg {
    static constexpr int32_t same_row[2] = {7, 0};          // 1 and 2 ahead
    static constexpr int32_t next_row[5] = {0, 3, 5, 1, 0};  // 2 behind .. 2 ahead
    static constexpr int32_t shift = 4;
    static constexpr uint32_t reach = 1;                     // positions beside the picture it writes
};

struct burkes {
    static constexpr int32_t same_row[2] = {8, 4};
    static constexpr int32_t next_row[5] = {2, 4, 8, 4, 2};
    static constexpr int32_t shift = 5;
    static constexpr uint32_t reach = 2;
};

template <typename Weights>
void map_diffused(const search_palette& palette, mapping_work& work, const uint8_t* rgb, uint8_t* indices,
                  uint32_t width, uint32_t height)
{
    if (Weights::reach > work.margin) return;  // the rows cannot take this kernel's shares
    const int64_t margin = work.margin;
    const uint64_t row_length = uint64_t(width) + 2 * uint64_t(margin);
    // Pointers at pixel 0 of each row; pixel x is [x], from -margin on.
    int32_t* this_row[3] = {work.rows[0] + margin, work.rows[1] + margin, work.rows[2] + margin};
    int32_t* next_row[3] = {work.rows[3] + margin, work.rows[4] + margin, work.rows[5] + margin};

    for (uint32_t y = 0; y < height; ++y) {
        for (int32_t* row : next_row) std::memset(row - margin, 0, row_length * 4);
        const bool forward = y % 2 == 0;
        const int64_t ahead = forward ? 1 : -1;
        const uint8_t* source = rgb + uint64_t(y) * width * 3;
        uint8_t* out = indices + uint64_t(y) * width;
        for (uint32_t n = 0; n < width; ++n) {
            const int64_t x = forward ? int64_t(n) : int64_t(width) - 1 - int64_t(n);
            int32_t adjusted[3];
            for (int c = 0; c < 3; ++c) adjusted[c] = clamp_component(source[3 * x + c] + (this_row[c][x] >> 10));
            const uint32_t index = nearest_colour(palette, work.cache, adjusted[0], adjusted[1], adjusted[2]);
            out[x] = uint8_t(index);
            const uint8_t* chosen = palette.entries + index * palette.stride;
            for (int c = 0; c < 3; ++c) {
                const int32_t e = (adjusted[c] - chosen[c]) * 1024;
                for (int k = 0; k < 2; ++k)
                    if (Weights::same_row[k] != 0) this_row[c][x + ahead * (k + 1)] += (Weights::same_row[k] * e) >> Weights::shift;
                for (int k = 0; k < 5; ++k)
                    if (Weights::next_row[k] != 0) next_row[c][x + ahead * (k - 2)] += (Weights::next_row[k] * e) >> Weights::shift;
            }
        }
        for (int c = 0; c < 3; ++c) {
            int32_t* done = this_row[c];
            this_row[c] = next_row[c];
            next_row[c] = done;
        }
    }
}
