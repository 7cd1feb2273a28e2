// Shared helpers of the kernel tests: an arena of shared-memory buffers that
// frees itself, block set-up, snapshots of shared memory and the flush log.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <span>
#include <utility>
#include <vector>

#include "host/host.h"

// Loads a module, failing the test when it cannot be found.
const host_module* load_module(const char* name);

// Host buffers in shared memory, freed when the arena goes.
struct SharedArena {
    std::vector<void*> owned;
    SharedArena() = default;
    SharedArena(const SharedArena&) = delete;
    SharedArena& operator=(const SharedArena&) = delete;
    ~SharedArena();

    uint8_t* alloc(uint32_t size);                      // zero-filled
    uint8_t* copy(std::span<const uint8_t> bytes);      // exactly these bytes
    uint8_t* fill(uint32_t size, uint8_t value);
    // A block of `size` bytes with the given (index, value) words set.
    uint8_t* block(uint32_t size, std::initializer_list<std::pair<uint32_t, uint32_t>> words = {});
};

inline std::vector<uint8_t> bytes_of(const uint8_t* p, uint32_t n) { return std::vector<uint8_t>(p, p + n); }

// Every live block of shared memory, with its bytes.
struct SharedSnapshot {
    std::vector<uint32_t> addresses;
    std::vector<std::vector<uint8_t>> bytes;
};
SharedSnapshot take_snapshot();

// Shared addresses whose byte differs between two snapshots (blocks live in
// both only).
std::vector<uint32_t> changed_addresses(const SharedSnapshot& before, const SharedSnapshot& after);

struct FlushRange {
    const uint8_t* start;
    uint32_t length;
};

// Switches the flush log on (cleared) for the life of the object.
struct FlushLog {
    FlushLog();
    ~FlushLog();
    std::vector<FlushRange> entries() const;
};

bool covered_by(const std::vector<FlushRange>& ranges, const uint8_t* p);

// A run may take no more time than its data calls for. The unit is not a
// second but the time this thread takes to fill a byte: the budget of one run
// is what filling 64 MiB costs here, far more than any small test run needs,
// far less than a loop over 2^32 empty rows or planes. Thread time leaves out
// whatever else the machine is doing.
//
// Copies `words` into the block, calls the module and says whether the run
// stayed inside the budget. A run that did not is tried once more, so that
// one interrupted run is not taken for a slow one.
bool run_within_work_budget(const host_module* module, uint8_t* block, std::span<const uint8_t> words);
