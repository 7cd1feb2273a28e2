// wpgload4: WPG bitmap records of a 4-bit picture, two pixels to the coded
// byte (the left one in the high nibble), into one byte a pixel.
#include "kernels/codecs/wpg.h"

KERNEL_VERSION("wpgload4", "1.0", "11.12.2026");

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, WPG_BLOCK_SIZE, wpg_load_chunky<2>); }
