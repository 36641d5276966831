# make run   builds and starts Jotwarden (installs what is missing first)
# make test  builds and runs every test headless (installs what is missing first)
BUILD_DIR := build
JOBS ?= $(shell nproc)

.PHONY: all setup configure build run test bench clean format check-format check-sanitizers fuzz

all: build

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/jotwarden

test: build
	scripts/run-headless.sh ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer in its own tree.
SAN_DIR := build-sanitizers
SAN_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer

check-sanitizers: setup
	@cmake -S . -B $(SAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJW_BUILD_BENCH=OFF \
		-DCMAKE_CXX_FLAGS="$(SAN_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SAN_FLAGS)" > /dev/null
	@cmake --build $(SAN_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		scripts/run-headless.sh ctest --test-dir $(SAN_DIR) --output-on-failure -j $(JOBS)

# The fuzz programs, built with clang, each run for FUZZ_SECONDS over its seed corpus.
FUZZ_DIR := build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := todo-parser github-json remote-url

fuzz: setup
	@CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJW_BUILD_FUZZ=ON \
		-DJW_BUILD_TESTS=OFF -DJW_BUILD_BENCH=OFF > /dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(addprefix fuzz-,$(FUZZ_TARGETS))
	scripts/run-fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

bench: build
	@ls $(BUILD_DIR)/bench

clean:
	rm -rf $(BUILD_DIR) $(SAN_DIR) $(FUZZ_DIR)

# The tracked C++ files in house format: `make format` rewrites them, `make check-format` fails on drift.
CXX_FILES = $(shell git ls-files '*.cpp' '*.h')

format:
	@clang-format -i $(CXX_FILES)

check-format: setup
	@clang-format --dry-run -Werror $(CXX_FILES)
