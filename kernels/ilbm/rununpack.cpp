// rununpack: an ILBM body, ByteRun1 plane rows one after another, into a
// planar bitmap.
#include <algorithm>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/ilbm/byterun1.h"

KERNEL_VERSION("rununpack", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 52;
enum : uint32_t {
    kRowBuffer = 2,
    kSource = 3,
    kDestination = 4,
    kPlanes = 5,
    kRows = 7,
    kMask = 8,
    kPlaneRowBytes = 9,
    kRowLength = 10,
    kPlaneSize = 11,
};

// Larger than any block, and small enough that a few of them add up without
// wrapping.
constexpr uint64_t kTooBig = uint64_t(1) << 33;

} // namespace

KERNEL_EXPORT void copymem(const uint8_t* source, uint8_t* destination, uint32_t count)
{
    byterun1_copy(source, destination, count);
}

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    // A mask plane follows the picture's planes in every row.
    const uint64_t planes = uint64_t(block_word(block, kPlanes)) + (block_word(block, kMask) != 0 ? 1 : 0);
    const uint32_t rows = block_word(block, kRows);
    const uint32_t kept = block_word(block, kPlaneRowBytes);
    const uint64_t length = block_word(block, kRowLength);
    const uint64_t plane_size = block_word(block, kPlaneSize);

    // The flush covers the planes, and every row written even when the plane
    // size is too small to hold them.
    uint64_t reach = plane_size * planes;
    if (rows > 0 && planes > 0) {
        const uint64_t last_row = std::min(uint64_t(rows - 1) * kept, kTooBig);
        const uint64_t last_plane = std::min((planes - 1) * plane_size, kTooBig);
        reach = std::max(reach, last_row + last_plane + kept);
    }
    const std::span<uint8_t> row = byterun1_row_buffer(block_word(block, kRowBuffer), length, kept);
    uint8_t* planar = shared_bytes(block_word(block, kDestination), reach);
    if (row.empty() || planar == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }

    const std::span<const uint8_t> source = shared_source(block_word(block, kSource));
    if (byterun1_unpack_body(source, row, planar, rows, planes, kept, length, plane_size) < 0)
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
    PPCCacheFlush(planar, uint32_t(reach));
    PPCCacheFlush(row.data(), uint32_t(row.size()));  // the row buffer was written too
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
