// pcxload8: PCX scan lines of one 8-bit plane into one palette index per byte.
#include "kernels/codecs/pcx.h"
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("pcxload8", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 40;
enum : uint32_t { kSource = 2, kDestination = 3, kRowLength = 4, kHeight = 5, kBytesPerLine = 7, kSize = 8 };

} // namespace

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t row_length = block_word(block, kRowLength);
    const uint32_t height = block_word(block, kHeight);
    const uint32_t bytes_per_line = block_word(block, kBytesPerLine);
    const uint64_t size = uint64_t(row_length) * height;

    uint8_t* pixels = shared_bytes(block_word(block, kDestination), checked_size(row_length, height));
    if (pixels == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }
    const std::span<uint8_t> source = shared_span(block_word(block, kSource));

    // Bytes of a line past the row length are dropped; a shorter line leaves
    // the rest of its row as it was.
    const uint32_t keep = bytes_per_line < row_length ? bytes_per_line : row_length;
    uint64_t at = 0;
    bool complete = true;
    // Lines of no bytes decode nothing, however many there are.
    const uint32_t lines = bytes_per_line == 0 ? 0 : height;
    for (uint32_t y = 0; y < lines && complete; ++y)
        complete = pcx_decode_line(source, at, bytes_per_line, pixels + uint64_t(y) * row_length, 1, keep);

    set_block_word(block, kSize, uint32_t(size));
    PPCCacheFlush(pixels, uint32_t(size));
    if (!complete) set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
