// wpgload8: WPG bitmap records of an 8-bit picture into one byte a pixel.
#include "kernels/codecs/wpg.h"

KERNEL_VERSION("wpgload8", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kWritten = 6;

uint32_t load(void* block) { return wpg_load<1>(block, WPG_BLOCK_SIZE, block_word(block, kWpgWidth), 1, kWritten); }

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, WPG_BLOCK_SIZE, load); }
