// hameight: a true-colour picture into HAM8 codes over a base palette of 64
// colours, the most frequent colour keys first.
#include <algorithm>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/ham/ham.h"

KERNEL_VERSION("hameight", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 36;
enum : uint32_t { kPalette = 6, kTable = 7 };  // words 2 to 5: see ham_encoder_picture

constexpr uint32_t kKeys = HAM_KEYS;
constexpr uint32_t kTableSize = kKeys * 8;  // big-endian count and 0x00RRGGBB per key
constexpr uint32_t kPaletteSize = 64 * 3;
constexpr uint32_t kCountLimit = 4294967294u;

// Black, blue, green and red always lead the palette: their counts start at
// the limit, and on equal counts the lower key comes first.
constexpr uint32_t kFixedColours[4] = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000};

// Counts the keys of the picture into the colour table, sorts it and takes
// the first 64 colours as the palette.
void choose_palette(const ham_picture& picture, uint8_t* table, ham_palette& palette)
{
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
    for (uint64_t i = 0; i < picture.pixels; ++i) {
        const uint8_t* p = picture.rgb + 3 * i;
        const uint32_t key = ham_key(p[0], p[1], p[2]);
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

    palette.entries = 64;
    for (uint32_t i = 0; i < 64; ++i) {
        const uint32_t colour = colours[order[i]];
        palette.red[i] = int32_t((colour >> 16) & 0xFF);  // a table not cleared may hold junk above
        palette.green[i] = int32_t((colour >> 8) & 0xFF);
        palette.blue[i] = int32_t(colour & 0xFF);
    }
}

// The entries that can be nearest to some colour of a key's cell (16 values
// a side): an entry whose nearest point of the cell lies farther than the
// farthest point of the cell from another entry is beaten all over the cell.
// Equal distances stay in, so the lowest index still wins.
uint64_t candidates_of_key(const ham_palette& palette, uint32_t key)
{
    const int32_t low[3] = {int32_t(key >> 8) * 16, int32_t((key >> 4) & 15) * 16, int32_t(key & 15) * 16};
    uint32_t nearest[64];
    uint32_t bound = UINT32_MAX;
    for (uint32_t i = 0; i < 64; ++i) {
        const int32_t entry[3] = {palette.red[i], palette.green[i], palette.blue[i]};
        uint32_t near = 0, far = 0;
        for (int c = 0; c < 3; ++c) {
            const int32_t below = low[c] - entry[c], above = entry[c] - (low[c] + 15);
            const int32_t n = below > 0 ? below : above > 0 ? above : 0;
            const int32_t f = std::max(std::abs(below), std::abs(above));
            near += uint32_t(n * n);
            far += uint32_t(f * f);
        }
        nearest[i] = near;
        bound = std::min(bound, far);
    }
    uint64_t candidates = 0;
    for (uint32_t i = 0; i < 64; ++i)
        if (nearest[i] <= bound) candidates |= uint64_t(1) << i;
    return candidates;
}

void encode(const ham_palette& palette, const ham_picture& picture)
{
    // Worked out for a key the first time a colour of it is searched; never
    // empty once worked out.
    uint64_t candidates[kKeys] = {};
    const auto nearest = [&palette, &candidates](int32_t r, int32_t g, int32_t b) {
        const uint32_t key = ham_key(uint32_t(r), uint32_t(g), uint32_t(b));
        if (candidates[key] == 0) candidates[key] = candidates_of_key(palette, key);
        return ham_nearest_of(palette, candidates[key], r, g, b);
    };
    ham_palette_encode<6, 0>(palette, nearest, picture);
}

uint32_t ham_eight(void* block)
{
    const ham_picture picture = ham_encoder_picture(block);
    uint8_t* palette_out = shared_bytes(block_word(block, kPalette), kPaletteSize);
    uint8_t* table = shared_bytes(block_word(block, kTable), kTableSize);
    if (picture.rgb == nullptr || picture.codes == nullptr || palette_out == nullptr || table == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    ham_palette palette{};
    choose_palette(picture, table, palette);
    for (uint32_t i = 0; i < 64; ++i) {
        palette_out[3 * i] = uint8_t(palette.red[i]);
        palette_out[3 * i + 1] = uint8_t(palette.green[i]);
        palette_out[3 * i + 2] = uint8_t(palette.blue[i]);
    }
    encode(palette, picture);

    PPCCacheFlush(picture.codes, uint32_t(picture.pixels));
    PPCCacheFlush(palette_out, kPaletteSize);
    PPCCacheFlush(table, kTableSize);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, ham_eight); }
