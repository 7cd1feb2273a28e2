// hameight: a true-colour picture into HAM8 codes over a base palette of 64
// colours, the most frequent colour keys first.
#include <algorithm>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/ham/ham.h"

KERNEL_VERSION("hameight", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 36;
enum : uint32_t { kSource = 2, kDestination = 3, kWidth = 4, kHeight = 5, kPalette = 6, kTable = 7 };

constexpr uint32_t kKeys = HAM_KEYS;
constexpr uint32_t kTableSize = kKeys * 8;  // big-endian count and 0x00RRGGBB per key
constexpr uint32_t kPaletteSize = 64 * 3;
constexpr uint32_t kCountLimit = 4294967294u;

// Black, blue, green and red always lead the palette: their counts start at
// the limit, and on equal counts the lower key comes first.
constexpr uint32_t kFixedColours[4] = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000};

uint32_t ham_eight(void* block)
{
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const uint64_t pixels = uint64_t(width) * height;
    const uint8_t* rgb = shared_bytes(block_word(block, kSource), pixels * 3);
    uint8_t* codes = shared_bytes(block_word(block, kDestination), pixels);
    uint8_t* palette_out = shared_bytes(block_word(block, kPalette), kPaletteSize);
    uint8_t* table = shared_bytes(block_word(block, kTable), kTableSize);
    if (rgb == nullptr || codes == nullptr || palette_out == nullptr || table == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    // Counted from what the host's table holds (zeros), sorted here, and
    // stored back once.
    uint32_t counts[kKeys], colours[kKeys];
    for (uint32_t key = 0; key < kKeys; ++key) {
        counts[key] = load_be32(table + 8 * key);
        colours[key] = load_be32(table + 8 * key + 4);
    }
    for (uint32_t key = 0; key < 4; ++key) {
        counts[key] = kCountLimit;
        colours[key] = kFixedColours[key];
    }
    for (uint64_t i = 0; i < pixels; ++i) {
        const uint8_t* p = rgb + 3 * i;
        const uint32_t key = ham_key(p);
        colours[key] = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
        if (counts[key] < kCountLimit) ++counts[key];
    }

    // Largest count first, equal counts by key, so every run orders alike.
    uint16_t order[kKeys];
    for (uint32_t i = 0; i < kKeys; ++i) order[i] = uint16_t(i);
    std::sort(order, order + kKeys, [&counts](uint16_t a, uint16_t b) {
        return counts[a] != counts[b] ? counts[a] > counts[b] : a < b;
    });
    for (uint32_t i = 0; i < kKeys; ++i) {
        store_be32(table + 8 * i, counts[order[i]]);
        store_be32(table + 8 * i + 4, colours[order[i]]);
    }

    ham_palette palette{};
    palette.entries = 64;
    for (uint32_t i = 0; i < 64; ++i) {
        const uint32_t colour = colours[order[i]];
        palette.red[i] = int32_t(colour >> 16);
        palette.green[i] = int32_t((colour >> 8) & 0xFF);
        palette.blue[i] = int32_t(colour & 0xFF);
        palette_out[3 * i] = uint8_t(palette.red[i]);
        palette_out[3 * i + 1] = uint8_t(palette.green[i]);
        palette_out[3 * i + 2] = uint8_t(palette.blue[i]);
    }
    const auto nearest = [&palette](int32_t r, int32_t g, int32_t b) { return ham_nearest(palette, r, g, b); };
    ham_palette_encode<6, 0>(palette, nearest, rgb, width, height, codes);

    PPCCacheFlush(codes, uint32_t(pixels));
    PPCCacheFlush(palette_out, kPaletteSize);
    PPCCacheFlush(table, kTableSize);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, ham_eight); }
