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

// The source, up to the nearer of its end word and the end of its block.
struct Source {
    uint8_t* bytes;
    uint32_t size;
    bool cut_short;  // the block ends first: running into its end stops the work with 14
};

// The bit reader. The data joined so far stands in source bytes
// [data_start, data_end), data_end being the next sub-block's count byte;
// `position` is the next bit to read, counted from data_start.
struct Reader {
    uint32_t data_start;
    uint32_t data_end;
    uint32_t position;
    uint32_t data_bits;
    bool joined_any;
    bool data_over;  // the zero count has been met
};

// Where a string stands in the output, when strings are copied: its start
// in the low 32 bits, its length above them (0: it is not to be copied).
using Seen = uint64_t;
inline constexpr Seen seen_entry(uint32_t at, uint32_t length) { return at | uint64_t(length) << 32; }

struct Tables {
    uint16_t* prefix;
    uint16_t* suffix;
    uint16_t* initial_prefix;
    uint16_t* initial_suffix;
    uint16_t* stack;  // the pixels of a string, last pixel first
    // In plain order with codes of up to 8 bits the pixels go into one run
    // of bytes, where every string decoded so far stands: a string is then
    // copied from where it was seen, and the prefix and suffix tables only
    // hold the strings that cannot be (null when not copying).
    uint8_t* output;
    Seen* seen;
};

// The moving parts of the string table.
struct Strings {
    uint32_t width;      // bits of the next code
    uint32_t grow_at;    // the width grows when next_code reaches it
    uint32_t next_code;  // the code the next string takes
    uint32_t first;      // first pixel of the string decoded last
    uint32_t old;        // the code read last
    uint32_t previous_length;  // of the string put for old, which ends where the next begins,
    bool previous_seen;        // and whether it is the string the tables give old
};

struct Decoder {
    Source source;
    Reader reader;
    Tables tables;
    Strings strings;
    uint32_t depth;  // pixels on the stack
    uint32_t clear_code;
    uint32_t initial_width;
    bool fresh;     // no code read yet, or a clear code read last
    bool finished;  // the data has ended: every pixel from here is kBrokenPixel
    uint8_t single_pixels[256 + 16];  // pixel i at i, for copying single pixels
};

uint32_t source_ends(const Source& s) { return s.cut_short ? kSourceCutShort : kDataExhausted; }

// Takes the code at the bit position, which lies inside the joined data.
inline uint32_t take_bits(const Source& s, Reader& r, uint32_t width)
{
    const uint32_t at = r.data_start + (r.position >> 3);
    uint32_t window = 0;
    if (uint64_t(at) + 4 <= s.size) {
        const uint8_t* b = s.bytes + at;
        window = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    } else {
        for (uint32_t i = 0; at + i < s.size; ++i) window |= uint32_t(s.bytes[at + i]) << (8 * i);
    }
    const uint32_t code = (window >> (r.position & 7)) & ((1u << width) - 1);
    r.position += width;
    return code;
}

// Reading a code that would end at or past the last bit joined so far: the
// next sub-block is joined first, its count byte read. The last two data
// bytes move one byte on, over that count byte, so that they stand right
// before its data.
[[gnu::noinline]] uint32_t read_code_joining(const Source& s, Reader& r, uint32_t width)
{
    while (r.position + width >= r.data_bits && !r.data_over) {
        const uint32_t count_at = r.data_end;
        if (count_at >= s.size) return source_ends(s);
        const uint32_t count = s.bytes[count_at];
        if (count == 0) {
            r.data_over = true;
            break;
        }
        if (uint64_t(count_at) + 1 + count >= s.size) return source_ends(s);
        if (r.joined_any) {
            s.bytes[count_at] = s.bytes[count_at - 1];
            s.bytes[count_at - 1] = s.bytes[count_at - 2];
            r.position = r.position + 16 - r.data_bits;
            r.data_start = count_at - 1;
        } else {
            r.data_start = count_at + 1;
            r.joined_any = true;
        }
        r.data_end = count_at + 1 + count;
        r.data_bits = (r.data_end - r.data_start) * 8;
    }
    // A code of which only some bits remain counts as no code.
    if (r.position + width > r.data_bits) return kDataExhausted;
    return take_bits(s, r, width);
}

// Reads the next code, least significant bit first.
inline uint32_t read_code(const Source& s, Reader& r, uint32_t width)
{
    if (r.position + width < r.data_bits) return take_bits(s, r, width);
    Reader joining = r;  // (kept apart, so that r can stay in registers)
    const uint32_t code = read_code_joining(s, joining, width);
    r = joining;
    return code;
}

// After the end code: the sub-blocks left are passed over up to the zero
// count. Returns the pixel that marks the early end, or 0 when the source's
// block ends first.
uint8_t pass_over_rest(const Source& s, const Reader& r)
{
    if (r.data_over) return kEndPixel;
    uint64_t at = r.data_end;
    for (;;) {
        if (at >= s.size) break;
        const uint32_t count = s.bytes[at];
        if (count == 0) return kEndPixel;
        if (at + 1 + count >= s.size) break;
        at += 1 + count;
    }
    return s.cut_short ? 0 : kEndAtSourceEndPixel;
}

