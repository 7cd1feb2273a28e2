// lzwpack: a picture of one palette index per byte into an LZW code stream
// (lzw.h), its rows in memory order or in the four-pass interlaced order.
// The stream goes to the address held in the host's output-position
// variable, which is moved past the last byte written.
#include <algorithm>
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

struct Coder {
    int32_t* keys;
    uint16_t* codes;
    uint32_t code_size;
    uint32_t clear_code;
    uint32_t next_code;  // the code the next new string takes
    uint32_t width;      // bits of the codes emitted now
    uint32_t limit;      // the width grows once next_code passes it
    bool clearing;       // a clear code was emitted: the width returns to code_size + 1
    uint64_t bits;       // bits waiting to be staged, lowest first
    uint32_t waiting;
    uint8_t sub_block[1 + kSubBlock];  // the count byte, then the staged data bytes
    uint32_t staged;
    Output* out;
};

// 2^width - 1, except that 12-bit codes are never widened: the limit is then
// past every code.
uint32_t limit_of(uint32_t width) { return width >= LZW_MAX_WIDTH ? LZW_CODES : (1u << width) - 1; }

void write_sub_block(Coder& c)
{
    c.sub_block[0] = uint8_t(c.staged);
    put(*c.out, c.sub_block, 1 + c.staged);
    c.staged = 0;
}

void stage_byte(Coder& c)
{
    c.sub_block[1 + c.staged++] = uint8_t(c.bits);
    if (c.staged == kSubBlock) write_sub_block(c);
    c.bits >>= 8;
}

// Puts code x above the waiting bits with the current width, stages every
// whole byte, then widens the codes (after x, which keeps the width it found).
inline void emit(Coder& c, uint32_t x)
{
    c.bits |= uint64_t(x) << c.waiting;
    c.waiting += c.width;
    while (c.waiting >= 8) {
        stage_byte(c);
        c.waiting -= 8;
    }
    if (c.clearing) {
        c.width = c.code_size + 1;
        c.limit = limit_of(c.width);
        c.clearing = false;
    } else if (c.next_code > c.limit) {
        ++c.width;
        c.limit = limit_of(c.width);
    }
}

// The end code, then the last partial byte and the last sub-block.
void emit_end(Coder& c)
{
    emit(c, lzw_end_code(c.code_size));
    if (c.waiting > 0) stage_byte(c);  // fewer than 8 bits wait after emit
    c.waiting = 0;
    if (c.staged > 0) write_sub_block(c);
}

void forget_strings(Coder& c)
{
    std::fill(c.keys, c.keys + kSlots, kEmpty);
    c.next_code = lzw_first_string_code(c.code_size);
}

// Codes the pixels of one stretch, each following the string `prefix` ends.
void code_stretch(Coder& c, uint32_t& prefix, const uint8_t* pixels, uint64_t count)
{
    int32_t* const keys = c.keys;
    uint16_t* const codes = c.codes;
    for (uint64_t n = 0; n < count; ++n) {
        const uint32_t k = pixels[n];
        const int32_t key = int32_t((k << 12) + prefix);
        int32_t slot = int32_t((k << 4) ^ prefix);
        if (keys[slot] == key) {
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
                prefix = codes[slot];
                continue;
            }
        }
        // A new string: the one before it is complete.
        emit(c, prefix);
        prefix = k;
        if (c.next_code < LZW_CODES) {
            codes[slot] = uint16_t(c.next_code++);
            keys[slot] = key;
        } else {
            forget_strings(c);
            c.clearing = true;
            emit(c, c.clear_code);
        }
    }
}

// Long stretches are coded a piece at a time, so that a full output stops
// the coding soon.
void code_pixels(Coder& c, uint32_t& prefix, const uint8_t* pixels, uint64_t count)
{
    constexpr uint64_t kPiece = 65536;
    for (uint64_t at = 0; at < count && !c.out->overflowed; at += kPiece)
        code_stretch(c, prefix, pixels + at, std::min(kPiece, count - at));
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
    c.clear_code = lzw_clear_code(code_size);
    c.width = code_size + 1;
    c.limit = limit_of(c.width);
    c.out = &out;
    forget_strings(c);

    emit(c, c.clear_code);
    const uint64_t count = uint64_t(width) * height;
    if (count > 0) {
        uint32_t prefix = pixels[0];
        if (!interlaced) {
            code_pixels(c, prefix, pixels + 1, count - 1);
        } else {
            lzw_interlaced_rows(height, [&](uint32_t r) {
                const uint8_t* row = pixels + uint64_t(r) * width;
                if (r == 0) {
                    code_pixels(c, prefix, row + 1, width - 1);
                } else {
                    code_pixels(c, prefix, row, width);
                }
                return !out.overflowed;
            });
        }
        if (!out.overflowed) emit(c, prefix);
    }
    if (!out.overflowed) emit_end(c);

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
    if (code_size <= LZW_MAX_CODE_SIZE && pixels_fit(pixels, *count, code_size))
        result = code_picture(out, code_size, pixels, width, height, (block_word(block, kFlags) & kInterlacedFlag) != 0);
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
