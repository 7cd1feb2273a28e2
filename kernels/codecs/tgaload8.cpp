// tgaload8: Targa run-length packets of a picture of 8 bits per pixel into
// one byte a pixel.
#include "kernels/codecs/targa.h"

KERNEL_VERSION("tgaload8", "1.0", "11.12.2026");

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, TARGA_BLOCK_SIZE, targa_load<1>); }
