// bmprunload: a BMP pixel array coded with RLE8 or RLE4 into one palette
// index per byte, rows kept in the order of the data.
#include <cstring>
#include <span>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("bmprunload", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 36;
enum : uint32_t { kSource = 2, kDestination = 3, kWidth = 4, kHeight = 5, kCompression = 6, kSize = 7 };

// Where the decoder stands: pixel (x, y) is byte y * width + x. A row ends at
// an end-of-line code, or when a run starts at or past the row's padded width
// (the width rounded up to a whole 32-bit word of pixels), which is where a
// row coded without an end of line ends. Some writers code the padding pixels
// between the width and the padded width; those stay on their row. Pixels
// past the end of a row go on into the next one in memory, where that row's
// own codes overwrite them; nothing goes past the last row.
struct rle_state {
    uint8_t* out;
    uint64_t size;
    uint32_t width;
    uint64_t padded_width;
    uint64_t x, y;
};

// Before a run: a row already past its padded width has ended.
void end_full_row(rle_state& s)
{
    if (s.x >= s.padded_width) {
        s.x = 0;
        ++s.y;
    }
}

uint64_t position(const rle_state& s) { return s.y * s.width + s.x; }

// How many of n pixels from the current position fit in the destination.
uint64_t room_for(const rle_state& s, uint64_t n)
{
    const uint64_t at = position(s);
    return at >= s.size ? 0 : (s.size - at < n ? s.size - at : n);
}

// n pixels taken two by two from bytes, the high nibble first.
void put_nibbles(const rle_state& s, const uint8_t* bytes, uint64_t n)
{
    uint8_t* at = s.out + position(s);
    for (uint64_t i = 0; i < n; ++i) at[i] = i % 2 == 0 ? bytes[i / 2] >> 4 : bytes[i / 2] & 0x0F;
}

// Returns false when the source ends before the picture does.
bool decode(std::span<const uint8_t> source, rle_state& s, uint32_t height, bool four_bits)
{
    uint64_t at = 0;
    // The picture is complete once the last row is full.
    while (s.y < height && !(s.y == height - 1 && s.x >= s.width)) {
        if (source.size() - at < 2) return false;
        const uint8_t first = source[at];
        const uint8_t second = source[at + 1];
        at += 2;
        if (first != 0) {
            // Encoded run: n pixels of one value, or of two alternating nibbles.
            end_full_row(s);
            const uint64_t n = room_for(s, first);
            if (four_bits) {
                uint8_t* out = s.out + position(s);
                for (uint64_t i = 0; i < n; ++i) out[i] = i % 2 == 0 ? second >> 4 : second & 0x0F;
            } else {
                std::memset(s.out + position(s), second, n);
            }
            s.x += first;
        } else if (second == 0) {
            s.x = 0;  // end of line
            ++s.y;
        } else if (second == 1) {
            return true;  // end of bitmap
        } else if (second == 2) {
            // Delta: moves right and down; from a full row it counts from the
            // start of the next.
            if (source.size() - at < 2) return false;
            if (s.x >= s.width) {
                s.x = 0;
                ++s.y;
            }
            s.x += source[at];
            s.y += source[at + 1];
            at += 2;
            if (s.x >= s.width) {
                s.x = 0;
                ++s.y;
            }
        } else {
            // Absolute run: n pixels as they stand, the data padded to a
            // whole number of 16-bit words.
            end_full_row(s);
            const uint32_t n = second;
            const uint64_t data = four_bits ? (uint64_t(n) + 1) / 2 : n;
            const uint64_t present = source.size() - at < data ? source.size() - at : data;
            const uint64_t pixels = four_bits ? present * 2 : present;
            const uint64_t stored = room_for(s, pixels < n ? pixels : n);
            if (four_bits) {
                put_nibbles(s, source.data() + at, stored);
            } else {
                std::memmove(s.out + position(s), source.data() + at, stored);
            }
            if (present < data) return false;
            at += data + data % 2;
            if (at > source.size()) at = source.size();
            s.x += n;
        }
    }
    return true;
}

uint32_t load_bmp_rle(void* block)
{
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const uint32_t compression = block_word(block, kCompression);
    const uint64_t size = uint64_t(width) * height;

    uint8_t* out = shared_bytes(block_word(block, kDestination), size);
    if (out == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    bool complete = true;
    if ((compression == 8 || compression == 4) && width != 0) {
        const uint64_t word_pixels = compression == 4 ? 8 : 4;
        rle_state s = {out, size, width, (width + word_pixels - 1) / word_pixels * word_pixels, 0, 0};
        complete = decode(shared_source(block_word(block, kSource)), s, height, compression == 4);
    }

    set_block_word(block, kSize, uint32_t(size));
    PPCCacheFlush(out, uint32_t(size));
    if (!complete) set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, load_bmp_rle); }
