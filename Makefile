# Thin convenience layer over CMake; see README.md.
BUILD ?= build
JOBS ?= $(shell nproc)
# WERROR=ON turns every compiler warning into an error (CI builds so).
WERROR ?= OFF
CONFIGURE = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIJEKOVI_WERROR=$(WERROR)

.PHONY: all setup build run test test-asan fuzz bench package format format-check clean

all: build

setup:
	./scripts/setup-debian.sh

build: setup
	cmake -S . -B $(BUILD) $(CONFIGURE) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# The register "Baza.xml" is kept in the directory the program is started in.
run: build
	./$(BUILD)/app/lijekovi

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: setup
	cmake -S . -B $(BUILD)-asan $(CONFIGURE) -DLIJEKOVI_SANITIZE=ON >/dev/null
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j $(JOBS)

# Replays the fuzzing corpus, then fuzzes the data file reader for a minute.
fuzz: setup
	tests/fuzz/run.sh

bench: build
	./$(BUILD)/bench/lijekovi-bench

package: build
	cmake --build $(BUILD) --target package

# Every C++ file as .clang-format lays it out.
SOURCES = $(shell git ls-files '*.cpp' '*.h')
format:
	clang-format -i $(SOURCES)

format-check: setup
	clang-format --dry-run --Werror $(SOURCES)

clean:
	rm -rf $(BUILD) $(BUILD)-asan
