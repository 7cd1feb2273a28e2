// pcxload4: PCX scan lines of up to four bit planes into a planar bitmap,
// plane after plane, rows of (width + 7) / 8 bytes.
#include <cstring>

#include "kernels/codecs/pcx.h"
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/ilbm/planar.h"

KERNEL_VERSION("pcxload4", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 44;
enum : uint32_t {
    kSource = 2,
    kDestination = 3,
    kLineBuffer = 4,
    kWidth = 5,
    kHeight = 6,
    kPlanes = 7,
    kBytesPerLine = 8,
    kSize = 9,
};

} // namespace

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t height = block_word(block, kHeight);
    const uint32_t planes = block_word(block, kPlanes);
    const uint32_t bytes_per_line = block_word(block, kBytesPerLine);
    const uint64_t row_bytes = planar_row_bytes(block_word(block, kWidth));
    const uint64_t plane_size = row_bytes * height;
    const checked_u64 size = checked_size(row_bytes, height, planes);

    uint8_t* planar = shared_bytes(block_word(block, kDestination), size);
    uint8_t* line = shared_bytes(block_word(block, kLineBuffer), bytes_per_line);
    // A plane row takes the first (width + 7) / 8 bytes of each line.
    if (planar == nullptr || line == nullptr || row_bytes > bytes_per_line) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }
    const std::span<uint8_t> source = shared_span(block_word(block, kSource));

    uint64_t at = 0;
    bool complete = true;
    bool line_used = false;
    // Lines of no bytes, or rows of no planes, decode nothing, however many
    // there are.
    const uint32_t lines = bytes_per_line == 0 || planes == 0 ? 0 : height;
    for (uint32_t y = 0; y < lines && complete; ++y) {
        for (uint32_t p = 0; p < planes && complete; ++p) {
            complete = pcx_decode_line(source, at, bytes_per_line, line, 1, bytes_per_line);
            line_used = true;
            if (complete) std::memmove(planar + p * plane_size + y * row_bytes, line, row_bytes);
        }
    }

    set_block_word(block, kSize, uint32_t(*size));
    PPCCacheFlush(planar, uint32_t(*size));
    if (line_used) PPCCacheFlush(line, bytes_per_line);
    if (!complete) set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
