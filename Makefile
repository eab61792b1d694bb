# The README's two commands: `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test deps build configure test-asan fuzz bench clean

deps:
	@tools/setup-deps

configure: deps
	@if [ ! -f $(BUILD)/build.ninja ]; then cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS); fi

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/ondrelix /s --mode 4 --data examples

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

# The whole test suite under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
test-asan: deps
	@if [ ! -f build-asan/build.ninja ]; then cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DONDRELIX_SANITIZE=ON -DONDRELIX_BENCH=OFF; fi
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp:print_suppressions=0 ctest --output-on-failure -j $(JOBS) --timeout 300

# libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in build-fuzz/, each
# run for a fixed number of inputs from its seed corpus (FUZZ_RUNS=N overrides the defaults).
fuzz: deps
	@if [ ! -f build-fuzz/build.ninja ]; then CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja \
	  -DONDRELIX_FUZZ=ON -DONDRELIX_SHELL=OFF -DONDRELIX_TESTS=OFF -DONDRELIX_BENCH=OFF; fi
	@cmake --build build-fuzz -j $(JOBS)
	@tools/run-fuzz

bench: build
	@for b in $(BUILD)/bench_*; do [ -x $$b ] && $$b; done

clean:
	rm -rf $(BUILD) build-asan build-fuzz
