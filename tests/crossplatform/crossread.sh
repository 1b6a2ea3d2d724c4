#!/bin/sh
# The register and its export as the Linux build and the Windows build
# write them, compared byte for byte, each build reading the other's file.
# usage: crossread.sh LINUX-ROUNDTRIP WINDOWS-ROUNDTRIP.exe REGISTER.xml
# The Windows build runs under Wine (WINEPREFIX as the caller set it).
set -eu
linux=${1:?Linux lijekovi-roundtrip}
windows=${2:?Windows lijekovi-roundtrip.exe}
register=${3:?a register to start from}
export WINEDEBUG="${WINEDEBUG:--all}"
work=$(mktemp -d "${TMPDIR:-/tmp}/lijekovi-crossread.XXXXXX")
trap 'rm -rf "$work"' EXIT

run() { # run SYSTEM FOLDER EXPORT
    if [ "$1" = linux ]; then
        "$linux" "$2" "$3"
    else
        # Wine does not always pass a Windows program's output through a
        # pipe: the count is taken from a file.
        wine "$windows" "$2" "$3" >"$2.count" </dev/null
        cat "$2.count"
    fi
}

same() { # same FILE-A FILE-B WHAT
    if ! cmp -s "$1" "$2"; then
        echo "FAIL: $3 differ:" >&2
        cmp "$1" "$2" >&2 || true
        exit 1
    fi
    echo "same: $3"
}

for locale in C.UTF-8 hr_HR.UTF-8; do
    export LANG=$locale LC_ALL=$locale
    for system in linux windows; do
        mkdir -p "$work/$locale/$system"
        cp "$register" "$work/$locale/$system/Baza.xml"
        count=$(run $system "$work/$locale/$system" "$work/$locale/$system.txt")
        echo "$system ($locale): $count records"
    done
    same "$work/$locale/linux/Baza.xml" "$work/$locale/windows/Baza.xml" "Baza.xml written by each ($locale)"
    same "$work/$locale/linux.txt" "$work/$locale/windows.txt" "the export by each ($locale)"

    # Each reads what the other wrote, and writes it again unchanged.
    mkdir -p "$work/$locale/linux-reads" "$work/$locale/windows-reads"
    cp "$work/$locale/windows/Baza.xml" "$work/$locale/linux-reads/Baza.xml"
    cp "$work/$locale/linux/Baza.xml" "$work/$locale/windows-reads/Baza.xml"
    run linux "$work/$locale/linux-reads" "$work/$locale/linux-reads.txt" >/dev/null
    run windows "$work/$locale/windows-reads" "$work/$locale/windows-reads.txt" >/dev/null
    same "$work/$locale/linux/Baza.xml" "$work/$locale/linux-reads/Baza.xml" "Windows's Baza.xml read and written by Linux ($locale)"
    same "$work/$locale/linux/Baza.xml" "$work/$locale/windows-reads/Baza.xml" "Linux's Baza.xml read and written by Windows ($locale)"
    same "$work/$locale/linux.txt" "$work/$locale/linux-reads.txt" "the export of Windows's file by Linux ($locale)"
    same "$work/$locale/linux.txt" "$work/$locale/windows-reads.txt" "the export of Linux's file by Windows ($locale)"
done
# The decimal point follows the locale: the two exports must differ there.
if cmp -s "$work/C.UTF-8/linux.txt" "$work/hr_HR.UTF-8/linux.txt"; then
    echo "FAIL: the export did not follow the locale's decimal separator" >&2
    exit 1
fi
echo "crossread: every file the same on both systems"
