// tgaload1: Targa run-length packets of a picture of 1 bit per pixel into
// rows of (width + 7) / 8 bytes, eight pixels to the byte.
#include "kernels/codecs/targa.h"

KERNEL_VERSION("tgaload1", "1.0", "11.12.2026");

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, TARGA_BLOCK_SIZE, targa_load<1, 8>); }
