// Running Quilmo as a process, reading back the BMPs it writes (with our own
// reader and with Pillow), and scratch directories for the files.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ilbm_writer.h"

namespace harness {

namespace fs = std::filesystem;
using ilbm::Bytes;

inline const std::string kOpening =
    "\nQuilmo 1.00"
    "\nConverts Amiga IFF-ILBM files to Windows BMP format."
    "\nWorks on 1..8, 24 bit and HAM images.";

inline std::string Quote(const std::string& s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

struct Outcome {
    std::string out;
    int status = -1;
};

inline Outcome RunShell(const std::string& command)
{
    Outcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, got);
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
    return run;
}

inline void WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const fs::path& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

// The program the process tests run. By default the native build; to test
// another build of the same sources, QUILMO_PROGRAM names it and
// QUILMO_RUNNER (shell text, may be empty) the command that starts it, such
// as Wine for Quilmo.exe.
struct Program {
    std::string path;
    std::string runner;
    bool windows = false;   // a Windows build: its line ends are "\r\n"
    bool native = true;     // the build whose path is compiled in
};

inline const Program& Tested()
{
    static const Program program = [] {
        Program p{QUILMO_PATH, "", false, true};
        if (const char* path = std::getenv("QUILMO_PROGRAM"); path && *path) {
            p.path = path;
            p.native = false;
            if (const char* runner = std::getenv("QUILMO_RUNNER"))
                p.runner = runner;
            std::string lower = p.path;
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            p.windows = lower.ends_with(".exe");
        }
        return p;
    }();
    return program;
}

inline Outcome RunProgram(const std::string& runner, const std::string& path,
                          const std::vector<std::string>& args, const std::string& prefix)
{
    std::string command = prefix;
    command += "exec ";
    if (!runner.empty())
        command += runner + " ";
    command += Quote(path);
    for (const std::string& a : args) {
        command += ' ';
        command += Quote(a);
    }
    return RunShell(command);
}

// A Windows build's console text has "\r\n" for every line break; the
// report is compared in the native form.
inline std::string FromWindowsLineEnds(const std::string& out)
{
    std::string plain;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r'))
            ADD_FAILURE() << "bare line feed at byte " << i << " of the Windows build's output";
        if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n')
            continue;
        plain += out[i];
    }
    return plain;
}

// `prefix` is shell text run before Quilmo in the same shell (limits, traps).
// When another build is tested, the native build then converts the same input
// (into the output name with ".native" added) and must print the same report,
// end with the same status and write the same bytes.
inline Outcome RunQuilmo(const std::vector<std::string>& args, const std::string& prefix = "")
{
    const Program& program = Tested();
    Outcome run = RunProgram(program.runner, program.path, args, prefix);
    if (program.windows)
        run.out = FromWindowsLineEnds(run.out);
    if (program.native || args.size() < 2)
        return run;

    std::vector<std::string> nativeArgs = args;
    nativeArgs[1] += ".native";
    const Outcome native = RunProgram("", QUILMO_PATH, nativeArgs, prefix);
    EXPECT_EQ(run.out, native.out) << "reports of " << program.path << " and the native build differ";
    EXPECT_EQ(run.status, native.status) << "exit status of " << program.path << " and the native build differ";
    const bool wrote = fs::exists(args[1]);
    EXPECT_EQ(wrote, fs::exists(nativeArgs[1])) << args[1];
    if (wrote && fs::exists(nativeArgs[1])) {
        EXPECT_TRUE(ReadFile(args[1]) == ReadFile(nativeArgs[1]))
            << args[1] << ": " << program.path << " and the native build wrote different bytes";
    }
    std::error_code ignored;
    fs::remove(nativeArgs[1], ignored);
    return run;
}

// A fresh directory per test, removed afterwards.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name)
            if (c == '/')
                c = '_';
        dir = fs::temp_directory_path() / ("quilmo_" + std::to_string(getpid()) + "_" + name);
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Path(const std::string& name) const { return (dir / name).string(); }

    // Writes `picture` to in.iff, converts it to out.bmp.
    Outcome Convert(const Bytes& picture)
    {
        WriteFile(Path("in.iff"), picture);
        return RunQuilmo({Path("in.iff"), Path("out.bmp")});
    }

    fs::path dir;
};

