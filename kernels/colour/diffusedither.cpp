// diffusedither: a true-colour picture into palette indices, over a palette
// of 2^depth colours chosen by a median cut of its 15-bit colours, with no
// diffusion, Floyd-Steinberg or Burkes error diffusion.
#include <algorithm>

#include "kernels/colour/palette_mapping.h"
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/common/picture.h"

KERNEL_VERSION("diffusedither", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kMarginOfBurkes = 2;  // the accumulators hold pixels -2 to width + 1

// Working storage, laid out as the run-time hands it over.
struct palette_entry {
    uint8_t red, green, blue, spare;
};
struct box_entry {
    uint16_t count;  // pixels of the key, at most 32767
    uint16_t key;
};
static_assert(sizeof(palette_entry) == 4 && sizeof(box_entry) == 4);

constexpr uint32_t kHistogramSize = COLOUR_KEYS * 2;
constexpr uint32_t kPaletteSize = 256 * sizeof(palette_entry);
constexpr uint32_t kBoxListSize = COLOUR_KEYS * sizeof(box_entry);

enum : uint32_t { kRed = 0, kGreen = 1, kBlue = 2 };

uint32_t key_field(uint32_t key, uint32_t axis) { return (key >> (10 - 5 * axis)) & 31; }

palette_entry key_colour(uint32_t key, uint32_t added)
{
    return {uint8_t(key_field(key, kRed) * 8 + added), uint8_t(key_field(key, kGreen) * 8 + added),
            uint8_t(key_field(key, kBlue) * 8 + added), 0};
}

// The key with its fields in the cyclic order that starts at `axis`: ordering
// by it sorts on the axis, then on the other two fields.
uint32_t key_from_axis(uint32_t key, uint32_t axis)
{
    const uint32_t first = key_field(key, axis), second = key_field(key, (axis + 1) % 3),
                   third = key_field(key, (axis + 2) % 3);
    return (first << 10) | (second << 5) | third;
}

// Colours p to p + q - 1 for the n entries (n >= q >= 1).
void median_cut(box_entry* e, uint32_t n, palette_entry* palette, uint32_t p, uint32_t q)
{
    if (q == 1) {
        // Each key counts once, whatever its pixel count.
        uint64_t sum[3] = {0, 0, 0};
        for (uint32_t i = 0; i < n; ++i)
            for (uint32_t c = 0; c < 3; ++c) sum[c] += key_field(e[i].key, c) * 8;
        palette[p] = {uint8_t(sum[0] / n + 4), uint8_t(sum[1] / n + 4), uint8_t(sum[2] / n + 4), 0};
        return;
    }
    if (n == q) {
        for (uint32_t i = 0; i < n; ++i) palette[p + i] = key_colour(e[i].key, 4);
        return;
    }

    // The axis of the largest range; ties go to red, then green.
    uint32_t low[3] = {31, 31, 31}, high[3] = {0, 0, 0};
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t c = 0; c < 3; ++c) {
            low[c] = std::min(low[c], key_field(e[i].key, c));
            high[c] = std::max(high[c], key_field(e[i].key, c));
        }
    uint32_t axis = kRed, range = high[kRed] - low[kRed];
    if (high[kGreen] - low[kGreen] > range) {
        axis = kGreen;
        range = high[kGreen] - low[kGreen];
    }
    if (high[kBlue] - low[kBlue] > range) axis = kBlue;
    std::sort(e, e + n, [axis](const box_entry& a, const box_entry& b) {
        return key_from_axis(a.key, axis) < key_from_axis(b.key, axis);
    });

    // Balance the pixel counts from both ends; where the cursors meet, the
    // entry under both counts on both sides.
    const uint32_t h = q / 2;
    uint32_t i = h - 1, j = n - h;
    uint64_t lower = 0, upper = 0;
    for (uint32_t k = 0; k <= i; ++k) lower += e[k].count;
    for (uint32_t k = j; k < n; ++k) upper += e[k].count;
    const uint32_t jump = (j - i) / 8;
    for (uint32_t k = 0; k < jump; ++k) lower += e[++i].count;
    for (uint32_t k = 0; k < jump; ++k) upper += e[--j].count;
    while (i < j) {
        if (upper > lower)
            lower += e[++i].count;
        else
            upper += e[--j].count;
    }
    uint32_t n_low, q_low;
    if (lower > upper) {
        n_low = i + 1;
        q_low = q - h;
    } else {
        n_low = i;
        q_low = h;
    }
    if (n_low == 0)
        n_low = 1;
    else if (n_low == n)
        n_low = n - 1;
    while (q_low > n_low) --q_low;
    const uint32_t n_high = n - n_low;
    while (q - q_low > n_high) ++q_low;

    median_cut(e, n_low, palette, p, q_low);
    median_cut(e + n_low, n_high, palette, p + q_low, q - q_low);
}

