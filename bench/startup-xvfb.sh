#!/bin/bash
# Start-up of the real program under Xvfb, timed with public tools only:
# from the greeting's answer (a Return key sent by xdotool; its window goes)
# to the main window shown (mapped), with a 10000-record "Baza.xml" and with
# an empty one; beside it, xmllint --noout on the same 10000-record file.
# Medians of several runs. Nothing is added to the program.
#
# usage: bench/startup-xvfb.sh [RUNS]       (default 5)
#
# Runs $BUILD/app/lijekovi (BUILD as for make: "build" unless set) and uses
# $BUILD/bench/lijekovi-bench to write the register file; LIJEKOVI and
# LIJEKOVI_BENCH name other binaries. Needs xvfb-run, xdotool and xmllint
# (Debian: xvfb xauth xdotool libxml2-utils).
set -euo pipefail
# Clock readings and sorting with '.' as the decimal point, whatever the locale.
export LC_ALL=C

runs=${1:-5}
records=10000
root=$(cd "$(dirname "$0")/.." && pwd)

# Re-run inside a private X server unless already in one started here.
if [ -z "${LIJEKOVI_XVFB_INNER:-}" ]; then
    exec env LIJEKOVI_XVFB_INNER=1 xvfb-run -a -s '-screen 0 1280x1024x24' "$0" "$@"
fi
# The real platform, whatever the calling shell had set for tests.
unset QT_QPA_PLATFORM

build=$root/${BUILD:-build}
program=${LIJEKOVI:-$build/app/lijekovi}
bench=${LIJEKOVI_BENCH:-$build/bench/lijekovi-bench}
for binary in "$program" "$bench"; do
    if [ ! -x "$binary" ]; then
        echo "startup-xvfb: $binary is missing; build first (make, or set BUILD)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/full" "$work/empty"
"$bench" --write-register "$records" "$work/full/Baza.xml"
"$bench" --write-register 0 "$work/empty/Baza.xml"

# Milliseconds between two readings of bash's own clock (no process per reading).
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f\n", (b - a) * 1000 }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

main_title='Tervalis - suglasnost'

# One start in a fresh copy of the register's folder; prints the time from
# the greeting's answer (its window unmapped) to the main window mapped.
# Both moments are read off the X server's own notices, stamped as they
# arrive by one watcher, so starting a tool per look costs nothing here.
start_once() {
    local source=$1 dir log
    dir=$(mktemp -d "$work/run.XXXXXX")
    log=$dir.events
    cp "$source/Baza.xml" "$dir/"
    stdbuf -oL xev -root -event substructure \
        > >(while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done > "$log") &
    local watcher=$!
    (cd "$dir" && exec "$program") &
    local pid=$!
    local greeting main
    greeting=$(printf '0x%x' "$(xdotool search --sync --onlyvisible --name '^Pozdrav$' | head -n 1)")
    # The watcher has seen the greeting appear, so it will see it go.
    until grep -q "window $greeting," "$log"; do sleep 0.01; done
    # Without a window manager the keyboard goes where the input focus is put.
    xdotool windowfocus --sync "$greeting" key --clearmodifiers Return
    until main=$(xdotool search --onlyvisible --name "$main_title" | head -n 1) && [ -n "$main" ]; do
        sleep 0.01
    done
    main=$(printf '0x%x' "$main")
    # Killed, not closed: the record-limit notice may be up, and the copy
    # is thrown away anyway.
    kill "$pid" "$watcher" 2>/dev/null || true
    wait "$pid" "$watcher" 2>/dev/null || true
    sleep 0.05 # the stamping loop writes its last lines
    # xev prints each notice on two lines, the window concerned on the second.
    awk -v greeting="$greeting" -v main="$main" '
        / UnmapNotify event,/ { kind = "unmap"; next }
        / MapNotify event,/ { kind = "map"; next }
        kind != "" {
            if (match($0, /window 0x[0-9a-f]+/)) {
                w = substr($0, RSTART + 7, RLENGTH - 7)
                if (kind == "unmap" && w == greeting && t0 == "") t0 = $1
                if (kind == "map" && w == main && t0 != "" && t1 == "") t1 = $1
            }
            kind = ""
        }
        END {
            if (t0 == "" || t1 == "") { print "startup-xvfb: window notices missing" > "/dev/stderr"; exit 1 }
            printf "%.1f\n", (t1 - t0) * 1000
        }' "$log"
    rm -rf "$dir" "$log"
}

measure_start() {
    local source=$1 i
    start_once "$source" >/dev/null # the first start also warms the caches
    for ((i = 0; i < runs; i++)); do
        start_once "$source"
    done | median
}

measure_xmllint() {
    local file=$1 i t0 t1
    xmllint --noout "$file"
    for ((i = 0; i < runs; i++)); do
        t0=$EPOCHREALTIME
        xmllint --noout "$file"
        t1=$EPOCHREALTIME
        elapsed "$t0" "$t1"
    done | median
}

bytes=$(stat -c %s "$work/full/Baza.xml")
echo "startup-xvfb: $program"
echo "  $runs runs each (median), register of $records records, $bytes bytes"
empty=$(measure_start "$work/empty")
full=$(measure_start "$work/full")
xmllint_ms=$(measure_xmllint "$work/full/Baza.xml")
awk -v e="$empty" -v f="$full" -v x="$xmllint_ms" -v n="$records" 'BEGIN {
    printf "  greeting answered -> main window shown, ms: empty %.1f, %d records %.1f\n", e, n, f
    printf "  the %d records add %.1f ms; xmllint --noout on the file %.1f ms\n", n, f - e, x
    printf "  ratio (added / xmllint) %.2f (target <= 1.5)\n", (f - e) / x
}'
