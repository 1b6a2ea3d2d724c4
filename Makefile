# Thin convenience layer over CMake; see README.md.
BUILD ?= build
JOBS ?= $(shell nproc)
# WERROR=ON turns every compiler warning into an error (CI builds so).
WERROR ?= OFF
CONFIGURE = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIJEKOVI_WERROR=$(WERROR)

.PHONY: all setup build run test test-asan fuzz bench package format format-check clean \
	setup-windows windows installer test-windows

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

# Windows, cross-built here with MinGW-w64 against a static Qt for Windows
# (scripts/setup-windows.sh makes it ready), run and tested under Wine.
BUILD_WINDOWS ?= build-windows
VERSION = $(shell grep -m 1 -o 'lijekovi VERSION [0-9.]*' CMakeLists.txt | cut -d ' ' -f 3)
# A Wine prefix of the build's own, so the tests never meet a user's.
WINE_ENV = WINEPREFIX=$(abspath $(BUILD_WINDOWS))/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

setup-windows:
	mkdir -p $(BUILD_WINDOWS)
	./scripts/setup-windows.sh >$(BUILD_WINDOWS)/qt-path

$(BUILD_WINDOWS)/build.ninja: setup-windows
	cmake -G Ninja -S . -B $(BUILD_WINDOWS) \
		-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
		-DCMAKE_PREFIX_PATH="$$(tail -n 1 $(BUILD_WINDOWS)/qt-path)" \
		-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
		-DCMAKE_BUILD_TYPE=Release -DLIJEKOVI_WERROR=$(WERROR) >/dev/null

# build-windows/lijekovi.exe: one statically linked 64-bit program.
windows: $(BUILD_WINDOWS)/build.ninja
	cmake --build $(BUILD_WINDOWS) -j $(JOBS) --target lijekovi

# build-windows/lijekovi-2.1-setup.exe, made by NSIS.
installer: windows
	cmake --build $(BUILD_WINDOWS) --target installer

# Everything that runs without an X server, built for Windows and run under
# Wine; what needs Linux's own tools is listed as skipped, with the reason.
# Then the files each system's build writes, compared byte for byte and read
# by the other, the real program typed into and killed under Wine, and the
# installer as a user meets it.
test-windows: build installer
	$(WINE_ENV) wineboot --init >/dev/null 2>&1
	cmake --build $(BUILD_WINDOWS) -j $(JOBS)
	cd $(BUILD_WINDOWS) && $(WINE_ENV) ctest --output-on-failure -j $(JOBS)
	$(WINE_ENV) tests/crossplatform/crossread.sh $(BUILD)/tests/crossplatform/lijekovi-roundtrip \
		$(BUILD_WINDOWS)/tests/crossplatform/lijekovi-roundtrip.exe tests/e2e/register.xml
	xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
		tests/crossplatform/realwindow.sh $(BUILD_WINDOWS)/lijekovi.exe app/forms/unit1.ui \
		tests/e2e/register.xml $(BUILD)/tests/crossplatform/lijekovi-roundtrip
	xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
		tests/crossplatform/installer.sh $(BUILD_WINDOWS)/lijekovi-$(VERSION)-setup.exe
	$(WINE_ENV) wineserver -k || true

# Every C++ file as .clang-format lays it out.
SOURCES = $(shell git ls-files '*.cpp' '*.h')
format:
	clang-format -i $(SOURCES)

format-check: setup
	clang-format --dry-run --Werror $(SOURCES)

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD_WINDOWS)
