#!/bin/sh
# Builds Qt 6.4.2 for 64-bit Windows, static, from Debian's qt6-base source,
# with Debian's MinGW-w64 and Debian's Linux Qt as the host tools.
# usage: build-qt-windows.sh SOURCE_DIR BUILD_DIR PREFIX
set -eu
src=${1:?qt6-base source folder}
build=${2:?build folder}
prefix=${3:?install prefix}
tree=$(cd "$(dirname "$0")/.." && pwd)

# With OpenGL off, 6.4.2 still takes "dynamicgl" for on in the Windows
# platform plugin and names OpenGL classes there.
sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$src/src/plugins/platforms/windows/qwindowswindow.cpp"

# No ICU (the program has its own code page table), no OpenGL, no network;
# the image and font libraries Qt bundles. Debian's source leaves out the
# tablet header (wintab.h), so tablet events are off.
cmake -G Ninja -S "$src" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/mingw-w64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_icu=OFF -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF \
    -DFEATURE_openssl=OFF -DFEATURE_printsupport=ON -DFEATURE_tabletevent=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_jpeg=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_system_doubleconversion=OFF
ninja -C "$build" ${JOBS:+-j "$JOBS"}
ninja -C "$build" install
