#!/bin/sh
# Installs what the Windows build needs on Debian 12, when any of it is
# missing, and makes Qt for Windows ready. Safe to run again.
#
# Qt 6.4.2 for Windows (static; Core, Gui, Widgets, Test, PrintSupport) is
# built from Debian's own qt6-base source with the MinGW-w64 compiler, with
# Debian's Linux Qt as the host tools (moc, rcc, uic). It lives outside the
# tree, in $LIJEKOVI_QT_WINDOWS (default ~/.cache/lijekovi/qt6-win64):
#   1. ready there from an earlier run: used as it is;
#   2. else a ready archive of exactly this build, qt6-win64-6.4.2-static.tar.xz,
#      in $LIJEKOVI_QT_ARCHIVE_DIR or ../shared/qt-windows beside the clone:
#      unpacked there;
#   3. else built from source (about an hour on two cores).
# Prints the folder last, for the Makefile.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
tree=$(dirname "$here")
# The Linux build's packages (its Qt gives the host tools), and MinGW-w64,
# Ninja, Wine and NSIS.
"$here/setup-debian.sh" --with-recommends g++-mingw-w64-x86-64-posix mingw-w64-tools ninja-build \
    wine wine64 nsis xz-utils >&2
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi

qt=${LIJEKOVI_QT_WINDOWS:-${XDG_CACHE_HOME:-$HOME/.cache}/lijekovi/qt6-win64}
if [ -f "$qt/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    echo "$qt"
    exit 0
fi

archive_name=qt6-win64-6.4.2-static.tar.xz
archive_sha256=56ca43fae2e2c9570f3fe9760a9c960d31020cd4682e266e89d6cb4969b72ccf
for dir in ${LIJEKOVI_QT_ARCHIVE_DIR:-} "$tree/../shared/qt-windows"; do
    [ -f "$dir/$archive_name" ] || continue
    if echo "$archive_sha256  $dir/$archive_name" | sha256sum -c --status; then
        echo "Unpacking Qt for Windows from $dir/$archive_name" >&2
        mkdir -p "$(dirname "$qt")"
        scratch=$(mktemp -d "$(dirname "$qt")/unpack.XXXXXX")
        tar -xJf "$dir/$archive_name" -C "$scratch"
        rm -rf "$qt"
        mv "$scratch/qt6-win64" "$qt"
        rmdir "$scratch"
        echo "$qt"
        exit 0
    fi
    echo "$dir/$archive_name is not the expected build (sha256 differs): not used" >&2
done

# Build it: Debian's qt6-base source needs a deb-src line for the archive
# the system already uses.
echo "Building Qt for Windows from Debian's qt6-base source (about an hour)" >&2
if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
    sources=/etc/apt/sources.list.d/lijekovi-deb-src.sources
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo tee "$sources" >/dev/null
    else
        grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | $sudo tee /etc/apt/sources.list.d/lijekovi-deb-src.list >/dev/null
    fi
    $sudo apt-get update -q >&2
fi
$sudo apt-get install -y -q --no-install-recommends dpkg-dev >&2
work=$(mktemp -d "${TMPDIR:-/tmp}/lijekovi-qt.XXXXXX")
(cd "$work" && apt-get source -q qt6-base >&2)
src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
"$here/build-qt-windows.sh" "$src" "$work/build" "$qt" >&2
rm -rf "$work"
echo "$qt"
