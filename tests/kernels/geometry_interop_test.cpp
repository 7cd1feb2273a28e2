// The geometry and filter kernels beside independent programs: doublesize
// against Pillow's nearest-neighbour resize to twice the size, halfsize
// against numpy slicing, soften and crispen against their formulas written
// with numpy arrays, and both rotation modules against a model of the mapping
// in Python floats (IEEE doubles, the C library's sin and cos). Skipped, with
// a message, where Pillow or numpy is missing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "interop.h"
#include "kernel_test.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t E = 0xEE;  // what the host put in every destination

// An interpreter that can import both PIL and numpy; empty when none can.
const std::string& python() { return python_with("PIL, numpy"); }

#define REQUIRE_PYTHON()                                                                                     \
    if (python().empty())                                                                                   \
    GTEST_SKIP() << "Pillow or numpy not found (Debian packages python3-pil, python3-numpy): not compared"

// Reads `manifest`, one case a line, and leaves <name>.ref beside each
// <name>.src: the destination buffer the case should end with, from a
// destination first filled with 0xEE. Soften cases also get <name>.round, the
// same mean rounded to nearest instead of truncated.
constexpr const char* kReference = R"(import math, sys
import numpy as np
from PIL import Image
FILL = 0xEE
folder = sys.argv[1]
for line in open(folder + '/manifest'):
    kind, name, *n = line.split()
    n = [int(v) for v in n]
    src = open('%s/%s.src' % (folder, name), 'rb').read()
    out = folder + '/' + name
    if kind == 'double':
        w, h, bpp = n
        im = Image.frombytes('L' if bpp == 1 else 'RGB', (w, h), src)
        open(out + '.ref', 'wb').write(im.resize((2 * w, 2 * h), Image.NEAREST).tobytes())
    elif kind == 'half':
        w, h, bpp = n
        a = np.frombuffer(src, np.uint8).reshape(h, w, bpp)
        open(out + '.ref', 'wb').write(a[:h // 2 * 2:2, :w // 2 * 2:2].tobytes())
    elif kind in ('soften', 'crispen'):
        w, h = n
        a = np.frombuffer(src, np.uint8).reshape(h, w, 3).astype(np.int64)
        window = [a[dy:h - 2 + dy, dx:w - 2 + dx] for dy in range(3) for dx in range(3)]
        centre = window[4]
        total = sum(window)
        res = np.full((h, w, 3), FILL, np.int64)
        rounded = res.copy()
        if kind == 'soften':
            inner, near = total // 9, np.rint(total / 9.0)
        else:
            lap = 9 * centre - total
            q = ((lap * centre) % 2**32) // 1020
            inner = near = np.clip(centre - q, 0, 255)
        # The interior is rows 1 .. h-2 and columns 1 .. w-2; the kernels
        # leave its last row and column too.
        res[1:h - 2, 1:w - 2] = inner[:h - 3, :w - 3]
        rounded[1:h - 2, 1:w - 2] = near[:h - 3, :w - 3]
        open(out + '.ref', 'wb').write(res.astype(np.uint8).tobytes())
        if kind == 'soften':
            open(out + '.round', 'wb').write(rounded.astype(np.uint8).tobytes())
    elif kind == 'turn':
        bpp, sw, sh, dw, dh, milli, cx, cy = n
        dst = bytearray([FILL]) * (dw * dh * bpp)
        offx, offy = int((dw - sw) / 2), int((dh - sh) / 2)
        cx, cy = float(min(max(cx, 0), sw)), float(min(max(cy, 0), sh))
        theta = (360.0 - milli / 1000.0) / 57.29577951308232
        c, s = math.cos(theta), math.sin(theta)
        cxc, cyc, cxs, cys = cx * c, cy * c, cx * s, cy * s
        for y in range(dh):
            Y = float(y - offy)
            for x in range(dw):
                X = float(x - offx)
                sx = int((((c * X) - (Y * s)) - cxc) + cx + cys)
                if sx < 0 or sx >= sw:
                    continue
                sy = int((((Y * c) + (X * s)) - cxs) + cy - cyc)
                if sy < 0 or sy >= sh:
                    continue
                at = (sy * sw + sx) * bpp
                dst[(y * dw + x) * bpp:(y * dw + x + 1) * bpp] = src[at:at + bpp]
        open(out + '.ref', 'wb').write(bytes(dst))
)";

// Pixels like a photograph: smooth ramps with a little noise, so that the
// box mean often has a remainder and neighbours seldom match exactly.
Bytes photo(uint32_t size, uint32_t seed)
{
    Bytes b(size);
    for (uint32_t i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        b[i] = uint8_t((i / 3) % 200 + (seed >> 27) + (i % 3) * 20);
    }
    return b;
}

class GeometryInterop : public ::testing::Test {
public:
    fs::path dir;
    std::ostringstream manifest;
    int cases = 0;

    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "geometry_interop_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        if (!dir.empty()) fs::remove_all(dir, ignored);
    }

    // Adds a case; returns its name.
    std::string add(const std::string& kind, const Bytes& source, const std::vector<int64_t>& numbers)
    {
        const std::string name = "case" + std::to_string(cases++);
        write_file(dir / (name + ".src"), source);
        manifest << kind << ' ' << name;
        for (int64_t v : numbers) manifest << ' ' << v;
        manifest << '\n';
        return name;
    }

    void compute_references()
    {
        const std::string text = manifest.str();
        write_file(dir / "manifest", Bytes(text.begin(), text.end()));
        write_file(dir / "reference.py", Bytes(kReference, kReference + std::string(kReference).size()));
        ASSERT_TRUE(succeeds(python() + " " + (dir / "reference.py").string() + " " + dir.string()));
    }

    Bytes reference(const std::string& name, const char* suffix = ".ref") { return read_file(dir / (name + suffix)); }
};

