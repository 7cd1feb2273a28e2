# Thin front for the CMake build. See README.md for what each target does.
BUILD      ?= build
SAN_BUILD  ?= build-sanitize
JOBS       ?= $(shell nproc)

.PHONY: all test test-sanitize bench clean run windows test-windows

all:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

test: all
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=ON
	cmake --build $(SAN_BUILD) -j $(JOBS)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

bench: all
	$(BUILD)/bench/benchmarks --benchmark_counters_tabular=true

# Convert the bundled sample picture and show the whole report.
SAMPLE     ?= samples/sample.iff
run:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target Quilmo
	$(BUILD)/converter/Quilmo $(SAMPLE) $(BUILD)/sample.bmp

# Quilmo for 32-bit Windows, cross-compiled with MinGW-w64.
WIN_BUILD  ?= build-windows
WIN_CXX    ?= i686-w64-mingw32-g++
WIN64_CXX  ?= x86_64-w64-mingw32-g++
WIN_FLAGS   = -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -fno-exceptions -static
WIN_SOURCES = converter/services.cpp converter/iff.cpp converter/ilbm.cpp converter/bmp.cpp \
              converter/quilmo.cpp
windows:
	mkdir -p $(WIN_BUILD)
	$(WIN_CXX) $(WIN_FLAGS) -o $(WIN_BUILD)/Quilmo.exe $(WIN_SOURCES)

# The converter's process tests against the Windows build, run by Wine, each
# run matched against the native build's. Where 32-bit programs cannot run,
# the 64-bit Windows build stands in (see docs/converter.md).
test-windows: windows
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target Quilmo converter_tests
	if command -v $(WIN64_CXX) >/dev/null; then \
	  $(WIN64_CXX) $(WIN_FLAGS) -o $(WIN_BUILD)/Quilmo64.exe $(WIN_SOURCES); fi
	tests/converter/run_windows.sh $(BUILD)/tests/converter/converter_tests $(WIN_BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(WIN_BUILD)
