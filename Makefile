# The README's commands. Each installs what it needs first.
# `make test` runs each test in a process of its own (ctest); `make sanitize`
# runs each test program whole and shuffled under ASan+UBSan, so the tests
# must also pass in any order in one process (the seed is printed; set
# PELLIX_SHUFFLE_SEED to repeat an order).
JOBS    ?= $(shell nproc)
GEN     := -G Ninja
BUILD   ?= build

PREFIX  ?= /usr/local

.PHONY: all setup build test example install sanitize tsan bench fuzz clean

all: build

setup:
	@bash scripts/setup.sh

$(BUILD)/build.ninja:
	@cmake -S . -B $(BUILD) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: setup $(BUILD)/build.ninja
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure --timeout 600

example: setup $(BUILD)/build.ninja
	@cmake --build $(BUILD) -j $(JOBS) --target pellix_example
	@bash examples/run.sh $(BUILD)

# The library alone: only the packages building and running it need, no
# tests, examples or benchmarks; configured for PREFIX, so that it finds the
# tones it installs there.
install:
	@bash scripts/setup.sh library
	@cmake -S . -B build-lib $(GEN) -DCMAKE_BUILD_TYPE=Release -DPELLIX_TESTS=OFF -DPELLIX_EXAMPLES=OFF \
	  -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@cmake --build build-lib -j $(JOBS)
	@cmake --install build-lib

sanitize: setup
	@cmake -S . -B build-asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DPELLIX_SANITIZE=address,undefined >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  bash scripts/run-shuffled.sh build-asan $(JOBS)

# GLib and GStreamer are not instrumented: scripts/tsan.supp says why their
# own accesses are not checked and what else is suppressed.
tsan: setup
	@cmake -S . -B build-tsan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DPELLIX_SANITIZE=thread >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	@TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$(CURDIR)/scripts/tsan.supp \
	  ctest --test-dir build-tsan -j $(JOBS) --output-on-failure --timeout 900

bench: setup
	@cmake -S . -B build-bench $(GEN) -DCMAKE_BUILD_TYPE=Release -DPELLIX_BENCH=ON -DPELLIX_TESTS=OFF >/dev/null
	@cmake --build build-bench -j $(JOBS)
	@bash bench/run.sh build-bench

FUZZ_SECONDS ?= 60
fuzz: setup
	@CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLIX_FUZZ=ON -DPELLIX_TESTS=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@bash fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build build-lib build-asan build-tsan build-bench build-fuzz
