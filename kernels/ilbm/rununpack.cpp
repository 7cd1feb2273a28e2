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
    checked_u64 reach = checked_size(plane_size, planes);
    if (rows > 0 && planes > 0) {
        const checked_u64 end_of_last_row =
            checked_add(checked_size(rows - 1, kept), checked_size(planes - 1, plane_size), kept);
        reach = reach && end_of_last_row ? std::max(reach, end_of_last_row) : std::nullopt;
    }
    // Plane rows that overlap are never a picture: their copies would go over
    // the same bytes again and again, as often as the counts say (rows x
    // planes copies into a handful of bytes). A body is refused when its plane
    // rows hold more bytes than the destination bytes they reach.
    const checked_u64 copied = checked_size(rows, planes, kept);
    const bool overlapping = !copied || !reach || *copied > *reach;
    const std::span<uint8_t> row = byterun1_row_buffer(block_word(block, kRowBuffer), length, kept);
    uint8_t* planar = shared_bytes(block_word(block, kDestination), reach);
    if (row.empty() || planar == nullptr || overlapping) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }

    const std::span<const uint8_t> source = shared_source(block_word(block, kSource));
    if (byterun1_unpack_body(source, row, planar, rows, planes, kept, length, plane_size) < 0)
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
    PPCCacheFlush(planar, uint32_t(*reach));
    PPCCacheFlush(row.data(), uint32_t(row.size()));  // the row buffer was written too
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
