// ByteRun1 kernels on a 1920 x 1080 picture: rununpack and runpack on its
// 8-plane bitmap, pbmload and pbmstore on its chunky form, in bytes per second
// of unpacked data, beside memcpy of the same bytes.
#include "bench/bench_support.h"
#include "kernels/ilbm/planar.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080, kPlanes = 8;
constexpr uint32_t kRowBytes = (kWidth + 7) / 8;  // even: no padding byte
constexpr uint32_t kBitmapSize = kRowBytes * kHeight * kPlanes;
constexpr uint32_t kChunkySize = kWidth * kHeight;
constexpr uint32_t kPackRoom = kBitmapSize + kBitmapSize / 128 + kHeight * kPlanes;

std::vector<uint8_t> chunky(bool photo) { return photo ? photo_like(kWidth, kHeight, 1) : flat(kWidth, kHeight, 1); }

// The chunky picture as an 8-plane bitmap.
std::vector<uint8_t> bitmap(bool photo)
{
    const auto pixels = chunky(photo);
    std::vector<uint8_t> planar(kBitmapSize);
    for (uint32_t y = 0; y < kHeight; ++y) {
        uint8_t* rows[kPlanes];
        for (uint32_t k = 0; k < kPlanes; ++k) rows[k] = planar.data() + (k * kHeight + y) * kRowBytes;
        planes_from_pixel_row<1>(pixels.data() + y * kWidth, kWidth, rows, kPlanes);
    }
    return planar;
}

struct Packed {
    uint8_t* bytes;
    uint32_t size;
};

// Runs a packer (source, destination and scratch in words 2 to 4, its
// dimensions from word 5, the packed count in `count_word`) once into a fresh
// buffer, which stays with the caller.
Packed pack(const host_module* packer, uint8_t* block, const uint8_t* source, uint8_t* scratch,
            std::initializer_list<uint32_t> dimensions, uint32_t count_word)
{
    uint8_t* out = host_alloc(kPackRoom);
    host_set_word(block, 2, host_address(source));
    host_set_word(block, 3, host_address(out));
    host_set_word(block, 4, host_address(scratch));
    uint32_t index = 5;
    for (uint32_t value : dimensions) host_set_word(block, index++, value);
    host_call(packer, block, 1);
    return {out, host_word(block, count_word)};
}

Packed pack_bitmap(const host_module* runpack, uint8_t* block, const uint8_t* source, uint8_t* scratch)
{
    return pack(runpack, block, source, scratch, {kHeight, kPlanes, kRowBytes}, 8);
}

Packed pack_chunky(const host_module* pbmstore, uint8_t* block, const uint8_t* source, uint8_t* scratch)
{
    return pack(pbmstore, block, source, scratch, {kHeight, kWidth}, 7);
}

// Calls the module on the block, `bytes` of unpacked data a call; the packed
// size goes beside the figure.
void run(benchmark::State& state, const host_module* module, uint8_t* block, uint32_t bytes, uint32_t packed)
{
    for (auto _ : state) {
        host_call(module, block, 1);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
    state.counters["packed"] = packed;
}

void free_all(std::initializer_list<void*> buffers)
{
    for (void* p : buffers) host_free(p);
}

// A packer on its picture: runpack on the bitmap, pbmstore on the chunky one.
void BM_Pack(benchmark::State& state, bool planar, bool photo)
{
    const host_module* packer = host_load_module(planar ? "runpack" : "pbmstore");
    if (packer == nullptr) return state.SkipWithError("module not found");
    uint8_t* source = shared_copy(planar ? bitmap(photo) : chunky(photo));
    uint8_t* scratch = host_alloc(254);
    uint8_t* block = host_new_block(planar ? 40 : 36);
    const Packed packed = (planar ? pack_bitmap : pack_chunky)(packer, block, source, scratch);
    run(state, packer, block, kBitmapSize, packed.size);
    free_all({packed.bytes, block, scratch, source});
}

void BM_RunPack(benchmark::State& state, bool photo) { BM_Pack(state, true, photo); }
void BM_PbmStore(benchmark::State& state, bool photo) { BM_Pack(state, false, photo); }

void BM_RunUnpack(benchmark::State& state, bool photo)
{
    const host_module* runpack = host_load_module("runpack");
    const host_module* rununpack = host_load_module("rununpack");
    if (runpack == nullptr || rununpack == nullptr) return state.SkipWithError("module not found");
    uint8_t* source = shared_copy(bitmap(photo));
    uint8_t* scratch = host_alloc(254);
    uint8_t* pack_block = host_new_block(40);
    const Packed packed = pack_bitmap(runpack, pack_block, source, scratch);

    uint8_t* row = host_alloc(kRowBytes + 127);
    uint8_t* planar = host_alloc(kBitmapSize);
    uint8_t* block = host_new_block(52);
    host_set_word(block, 2, host_address(row));
    host_set_word(block, 3, host_address(packed.bytes));
    host_set_word(block, 4, host_address(planar));
    host_set_word(block, 5, kPlanes);
    host_set_word(block, 7, kHeight);
    host_set_word(block, 9, kRowBytes);
    host_set_word(block, 10, kRowBytes);
    host_set_word(block, 11, kRowBytes * kHeight);
    run(state, rununpack, block, kBitmapSize, packed.size);
    if (std::memcmp(planar, source, kBitmapSize) != 0) state.SkipWithError("round trip differs");
    free_all({block, planar, row, packed.bytes, pack_block, scratch, source});
}

void BM_PbmLoad(benchmark::State& state, bool photo)
{
    const host_module* pbmstore = host_load_module("pbmstore");
    const host_module* pbmload = host_load_module("pbmload");
    if (pbmstore == nullptr || pbmload == nullptr) return state.SkipWithError("module not found");
    uint8_t* source = shared_copy(chunky(photo));
    uint8_t* scratch = host_alloc(254);
    uint8_t* store_block = host_new_block(36);
    const Packed packed = pack_chunky(pbmstore, store_block, source, scratch);

    uint8_t* picture = host_alloc(kChunkySize);
    uint8_t* row = host_alloc(kWidth + 127);
    uint8_t* block = host_new_block(44);
    host_set_word(block, 2, host_address(packed.bytes));
    host_set_word(block, 3, host_address(picture));
    host_set_word(block, 4, host_address(row));
    host_set_word(block, 6, kHeight);
    host_set_word(block, 7, kWidth);
    host_set_word(block, 8, kWidth);
    run(state, pbmload, block, kChunkySize, packed.size);
    if (std::memcmp(picture, source, kChunkySize) != 0) state.SkipWithError("round trip differs");
    free_all({block, row, picture, packed.bytes, store_block, scratch, source});
}

void BM_MemcpyPicture(benchmark::State& state) { bench_memcpy(state, kBitmapSize); }

static_assert(kBitmapSize == kChunkySize, "one memcpy figure serves both layouts");

BENCHMARK(BM_MemcpyPicture);
BENCHMARK_CAPTURE(BM_RunPack, photo, true);
BENCHMARK_CAPTURE(BM_RunPack, flat, false);
BENCHMARK_CAPTURE(BM_RunUnpack, photo, true);
BENCHMARK_CAPTURE(BM_RunUnpack, flat, false);
BENCHMARK_CAPTURE(BM_PbmStore, photo, true);
BENCHMARK_CAPTURE(BM_PbmStore, flat, false);
BENCHMARK_CAPTURE(BM_PbmLoad, photo, true);
BENCHMARK_CAPTURE(BM_PbmLoad, flat, false);

} // namespace