// The palette of 3 to 256 colours: the picture's own keys when they are few
// enough (times 8, white after them), else the median cut.
uint32_t select_palette(const uint16_t* histogram, palette_entry* palette, uint32_t colours)
{
    auto* boxes = static_cast<box_entry*>(PPCAllocVec(kBoxListSize, KERNEL_MEMORY_FLAGS));
    if (boxes == nullptr) return KERNEL_NO_MEMORY;
    uint32_t kept = 0;
    for (uint32_t key = 0; key < COLOUR_KEYS; ++key) {
        const uint16_t count = std::min<uint16_t>(histogram[key], 32767);
        if (count != 0) boxes[kept++] = {count, uint16_t(key)};
    }
    if (kept <= colours) {
        for (uint32_t i = 0; i < kept; ++i) palette[i] = key_colour(boxes[i].key, 0);
        for (uint32_t i = kept; i < colours; ++i) palette[i] = {255, 255, 255, 0};
    } else {
        median_cut(boxes, kept, palette, 0, colours);
    }
    PPCFreeVec(boxes);
    return KERNEL_OK;
}

// Maps the picture onto the palette, which it first sorts by red, green and
// blue: the indices written are positions in that order.
uint32_t dither(const uint8_t* rgb, uint8_t* indices, uint32_t width, uint32_t height, palette_entry* palette,
                uint32_t colours, uint32_t mode)
{
    mapping_work work;
    if (request_mapping_work(work, width, kMarginOfBurkes) != KERNEL_OK) return KERNEL_NO_MEMORY;
    std::sort(palette, palette + colours, [](const palette_entry& a, const palette_entry& b) {
        if (a.red != b.red) return a.red < b.red;
        if (a.green != b.green) return a.green < b.green;
        return a.blue < b.blue;
    });
    const search_palette search{reinterpret_cast<const uint8_t*>(palette), sizeof(palette_entry), int32_t(colours)};
    if (mode == 0)
        map_undiffused(search, work.cache, rgb, indices, width, height);
    else if (mode == 1)
        map_diffused<floyd_steinberg>(search, work, rgb, indices, width, height);
    else
        map_diffused<burkes>(search, work, rgb, indices, width, height);
    release_mapping_work(work);
    return KERNEL_OK;
}

uint32_t reduce(const uint8_t* rgb, uint8_t* indices, uint32_t width, uint32_t height, uint32_t colours,
                uint32_t mode, picture_record* record)
{
    auto* histogram = static_cast<uint16_t*>(PPCAllocVec(kHistogramSize, KERNEL_MEMORY_FLAGS));
    auto* palette = static_cast<palette_entry*>(PPCAllocVec(kPaletteSize, KERNEL_MEMORY_FLAGS));
    if (histogram == nullptr || palette == nullptr) {
        PPCFreeVec(palette);
        PPCFreeVec(histogram);
        return KERNEL_NO_MEMORY;
    }

    const uint64_t pixels = uint64_t(width) * height;
    for (uint64_t i = 0; i < pixels; ++i) {
        uint16_t& count = histogram[colour_key(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2])];
        if (count < 65534) ++count;
    }

    uint32_t result = KERNEL_OK;
    if (colours <= 2) {
        palette[0] = {0, 0, 0, 0};
        palette[1] = {255, 255, 255, 0};
    } else {
        result = select_palette(histogram, palette, colours);
    }
    if (result == KERNEL_OK) result = dither(rgb, indices, width, height, palette, colours, mode);
    if (result == KERNEL_OK) {
        for (uint32_t i = 0; i < colours; ++i) {
            uint8_t* entry = picture_colour(record, i);
            entry[0] = palette[i].red;
            entry[1] = palette[i].green;
            entry[2] = palette[i].blue;
        }
    }
    PPCFreeVec(palette);
    PPCFreeVec(histogram);
    return result;
}

uint32_t diffuse_dither(void* block)
{
    palette_dither_call call;
    if (!take_palette_dither_call(block, call)) return 0;
    const uint32_t result =
        reduce(call.rgb, call.indices, call.width, call.height, 1u << call.depth, call.mode, call.record);
    set_block_error(block, PALETTE_DITHER_BLOCK_SIZE, result);
    PPCCacheFlush(call.indices, call.pixels);
    PPCCacheFlush(call.record->palette, PICTURE_PALETTE_SIZE);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, PALETTE_DITHER_BLOCK_SIZE, diffuse_dither); }
