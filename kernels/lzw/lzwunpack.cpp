// lzwunpack: an LZW code stream (lzw.h) back into a picture of one palette
// index per byte, its rows stored in plain or in four-pass interlaced order.
// The sub-blocks are joined in place, so the source is changed by the call.
#include <algorithm>
#include <cstring>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/lzw/lzw.h"

// The name in the version string is stored letter-substituted: each letter of
// "lzwunpack" one place on in the alphabet.
KERNEL_VERSION("maxvoqbdl", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 40;
enum : uint32_t {
    kSource = 2,
    kSourceEnd = 3,
    kWidth = 4,
    kHeight = 5,
    kDestination = 6,
    kDestinationEnd = 7,
    kInterlaced = 8,
};

constexpr uint32_t kTableBytes = LZW_CODES * sizeof(uint16_t);
constexpr uint32_t kStackEntries = 8192;

// What reading a code gives besides a code.
constexpr uint32_t kDataExhausted = 0xFFFF;     // no whole code is left in the data
constexpr uint32_t kSourceCutShort = 0x10000;  // the source's block ends before its end word

// Pixels that mark where the stream went wrong.
constexpr uint8_t kEndPixel = 0xFE;            // the end code came before the picture was full
constexpr uint8_t kEndAtSourceEndPixel = 0xFD;  // ... and the source ended before the zero count
constexpr uint8_t kBrokenPixel = 0xFF;         // a circular string, or no data left

struct Decoder {
    // The source, up to the nearer of its end word and the end of its block.
    uint8_t* source;
    uint32_t size;
    bool cut_short;  // the block ends first: running into its end stops the work with 14

    // The data joined so far stands in source bytes [data_start, data_end),
    // data_end being the next sub-block's count byte; `position` is the bit
    // to read next, counted from data_start.
    uint32_t data_start;
    uint32_t data_end;
    uint32_t position;
    uint32_t data_bits;
    bool joined_any;
    bool data_over;  // the zero count has been met

    uint16_t* prefix;
    uint16_t* suffix;
    uint16_t* initial_prefix;
    uint16_t* initial_suffix;
    uint16_t* stack;  // the pixels of a string, last pixel first
    uint32_t depth;

    uint32_t clear_code;
    uint32_t initial_width;
    uint32_t width;      // bits of the next code
    uint32_t grow_at;    // the width grows when next_code reaches it
    uint32_t next_code;  // the code the next string takes
    uint32_t first;      // first pixel of the string decoded last
    uint32_t old;        // the code read last
    bool fresh;          // no code read yet
    bool finished;       // the data has ended: every pixel from here is kBrokenPixel
};

uint32_t source_ends(const Decoder& d) { return d.cut_short ? kSourceCutShort : kDataExhausted; }

// Reads the next code, least significant bit first. When the code would end
// at or past the last bit joined so far, the next sub-block is joined: the
// last two data bytes move one byte on, over its count byte, so that they
// stand right before its data.
uint32_t read_code(Decoder& d)
{
    while (d.position + d.width >= d.data_bits && !d.data_over) {
        const uint32_t count_at = d.data_end;
        if (count_at >= d.size) return source_ends(d);
        const uint32_t count = d.source[count_at];
        if (count == 0) {
            d.data_over = true;
            break;
        }
        if (uint64_t(count_at) + 1 + count >= d.size) return source_ends(d);
        if (d.joined_any) {
            d.source[count_at] = d.source[count_at - 1];
            d.source[count_at - 1] = d.source[count_at - 2];
            d.position = d.position + 16 - d.data_bits;
            d.data_start = count_at - 1;
        } else {
            d.data_start = count_at + 1;
            d.joined_any = true;
        }
        d.data_end = count_at + 1 + count;
        d.data_bits = (d.data_end - d.data_start) * 8;
    }
    // A code of which only some bits remain counts as no code.
    if (d.position + d.width > d.data_bits) return kDataExhausted;

    const uint32_t at = d.data_start + (d.position >> 3);
    uint32_t window = 0;
    if (uint64_t(at) + 4 <= d.size) {
        const uint8_t* b = d.source + at;
        window = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    } else {
        for (uint32_t i = 0; at + i < d.size; ++i) window |= uint32_t(d.source[at + i]) << (8 * i);
    }
    const uint32_t code = (window >> (d.position & 7)) & ((1u << d.width) - 1);
    d.position += d.width;
    return code;
}

// After the end code: the sub-blocks left are passed over up to the zero
// count. Returns the pixel that marks the early end, or 0 when the source's
// block ends first.
uint8_t pass_over_rest(const Decoder& d)
{
    if (d.data_over) return kEndPixel;
    uint64_t at = d.data_end;
    for (;;) {
        if (at >= d.size) break;
        const uint32_t count = d.source[at];
        if (count == 0) return kEndPixel;
        if (at + 1 + count >= d.size) break;
        at += 1 + count;
    }
    return d.cut_short ? 0 : kEndAtSourceEndPixel;
}

void reset_tables(Decoder& d)
{
    std::memcpy(d.prefix, d.initial_prefix, kTableBytes);
    std::memcpy(d.suffix, d.initial_suffix, kTableBytes);
    d.depth = 0;
    d.width = d.initial_width;
    d.grow_at = 2 * d.clear_code;
    d.next_code = d.clear_code + 2;
}

// Decodes the next `count` pixels of the stream into `out`. Returns false
// when the work stops with 14: a string whose prefix chain loops or outgrows
// the pixel stack, or a source cut short by the end of its block.
bool decode(Decoder& d, uint8_t* out, uint64_t count)
{
    uint64_t n = 0;
    while (n < count) {
        if (d.depth > 0) {
            const uint64_t take = std::min<uint64_t>(d.depth, count - n);
            const uint16_t* top = d.stack + d.depth - 1;
            for (uint64_t i = 0; i < take; ++i) out[n + i] = uint8_t(top[-int64_t(i)]);
            d.depth -= uint32_t(take);
            n += take;
            continue;
        }
        if (d.finished) {
            std::memset(out + n, kBrokenPixel, count - n);
            return true;
        }

        uint32_t code = read_code(d);
        if (d.fresh) {
            while (code == d.clear_code) code = read_code(d);
        } else if (code == d.clear_code) {
            // The code after a clear code starts afresh, even a second clear code.
            reset_tables(d);
            code = read_code(d);
            d.fresh = true;
        }
        if (code == kSourceCutShort) return false;
        if (code == kDataExhausted) {
            d.finished = true;
            continue;
        }
        if (d.fresh) {
            d.first = code;
            d.old = code;
            d.fresh = false;
            out[n++] = uint8_t(code);
            continue;
        }
        if (code == d.clear_code + 1) {
            const uint8_t marker = pass_over_rest(d);
            if (marker == 0) return false;
            out[n++] = marker;
            d.finished = true;
            continue;
        }

        // A string: its pixels go onto the stack from the last one back.
        uint32_t k = code;
        if (k >= d.next_code) {
            // Not in the table yet: the previous string and its own first pixel.
            d.stack[d.depth++] = uint16_t(d.first);
            k = d.old;
        }
        bool circular = false;
        while (k >= d.clear_code) {
            if (d.depth == kStackEntries) return false;
            d.stack[d.depth++] = d.suffix[k];
            if (d.prefix[k] == k) {
                circular = true;
                break;
            }
            k = d.prefix[k];
        }
        if (circular) {
            out[n++] = kBrokenPixel;
            continue;
        }
        if (d.depth == kStackEntries) return false;
        d.first = d.suffix[k];
        d.stack[d.depth++] = uint16_t(d.first);
        if (d.next_code < LZW_CODES) {
            d.prefix[d.next_code] = uint16_t(d.old);
            d.suffix[d.next_code] = uint16_t(d.first);
            ++d.next_code;
            if (d.next_code >= d.grow_at && d.grow_at < LZW_CODES) {
                d.grow_at *= 2;
                ++d.width;
            }
        }
        d.old = code;
    }
    return true;
}

uint32_t unpack(void* block)
{
    const uint32_t source_address = block_word(block, kSource);
    const uint32_t source_end = block_word(block, kSourceEnd);
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const uint32_t destination = block_word(block, kDestination);
    const uint32_t destination_end = block_word(block, kDestinationEnd);
    const bool interlaced = block_word(block, kInterlaced) != 0;

    // Rows whose start lies below the destination end; in interlaced order
    // only those below the height as well.
    uint64_t rows = 0;
    if (width > 0 && destination_end > destination) rows = (uint64_t(destination_end - destination) + width - 1) / width;
    if (interlaced) rows = std::min<uint64_t>(rows, height);
    const checked_u64 extent = checked_size(rows, width);
    uint8_t* pixels = nullptr;
    if (rows > 0) {
        pixels = shared_bytes(destination, extent);
        if (pixels == nullptr) {
            set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
            return 0;
        }
    }

    const std::span<const uint8_t> source = shared_source(source_address);
    Decoder d{};
    d.source = const_cast<uint8_t*>(source.data());
    if (source_end > source_address) {
        const uint32_t length = source_end - source_address;
        d.size = std::min<uint32_t>(length, uint32_t(source.size()));
        d.cut_short = source.size() < length;
    }

    uint16_t** const tables[] = {&d.prefix, &d.suffix, &d.initial_prefix, &d.initial_suffix, &d.stack};
    const uint32_t sizes[] = {kTableBytes, kTableBytes, kTableBytes, kTableBytes, kStackEntries * sizeof(uint16_t)};
    bool have_tables = true;
    for (uint32_t i = 0; i < 5 && have_tables; ++i) {
        *tables[i] = static_cast<uint16_t*>(PPCAllocVec(sizes[i], KERNEL_MEMORY_FLAGS));
        have_tables = *tables[i] != nullptr;
    }

    uint32_t result = KERNEL_OK;
    if (!have_tables) {
        result = KERNEL_NO_MEMORY;
    } else if (d.size == 0 || d.source[0] > LZW_MAX_CODE_SIZE) {
        result = KERNEL_BAD_DATA;
    } else {
        const uint32_t code_size = d.source[0];
        d.clear_code = lzw_clear_code(code_size);
        d.initial_width = code_size + 1;
        d.data_end = 1;
        d.fresh = true;
        for (uint32_t i = 0; i < d.clear_code; ++i) d.initial_suffix[i] = uint16_t(i);
        reset_tables(d);

        bool decoded = true;
        if (!interlaced) {
            decoded = decode(d, pixels, *extent);
        } else {
            lzw_interlaced_rows(height, [&](uint32_t r) {
                // A row at or past the destination end ends the work.
                if (r >= rows) return false;
                decoded = decode(d, pixels + uint64_t(r) * width, width);
                return decoded;
            });
        }
        if (!decoded) result = KERNEL_BAD_DATA;
    }
    for (uint16_t** table : tables)
        if (*table != nullptr) PPCFreeVec(*table);

    // Every row that may have been written, and the width x height bytes the
    // host has always had flushed, as far as the destination's block reaches.
    const void* start = shared_pointer(destination);
    const uint32_t room = start ? shared_room(start) : 0;
    const uint64_t flush = std::min<uint64_t>(std::max<uint64_t>(extent.value_or(0), uint64_t(width) * height), room);
    if (flush > 0) PPCCacheFlush(start, uint32_t(flush));
    set_block_error(block, kBlockSize, result);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, unpack); }
