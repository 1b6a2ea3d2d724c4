#!/bin/bash
# The Windows program as a person uses it, under Wine in an X server of its
# own (run through xvfb-run): started in a folder holding a register, the
# greeting answered, entries typed into the boxes with the keyboard at the
# places the layout gives, Izlaz; then the same killed while typing and
# started again, its recovery question answered Yes. The registers it
# leaves are read by the Linux build and must hold every entry typed.
#
#   realwindow.sh <lijekovi.exe> <unit1.ui> <register.xml> <Linux lijekovi-roundtrip>
set -u

if [ $# -ne 4 ]; then
    echo "usage: $0 <lijekovi.exe> <unit1.ui> <register.xml> <Linux lijekovi-roundtrip>" >&2
    exit 2
fi
PROGRAM=$(realpath -- "$1")
LAYOUT=$(realpath -- "$2")
REGISTER=$(realpath -- "$3")
ROUNDTRIP=$(realpath -- "$4")
WAIT=60
MAIN_TITLE="Tervalis - suglasnost za uvoz lijekova na recept"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/lijekovi-realwindow.XXXXXX")
export WINEPREFIX="$WORK/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null; rm -rf "$WORK"' EXIT

fail() {
    echo "FAIL: $*" >&2
    import -window root "${TMPDIR:-/tmp}/lijekovi-realwindow-failure.png" 2>/dev/null &&
        echo "  screenshot: ${TMPDIR:-/tmp}/lijekovi-realwindow-failure.png" >&2
    exit 1
}

# The names are typed in ASCII: Wine's keyboard drops a letter that xdotool
# sends through a key of its own (as on Linux's e2e) or through a Croatian
# layout. The Croatian letters typed into the Windows build are the widget
# tests' (key events with their text); here the register's own carry them.
wineboot --init >/dev/null 2>&1

ui_value() { xmllint --xpath "string($1)" "$LAYOUT"; }
FORM_HEIGHT=$(ui_value "//widget[@name='Form1']/property[@name='geometry']/rect/height")
PANEL_HEIGHT=$(ui_value "//widget[@name='Panel1']/property[@name='minimumSize']/size/height")
PANEL_TOP=$((FORM_HEIGHT - PANEL_HEIGHT))

# The centre of a control of the panel, relative to the window: "x y".
control_centre() {
    local rect="//widget[@name='$1']/property[@name='geometry']/rect"
    local x y w h
    x=$(ui_value "$rect/x")
    y=$(ui_value "$rect/y")
    w=$(ui_value "$rect/width")
    h=$(ui_value "$rect/height")
    [ -n "$x" ] && [ -n "$w" ] || fail "no control $1 in the layout"
    echo "$((x + w / 2)) $((PANEL_TOP + y + h / 2))"
}

window() { # title: waits for it to be shown and prints its id
    local deadline=$((SECONDS + WAIT)) id
    while [ $SECONDS -lt $deadline ]; do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
        [ -n "$id" ] && {
            echo "$id"
            return 0
        }
        sleep 0.2
    done
    fail "no window \"$1\""
}

press() { # window, keys...
    local id=$1 tries=0
    shift
    # A window just shown may refuse the focus for a moment (BadMatch).
    until xdotool windowfocus --sync "$id" 2>/dev/null; do
        tries=$((tries + 1))
        [ $tries -lt 50 ] || fail "window $id never took the focus"
        sleep 0.2
    done
    xdotool key --delay 50 "$@"
}

click() { # window, control
    local x y cx cy
    eval "$(xdotool getwindowgeometry --shell "$1" | grep -E '^(X|Y)=')"
    x=$X
    y=$Y
    read -r cx cy <<<"$(control_centre "$2")"
    xdotool mousemove --sync $((x + cx + 6)) $((y + cy + 4))
    xdotool mousemove --sync $((x + cx)) $((y + cy)) click 1
    sleep 0.3
}

start() { # folder
    (cd "$1" && exec env LANG=hr_HR.UTF-8 LC_ALL=hr_HR.UTF-8 wine "$PROGRAM") \
        >>"$WORK/program.log" 2>&1 &
    STARTED=$!
    # Watched by its process id; the kill below is the test's, not news.
    disown
}

ended() { # pid
    local deadline=$((SECONDS + WAIT))
    while kill -0 "$1" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "the program did not end"
        sleep 0.2
    done
}

enter_name() { # window, name
    click "$1" DBEditNaziv
    xdotool key ctrl+a
    xdotool type --delay 60 "$2"
    click "$1" DBEditAdresa
    xdotool key Tab
    sleep 0.3
}

type_two_entries() { # window
    click "$1" BitBtnAdd
    enter_name "$1" "Kapi za usi"
    click "$1" BitBtnAdd
    enter_name "$1" "Mast od nevena, Djakovo"
}

names_in() { # file
    local rows row
    rows=$(xmllint --xpath 'count(/DATAPACKET/ROWDATA/ROW)' "$1")
    for ((row = 1; row <= rows; row++)); do
        printf '%s\n' "$(xmllint --xpath "string(/DATAPACKET/ROWDATA/ROW[$row]/@Naziv)" "$1")"
    done
}

expect_names() { # file, what
    local expected
    expected=$(names_in "$REGISTER"; printf '%s\n' "Kapi za usi" "Mast od nevena, Djakovo")
    [ "$(names_in "$1")" = "$expected" ] ||
        fail "$2: the names are \"$(names_in "$1" | tr '\n' '|')\""
    # The Linux build reads what the Windows program wrote, and writes the
    # same bytes again.
    mkdir -p "$WORK/linux"
    cp "$1" "$WORK/linux/Baza.xml"
    "$ROUNDTRIP" "$WORK/linux" >/dev/null || fail "$2: the Linux build cannot read it"
    cmp -s "$1" "$WORK/linux/Baza.xml" || fail "$2: the Linux build wrote other bytes"
    rm -rf "$WORK/linux"
}

# Two entries typed, Izlaz.
mkdir -p "$WORK/typed"
cp "$REGISTER" "$WORK/typed/Baza.xml"
start "$WORK/typed"
press "$(window Pozdrav)" Return
main=$(window "$MAIN_TITLE")
type_two_entries "$main"
click "$main" BitBtnExit
ended "$STARTED"
expect_names "$WORK/typed/Baza.xml" "typed, Izlaz"
echo "typed two entries into the Windows program, Izlaz: the Linux build reads them back"

# The same, killed before any save; started again, recovery answered Yes.
mkdir -p "$WORK/killed"
cp "$REGISTER" "$WORK/killed/Baza.xml"
start "$WORK/killed"
press "$(window Pozdrav)" Return
main=$(window "$MAIN_TITLE")
type_two_entries "$main"
# The last box left: the entry is posted and in the journal before this.
wineserver -k
ended "$STARTED"
[ "$(names_in "$WORK/killed/Baza.xml")" = "$(names_in "$REGISTER")" ] ||
    fail "the register changed without a save"
[ -f "$WORK/killed/.Baza.xml.recovery" ] || fail "no recovery data after the kill"
start "$WORK/killed"
press "$(window Pozdrav)" Return
press "$(window 'Pa.*nja!')" Return
main=$(window "$MAIN_TITLE")
click "$main" BitBtnExit
ended "$STARTED"
expect_names "$WORK/killed/Baza.xml" "killed, recovered"
[ ! -e "$WORK/killed/.Baza.xml.recovery" ] || fail "recovery data left after the save"
echo "killed while typing, started again, recovered: every entry back"
