// tgaload16: Targa run-length packets of a picture of 16 bits per pixel into
// two bytes a pixel, in the file's byte order.
#include "kernels/codecs/targa.h"

KERNEL_VERSION("tgaload16", "1.0", "11.12.2026");

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, TARGA_BLOCK_SIZE, targa_load<2>); }
