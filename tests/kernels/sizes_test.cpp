// Blocks whose size words, multiplied out without a check, pass 64 bits and
// wrap to a size that a small buffer passes; and blocks whose counts would
// keep a module busy for seconds over nothing. Each module refuses the first
// kind with error 14 and writes nothing, and ends the second at once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel_test.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kHostError = 0xABCD;
constexpr uint8_t E = 0xEE;

struct SizeCase {
    const char* what;
    const char* module;
    uint32_t block_words;
    // Argument words from word 2 on; kSource, kDestination and kScratch stand
    // for the addresses of the buffers below.
    std::vector<uint32_t> words;
    uint32_t source_size, destination_size, scratch_size;
    uint32_t error;  // kHostError: left alone
};

constexpr uint32_t kSource = 0xFFFF0001, kDestination = 0xFFFF0002, kScratch = 0xFFFF0003;

TEST(Sizes, ProductsThatPass64BitsAreRefusedAndCountsOverNothingEndAtOnce)
{
    const std::vector<SizeCase> cases = {
        {"pcxload24: width 2^31 x 4 planes x height 2^31 wraps to 0", "pcxload24", 10,
         {kSource, kDestination, 0x80000000, 0x80000000, 32, 1}, 64, 1, 0, 14},
        {"pcxload4: 4 row bytes x height 2^31 x 2^31 planes wraps to 0", "pcxload4", 11,
         {kSource, kDestination, kScratch, 32, 0x80000000, 0x80000000, 4}, 64, 1, 4, 14},
        {"bmpload: 3 x width x height wraps to 32 at depth 24", "bmpload", 9,
         {kSource, kDestination, 1684887088, 3649452082, 24}, 32, 32, 0, 14},
        {"pcxload4: no planes over 2^32 - 1 rows", "pcxload4", 11,
         {kSource, kDestination, kScratch, 8, 0xFFFFFFFF, 0, 1}, 64, 1, 1, kHostError},
        {"rununpack: 65536 x 65536 empty plane rows copied over one another", "rununpack", 13,
         {kScratch, kSource, kDestination, 65536, 0, 65536, 0, 1, 0, 1}, 64, 131072, 128, 14},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.what);
        SharedArena arena;
        uint8_t* source = arena.fill(c.source_size, 0xC1);
        uint8_t* destination = arena.fill(c.destination_size, E);
        uint8_t* scratch = c.scratch_size ? arena.fill(c.scratch_size, E) : nullptr;
        uint8_t* block = arena.block(4 * c.block_words);
        host_set_word(block, 1, 1);
        for (size_t i = 0; i < c.words.size(); ++i) {
            const uint32_t w = c.words[i];
            const uint32_t value = w == kSource ? host_address(source)
                                   : w == kDestination ? host_address(destination)
                                   : w == kScratch ? host_address(scratch)
                                                   : w;
            host_set_word(block, uint32_t(2 + i), value);
        }
        host_set_word(block, c.block_words - 1, kHostError);
        const Bytes words = bytes_of(block, 4 * c.block_words);
        ASSERT_TRUE(run_within_work_budget(load_module(c.module), block, words));
        EXPECT_EQ(host_word(block, c.block_words - 1), c.error);
        EXPECT_EQ(bytes_of(destination, c.destination_size), Bytes(c.destination_size, E)) << "nothing written";
    }
}

} // namespace
