// hamsix: a true-colour picture into HAM6 codes over a base palette of the
// 16 most frequent colour keys.
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/ham/ham.h"

KERNEL_VERSION("hamsix", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 32;
constexpr uint32_t kWork = 6;  // words 2 to 5: see ham_encoder_picture

constexpr uint32_t kKeys = HAM_KEYS;
constexpr uint32_t kWorkSize = kKeys * 2 * 2;  // big-endian 16-bit keys, then counts

uint32_t ham_six(void* block)
{
    const ham_picture picture = ham_encoder_picture(block);
    uint8_t* work = shared_bytes(block_word(block, kWork), kWorkSize);
    if (picture.rgb == nullptr || picture.codes == nullptr || work == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    // Counted and sorted here, stored into the work buffer once at the end.
    uint16_t keys[kKeys];
    int16_t counts[kKeys];
    for (uint32_t i = 0; i < kKeys; ++i) {
        keys[i] = uint16_t(i);
        counts[i] = 0;
    }
    for (uint64_t i = 0; i < picture.pixels; ++i) {
        const uint8_t* p = picture.rgb + 3 * i;
        const uint32_t key = ham_key(p[0], p[1], p[2]);
        if (counts[key] < 32767) ++counts[key];
    }

    // This exact shell sort decides which keys tie into the palette.
    for (uint32_t gap = kKeys / 2; gap >= 1; gap /= 2) {
        for (uint32_t i = gap; i < kKeys; ++i) {
            for (int32_t d = int32_t(i - gap); d >= 0 && counts[d] < counts[d + gap]; d -= int32_t(gap)) {
                const uint16_t key = keys[d];
                keys[d] = keys[d + gap];
                keys[d + gap] = key;
                const int16_t count = counts[d];
                counts[d] = counts[d + gap];
                counts[d + gap] = count;
            }
        }
    }
    for (uint32_t i = 0; i < kKeys; ++i) {
        store_be16(work + 2 * i, keys[i]);
        store_be16(work + 2 * (kKeys + i), uint16_t(counts[i]));
    }

    // The host shows palette entry i as key i times 17 per component, so the
    // encoder works on 4-bit components throughout; with only 4096 keys the
    // nearest entry of every key is worked out once.
    ham_palette palette{};
    palette.entries = 16;
    for (uint32_t i = 0; i < 16; ++i) {
        palette.red[i] = keys[i] >> 8;
        palette.green[i] = (keys[i] >> 4) & 15;
        palette.blue[i] = keys[i] & 15;
    }
    uint32_t nearest_of_key[kKeys];
    for (uint32_t key = 0; key < kKeys; ++key)
        nearest_of_key[key] = ham_nearest(palette, int32_t(key >> 8), int32_t((key >> 4) & 15), int32_t(key & 15));
    const auto nearest = [&nearest_of_key](int32_t r, int32_t g, int32_t b) {
        return nearest_of_key[(r << 8) | (g << 4) | b];
    };
    ham_palette_encode<4, 4>(palette, nearest, picture);

    PPCCacheFlush(picture.codes, uint32_t(picture.pixels));
    PPCCacheFlush(work, kWorkSize);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, ham_six); }
