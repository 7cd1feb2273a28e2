// Quilmo as a whole process on 4096 × 4096 pictures: start, read, decode,
// write. The inputs are generated once into a scratch directory.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "tests/converter/ilbm_writer.h"

namespace {

namespace fs = std::filesystem;
constexpr std::uint32_t kSide = 4096;

// Never destroyed, so the exit handler that removes it can still use it.
const fs::path& ScratchDir()
{
    static const fs::path* dir = [] {
        auto* d = new fs::path(fs::temp_directory_path() / ("quilmo_bench_" + std::to_string(getpid())));
        fs::create_directories(*d);
        std::atexit([] { fs::remove_all(ScratchDir()); });
        return d;
    }();
    return *dir;
}

// Smooth areas (long ByteRun1 runs) next to noise, as in scanned artwork.
std::uint32_t Texture(std::uint32_t x, std::uint32_t y, std::uint32_t& seed)
{
    seed = seed * 1103515245u + 12345u;
    return (x / 512 + y / 512) % 2 ? (seed >> 8) : ((x / 16) ^ (y / 16)) * 0x010305u;
}

// The texture over the whole picture, each pixel cut to `mask`.
std::vector<std::uint32_t> TexturePixels(std::uint32_t seed, std::uint32_t mask)
{
    std::vector<std::uint32_t> pixels(std::size_t{kSide} * kSide);
    for (std::uint32_t y = 0; y < kSide; ++y)
        for (std::uint32_t x = 0; x < kSide; ++x)
            pixels[std::size_t{y} * kSide + x] = Texture(x, y, seed) & mask;
    return pixels;
}

ilbm::Bytes EightPlanes()
{
    ilbm::Header h{kSide, kSide, 8, 0, 1, 640, 480};
    std::vector<ilbm::Rgb> colours;
    for (int i = 0; i < 256; ++i)
        colours.push_back({std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 5)});
    return ilbm::Picture(h, TexturePixels(1, 0xFF), colours);
}

ilbm::Bytes TrueColour()
{
    ilbm::Header h{kSide, kSide, 24, 0, 1, 640, 480};
    return ilbm::Picture(h, TexturePixels(2, 0xFFFFFF));
}

ilbm::Bytes Ham8()
{
    ilbm::Header h{kSide, kSide, 8, 0, 1, 640, 480};
    std::vector<ilbm::Rgb> colours;
    for (int i = 0; i < 64; ++i)
        colours.push_back({std::uint8_t(i * 4), std::uint8_t(i * 2), std::uint8_t(255 - i * 4)});
    return ilbm::Picture(h, TexturePixels(3, 0xFF), colours, 0x800);
}

fs::path Input(const std::string& name, const std::function<ilbm::Bytes()>& make)
{
    static std::map<std::string, fs::path> made;
    auto it = made.find(name);
    if (it != made.end())
        return it->second;
    const fs::path path = ScratchDir() / (name + ".iff");
    const ilbm::Bytes picture = make();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(picture.data(), 1, picture.size(), f);
        std::fclose(f);
    }
    return made[name] = path;
}

void BM_Quilmo(benchmark::State& state, const char* name, ilbm::Bytes (*make)())
{
#ifndef QUILMO_PATH
    state.SkipWithError("built without the Quilmo converter");
    (void)name, (void)make;
    return;
#else
    const fs::path in = Input(name, make);
    const fs::path out = ScratchDir() / (std::string(name) + ".bmp");
    const std::string command = std::string("'") + QUILMO_PATH + "' '" + in.string() + "' '" + out.string() +
                                "' >/dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("Quilmo failed");
            break;
        }
    }
    state.counters["pixels/s"] =
        benchmark::Counter(double(kSide) * kSide, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["input_MB"] = double(fs::file_size(in)) / 1e6;
#endif
}

BENCHMARK_CAPTURE(BM_Quilmo, 8Planes_ByteRun1, "planes8", EightPlanes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Quilmo, 24Planes_ByteRun1, "planes24", TrueColour)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Quilmo, HAM8_ByteRun1, "ham8", Ham8)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
