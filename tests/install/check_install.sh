#!/bin/bash
# Installs the build into a scratch prefix and checks what a desktop gets from
# it: a menu entry and AppStream data that the freedesktop validators accept,
# an entry that starts the installed program with the installed icon, and the
# icon at every size the hicolor theme is asked for.
#
#   check_install.sh <cmake> <build dir>
#
# The validators come from desktop-file-utils and appstream (installed by
# scripts/setup-debian.sh); without them this fails rather than passing on
# what it could not check.
set -u

cmake=$1
build=$2
id=hr.tervalis.lijekovi
sizes="16 22 24 32 48 64 128 256"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

for tool in desktop-file-validate appstreamcli od; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool is missing (run scripts/setup-debian.sh)"
        exit 1
    fi
done

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

if ! "$cmake" --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1; then
    cat "$prefix.log"
    rm -f "$prefix.log"
    echo "FAIL: cmake --install"
    exit 1
fi
rm -f "$prefix.log"

# --- the menu entry ---------------------------------------------------------
desktop=$prefix/share/applications/$id.desktop
if [ ! -f "$desktop" ]; then
    fail "no menu entry at share/applications/$id.desktop"
else
    # desktop-file-validate exits 0 on warnings; a warning is still a fault.
    report=$(desktop-file-validate "$desktop" 2>&1)
    status=$?
    if [ $status -ne 0 ] || echo "$report" | grep -qiE 'error|warning'; then
        echo "$report"
        fail "desktop-file-validate rejects the menu entry"
    fi
    value() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
    exec_line=$(value Exec)
    program=${exec_line%% *}
    if [ -z "$program" ] || [ ! -x "$prefix/bin/$program" ]; then
        fail "Exec=$exec_line does not name an installed program in bin/"
    fi
    [ "$(value Icon)" = "$id" ] || fail "Icon=$(value Icon), expected $id"
    [ "$(value Terminal)" = "false" ] || fail "Terminal=$(value Terminal), expected false"
    # The register is written to the working directory; a Path= would move
    # it away from the home directory a menu start gives.
    grep -q '^Path=' "$desktop" && fail "the menu entry sets Path="
fi

# --- the AppStream data -----------------------------------------------------
metainfo=$prefix/share/metainfo/$id.metainfo.xml
if [ ! -f "$metainfo" ]; then
    fail "no AppStream data at share/metainfo/$id.metainfo.xml"
else
    if ! report=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1); then
        echo "$report"
        fail "appstreamcli rejects the AppStream data"
    fi
    grep -q "<id>$id</id>" "$metainfo" || fail "AppStream <id> is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
        || fail "AppStream data does not launch $id.desktop"
fi

# --- the icons --------------------------------------------------------------
# A PNG's width and height are the big-endian words at bytes 16 and 20.
png_size() {
    local bytes
    bytes=$(od -An -tu1 -N24 "$1" | tr -s ' \n' ' ')
    set -- $bytes
    if [ $# -lt 24 ] || [ "$2 $3 $4" != "80 78 71" ]; then
        echo "not-a-png"
        return
    fi
    shift 16
    echo "$(($1 << 24 | $2 << 16 | $3 << 8 | $4))x$(($5 << 24 | $6 << 16 | $7 << 8 | $8))"
}
for size in $sizes; do
    icon=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
    if [ ! -f "$icon" ]; then
        fail "no ${size}x${size} icon"
        continue
    fi
    got=$(png_size "$icon")
    [ "$got" = "${size}x${size}" ] || fail "${size}x${size} icon is $got"
done
svg=$prefix/share/icons/hicolor/scalable/apps/$id.svg
[ -f "$svg" ] && grep -q '<svg' "$svg" || fail "no scalable icon"

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "installed layout checked: program, menu entry, AppStream data, icons at $sizes and scalable"
