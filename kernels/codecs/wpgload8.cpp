// wpgload8: WPG bitmap records of an 8-bit picture into one byte a pixel.
#include "kernels/codecs/wpg.h"

KERNEL_VERSION("wpgload8", "1.0", "11.12.2026");

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, WPG_BLOCK_SIZE, wpg_load_chunky<1>); }
