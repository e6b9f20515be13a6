# Convenience front end over CMake. `make test` and `make demo` are the README's quick start.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# Most end-to-end cases sleep through the protocol's fixed waits, so many run side by side.
CTEST_JOBS ?= 32
GENERATOR  := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)

.PHONY: all build test test-asan test-unit demo bench fuzz fuzz-smoke matrix install package check-format check-texts clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

# Every test: unit tests, fuzz seed replays and the end-to-end cases against vestrun-sim.
# A plain build makes the tests only when GoogleTest is there; here they are
# asked for, so a missing GoogleTest is an error that says what to install.
test: $(BUILD)/CMakeCache.txt
	cmake -S . -B $(BUILD) -DVESTRUN_TESTS=ON >/dev/null
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j$(CTEST_JOBS) --timeout 900

test-unit: $(BUILD)/CMakeCache.txt
	cmake -S . -B $(BUILD) -DVESTRUN_TESTS=ON >/dev/null
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS) -L unit

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVESTRUN_SANITIZE=ON -DVESTRUN_TESTS=ON -DVESTRUN_BENCH=OFF

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j$(CTEST_JOBS) --timeout 900

demo: build
	scripts/demo.sh $(BUILD)

bench: $(BUILD)/CMakeCache.txt
	cmake -S . -B $(BUILD) -DVESTRUN_BENCH=ON >/dev/null
	cmake --build $(BUILD) -j$(JOBS)
	bench/run.sh $(BUILD)

$(FUZZ_BUILD)/CMakeCache.txt:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug \
		-DVESTRUN_FUZZ=ON -DVESTRUN_TESTS=OFF -DVESTRUN_BENCH=OFF

fuzz: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j$(JOBS)

# A few seconds per fuzz target; FUZZ_SECONDS=600 for a long run. First the
# bytes of the texts: the targets must exercise the tool as it is shipped.
fuzz-smoke: fuzz
	$(FUZZ_BUILD)/vestrun-text-bytes
	tests/scripts/fuzz.sh $(FUZZ_BUILD) $${FUZZ_SECONDS:-10}

# docs/fault-matrix.md: every frame of a run under every fault of the stand-in, the
# whole run in the test's process over the fake line (the model in tests/test_fault_matrix.cpp).
matrix: $(BUILD)/CMakeCache.txt
	cmake -S . -B $(BUILD) -DVESTRUN_TESTS=ON >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target test_fault_matrix
	VESTRUN_MATRIX_DOC=docs/fault-matrix.md $(BUILD)/tests/test_fault_matrix

# Installs vestrun, vestrun-sim, their manual pages, the README and the
# examples under PREFIX (bin/, share/man/man1/, share/doc/vestrun/).
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package of the same files in $(BUILD) (vestrun_<version>_<arch>.deb).
package: build
	cd $(BUILD) && cpack -G DEB

# The C++ sources against .clang-format; tools/check-format.sh --fix formats them.
check-format:
	tools/check-format.sh

# Every text literal of src/ as CP932 byte escapes matching its comment.
check-texts:
	python3 tools/sjis-literals.py --check src/*.cpp src/*.h

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
