// The host harness: what the host library does with a kernel module, for the
// tests, the benchmarks and tools. It loads a module by name from the build's
// module folder, finds its entries, lays out parameter blocks, buffers and
// picture records in shared memory, and calls `Function`.
#pragma once

#include <cstdint>

#include "platform/platform.h"

using module_function = uint32_t (*)(void* block);

struct host_module {
    void* handle;             // from dlopen, kept until the process ends
    module_function function; // the module's `Function`
    char name[64];
    char path[1024];
};

// Where modules are looked for; the build's module folder unless changed.
void host_set_module_dir(const char* dir);
const char* host_module_dir();

// Loads `<dir>/<name>.so` with local symbols, once per process; later calls
// give the same module. Null when the file or its `Function` is missing.
const host_module* host_load_module(const char* name);

// Any named export of a loaded module, or null.
void* host_module_symbol(const host_module* module, const char* symbol);

// Shared memory from the host allocator (AllocVec), zero-filled; freed with
// host_free. Null for size 0 or when memory runs out.
uint8_t* host_alloc(uint32_t size);
void host_free(void* memory);

// A zero-filled parameter block of `size` bytes.
uint8_t* host_new_block(uint32_t size);

// Words of a block (or of any big-endian word table) by index.
void host_set_word(void* block, uint32_t index, uint32_t value);
uint32_t host_word(const void* block, uint32_t index);

// The 32-bit address a block word carries for a buffer.
inline uint32_t host_address(const void* memory) { return shared_address(memory); }

// Stores the command in word 1 and calls the module's `Function`.
uint32_t host_call(const host_module* module, void* block, uint32_t command);

// A zero-filled picture record of the given size and depth, with a zero-filled
// pixel buffer of width x height bytes (x 3 for depth 24) when `with_pixels`
// is set. Null when memory runs out. Freed with host_free_picture.
uint8_t* host_new_picture(uint32_t width, uint32_t height, uint32_t depth, bool with_pixels);
void host_free_picture(uint8_t* record);
