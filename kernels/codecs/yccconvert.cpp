// yccconvert: Photo-CD luma and chroma samples into true-colour pixels. Each
// 2 x 2 block of pixels has four luma samples (two from the even-row stream,
// two from the odd-row stream) and one sample of each chroma; the arithmetic
// is fixed point with 16 fraction bits.
#include <algorithm>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("yccconvert", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 40;
enum : uint32_t {
    kEvenLuma = 2,
    kOddLuma = 3,
    kFirstChroma = 4,
    kSecondChroma = 5,
    kDestination = 6,
    kWidth = 7,
    kHeight = 8,
};

constexpr int32_t kLumaScale = 89024;          // 1.3583984375
constexpr int32_t kFirstChromaOffset = 156;
constexpr int32_t kSecondChromaOffset = 137;
constexpr int32_t kBlueFromFirst = 145352;     // 2.2178955078125
constexpr int32_t kGreenFromFirst = 28200;     // 0.4302978515625
constexpr int32_t kRedFromSecond = 119373;     // 1.8214874267578125
constexpr int32_t kGreenFromSecond = 60758;    // 0.927093505859375

// A value of 65535 or less is 0 and one above 16777215 is 255; in between,
// its integer part. Clamping to [0, 0xFFFFFF] before the shift gives all
// three at once.
inline uint8_t to_byte(int32_t value) { return uint8_t(std::clamp(value, 0, 0xFFFFFF) >> 16); }

struct ChromaTerms {
    int32_t red, green, blue;
};

inline void store_pixel(uint8_t* out, uint8_t luma, ChromaTerms terms)
{
    const int32_t y = kLumaScale * luma;
    out[0] = to_byte(y + terms.red);
    out[1] = to_byte(y + terms.green);
    out[2] = to_byte(y + terms.blue);
}

} // namespace

// The buffers are taken on trust to hold what the width and height call for;
// the module's PPCFunction checks them first. Steps of two would take in a
// row or a column beyond a picture of odd size, so such a call writes
// nothing.
KERNEL_EXPORT void KQLI_YUVToRGB_Convert(const uint8_t* even_luma, const uint8_t* odd_luma,
                                         const uint8_t* first_chroma, const uint8_t* second_chroma,
                                         uint8_t* destination, uint32_t width, uint32_t height)
{
    if (width % 2 != 0 || height % 2 != 0) return;
    // Rows of no pixels take no walk, however many there are.
    const uint32_t row_pairs = width == 0 ? 0 : height / 2;
    const uint64_t row_bytes = 3 * uint64_t(width);
    for (uint32_t j = 0; j < row_pairs; ++j) {
        uint8_t* top = destination + 2 * j * row_bytes;
        uint8_t* bottom = top + row_bytes;
        for (uint32_t i = 0; i < width / 2; ++i, top += 6, bottom += 6) {
            const int32_t a = int32_t(*first_chroma++) - kFirstChromaOffset;
            const int32_t b = int32_t(*second_chroma++) - kSecondChromaOffset;
            const ChromaTerms terms = {kRedFromSecond * b, -kGreenFromFirst * a - kGreenFromSecond * b,
                                       kBlueFromFirst * a};
            store_pixel(top, even_luma[0], terms);
            store_pixel(top + 3, even_luma[1], terms);
            store_pixel(bottom, odd_luma[0], terms);
            store_pixel(bottom + 3, odd_luma[1], terms);
            even_luma += 2;
            odd_luma += 2;
        }
    }
}

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const checked_u64 size = checked_size(3, width, height);
    // Each luma stream holds half the rows; each chroma plane a sample per
    // block. Both are smaller than the picture, whose size is checked.
    const uint64_t luma = uint64_t(width) * (height / 2);
    const uint64_t chroma = uint64_t(width / 2) * (height / 2);

    const uint8_t* even_luma = shared_bytes(block_word(block, kEvenLuma), luma);
    const uint8_t* odd_luma = shared_bytes(block_word(block, kOddLuma), luma);
    const uint8_t* first_chroma = shared_bytes(block_word(block, kFirstChroma), chroma);
    const uint8_t* second_chroma = shared_bytes(block_word(block, kSecondChroma), chroma);
    uint8_t* pixels = shared_bytes(block_word(block, kDestination), size);
    const bool odd = width % 2 != 0 || height % 2 != 0;
    if (odd || !even_luma || !odd_luma || !first_chroma || !second_chroma || !pixels) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }
    KQLI_YUVToRGB_Convert(even_luma, odd_luma, first_chroma, second_chroma, pixels, width, height);
    PPCCacheFlush(pixels, uint32_t(*size));
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
