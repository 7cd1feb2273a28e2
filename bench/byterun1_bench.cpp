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

// runpack over the bitmap into a fresh buffer; the packed body stays with
// the caller.
Packed pack_bitmap(const host_module* runpack, const uint8_t* source, uint8_t* scratch, uint8_t* block)
{
    uint8_t* out = host_alloc(kPackRoom);
    host_set_word(block, 2, host_address(source));
    host_set_word(block, 3, host_address(out));
    host_set_word(block, 4, host_address(scratch));
    host_set_word(block, 5, kHeight);
    host_set_word(block, 6, kPlanes);
    host_set_word(block, 7, kRowBytes);
    host_call(runpack, block, 1);
    return {out, host_word(block, 8)};
}

void BM_RunPack(benchmark::State& state, bool photo)
{
    const host_module* runpack = host_load_module("runpack");
    if (runpack == nullptr) return state.SkipWithError("module not found");
    uint8_t* source = shared_copy(bitmap(photo));
    uint8_t* scratch = host_alloc(254);
    uint8_t* block = host_new_block(40);
    const Packed packed = pack_bitmap(runpack, source, scratch, block);
    run(state, runpack, block, kBitmapSize, packed.size);
    host_free(packed.bytes);
    host_free(block);
    host_free(scratch);
    host_free(source);
}

void BM_RunUnpack(benchmark::State& state, bool photo)
{
    const host_module* runpack = host_load_module("runpack");
    const host_module* rununpack = host_load_module("rununpack");
    if (runpack == nullptr || rununpack == nullptr) return state.SkipWithError("module not found");
    uint8_t* source = shared_copy(bitmap(photo));
    uint8_t* scratch = host_alloc(254);
    uint8_t* pack_block = host_new_block(40);
    const Packed packed = pack_bitmap(runpack, source, scratch, pack_block);

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
    for (void* p : {(void*)block, (void*)planar, (void*)row, (void*)packed.bytes, (void*)pack_block, (void*)scratch,
                    (void*)source})
        host_free(p);
}

void BM_PbmStore(benchmark::State& state, bool photo)
{
    const host_module* pbmstore = host_load_module("pbmstore");
    if (pbmstore == nullptr) return state.SkipWithError("module not found");
    uint8_t* source = shared_copy(chunky(photo));
    uint8_t* out = host_alloc(kPackRoom);
    uint8_t* scratch = host_alloc(254);
    uint8_t* block = host_new_block(36);
    host_set_word(block, 2, host_address(source));
    host_set_word(block, 3, host_address(out));
    host_set_word(block, 4, host_address(scratch));
    host_set_word(block, 5, kHeight);
    host_set_word(block, 6, kWidth);
    host_call(pbmstore, block, 1);
    run(state, pbmstore, block, kChunkySize, host_word(block, 7));
    for (void* p : {(void*)block, (void*)scratch, (void*)out, (void*)source}) host_free(p);
}

void BM_PbmLoad(benchmark::State& state, bool photo)
{
    const host_module* pbmstore = host_load_module("pbmstore");
    const host_module* pbmload = host_load_module("pbmload");
    if (pbmstore == nullptr || pbmload == nullptr) return state.SkipWithError("module not found");
    uint8_t* source = shared_copy(chunky(photo));
    uint8_t* packed = host_alloc(kPackRoom);
    uint8_t* scratch = host_alloc(254);
    uint8_t* store_block = host_new_block(36);
    host_set_word(store_block, 2, host_address(source));
    host_set_word(store_block, 3, host_address(packed));
    host_set_word(store_block, 4, host_address(scratch));
    host_set_word(store_block, 5, kHeight);
    host_set_word(store_block, 6, kWidth);
    host_call(pbmstore, store_block, 1);

    uint8_t* picture = host_alloc(kChunkySize);
    uint8_t* row = host_alloc(kWidth + 127);
    uint8_t* block = host_new_block(44);
    host_set_word(block, 2, host_address(packed));
    host_set_word(block, 3, host_address(picture));
    host_set_word(block, 4, host_address(row));
    host_set_word(block, 6, kHeight);
    host_set_word(block, 7, kWidth);
    host_set_word(block, 8, kWidth);
    run(state, pbmload, block, kChunkySize, host_word(store_block, 7));
    if (std::memcmp(picture, source, kChunkySize) != 0) state.SkipWithError("round trip differs");
    for (void* p : {(void*)block, (void*)row, (void*)picture, (void*)store_block, (void*)scratch, (void*)packed,
                    (void*)source})
        host_free(p);
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
