#!/bin/sh
# Installs the Debian 12 packages the program needs to build, run and be
# tested, when any is missing, and any further packages named as arguments
# (scripts/setup-windows.sh names the Windows build's, with
# --with-recommends: Wine loads much of what it recommends at run time).
# Safe to run again: it installs nothing twice.
set -eu

recommends=--no-install-recommends
if [ "${1:-}" = --with-recommends ]; then
    recommends=
    shift
fi

packages="
build-essential cmake pkg-config
qt6-base-dev qt6-base-dev-tools libgl-dev
qt6-translations-l10n
fonts-dejavu-core fonts-liberation fonts-liberation2 fonts-noto-core
libxml2-utils time clang-format
xvfb xauth xdotool x11-utils x11-xserver-utils imagemagick
clang libclang-rt-14-dev
desktop-file-utils appstream dpkg-dev file
valgrind strace
$*
"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    echo "Installing:$missing"
    if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q $recommends $missing
fi