// One run of doublesize or halfsize on `source`, into a destination of
// `destination_size` bytes filled with E.
Bytes run_scaling(const char* module, uint32_t w, uint32_t h, uint32_t depth, const Bytes& source,
                  uint32_t destination_size)
{
    SharedArena arena;
    uint8_t* out = arena.fill(destination_size, E);
    uint8_t* block = arena.block(32, {{2, host_address(arena.copy(source))}, {3, host_address(out)}, {4, w},
                                      {5, h}, {6, depth}});
    host_call(load_module(module), block, 1);
    return bytes_of(out, destination_size);
}

uint8_t* picture(SharedArena& arena, uint32_t w, uint32_t h, uint8_t* pixels, uint32_t length)
{
    uint8_t* r = arena.alloc(820);
    host_set_word(r, 2, w);
    host_set_word(r, 3, h);
    host_set_word(r, 200, host_address(pixels));
    host_set_word(r, 201, length);
    return r;
}

// One run of a module that takes two picture records (the filters, the
// rotations), the destination filled with E; `words` fills the block from
// word 4 on.
Bytes run_records(const char* module, uint32_t block_size, uint32_t sw, uint32_t sh, const Bytes& source,
                  uint32_t dw, uint32_t dh, uint32_t bpp, std::vector<uint32_t> words = {})
{
    SharedArena arena;
    uint8_t* out = arena.fill(dw * dh * bpp, E);
    uint8_t* block = arena.block(block_size);
    host_set_word(block, 2, host_address(picture(arena, sw, sh, arena.copy(source), uint32_t(source.size()))));
    host_set_word(block, 3, host_address(picture(arena, dw, dh, out, dw * dh * bpp)));
    for (size_t i = 0; i < words.size(); ++i) host_set_word(block, uint32_t(4 + i), words[i]);
    host_call(load_module(module), block, 1);
    return bytes_of(out, dw * dh * bpp);
}

// Runs `module` on pictures of the given sizes at depths 8 and 24 and
// compares each destination with the reference of `kind`. The destination has
// one byte more than the reference, which must stay as it was.
void compare_scaling(GeometryInterop& t, const char* module, const char* kind,
                     const std::vector<std::pair<uint32_t, uint32_t>>& sizes)
{
    struct Case {
        uint32_t w, h, depth;
        std::string name;
    };
    std::vector<Case> all;
    for (uint32_t depth : {8u, 24u})
        for (auto [w, h] : sizes) {
            const uint32_t bpp = depth == 24 ? 3 : 1;
            all.push_back({w, h, depth, t.add(kind, photo(w * h * bpp, 3 * w + h), {w, h, bpp})});
        }
    t.compute_references();
    for (const auto& c : all) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h) + " at depth " + std::to_string(c.depth));
        const Bytes expected = t.reference(c.name);
        const Bytes source = read_file(t.dir / (c.name + ".src"));
        Bytes ours = run_scaling(module, c.w, c.h, c.depth, source, uint32_t(expected.size() + 1));
        EXPECT_EQ(ours.back(), E);
        ours.pop_back();
        EXPECT_EQ(ours, expected);
    }
}

