// tgaload24: Targa run-length packets of a picture of 24 bits per pixel into
// three bytes a pixel, in the file's byte order.
#include "kernels/codecs/targa.h"

KERNEL_VERSION("tgaload24", "1.0", "11.12.2026");

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, TARGA_BLOCK_SIZE, targa_load<3>); }
