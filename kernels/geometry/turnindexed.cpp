// turnindexed: a palette picture turned by any angle about a chosen centre.
#include "kernels/geometry/rotate.h"

KERNEL_VERSION("turnindexed", "1.0", "11.12.2026");

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, ROTATE_BLOCK_SIZE, rotate_picture<1>); }
