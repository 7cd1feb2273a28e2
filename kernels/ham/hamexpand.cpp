// hamexpand: a chunky HAM6 or HAM8 picture (one code per byte) into a
// true-colour picture.
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/common/picture.h"
#include "kernels/ham/ham.h"

KERNEL_VERSION("hamexpand", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 40;
enum : uint32_t { kSource = 2, kDestination = 3, kRecord = 4, kWidth = 5, kHeight = 6, kKind = 7, kPalette = 8 };

// The held colour starts black and runs on from one row into the next. Each
// of the 256 codes is turned once into what it keeps of the held colour
// (0xRRGGBB) and what it sets, so the walk itself has no branches. Bits above
// the code's 2 + ValueBits are not looked at: a HAM6 byte above 63 still
// names one of the 16 palette entries.
template <unsigned ValueBits>
void expand(const uint8_t* codes, uint64_t pixels, const uint8_t* palette, uint8_t* rgb)
{
    constexpr uint32_t kValueMask = (1u << ValueBits) - 1;
    constexpr uint32_t kShift[3] = {16, 8, 0};  // red, green, blue in 0xRRGGBB
    uint32_t keep[256], set[256];
    for (uint32_t code = 0; code < 256; ++code) {
        const uint32_t v = code & kValueMask;
        const uint32_t value = ValueBits == 4 ? v * 17 : v * 4;
        const uint32_t control = (code >> ValueBits) & 3;
        if (control == 0) {
            keep[code] = 0;
            set[code] = (uint32_t(palette[3 * v]) << 16) | (uint32_t(palette[3 * v + 1]) << 8) | palette[3 * v + 2];
        } else {
            const uint32_t component = control == 1 ? HAM_BLUE : control == 2 ? HAM_RED : HAM_GREEN;
            keep[code] = ~(0xFFu << kShift[component]) & 0xFFFFFF;
            set[code] = value << kShift[component];
        }
    }
    uint32_t held = 0;
    for (uint64_t i = 0; i < pixels; ++i, rgb += 3) {
        held = (held & keep[codes[i]]) | set[codes[i]];
        rgb[0] = uint8_t(held >> 16);
        rgb[1] = uint8_t(held >> 8);
        rgb[2] = uint8_t(held);
    }
}

uint32_t ham_expand(void* block)
{
    const bool ham6 = block_word(block, kKind) == 6;
    const uint64_t pixels = uint64_t(block_word(block, kWidth)) * block_word(block, kHeight);
    const uint8_t* codes = shared_bytes(block_word(block, kSource), pixels);
    uint8_t* rgb = shared_bytes(block_word(block, kDestination), checked_size(pixels, 3));
    const uint8_t* palette = shared_bytes(block_word(block, kPalette), ham6 ? 16 * 3 : 64 * 3);
    // Never read, but flushed: it has to be a record of the host's.
    picture_record* record = picture_at(block_word(block, kRecord));
    if (codes == nullptr || rgb == nullptr || palette == nullptr || record == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    if (ham6)
        expand<4>(codes, pixels, palette, rgb);
    else
        expand<6>(codes, pixels, palette, rgb);
    PPCCacheFlush(rgb, uint32_t(pixels * 3));
    PPCCacheFlush(record, PICTURE_RECORD_SIZE);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, ham_expand); }