void reset_tables(Decoder& d)
{
    std::memcpy(d.tables.prefix, d.tables.initial_prefix, kTableBytes);
    std::memcpy(d.tables.suffix, d.tables.initial_suffix, kTableBytes);
    d.depth = 0;
    d.strings.width = d.initial_width;
    d.strings.grow_at = 2 * d.clear_code;
    d.strings.next_code = d.clear_code + 2;
}

// True when code's string is to be copied from where it stands.
inline bool copied(const Tables& t, const Strings& s, uint32_t code)
{
    return t.output != nullptr && code < s.next_code && (t.seen[code] >> 32) != 0;
}

// The string old + first takes the next code, if one is left; the codes
// widen when the next one reaches 2^width. `at` is where the string after
// old's begins.
inline void add_string(const Tables& t, Strings& s, uint32_t at)
{
    if (s.next_code >= LZW_CODES) return;
    if (t.output != nullptr && s.previous_seen) {
        // Old's string and the pixel after it.
        t.seen[s.next_code] = seen_entry(at - s.previous_length, s.previous_length + 1);
    } else {
        t.prefix[s.next_code] = uint16_t(s.old);
        t.suffix[s.next_code] = uint16_t(s.first);
        if (t.output != nullptr) t.seen[s.next_code] = 0;
    }
    ++s.next_code;
    if (s.next_code >= s.grow_at && s.grow_at < LZW_CODES) {
        s.grow_at *= 2;
        ++s.width;
    }
}

// One code read while the stack is empty, the whole way: the pixels it
// stands for go onto the stack, to be stored from the top at `at` on.
// Returns false when the work stops with 14: a prefix chain that loops or
// outgrows the stack, or a source cut short by the end of its block.
bool take_code(Decoder& d, uint32_t code, uint32_t at)
{
    const Tables& t = d.tables;
    Strings& s = d.strings;
    if (d.fresh) {
        while (code == d.clear_code) code = read_code(d.source, d.reader, s.width);
    } else if (code == d.clear_code) {
        // The code after a clear code starts afresh, even a second clear code.
        reset_tables(d);
        code = read_code(d.source, d.reader, s.width);
        d.fresh = true;
    }
    if (code == kSourceCutShort) return false;
    if (code == kDataExhausted) {
        d.finished = true;
        return true;
    }
    if (d.fresh) {
        s.first = code;
        s.old = code;
        d.fresh = false;
        t.stack[d.depth++] = uint16_t(code);
        s.previous_length = 1;
        s.previous_seen = code < d.clear_code;
        return true;
    }
    if (code == d.clear_code + 1) {
        const uint8_t marker = pass_over_rest(d.source, d.reader);
        if (marker == 0) return false;
        t.stack[d.depth++] = marker;
        d.finished = true;
        return true;
    }

    // A string: its pixels go onto the stack from the last one back.
    const bool seen =
        code < d.clear_code || copied(t, s, code) || (code == s.next_code && s.previous_seen);
    uint32_t k = code;
    if (k >= s.next_code) {
        // Not in the table yet: the previous string and its own first pixel.
        t.stack[d.depth++] = uint16_t(s.first);
        k = s.old;
    }
    bool stacked = false;
    while (k >= d.clear_code) {
        if (copied(t, s, k)) {
            // The rest stands in the output.
            const uint32_t from = uint32_t(t.seen[k]), length = uint32_t(t.seen[k] >> 32);
            if (length > kStackEntries - d.depth) return false;
            for (uint32_t i = length; i-- > 0;) t.stack[d.depth++] = t.output[from + i];
            s.first = t.output[from];
            stacked = true;
            break;
        }
        if (d.depth == kStackEntries) return false;
        t.stack[d.depth++] = t.suffix[k];
        if (t.prefix[k] == k) {
            // A circular entry: 0xFF, then what was pushed of the string.
            if (d.depth == kStackEntries) return false;
            t.stack[d.depth++] = kBrokenPixel;
            s.previous_seen = false;
            return true;
        }
        k = t.prefix[k];
    }
    if (!stacked) {
        if (d.depth == kStackEntries) return false;
        s.first = t.suffix[k];
        t.stack[d.depth++] = uint16_t(s.first);
    }
    add_string(t, s, at);
    s.old = code;
    s.previous_length = d.depth;
    s.previous_seen = seen;
    return true;
}

constexpr uint32_t kNoCode = 0x20000;

