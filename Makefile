# make run   builds and starts Jotwarden (installs what is missing first)
# make test  builds and runs every test headless (installs what is missing first)
BUILD_DIR := build
JOBS ?= $(shell nproc)

.PHONY: all setup configure build run test bench clean format check-format

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

bench: build
	@ls $(BUILD_DIR)/bench

clean:
	rm -rf $(BUILD_DIR)

# The tracked C++ files in house format: `make format` rewrites them, `make check-format` fails on drift.
CXX_FILES = $(shell git ls-files '*.cpp' '*.h')

format:
	@clang-format -i $(CXX_FILES)

check-format: setup
	@clang-format --dry-run -Werror $(CXX_FILES)
