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

// Where the decoder stands: pixel (x, y) is byte y * width + x. A row ends
// when a code takes x to the width, or at an end-of-line code. Pixels past the
// end of a row go on into the next one in memory, where that row's own codes
// overwrite them; nothing goes past the last row.
//
// Writers that end every row with an end-of-line code put it right after the
// code that filled the row; some first code the row's padding pixels (the
// width rounded up to a whole 32-bit word) in a code of their own. Such an
// end-of-line code is absorbed: decoding goes on at the row that began when
// the full row ended, so those files decode row for row.
struct rle_state {
    uint8_t* out;
    uint64_t size;
    uint32_t width;
    uint64_t padding;        // pixels from the width to the next 32-bit word
    uint64_t x, y;
    bool after_full_row;     // the codes since the last full row may be its padding
    uint64_t full_row_next;  // the row that began when that row ended
    uint64_t since_full_row; // pixels coded since
};

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

// After a code of n pixels: the row ends once x reaches the width.
void advance(rle_state& s, uint64_t n)
{
    const bool maybe_padding = s.after_full_row && s.since_full_row + n <= s.padding;
    s.x += n;
    if (s.x >= s.width) {
        s.x = 0;
        ++s.y;
        if (!maybe_padding) {
            s.after_full_row = true;
            s.full_row_next = s.y;
            s.since_full_row = 0;
            return;
        }
    }
    if (maybe_padding)
        s.since_full_row += n;
    else
        s.after_full_row = false;
}

// An end-of-line code ends the current row, unless it only closes a row that
// has ended already (right after it, or after its padding).
void end_of_line(rle_state& s)
{
    const bool absorbed = s.after_full_row && (s.since_full_row == 0 || s.since_full_row == s.padding);
    s.y = absorbed ? s.full_row_next : s.y + 1;
    s.x = 0;
    s.after_full_row = false;
}

// Rows are still to come, or what looked like the last row may turn out to
// have been padding.
bool more_rows(const rle_state& s, uint32_t height)
{
    return s.y < height || (s.after_full_row && s.since_full_row != 0 && s.full_row_next < height);
}

// Returns false when the source ends before the picture does.
bool decode(std::span<const uint8_t> source, rle_state& s, uint32_t height, bool four_bits)
{
    uint64_t at = 0;
    while (more_rows(s, height)) {
        if (source.size() - at < 2) return s.y >= height;
        const uint8_t first = source[at];
        const uint8_t second = source[at + 1];
        at += 2;
        if (first != 0) {
            // Encoded run: n pixels of one value, or of two alternating nibbles.
            const uint64_t n = room_for(s, first);
            if (four_bits) {
                uint8_t* out = s.out + position(s);
                for (uint64_t i = 0; i < n; ++i) out[i] = i % 2 == 0 ? second >> 4 : second & 0x0F;
            } else {
                std::memset(s.out + position(s), second, n);
            }
            advance(s, first);
        } else if (second == 0) {
            end_of_line(s);
        } else if (second == 1) {
            return true;  // end of bitmap
        } else if (second == 2) {
            // Delta: moves right and down; past the width the row ends.
            if (source.size() - at < 2) return false;
            s.x += source[at];
            s.y += source[at + 1];
            at += 2;
            s.after_full_row = false;
            if (s.x >= s.width) {
                s.x = 0;
                ++s.y;
            }
        } else {
            // Absolute run: n pixels as they stand, the data padded to a
            // whole number of 16-bit words.
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
            advance(s, n);
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

    uint8_t* out = shared_bytes(block_word(block, kDestination), checked_size(width, height));
    if (out == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    bool complete = true;
    if ((compression == 8 || compression == 4) && width != 0) {
        const uint64_t word_pixels = compression == 4 ? 8 : 4;
        const uint64_t padding = (word_pixels - width % word_pixels) % word_pixels;
        rle_state s = {out, size, width, padding, 0, 0, false, 0, 0};
        complete = decode(shared_source(block_word(block, kSource)), s, height, compression == 4);
    }

    set_block_word(block, kSize, uint32_t(size));
    PPCCacheFlush(out, uint32_t(size));
    if (!complete) set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, load_bmp_rle); }
