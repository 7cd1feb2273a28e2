// deepload: the run-length rows of a DEEP body into rows of pixel bytes, 3
// bytes a pixel and any extra bytes after them, in the order they come. A
// row is one PCX run-length line of the row's length; a run that crosses a
// row end is carried into the next row by rewriting its run byte in the
// source.
#include "kernels/codecs/pcx.h"
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("deepload", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 36;
enum : uint32_t { kSource = 2, kDestination = 3, kWidth = 4, kHeight = 5, kExtraBytes = 6, kWritten = 7 };

// Decodes `height` rows of `length` bytes into `destination`, which holds
// them. False when the source ends before the last row is complete; the rows
// before it stay decoded.
bool unpack_rows(std::span<uint8_t> coded, uint8_t* destination, uint32_t length, uint32_t height)
{
    uint64_t at = 0;
    // Rows of no bytes decode nothing, however many there are.
    const uint32_t rows = length == 0 ? 0 : height;
    for (uint32_t r = 0; r < rows; ++r)
        if (!pcx_decode_line(coded, at, length, destination + uint64_t(r) * length, 1, length)) return false;
    return true;
}

// The source of a direct call: in shared memory it ends with its block;
// memory of the caller's own has no end that can be known.
std::span<uint8_t> direct_source(uint8_t* source)
{
    if (source == nullptr) return {};
    const uint32_t address = shared_address(source);
    return address != 0 ? shared_span(address) : std::span<uint8_t>(source, SIZE_MAX / 2);
}

} // namespace

// For direct calls: the destination is taken on trust to hold row length x
// height bytes, as the caller's words say. The source's length is not
// passed, so the data decides how far it is read; when it lies in shared
// memory, the reads stop at the end of its block whatever the data holds.
// Returns row length x height (0, with nothing done, when that passes 32
// bits).
KERNEL_EXPORT uint32_t UnPackRLE_24(uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
                                    uint32_t extra_bytes)
{
    const checked_u64 row_length = checked_size(width, checked_add(3, extra_bytes));
    const checked_u64 size = checked_size(row_length, height);
    if (!size || *size > UINT32_MAX) return 0;
    unpack_rows(direct_source(source), destination, height == 0 ? 0 : uint32_t(*row_length), height);
    return uint32_t(*size);
}

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t height = block_word(block, kHeight);
    const checked_u64 row_length = checked_size(block_word(block, kWidth), checked_add(3, block_word(block, kExtraBytes)));
    const checked_u64 size = checked_size(row_length, height);

    uint8_t* rows = shared_bytes(block_word(block, kDestination), size);
    if (rows == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }
    // The destination holds the rows, so with any rows at all their length
    // fits 32 bits.
    const uint32_t length = height == 0 ? 0 : uint32_t(*row_length);
    const bool complete = unpack_rows(shared_span(block_word(block, kSource)), rows, length, height);
    set_block_word(block, kWritten, uint32_t(*size));
    PPCCacheFlush(rows, uint32_t(*size));
    if (!complete) set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
