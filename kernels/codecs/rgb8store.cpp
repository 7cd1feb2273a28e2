// rgb8store: true-colour pixels into RGB8 records (red, green, blue, count).
// Runs of equal pixels go on across row ends, up to 127 pixels a record, and
// end at the picture's last pixel.
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("rgb8store", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 32;
enum : uint32_t { kSource = 2, kDestination = 3, kWidth = 4, kHeight = 5, kWritten = 6 };

constexpr uint32_t kRecordBytes = 4;
constexpr uint32_t kLongestRun = 127;

bool same_pixel(const uint8_t* a, const uint8_t* b) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

} // namespace

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const checked_u64 size = checked_size(3, width, height);

    const uint8_t* pixels = shared_bytes(block_word(block, kSource), size);
    if (pixels == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }
    // The contract asks for room for a record per pixel. A destination
    // smaller than that takes the whole records that fit, and the run reports
    // 14 with what it wrote.
    const std::span<uint8_t> room = shared_span(block_word(block, kDestination));
    uint8_t* out = room.data();
    const uint64_t pixel_count = *size / 3;
    const uint64_t records_that_fit = room.size() / kRecordBytes;
    const bool room_enough = records_that_fit >= pixel_count;

    uint64_t i = 0;  // the next pixel
    uint64_t records = 0;
    while (i < pixel_count && records < records_that_fit) {
        const uint8_t* colour = pixels + 3 * i;
        uint64_t run = 1;
        while (run < kLongestRun && i + run < pixel_count && same_pixel(colour + 3 * run, colour)) ++run;
        // Byte by byte: a careless host may name one buffer for both.
        uint8_t* record = out + kRecordBytes * records;
        record[0] = colour[0];
        record[1] = colour[1];
        record[2] = colour[2];
        record[3] = uint8_t(run);
        ++records;
        i += run;
    }

    const uint32_t written = uint32_t(kRecordBytes * records);
    set_block_word(block, kWritten, written);
    PPCCacheFlush(out, written);
    if (!room_enough) set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
