// lzwpack: a picture of one palette index per byte into an LZW code stream
// (lzw.h), its rows in memory order or in the four-pass interlaced order.
// The stream goes to the address held in the host's output-position
// variable, which is moved past the last byte written.
#include <algorithm>
#include <bit>
#include <cstring>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/lzw/lzw.h"

// The name in the version string is stored letter-substituted: each letter of
// "lzwpack" one place on in the alphabet.
KERNEL_VERSION("maxqbdl", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 36;
enum : uint32_t { kOutputPosition = 2, kPixels = 3, kWidth = 4, kHeight = 5, kCodeSize = 6, kFlags = 7 };
constexpr uint32_t kInterlacedFlag = 64;

// The string table is an open-addressing hash of 5003 slots (a prime, so the
// probe step reaches every slot); a slot holds the key pixel * 4096 + prefix
// code, or -1 when empty, and the code table the string's code.
constexpr int32_t kSlots = 5003;
constexpr int32_t kEmpty = -1;
constexpr uint32_t kSubBlock = 254;  // data bytes of every sub-block but the last

// The host's output space: from the output position to the end of the block
// that holds it. Bytes that do not fit are not written, and the stream stops.
struct Output {
    uint8_t* start;
    uint32_t room;
    uint32_t written;
    bool overflowed;
};

void put(Output& out, const uint8_t* bytes, uint32_t count)
{
    const uint32_t fits = std::min(count, out.room - out.written);
    if (fits > 0) std::memcpy(out.start + out.written, bytes, fits);
    out.written += fits;
    if (fits < count) out.overflowed = true;
}

// 2^width - 1, except that 12-bit codes are never widened: the limit is then
// past every code.
uint32_t limit_of(uint32_t width) { return width >= LZW_MAX_WIDTH ? LZW_CODES : (1u << width) - 1; }

// Code bits on their way into sub-blocks.
struct Emitter {
    uint64_t bits;     // waiting to be staged, lowest first
    uint32_t waiting;  // how many
    uint32_t width;    // of the codes emitted now
    uint32_t limit;    // the codes widen once the next string's code passes it
    uint32_t staged;   // data bytes in the sub-block being filled
};

struct Coder {
    int32_t* keys;    // the hash table
    uint16_t* codes;  // the code table
    uint32_t code_size;
    uint32_t prefix;     // the code of the string the pixels so far end with
    uint32_t next_code;  // the code the next new string takes
    Emitter emitter;
    uint8_t sub_block[1 + kSubBlock + 16];  // its count byte, its data, room for 8-byte stores
    Output* out;
    // In runs of one pixel value, what a string followed by that value was
    // found to be is remembered by the string's code, with the table's
    // generation, which each clearing moves on. A string once found is found
    // again at the same code until the table is cleared, as a new string only
    // ever takes an empty slot or one of key 0; the string of key 0 alone may
    // lose its slot, and is never remembered.
    uint32_t generation;  // 1 to 4095
    uint32_t last_pixel;
    uint32_t found_after[LZW_CODES];  // generation << 20 | pixel << 12 | code
};

// Writes the first `count` staged bytes as a sub-block; returns how many
// stay staged.
uint32_t write_sub_block(Coder& c, uint32_t staged, uint32_t count)
{
    c.sub_block[0] = uint8_t(count);
    put(*c.out, c.sub_block, 1 + count);
    std::memmove(c.sub_block + 1, c.sub_block + 1 + count, staged - count);
    return staged - count;
}

// Eight bytes of bits, lowest first.
inline void store_bytes(uint8_t* at, uint64_t bits)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(at, &bits, 8);
    } else {
        for (uint32_t i = 0; i < 8; ++i) at[i] = uint8_t(bits >> (8 * i));
    }
}

