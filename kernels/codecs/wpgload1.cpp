// wpgload1: WPG bitmap records of a picture of one or more bit planes into a
// planar bitmap, plane after plane, rows of (width + 7) / 8 bytes.
#include "kernels/codecs/wpg.h"
#include "kernels/ilbm/planar.h"

KERNEL_VERSION("wpgload1", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 36;
enum : uint32_t { kPlanes = 6, kWritten = 7 };

uint32_t load(void* block)
{
    const uint64_t row_bytes = planar_row_bytes(block_word(block, kWpgWidth));
    return wpg_load<1>(block, kBlockSize, row_bytes, block_word(block, kPlanes), kWritten);
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, load); }
