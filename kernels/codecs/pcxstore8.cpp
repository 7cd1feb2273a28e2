// pcxstore8: rows of palette indexes into PCX run-length lines, or stored
// plainly when coding would not make them shorter than the limit.
#include <cstring>

#include "kernels/codecs/pcx.h"
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("pcxstore8", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 32;
enum : uint32_t { kSource = 2, kDestination = 3, kBytesPerLine = 4, kHeight = 5, kLength = 6 };

} // namespace

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t bytes_per_line = block_word(block, kBytesPerLine);
    const uint32_t height = block_word(block, kHeight);
    const uint64_t plain_size = uint64_t(bytes_per_line) * height;

    const uint8_t* rows = shared_bytes(block_word(block, kSource), checked_size(bytes_per_line, height));
    // One line more than the plain rows: coded output can pass the limit
    // below by at most two lines' worth before it is given up.
    uint8_t* out = shared_bytes(block_word(block, kDestination),
                                checked_add(checked_size(bytes_per_line, height), bytes_per_line));
    if (rows == nullptr || out == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }

    const uint64_t limit = height == 0 ? 0 : uint64_t(height - 1) * bytes_per_line;
    uint64_t total = 0;
    // Lines of no bytes code to nothing, however many there are.
    const uint32_t lines = bytes_per_line == 0 ? 0 : height;
    for (uint32_t y = 0; y < lines; ++y) {
        total += pcx_encode_line(rows + uint64_t(y) * bytes_per_line, bytes_per_line, out + total);
        if (total > limit) {
            std::memmove(out, rows, plain_size);
            total = plain_size;
            break;
        }
    }

    set_block_word(block, kLength, uint32_t(total));
    PPCCacheFlush(out, uint32_t(total));
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