// Puts code x above the waiting bits and stages every whole byte; then the
// codes widen if next_code has passed the limit (x keeps the width it found).
inline void emit(Coder& c, Emitter& e, uint32_t next_code, uint32_t x)
{
    e.bits |= uint64_t(x) << e.waiting;
    e.waiting += e.width;
    if (e.waiting >= 8) {
        store_bytes(c.sub_block + 1 + e.staged, e.bits);
        const uint32_t whole = e.waiting / 8;
        e.staged += whole;
        e.bits >>= 8 * whole;
        e.waiting -= 8 * whole;
        if (e.staged >= kSubBlock) e.staged = write_sub_block(c, e.staged, kSubBlock);
    }
    if (next_code > e.limit) e.limit = limit_of(++e.width);
}

// After a clear code the codes are code_size + 1 bits wide again.
void emit_clear(Coder& c, Emitter& e, uint32_t next_code)
{
    emit(c, e, next_code, lzw_clear_code(c.code_size));
    e.width = c.code_size + 1;
    e.limit = limit_of(e.width);
}

void forget_strings(Coder& c)
{
    std::fill(c.keys, c.keys + kSlots, kEmpty);
    c.next_code = lzw_first_string_code(c.code_size);
    if (++c.generation == 4096) {
        std::fill(c.found_after, c.found_after + LZW_CODES, 0u);
        c.generation = 1;
    }
}

// Codes the pixels of one stretch, each following the string the pixels
// before it end with.
void code_stretch(Coder& c, const uint8_t* pixels, uint64_t count)
{
    int32_t* const keys = c.keys;
    uint16_t* const codes = c.codes;
    uint32_t prefix = c.prefix;
    uint32_t next_code = c.next_code;
    Emitter e = c.emitter;
    uint32_t* const found_after = c.found_after;
    uint32_t generation = c.generation << 8;
    uint32_t before = c.last_pixel;
    for (uint64_t n = 0; n < count; ++n) {
        const uint32_t k = pixels[n];
        const bool repeated = k == before;
        before = k;
        if (repeated && (found_after[prefix] >> 12) == (generation | k)) {
            prefix = found_after[prefix] & (LZW_CODES - 1);
            continue;
        }
        const int32_t key = int32_t((k << 12) + prefix);
        const auto remember = [&](uint32_t code) {
            if (repeated && key != 0) found_after[prefix] = (generation | k) << 12 | code;
        };
        int32_t slot = int32_t((k << 4) ^ prefix);
        if (keys[slot] == key) {
            remember(codes[slot]);
            prefix = codes[slot];
            continue;
        }
        if (keys[slot] >= 0) {
            // Taken by another string: probe backwards. A slot of key 0 ends
            // the probe as an empty one does.
            const int32_t step = slot == 0 ? 1 : kSlots - slot;
            bool found = false;
            for (;;) {
                slot -= step;
                if (slot < 0) slot += kSlots;
                if (keys[slot] == key) {
                    found = true;
                    break;
                }
                if (keys[slot] <= 0) break;
            }
            if (found) {
                remember(codes[slot]);
                prefix = codes[slot];
                continue;
            }
        }
        // A new string: the one before it is complete.
        emit(c, e, next_code, prefix);
        if (next_code < LZW_CODES) {
            remember(next_code);
            codes[slot] = uint16_t(next_code++);
            keys[slot] = key;
        } else {
            forget_strings(c);
            next_code = c.next_code;
            generation = c.generation << 8;
            emit_clear(c, e, next_code);
        }
        prefix = k;
    }
    c.last_pixel = before;
    c.prefix = prefix;
    c.next_code = next_code;
    c.emitter = e;
}

// Long stretches go a piece at a time, so that a full output stops the
// coding soon.
bool code_pixels(Coder& c, const uint8_t* pixels, uint64_t count)
{
    constexpr uint64_t kPiece = 65536;
    for (uint64_t at = 0; at < count && !c.out->overflowed; at += kPiece)
        code_stretch(c, pixels + at, std::min(kPiece, count - at));
    return !c.out->overflowed;
}

