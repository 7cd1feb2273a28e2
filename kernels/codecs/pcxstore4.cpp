// pcxstore4: a planar bitmap into PCX scan lines of four planes each, coded,
// or stored plainly when coding would not make them shorter than the limit.
#include <cstring>

#include "kernels/codecs/pcx.h"
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("pcxstore4", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 40;
enum : uint32_t { kSource = 2, kDestination = 3, kFiller = 4, kBytesPerLine = 5, kHeight = 6, kPlanes = 7, kLength = 8 };

// A scan line always has four planes; those the picture lacks are the filler.
const uint8_t* plane_line(const uint8_t* planar, const uint8_t* filler, uint32_t plane, uint32_t planes,
                          uint64_t plane_size, uint64_t row_offset)
{
    return plane < planes ? planar + plane * plane_size + row_offset : filler;
}

} // namespace

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t bytes_per_line = block_word(block, kBytesPerLine);
    const uint32_t height = block_word(block, kHeight);
    const uint32_t planes = block_word(block, kPlanes);
    const uint64_t plane_size = uint64_t(bytes_per_line) * height;
    const uint64_t plain_size = 4 * plane_size;

    const uint8_t* planar =
        shared_bytes(block_word(block, kSource), checked_size(planes < 4 ? planes : 4, bytes_per_line, height));
    const uint8_t* filler = planes < 4 ? shared_bytes(block_word(block, kFiller), bytes_per_line) : nullptr;
    uint8_t* out = shared_bytes(block_word(block, kDestination), checked_size(4, bytes_per_line, height));
    if (planar == nullptr || out == nullptr || (planes < 4 && filler == nullptr)) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }

    // The same limit as for one plane of rows, not four: coded lines are given
    // up for plain ones as soon as they pass it.
    const uint64_t limit = height == 0 ? 0 : uint64_t(height - 1) * bytes_per_line;
    uint64_t total = 0;
    bool plain = false;
    // Lines of no bytes code to nothing, however many there are.
    const uint32_t lines = bytes_per_line == 0 ? 0 : height;
    for (uint32_t y = 0; y < lines && !plain; ++y) {
        for (uint32_t p = 0; p < 4; ++p) {
            const uint8_t* line = plane_line(planar, filler, p, planes, plane_size, uint64_t(y) * bytes_per_line);
            total += pcx_encode_line(line, bytes_per_line, out + total);
            if (total > limit) {
                plain = true;
                break;
            }
        }
    }
    if (plain) {
        uint8_t* at = out;
        for (uint32_t y = 0; y < lines; ++y)
            for (uint32_t p = 0; p < 4; ++p) {
                std::memmove(at, plane_line(planar, filler, p, planes, plane_size, uint64_t(y) * bytes_per_line),
                             bytes_per_line);
                at += bytes_per_line;
            }
        total = plain_size;
    }

    set_block_word(block, kLength, uint32_t(total));
    PPCCacheFlush(out, uint32_t(total));
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
