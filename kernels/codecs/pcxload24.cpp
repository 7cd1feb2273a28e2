// pcxload24: PCX scan lines of B byte planes (red, green, blue, ...) into
// interleaved pixels of B bytes.
#include "kernels/codecs/pcx.h"
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("pcxload24", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 40;
enum : uint32_t { kSource = 2, kDestination = 3, kWidth = 4, kHeight = 5, kDepth = 6, kBytesPerLine = 7, kSize = 8 };

} // namespace

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const uint32_t planes = (block_word(block, kDepth) >> 3) & 0xFF;
    const uint32_t bytes_per_line = block_word(block, kBytesPerLine);
    const uint64_t row_bytes = uint64_t(width) * planes;
    const checked_u64 size = checked_size(width, planes, height);

    uint8_t* pixels = shared_bytes(block_word(block, kDestination), size);
    if (pixels == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }
    const std::span<uint8_t> source = shared_span(block_word(block, kSource));

    // Plane p's k-th byte is byte p of pixel k; bytes past the width are dropped.
    const uint32_t keep = bytes_per_line < width ? bytes_per_line : width;
    uint64_t at = 0;
    bool complete = true;
    // Lines of no bytes, or rows of no planes, decode nothing, however many
    // there are.
    const uint32_t lines = bytes_per_line == 0 || planes == 0 ? 0 : height;
    for (uint32_t y = 0; y < lines && complete; ++y) {
        uint8_t* row = pixels + y * row_bytes;
        for (uint32_t p = 0; p < planes && complete; ++p)
            complete = pcx_decode_line(source, at, bytes_per_line, row + p, planes, keep);
    }

    set_block_word(block, kSize, uint32_t(*size));
    PPCCacheFlush(pixels, uint32_t(*size));
    if (!complete) set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