// Codes the picture between the code-size byte and the terminator; returns 0,
// or 3 when the tables cannot be had.
uint32_t code_picture(Output& out, uint32_t code_size, const uint8_t* pixels, uint32_t width, uint32_t height,
                      bool interlaced)
{
    Coder c{};
    c.keys = static_cast<int32_t*>(PPCAllocVec(kSlots * sizeof(int32_t), KERNEL_MEMORY_FLAGS));
    c.codes = static_cast<uint16_t*>(PPCAllocVec(kSlots * sizeof(uint16_t), KERNEL_MEMORY_FLAGS));
    if (c.keys == nullptr || c.codes == nullptr) {
        if (c.keys != nullptr) PPCFreeVec(c.keys);
        if (c.codes != nullptr) PPCFreeVec(c.codes);
        return KERNEL_NO_MEMORY;
    }
    c.code_size = code_size;
    c.out = &out;
    c.emitter.width = code_size + 1;
    c.emitter.limit = limit_of(c.emitter.width);
    forget_strings(c);
    emit_clear(c, c.emitter, c.next_code);

    const uint64_t count = uint64_t(width) * height;
    if (count > 0) {
        c.prefix = pixels[0];
        if (!interlaced) {
            code_pixels(c, pixels + 1, count - 1);
        } else {
            lzw_interlaced_rows(height, [&](uint32_t r) {
                const uint8_t* row = pixels + uint64_t(r) * width;
                return r == 0 ? code_pixels(c, row + 1, width - 1) : code_pixels(c, row, width);
            });
        }
        if (!out.overflowed) emit(c, c.emitter, c.next_code, c.prefix);
    }
    if (!out.overflowed) {
        // The end code, its last partial byte and the last sub-block.
        Emitter& e = c.emitter;
        emit(c, e, c.next_code, lzw_end_code(code_size));
        if (e.waiting > 0) c.sub_block[1 + e.staged++] = uint8_t(e.bits);
        while (e.staged > 0) e.staged = write_sub_block(c, e.staged, std::min(e.staged, kSubBlock));
    }

    PPCFreeVec(c.keys);
    PPCFreeVec(c.codes);
    return KERNEL_OK;
}

// True when every pixel is below 2^code_size, as the codes need.
bool pixels_fit(const uint8_t* pixels, uint64_t count, uint32_t code_size)
{
    if (code_size >= 8) return true;
    uint8_t all = 0;
    for (uint64_t i = 0; i < count; ++i) all |= pixels[i];
    return (all >> code_size) == 0;
}

uint32_t pack(void* block)
{
    uint8_t* position = shared_bytes(block_word(block, kOutputPosition), 4);
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const checked_u64 count = checked_size(width, height);
    const uint8_t* pixels = count == uint64_t(0) ? nullptr : shared_bytes(block_word(block, kPixels), count);
    if (position == nullptr || (pixels == nullptr && count != uint64_t(0))) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    const uint32_t start_address = load_be32(position);
    Output out{static_cast<uint8_t*>(shared_pointer(start_address)), 0, 0, false};
    if (out.start != nullptr) out.room = shared_room(out.start);

    const uint32_t code_size = std::max(block_word(block, kCodeSize), 2u);
    const uint8_t size_byte = uint8_t(code_size);
    put(out, &size_byte, 1);
    uint32_t result = KERNEL_BAD_DATA;
    // Codes wider than 12 bits, or pixels that are no codes, make no stream:
    // it stays the code-size byte and the terminator.
    const bool interlaced = (block_word(block, kFlags) & kInterlacedFlag) != 0;
    if (code_size <= LZW_MAX_CODE_SIZE && pixels_fit(pixels, *count, code_size))
        result = code_picture(out, code_size, pixels, width, height, interlaced);
    const uint8_t terminator = 0;
    if (!out.overflowed) put(out, &terminator, 1);
    if (out.overflowed) result = KERNEL_BAD_DATA;

    store_be32(position, start_address + out.written);
    if (out.written > 0) PPCCacheFlush(out.start, out.written);
    // The variable, and the width x height bytes from its address that the
    // host has always had flushed, as far as its block reaches.
    PPCCacheFlush(position, uint32_t(std::clamp<uint64_t>(*count, 4, shared_room(position))));
    set_block_error(block, kBlockSize, result);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, pack); }
