# Thin convenience layer over CMake; see README.md.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all setup build run test test-asan fuzz bench package clean

all: build

setup:
	./scripts/setup-debian.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The register "Baza.xml" is kept in the directory the program is started in.
run: build
	./$(BUILD)/app/lijekovi

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: setup
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIJEKOVI_SANITIZE=ON
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j $(JOBS)

# Replays the fuzzing corpus, then fuzzes the data file reader for a minute.
fuzz: setup
	tests/fuzz/run.sh

bench: build
	./$(BUILD)/bench/lijekovi-bench

package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(BUILD)-asan
