# Thin front for the CMake build. See README.md for what each target does.
BUILD      ?= build
SAN_BUILD  ?= build-sanitize
JOBS       ?= $(shell nproc)

.PHONY: all test test-sanitize bench clean run windows

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
windows:
	mkdir -p $(WIN_BUILD)
	$(WIN_CXX) -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -fno-exceptions -static \
	  -o $(WIN_BUILD)/Quilmo.exe converter/services.cpp converter/iff.cpp \
	  converter/ilbm.cpp converter/bmp.cpp converter/quilmo.cpp

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(WIN_BUILD)
