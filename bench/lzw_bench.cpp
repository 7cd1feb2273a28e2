// LZW kernels on a 1920 x 1080 8-bit picture, photo-like and flat, beside
// giflib's EGifPutLine and DGifGetLine on the same pixels, in bytes per
// second of pixels. Both decoders read the code stream giflib wrote.
#include <gif_lib.h>

#include <algorithm>

#include "bench/bench_support.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080, kPixels = kWidth * kHeight;

enum class Look { photo, flat };

std::vector<uint8_t> picture(Look look)
{
    return look == Look::photo ? photo_like(kWidth, kHeight, 1) : flat(kWidth, kHeight, 1);
}

struct MemoryFile {
    std::vector<uint8_t> bytes;
    size_t at = 0;
};

int write_memory(GifFileType* gif, const GifByteType* from, int count)
{
    auto& bytes = static_cast<MemoryFile*>(gif->UserData)->bytes;
    bytes.insert(bytes.end(), from, from + count);
    return count;
}

int read_memory(GifFileType* gif, GifByteType* into, int count)
{
    auto* file = static_cast<MemoryFile*>(gif->UserData);
    const size_t n = std::min(size_t(count), file->bytes.size() - file->at);
    std::memcpy(into, file->bytes.data() + file->at, n);
    file->at += n;
    return int(n);
}

// A GIF file of the picture with a 256-entry colour map, line by line.
bool giflib_encode(const std::vector<uint8_t>& pixels, MemoryFile& file)
{
    int error = 0;
    GifFileType* gif = EGifOpen(&file, write_memory, &error);
    if (gif == nullptr) return false;
    ColorMapObject* map = GifMakeMapObject(256, nullptr);
    bool ok = EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr) == GIF_OK;
    std::vector<uint8_t> line(kWidth);
    for (uint32_t y = 0; y < kHeight && ok; ++y) {
        std::memcpy(line.data(), pixels.data() + size_t(y) * kWidth, kWidth);
        ok = EGifPutLine(gif, line.data(), kWidth) == GIF_OK;
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return ok;
}

// The code stream of a GIF file written by giflib_encode: from the code-size
// byte after the image descriptor (13 + 768 + 10 bytes in) to the zero count.
std::vector<uint8_t> code_stream(const std::vector<uint8_t>& file)
{
    size_t at = 13 + 3 * 256 + 10;
    size_t end = at + 1;
    while (end < file.size() && file[end] != 0) end += 1 + file[end];
    return std::vector<uint8_t>(file.begin() + at, file.begin() + std::min(end + 1, file.size()));
}

void BM_LzwPack(benchmark::State& state, Look look)
{
    const host_module* module = host_load_module("lzwpack");
    if (module == nullptr) {
        state.SkipWithError("module not found");
        return;
    }
    uint8_t* pixels = shared_copy(picture(look));
    uint8_t* output = host_alloc(2 * kPixels);
    uint8_t* position = host_alloc(4);
    uint8_t* block = host_new_block(36);
    host_set_word(block, 2, host_address(position));
    host_set_word(block, 3, host_address(pixels));
    host_set_word(block, 4, kWidth);
    host_set_word(block, 5, kHeight);
    host_set_word(block, 6, 8);
    for (auto _ : state) {
        host_set_word(position, 0, host_address(output));
        host_call(module, block, 1);
        benchmark::ClobberMemory();
    }
    if (host_word(block, 8) != 0) state.SkipWithError("the module reported an error");
    state.counters["stream_bytes"] = double(host_word(position, 0) - host_address(output));
    state.SetBytesProcessed(int64_t(state.iterations()) * kPixels);
    host_free(block);
    host_free(position);
    host_free(output);
    host_free(pixels);
}

void BM_GiflibEncode(benchmark::State& state, Look look)
{
    const auto pixels = picture(look);
    size_t size = 0;
    for (auto _ : state) {
        MemoryFile file;
        file.bytes.reserve(2 * kPixels);
        if (!giflib_encode(pixels, file)) state.SkipWithError("giflib failed");
        size = file.bytes.size();
        benchmark::DoNotOptimize(file.bytes.data());
    }
    state.counters["file_bytes"] = double(size);
    state.SetBytesProcessed(int64_t(state.iterations()) * kPixels);
}

void BM_LzwUnpack(benchmark::State& state, Look look)
{
    const host_module* module = host_load_module("lzwunpack");
    MemoryFile file;
    if (module == nullptr || !giflib_encode(picture(look), file)) {
        state.SkipWithError("module not found or giflib failed");
        return;
    }
    const std::vector<uint8_t> stream = code_stream(file.bytes);
    uint8_t* source = shared_copy(stream);
    uint8_t* destination = host_alloc(kPixels);
    uint8_t* block = host_new_block(40);
    host_set_word(block, 2, host_address(source));
    host_set_word(block, 3, host_address(source) + uint32_t(stream.size()));
    host_set_word(block, 4, kWidth);
    host_set_word(block, 5, kHeight);
    host_set_word(block, 6, host_address(destination));
    host_set_word(block, 7, host_address(destination) + kPixels);
    for (auto _ : state) {
        // The sub-blocks are joined in place: each call gets the stream afresh.
        state.PauseTiming();
        std::memcpy(source, stream.data(), stream.size());
        state.ResumeTiming();
        host_call(module, block, 1);
        benchmark::ClobberMemory();
    }
    if (host_word(block, 9) != 0 || !std::equal(destination, destination + kPixels, picture(look).begin()))
        state.SkipWithError("the module did not decode the picture");
    state.SetBytesProcessed(int64_t(state.iterations()) * kPixels);
    host_free(block);
    host_free(destination);
    host_free(source);
}

void BM_GiflibDecode(benchmark::State& state, Look look)
{
    MemoryFile file;
    if (!giflib_encode(picture(look), file)) {
        state.SkipWithError("giflib failed");
        return;
    }
    std::vector<uint8_t> pixels(kPixels);
    for (auto _ : state) {
        file.at = 0;
        int error = 0;
        GifFileType* gif = DGifOpen(&file, read_memory, &error);
        GifRecordType record;
        bool ok = gif != nullptr && DGifGetRecordType(gif, &record) == GIF_OK && DGifGetImageDesc(gif) == GIF_OK;
        for (uint32_t y = 0; y < kHeight && ok; ++y)
            ok = DGifGetLine(gif, pixels.data() + size_t(y) * kWidth, kWidth) == GIF_OK;
        if (gif != nullptr) DGifCloseFile(gif, &error);
        if (!ok) state.SkipWithError("giflib failed");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPixels);
}

BENCHMARK_CAPTURE(BM_LzwPack, photo, Look::photo)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GiflibEncode, photo, Look::photo)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LzwPack, flat, Look::flat)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GiflibEncode, flat, Look::flat)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LzwUnpack, photo, Look::photo)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GiflibDecode, photo, Look::photo)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LzwUnpack, flat, Look::flat)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GiflibDecode, flat, Look::flat)->Unit(benchmark::kMillisecond);

} // namespace