TEST_F(GeometryInterop, DoublesizeEqualsPillowsNearestResizeToTwiceTheSize)
{
    REQUIRE_PYTHON();
    compare_scaling(*this, "doublesize", "double", {{1, 1}, {2, 1}, {3, 5}, {17, 9}, {64, 3}, {101, 37}});
}

TEST_F(GeometryInterop, HalfsizeEqualsNumpySlicingOfTheEvenPart)
{
    // Pillow's nearest reduction keeps the bottom-right pixel of each 2 x 2
    // block; halfsize keeps the top-left one, which is a[0::2, 0::2] once an
    // odd last row or column is cut off.
    REQUIRE_PYTHON();
    compare_scaling(*this, "halfsize", "half", {{1, 1}, {2, 2}, {5, 3}, {7, 8}, {33, 17}, {128, 64}});
}

TEST_F(GeometryInterop, FiltersEqualTheirFormulasOnNumpyArrays)
{
    // Soften is compared with numpy's 3 x 3 sum floor-divided by 9, on the
    // samples the kernels write (rows 1 .. h-3, columns 1 .. w-3), the rest
    // of the destination unchanged. The mean rounded to nearest must differ
    // somewhere, so that the pictures tell truncation from rounding.
    REQUIRE_PYTHON();
    struct Case {
        const char* module;
        uint32_t w, h;
        std::string name;
    };
    std::vector<Case> all;
    for (const char* module : {"soften", "crispen"})
        for (auto [w, h] : {std::pair{4u, 4u}, {5u, 7u}, {23u, 17u}, {64u, 48u}})
            all.push_back({module, w, h, add(module, photo(3 * w * h, w * h), {w, h})});
    compute_references();
    for (const auto& c : all) {
        SCOPED_TRACE(std::string(c.module) + " " + std::to_string(c.w) + " x " + std::to_string(c.h));
        const Bytes source = read_file(dir / (c.name + ".src"));
        const Bytes ours = run_records(c.module, 20, c.w, c.h, source, c.w, c.h, 3);
        EXPECT_EQ(ours, reference(c.name));
        if (std::string(c.module) == "soften" && c.w * c.h > 16) {
            EXPECT_NE(ours, reference(c.name, ".round"));
        }
    }
}

TEST_F(GeometryInterop, RotationEqualsTheMappingInPythonDoubles)
{
    REQUIRE_PYTHON();
    struct Case {
        const char* module;
        uint32_t sw, sh, dw, dh;
        int32_t milli, cx, cy;
        std::string name;
    };
    struct Geometry {
        uint32_t sw, sh, dw, dh;
        int32_t cx, cy;
    };
    const Geometry geometries[] = {{7, 5, 9, 6, 3, 2}, {20, 13, 20, 13, -5, 99999}, {16, 16, 10, 24, 10, 6},
                                   {31, 9, 12, 40, 15, 4}};
    const int32_t angles[] = {0, 360000, 90000, 180000, 45000, -30000, 123456, 720000, INT32_MIN, INT32_MAX};
    std::vector<Case> all;
    for (const char* module : {"turntrue", "turnindexed"}) {
        const uint32_t bpp = std::string(module) == "turntrue" ? 3 : 1;
        for (const Geometry& g : geometries)
            for (int32_t angle : angles)
                all.push_back({module, g.sw, g.sh, g.dw, g.dh, angle, g.cx, g.cy,
                               add("turn", photo(g.sw * g.sh * bpp, g.sw + uint32_t(angle)),
                                   {bpp, g.sw, g.sh, g.dw, g.dh, angle, g.cx, g.cy})});
    }
    compute_references();
    for (const auto& c : all) {
        SCOPED_TRACE(std::string(c.module) + " " + std::to_string(c.sw) + " x " + std::to_string(c.sh) + " into " +
                     std::to_string(c.dw) + " x " + std::to_string(c.dh) + ", angle " + std::to_string(c.milli));
        const uint32_t bpp = std::string(c.module) == "turntrue" ? 3 : 1;
        const Bytes source = read_file(dir / (c.name + ".src"));
        const Bytes ours = run_records(c.module, 32, c.sw, c.sh, source, c.dw, c.dh, bpp,
                                       {uint32_t(c.milli), uint32_t(c.cx), uint32_t(c.cy)});
        EXPECT_EQ(ours, reference(c.name));
    }
}

} // namespace