inline std::uint32_t LE32(const Bytes& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

inline std::uint32_t LE16(const Bytes& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8;
}

// Top row first, three bytes red, green, blue per pixel.
struct Rgb24 {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    Bytes rgb;
    bool operator==(const Rgb24&) const = default;
};

inline void PrintTo(const Rgb24& p, std::ostream* os)
{
    *os << p.width << "x" << p.height << " {";
    for (std::size_t i = 0; i < p.rgb.size() && i < 96; ++i)
        *os << (i % 3 ? "," : " ") << int(p.rgb[i]);
    *os << (p.rgb.size() > 96 ? " ...}" : " }");
}

// Our own reading of an uncompressed bottom-up BMP.
inline Rgb24 DecodeBmp(const Bytes& b)
{
    Rgb24 p;
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M')
        return p;
    p.width = LE32(b, 18);
    p.height = LE32(b, 22);
    const std::uint32_t bits = LE16(b, 28);
    const std::uint32_t offset = LE32(b, 10);
    const std::size_t row = ((static_cast<std::size_t>(p.width) * bits + 31) / 32) * 4;
    for (std::uint32_t y = 0; y < p.height; ++y) {
        const std::size_t start = offset + (p.height - 1 - y) * row;
        for (std::uint32_t x = 0; x < p.width; ++x) {
            std::uint32_t index = 0;
            if (bits == 24) {
                const std::size_t at = start + 3 * x;
                p.rgb.insert(p.rgb.end(), {b.at(at + 2), b.at(at + 1), b.at(at)});
                continue;
            }
            if (bits == 8) {
                index = b.at(start + x);
            } else if (bits == 4) {
                index = (b.at(start + x / 2) >> (x % 2 ? 0 : 4)) & 15;
            } else {
                index = (b.at(start + x / 8) >> (7 - x % 8)) & 1;
            }
            const std::size_t entry = 54 + 4 * index;
            p.rgb.insert(p.rgb.end(), {b.at(entry + 2), b.at(entry + 1), b.at(entry)});
        }
    }
    return p;
}

// The interpreter that imports Pillow, if there is one.
inline const std::optional<std::string>& PillowPython()
{
    static const std::optional<std::string> python = []() -> std::optional<std::string> {
        for (const char* candidate : {"/usr/bin/python3", "python3"})
            if (RunShell(std::string(candidate) + " -c 'import PIL.Image' 2>/dev/null").status == 0)
                return std::string(candidate);
        return std::nullopt;
    }();
    return python;
}

inline std::optional<Rgb24> DecodeWithPillow(const std::string& path)
{
    const auto& python = PillowPython();
    if (!python)
        return std::nullopt;
    const std::string script =
        "import sys\nfrom PIL import Image\n"
        "im = Image.open(sys.argv[1])\nim.load()\n"
        "print(im.size[0], im.size[1], im.convert('RGB').tobytes().hex())\n";
    Outcome run = RunShell(*python + " -c " + Quote(script) + " " + Quote(path) + " 2>&1");
    Rgb24 p;
    std::istringstream in(run.out);
    std::string hex;
    in >> p.width >> p.height >> hex;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        p.rgb.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    if (run.status != 0)
        ADD_FAILURE() << "Pillow could not read " << path << ": " << run.out;
    return p;
}

// The BMP at `path` shows `expected`, by our reader and by Pillow's (when it
// is installed; the Interop suite reports when it is not).
inline void ExpectPixels(const std::string& path, const Rgb24& expected)
{
    EXPECT_EQ(DecodeBmp(ReadFile(path)), expected) << "own reader, " << path;
    if (auto pillow = DecodeWithPillow(path)) {
        EXPECT_EQ(*pillow, expected) << "Pillow, " << path;
    }
}

// Expected true colour of palette pictures.
inline Rgb24 FromPalette(const std::vector<std::uint32_t>& pixels, std::uint32_t width,
                         std::uint32_t height, const std::vector<ilbm::Rgb>& colours)
{
    Rgb24 p{width, height, {}};
    for (std::uint32_t v : pixels) {
        const ilbm::Rgb c = v < colours.size() ? colours[v] : ilbm::Rgb{0, 0, 0};
        p.rgb.insert(p.rgb.end(), c.begin(), c.end());
    }
    return p;
}

// A colour ramp.
inline std::vector<ilbm::Rgb> Ramp(std::uint32_t count)
{
    std::vector<ilbm::Rgb> colours;
    for (std::uint32_t i = 0; i < count; ++i)
        colours.push_back({static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(i * 91 + 5),
                           static_cast<std::uint8_t>(255 - i)});
    return colours;
}

// Values below 2^planes, with runs (for ByteRun1) and noise.
inline std::vector<std::uint32_t> Pattern(std::uint32_t width, std::uint32_t height, std::uint32_t planes)
{
    std::vector<std::uint32_t> pixels;
    std::uint32_t seed = 12345;
    const std::uint64_t limit = std::uint64_t{1} << planes;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            seed = seed * 1103515245 + 12345;
            const std::uint64_t v = x < width / 2 ? (y * 7 + x / 4) : (seed >> 8);
            pixels.push_back(static_cast<std::uint32_t>(v % limit));
        }
    return pixels;
}

} // namespace harness
