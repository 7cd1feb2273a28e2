// curvedither: a palette picture into a two-level picture (1 bright, 0 dark),
// carrying brightness along a Hilbert curve through each 16 x 16 block.
#include <cstring>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/common/picture.h"

KERNEL_VERSION("curvedither", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 24;
enum : uint32_t { kSource = 2, kDestination = 3, kRecord = 4 };

constexpr uint32_t kCurveOrder = 4;      // rewriting rounds
constexpr uint32_t kSide = 16;           // block side and band height
constexpr uint32_t kStringSize = 65535;  // each curve-string buffer
constexpr uint32_t kMoves = kSide * kSide - 1;

// One rewriting round: X and Y grow the curve, and in the last round they
// close it; every other character stays.
const char* rewrite(char symbol, bool last_round)
{
    if (symbol == 'X') return last_round ? "-F+F+F-" : "-YF+XFX+FY-";
    if (symbol == 'Y') return last_round ? "+F-F-F+" : "+XF-YFY-FX+";
    return nullptr;
}

// The curve string, zero-terminated, from the axiom "X"; false when the
// rewriting scratch is not given.
bool generate_curve(char* string)
{
    char* scratch = static_cast<char*>(PPCAllocVec(kStringSize, KERNEL_MEMORY_FLAGS));
    if (scratch == nullptr) return false;
    string[0] = 'X';
    string[1] = '\0';
    for (uint32_t round = 1; round <= kCurveOrder; ++round) {
        uint32_t length = 0;
        const auto put = [&](char c) {
            if (length + 1 < kStringSize) scratch[length++] = c;
        };
        for (const char* s = string; *s != '\0'; ++s) {
            if (const char* replacement = rewrite(*s, round == kCurveOrder))
                for (; *replacement != '\0'; ++replacement) put(*replacement);
            else
                put(*s);
        }
        std::memcpy(string, scratch, length);
        string[length] = '\0';
        std::memset(scratch, 0, length);
    }
    PPCFreeVec(scratch);
    return true;
}

// The tile offsets of the pixels the string's moves reach, in order, for a
// tile `stride` bytes a row. The turn counter starts at 0; "+" lowers it,
// "-" raises it; an "F" steps right, down, left or up by (counter AND 3).
// Positions are kept inside the block whatever the string says.
uint32_t curve_offsets(const char* string, uint32_t stride, uint32_t* offsets)
{
    uint32_t turn = 0, x = 0, y = 0, moves = 0;
    for (const char* s = string; *s != '\0' && moves < kMoves; ++s) {
        if (*s == '+') --turn;
        if (*s == '-') ++turn;
        if (*s != 'F') continue;
        switch (turn & 3) {
        case 0: ++x; break;
        case 1: ++y; break;
        case 2: --x; break;
        default: --y; break;
        }
        offsets[moves++] = (y & (kSide - 1)) * stride + (x & (kSide - 1));
    }
    return moves;
}

uint32_t dither(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height, uint32_t padded_width,
                uint32_t padded_height, const picture_record* record)
{
    char* string = static_cast<char*>(PPCAllocVec(kStringSize, KERNEL_MEMORY_FLAGS));
    if (string == nullptr) return KERNEL_NO_MEMORY;
    // Columns width to W - 1 of the tile are never written and stay 0.
    uint8_t* tile = static_cast<uint8_t*>(PPCAllocVec(padded_width * kSide, KERNEL_MEMORY_FLAGS));
    if (tile == nullptr) {
        PPCFreeVec(string);
        return KERNEL_NO_MEMORY;
    }
    if (!generate_curve(string)) {
        PPCFreeVec(tile);
        PPCFreeVec(string);
        return KERNEL_NO_MEMORY;
    }
    uint32_t offsets[kMoves];
    const uint32_t moves = curve_offsets(string, padded_width, offsets);

    // (30 red + 59 green + 11 blue) / 100 of each palette entry.
    uint32_t brightness[256];
    for (uint32_t i = 0; i < 256; ++i) {
        const uint8_t* c = picture_colour(record, i);
        brightness[i] = (30 * c[0] + 59 * c[1] + 11 * c[2]) / 100;
    }

    for (uint32_t y0 = 0; y0 < padded_height; y0 += kSide) {
        // Rows past the picture read as index 0, like the padding columns.
        for (uint32_t r = 0; r < kSide; ++r) {
            uint8_t* row = tile + uint64_t(r) * padded_width;
            if (y0 + r < height)
                std::memcpy(row, source + uint64_t(y0 + r) * width, width);
            else
                std::memset(row, 0, width);
        }
        uint8_t* band = destination + uint64_t(y0) * padded_width;
        for (uint32_t x0 = 0; x0 < padded_width; x0 += kSide) {
            const uint8_t* in = tile + x0;
            uint8_t* out = band + x0;
            const uint32_t first = brightness[in[0]];
            uint32_t carry;
            if (first > 127) {
                out[0] = 1;
                carry = 255 - first;
            } else {
                out[0] = 0;
                carry = first;
            }
            for (uint32_t m = 0; m < moves; ++m) {
                carry += brightness[in[offsets[m]]];
                if (carry >= 255) {
                    out[offsets[m]] = 1;
                    carry -= 255;
                }
            }
        }
    }
    PPCFreeVec(tile);
    PPCFreeVec(string);
    return KERNEL_OK;
}

uint32_t curve_dither(void* block)
{
    const picture_record* record = picture_at(block_word(block, kRecord));
    if (record == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }
    const uint32_t width = picture_width(record), height = picture_height(record);
    if (width == 0 || height == 0) return 0;  // no block to walk

    const uint64_t padded_width = (uint64_t(width) + kSide - 1) / kSide * kSide;
    const uint64_t padded_height = (uint64_t(height) + kSide - 1) / kSide * kSide;
    const checked_u64 destination_size = checked_size(padded_width, padded_height);
    const uint8_t* source = shared_bytes(block_word(block, kSource), checked_size(width, height));
    uint8_t* destination = shared_bytes(block_word(block, kDestination), destination_size);
    if (source == nullptr || destination == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    // The destination fits in a live block, so W x Hb, and the tile's W x 16
    // below it, fit in 32 bits.
    const uint32_t result = dither(source, destination, width, height, uint32_t(padded_width),
                                   uint32_t(padded_height), record);
    set_block_error(block, kBlockSize, result);
    PPCCacheFlush(destination, uint32_t(*destination_size));
    PPCCacheFlush(record, PICTURE_RECORD_SIZE);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, curve_dither); }