// Stores, while they come, the codes whose string is a single pixel or
// stands in the output already, by copying it while it and 16 bytes more
// fit before the end. Returns the first code read that it does not take, or
// kNoCode when the output is full.
uint32_t copy_strings(Decoder& d, uint32_t count, uint32_t& n_io)
{
    // The moving state in locals: every byte stored into the output could
    // otherwise be taken to change it.
    const Source source = d.source;
    const Tables t = d.tables;
    uint8_t* const out = t.output;
    const uint32_t clear = d.clear_code;
    Reader r = d.reader;
    Strings s = d.strings;
    uint32_t n = n_io;
    uint32_t code = kNoCode;
    while (n < count) {
        code = read_code(source, r, s.width);
        const uint8_t* string;
        uint32_t length;
        Seen entry;
        if (code < s.next_code && ((entry = t.seen[code]) >> 32) != 0) {
            // A pixel of its own (its byte comes from the table of single
            // pixels), or a string seen before: it lies wholly before n.
            length = uint32_t(entry >> 32);
            string = code < clear ? d.single_pixels + code : out + uint32_t(entry);
            if (count - n < length + 16) break;
            uint32_t i = 0;
            do {
                // Each 16 bytes are loaded before they are stored; the bytes
                // past the string are put right by the strings that follow.
                uint8_t chunk[16];
                std::memcpy(chunk, string + i, 16);
                std::memcpy(out + n + i, chunk, 16);
                i += 16;
            } while (i < length);
        } else if (code == s.next_code && s.previous_seen) {
            // The previous string and its own first pixel, which the copy
            // reaches as it goes.
            length = s.previous_length + 1;
            if (count - n < length + 16) break;
            string = out + n - s.previous_length;
            if (s.previous_length >= 16) {
                for (uint32_t i = 0; i < length; i += 16) {
                    uint8_t chunk[16];
                    std::memcpy(chunk, string + i, 16);
                    std::memcpy(out + n + i, chunk, 16);
                }
            } else {
                for (uint32_t i = 0; i < length; ++i) out[n + i] = string[i];
            }
        } else {
            break;
        }
        s.first = string[0];
        add_string(t, s, n);
        s.old = code;
        s.previous_length = length;
        s.previous_seen = true;
        n += length;
        code = kNoCode;
    }
    d.reader = r;
    d.strings = s;
    n_io = n;
    return code;
}

// Decodes the next `count` pixels of the stream into `out`. Returns false
// when the work stops with 14.
bool decode(Decoder& d, uint8_t* out, uint32_t count)
{
    uint32_t n = 0;
    while (n < count) {
        if (d.depth > 0) {
            const uint32_t take = std::min(d.depth, count - n);
            const uint16_t* top = d.tables.stack + d.depth - 1;
            for (uint32_t i = 0; i < take; ++i) out[n + i] = uint8_t(top[-int32_t(i)]);
            d.depth -= take;
            n += take;
            continue;
        }
        if (d.finished) {
            std::memset(out + n, kBrokenPixel, count - n);
            return true;
        }
        uint32_t code = kNoCode;
        if (d.tables.output != nullptr && !d.fresh) code = copy_strings(d, count, n);
        if (code == kNoCode) {
            if (n == count) break;
            code = read_code(d.source, d.reader, d.strings.width);
        }
        if (!take_code(d, code, n)) return false;
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
    if (width > 0 && destination_end > destination)
        rows = (uint64_t(destination_end - destination) + width - 1) / width;
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
    d.source.bytes = const_cast<uint8_t*>(source.data());
    if (source_end > source_address) {
        const uint32_t length = source_end - source_address;
        d.source.size = std::min<uint32_t>(length, uint32_t(source.size()));
        d.source.cut_short = source.size() < length;
    }

    Seen seen[LZW_CODES];
    Tables& t = d.tables;
    uint16_t** const tables[] = {&t.prefix, &t.suffix, &t.initial_prefix, &t.initial_suffix, &t.stack};
    const uint32_t sizes[] = {kTableBytes, kTableBytes, kTableBytes, kTableBytes, kStackEntries * sizeof(uint16_t)};
    bool have_tables = true;
    for (uint32_t i = 0; i < 5 && have_tables; ++i) {
        *tables[i] = static_cast<uint16_t*>(PPCAllocVec(sizes[i], KERNEL_MEMORY_FLAGS));
        have_tables = *tables[i] != nullptr;
    }

    uint32_t result = KERNEL_OK;
    if (!have_tables) {
        result = KERNEL_NO_MEMORY;
    } else if (d.source.size == 0 || d.source.bytes[0] > LZW_MAX_CODE_SIZE) {
        result = KERNEL_BAD_DATA;
    } else {
        const uint32_t code_size = d.source.bytes[0];
        d.clear_code = lzw_clear_code(code_size);
        d.initial_width = code_size + 1;
        d.reader.data_end = 1;
        d.fresh = true;
        for (uint32_t i = 0; i < d.clear_code; ++i) t.initial_suffix[i] = uint16_t(i);
        reset_tables(d);
        if (!interlaced && code_size <= 8) {
            t.output = pixels;
            t.seen = seen;
            for (uint32_t i = 0; i < d.clear_code; ++i) {
                d.single_pixels[i] = uint8_t(i);
                seen[i] = seen_entry(0, 1);
            }
            seen[d.clear_code] = seen[d.clear_code + 1] = 0;  // not strings
        }

        bool decoded = true;
        if (!interlaced) {
            decoded = decode(d, pixels, uint32_t(*extent));
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
