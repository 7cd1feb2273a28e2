// What every kernel module has in common: its parameter block, the entry
// protocol of `Function`, the error codes and the version string.
//
// A module defines its work routine and its `Function` in a few lines:
//
//     KERNEL_VERSION("planestochunky", "1.0", "11.12.2026");
//     constexpr uint32_t kBlockSize = 32;
//     static uint32_t convert(void* block) { ... }
//     KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, convert); }
#pragma once

#include <cstdint>

#include "platform/byteorder.h"
#include "platform/platform.h"

// Routines a module offers to the host: C names, visible in the loaded object.
#define KERNEL_EXPORT extern "C" __attribute__((visibility("default")))

// "$VER: name version (date)", kept in the built object although nothing
// refers to it, so that version tools find it in the file.
#define KERNEL_VERSION(name, version, date) \
    [[gnu::used]] static const char kernel_version_string[] = "$VER: " name " " version " (" date ")"

// Error codes that travel in the error word.
inline constexpr uint32_t KERNEL_OK = 0;
inline constexpr uint32_t KERNEL_CANNOT_OPEN = 2;
inline constexpr uint32_t KERNEL_NO_MEMORY = 3;
inline constexpr uint32_t KERNEL_BAD_DATA = 14;  // malformed, truncated or too small
inline constexpr uint32_t KERNEL_UNSUPPORTED = 15;
inline constexpr uint32_t KERNEL_BAD_COMMAND = 17;

inline constexpr uint32_t KERNEL_QUERY = 0;
inline constexpr uint32_t KERNEL_RUN = 1;

// Flags of the working memory every module asks for.
inline constexpr uint32_t KERNEL_MEMORY_FLAGS = MEMF_PUBLIC | MEMF_CLEAR;

// Words of a parameter block, big-endian, by index.
inline uint32_t block_word(const void* block, uint32_t index)
{
    return load_be32(static_cast<const uint8_t*>(block) + 4 * index);
}

inline void set_block_word(void* block, uint32_t index, uint32_t value)
{
    store_be32(static_cast<uint8_t*>(block) + 4 * index, value);
}

// The error word is the last word of the block.
inline void set_block_error(void* block, uint32_t block_size, uint32_t code)
{
    set_block_word(block, block_size / 4 - 1, code);
}

// True when the whole block lies inside one live block of shared memory.
// A block that does not is never read or written.
inline bool block_fits(const void* block, uint32_t block_size)
{
    return block != nullptr && shared_room(block) >= block_size;
}

using kernel_work = uint32_t (*)(void* block);

// The entry protocol: the query command stores 1 in the status word; the run
// command calls the work routine, which flushes what it wrote; any other
// command stores 17 in the error word. The block is flushed last, and the
// result is always 1. The work routine's own result is not looked at.
inline uint32_t kernel_entry(void* block, uint32_t block_size, kernel_work work)
{
    if (!block_fits(block, block_size)) return 1;
    switch (block_word(block, 1)) {
    case KERNEL_QUERY:
        set_block_word(block, 0, 1);
        break;
    case KERNEL_RUN:
        work(block);
        break;
    default:
        set_block_error(block, block_size, KERNEL_BAD_COMMAND);
        break;
    }
    PPCCacheFlush(block, block_size);
    return 1;
}
