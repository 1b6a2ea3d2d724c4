#!/bin/bash
# The program as a person uses it: started in a folder, in a real X server,
# answered and driven by keyboard and mouse at the places the layout gives,
# and judged by the files it leaves behind, read byte for byte or parsed.
#
#   run.sh <lijekovi> <unit1.ui> <folder of expected files>
#
# The folder of expected files holds register.xml, a register written by
# hand, and export.txt, the lines its export must hold, in UTF-8 with LF (a
# letter Windows-1250 lacks already as "?"); and known.xml, earlier entries
# whose values a new entry takes from the boxes' lists.
#
# Runs in the X server named by DISPLAY (CTest starts it under xvfb-run).
# Each scenario gets a fresh folder as its working directory. A scenario that
# fails says what it expected and what it saw, lists the windows on the
# screen, takes a screenshot, and its folder is kept.
set -u

if [ $# -ne 3 ]; then
    echo "usage: $0 <lijekovi> <unit1.ui> <folder of expected files>" >&2
    exit 2
fi
# Each scenario starts the program from a folder of its own.
PROGRAM=$(realpath -- "$1")
LAYOUT=$(realpath -- "$2")
EXPECTED=$(realpath -- "$3")
# Seconds any one window, box or exit may take to come.
WAIT=${E2E_WAIT:-30}

MAIN_TITLE="Tervalis - suglasnost za uvoz lijekova na recept"
# A box with no caption of its own shows the program's name.
APP_TITLE="lijekovi"

for tool in xdotool xmllint import iconv cmp strace Xvfb; do
    if ! command -v "$tool" >/dev/null; then
        echo "e2e: $tool is missing (scripts/setup-debian.sh installs it)" >&2
        exit 1
    fi
done
if [ -z "${DISPLAY:-}" ]; then
    echo "e2e: no X server (DISPLAY is not set); run under xvfb-run" >&2
    exit 1
fi
if [ ! -x "$PROGRAM" ]; then
    echo "e2e: no program at $PROGRAM" >&2
    exit 1
fi

# The Croatian letters get keys of their own in the server's keymap. Without
# them xdotool remaps a spare key for each letter as it types, and a program
# that reads the key before it has heard of the new mapping loses the letter.
if command -v xmodmap >/dev/null; then
    xmodmap -e "keycode 93 = scaron Scaron" -e "keycode 97 = ccaron Ccaron" \
        -e "keycode 103 = cacute Cacute" -e "keycode 120 = dstroke Dstroke" \
        -e "keycode 132 = zcaron Zcaron"
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/lijekovi-e2e.XXXXXX")
mkdir -p "$WORK/home" "$WORK/run"
chmod 700 "$WORK/run"

# ------------------------------------------------------------------ layout

# A number of the layout: ui_value <xpath>.
ui_value() {
    xmllint --xpath "string($1)" "$LAYOUT"
}

# The panel of boxes and buttons fills the window below the grid; its
# controls' places are given relative to it.
FORM_WIDTH=$(ui_value "//widget[@name='Form1']/property[@name='geometry']/rect/width")
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
    if [ -z "$x" ] || [ -z "$w" ]; then
        echo "no control $1 in the layout" >&2
        return 1
    fi
    echo "$((x + w / 2)) $((PANEL_TOP + y + h / 2))"
}

# --------------------------------------------------------------- reporting

SCENARIO=""

# Says what went wrong and shows the screen as it was. Returns 1, so a check
# reads: condition || fail "what was expected, what was seen". Writes to
# stderr: checks also run inside $(...).
fail() {
    local shot
    shot=$(mktemp "$WORK/$SCENARIO-failure-XXXX.png")
    exec 3>&1 1>&2
    echo "FAIL [$SCENARIO]: $*"
    echo "  windows on the screen:"
    local id
    for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
        echo "    $id \"$(xdotool getwindowname "$id" 2>/dev/null)\" of process" \
            "$(xdotool getwindowpid "$id" 2>/dev/null || echo '?')," \
            "$(xdotool getwindowgeometry "$id" 2>/dev/null | tr -s '\n ' ' ')"
    done
    if import -window root "$shot" 2>/dev/null; then
        echo "  screenshot: $shot"
    fi
    if [ -s "$WORK/$SCENARIO.log" ]; then
        echo "  the program's output:"
        sed 's/^/    /' "$WORK/$SCENARIO.log"
    fi
    exec 1>&3 3>&-
    return 1
}

expect_equal() { # what, expected, actual
    [ "$2" = "$3" ] || fail "$1: expected \"$2\", saw \"$3\""
}

# ----------------------------------------------------------------- program

PIDS=()

# Starts the program in a folder; $STARTED is its process id. Numbers are
# read and written as a Croatian user's are (decimal comma). The file
# dialog's settings go to the test's own home.
start_program() {
    (
        cd "$1" &&
            exec env QT_QPA_PLATFORM=xcb LC_ALL=hr_HR.UTF-8 HOME="$WORK/home" \
                XDG_CONFIG_HOME="$WORK/home/.config" XDG_RUNTIME_DIR="$WORK/run" \
                "$PROGRAM"
    ) >>"$WORK/$SCENARIO.log" 2>&1 &
    STARTED=$!
    PIDS+=("$STARTED")
}

running() {
    [ -r "/proc/$1/stat" ] || return 1
    local state
    state=$(sed 's/.*) //' "/proc/$1/stat" | cut -d' ' -f1)
    [ "$state" != Z ] && [ "$state" != X ]
}

# Waits for the program to end by itself and checks its exit code.
expect_exit() { # pid, code
    local deadline=$((SECONDS + WAIT))
    while running "$1"; do
        [ $SECONDS -lt $deadline ] || {
            fail "process $1 did not end within $WAIT s"
            return 1
        }
        sleep 0.1
    done
    wait "$1"
    expect_equal "exit code of process $1" "$2" "$?"
}

stop_programs() {
    local pid
    for pid in "${PIDS[@]}"; do
        if running "$pid"; then
            kill -KILL "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        fi
    done
    PIDS=()
}

# --------------------------------------------------------------- X windows

# A title as an xdotool search pattern. xdotool matches the title through
# the C locale, in which a Croatian letter is no one character: any run of
# them is matched loosely, and the title is then compared exactly.
title_pattern() {
    # shellcheck disable=SC2016 # the $ is the pattern's own
    printf '^%s$' "$(printf '%s' "$1" | LC_ALL=C sed -e 's/[][\.*^$(){}?+|]/\\&/g' \
        -e 's/[^ -~][^ -~]*/.*/g')"
}

# Waits for a visible window of the process with exactly this title and
# prints its id.
window_of() { # pid, title
    local deadline=$((SECONDS + WAIT)) pattern id
    pattern=$(title_pattern "$2")
    while [ $SECONDS -lt $deadline ]; do
        for id in $(timeout 2 xdotool search --sync --all --onlyvisible --pid "$1" \
            --name "$pattern" 2>/dev/null); do
            if [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$2" ]; then
                echo "$id"
                return 0
            fi
        done
        running "$1" || break
    done
    fail "no window \"$2\" of process $1"
}

# Waits for a visible window of the process other than the given ones, for
# a dialog whose title is the system's.
new_window_of() { # pid, known ids...
    local pid=$1 deadline=$((SECONDS + WAIT)) id
    shift
    while [ $SECONDS -lt $deadline ]; do
        for id in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
            case " $* " in
            *" $id "*) ;;
            *)
                echo "$id"
                return 0
                ;;
            esac
        done
        running "$pid" || break
        sleep 0.1
    done
    fail "no new window of process $pid"
}

# Waits for a window to be taken off the screen.
window_gone() { # id
    local deadline=$((SECONDS + WAIT))
    while xdotool search --onlyvisible --name '' 2>/dev/null | grep -qx "$1"; do
        [ $SECONDS -lt $deadline ] || {
            fail "window $1 \"$(xdotool getwindowname "$1")\" is still open"
            return 1
        }
        sleep 0.1
    done
}

# Answers a box or dialog from the keyboard: focus, then the keys.
press() { # window, keys...
    local id=$1
    shift
    timeout "$WAIT" xdotool windowfocus --sync "$id" key --delay 50 "$@" ||
        fail "could not press $* in window $id"
}

type_text() {
    xdotool type --delay 25 "$1"
}

# The main window, checked to be the layout's size at the top left of the
# screen; prints "id x y".
main_window() { # pid
    local id geometry x y w h
    id=$(window_of "$1" "$MAIN_TITLE") || return 1
    geometry=$(xdotool getwindowgeometry --shell "$id")
    x=$(echo "$geometry" | sed -n 's/^X=//p')
    y=$(echo "$geometry" | sed -n 's/^Y=//p')
    w=$(echo "$geometry" | sed -n 's/^WIDTH=//p')
    h=$(echo "$geometry" | sed -n 's/^HEIGHT=//p')
    expect_equal "main window size" "${FORM_WIDTH}x$FORM_HEIGHT" "${w}x$h" || return 1
    echo "$id $x $y"
}

# Clicks a control of the main window at its centre. The pointer comes from
# beside it, as a hand's does: a window that appeared under a resting
# pointer has not seen it arrive.
click() { # "id x y" of the main window, control name
    local x y cx cy
    read -r _ x y <<<"$1"
    read -r cx cy <<<"$(control_centre "$2")" || return 1
    xdotool mousemove --sync $((x + cx + 6)) $((y + cy + 4))
    xdotool mousemove --sync $((x + cx)) $((y + cy)) click 1
}

# --------------------------------------------------------------- the files

# A field of a record in a data file, as text (empty when absent).
field() { # file, row (from 1), field
    xmllint --xpath "string(/DATAPACKET/ROWDATA/ROW[$2]/@$3)" "$1"
}

FIELDS=(Tar_br Ljekarna Naziv Gen_ime ATK Proizvodjac Kolicina Pacijent Jed_mjere Valuta
    Cijena Protokol Propisivac Ustanova Hpbroj Mjesto Adresa)

# A data file that any XML reader takes: well-formed, pure ASCII, the
# seventeen fields declared, readable by its owner only; and `rows` records.
expect_register() { # file, rows
    [ -f "$1" ] || {
        fail "no data file $1"
        return 1
    }
    xmllint --noout "$1" 2>"$WORK/xmllint.err" ||
        fail "data file is not well-formed XML: $(cat "$WORK/xmllint.err")" || return 1
    local others
    others=$(LC_ALL=C tr -d '\t\n\r -~' <"$1" | wc -c)
    expect_equal "bytes outside printable ASCII in the data file" 0 "$others" || return 1
    expect_equal "declared fields" 17 \
        "$(xmllint --xpath 'count(/DATAPACKET/METADATA/FIELDS/FIELD)' "$1")" || return 1
    expect_equal "data file mode" 600 "$(stat -c %a "$1")" || return 1
    expect_equal "records in the data file" "$2" \
        "$(xmllint --xpath 'count(/DATAPACKET/ROWDATA/ROW)' "$1")"
}

# Every field of every record the same in both data files.
expect_same_records() { # expected file, actual file
    local rows row f
    rows=$(xmllint --xpath 'count(/DATAPACKET/ROWDATA/ROW)' "$1")
    expect_register "$2" "$rows" || return 1
    for ((row = 1; row <= rows; row++)); do
        for f in "${FIELDS[@]}"; do
            expect_equal "record $row, $f" "$(field "$1" "$row" "$f")" \
                "$(field "$2" "$row" "$f")" || return 1
        done
    done
}

# A record's seventeen fields against the values given in field order.
expect_record() { # file, row, values...
    local file=$1 row=$2 f
    shift 2
    for f in "${FIELDS[@]}"; do
        expect_equal "record $row, $f" "${1-}" "$(field "$file" "$row" "$f")" || return 1
        shift
    done
}

# Answers the program's greeting and prints its main window ("id x y").
greet() { # pid
    local greeting
    greeting=$(window_of "$1" "Pozdrav") || return 1
    press "$greeting" Return || return 1
    main_window "$1"
}

# ---------------------------------------------------------------- scenarios

# First start without a register: the greeting, the empty register created,
# one full entry typed box by box and a second of a name only; Izlaz saves.
scenario_first_entries() {
    local dir=$1 pid greeting main
    start_program "$dir"
    pid=$STARTED
    greeting=$(window_of "$pid" "Pozdrav") || return 1
    [ ! -e "$dir/Baza.xml" ] || fail "Baza.xml exists before the greeting is answered" || return 1
    press "$greeting" Return || return 1
    main=$(main_window "$pid") || return 1
    expect_register "$dir/Baza.xml" 0 || return 1

    # The focus starts in the grid: a click puts it into the first box.
    click "$main" DBEditTar_br || return 1
    # In the boxes' tab order.
    local typed=(
        "3004"                    # Tarifni broj
        "Ljekarna Šibenik"        # Ljekarna ili dobavljač
        "Sirup od žalfije"        # Naziv lijeka
        "Salvia officinalis"      # Generičko ime
        "r05ca10"                 # ATK, typed in lower case
        "Tvornica Čakovec d.o.o." # Proizvođač
        "Đurđa Žužić"             # Pacijent ili korisnik
        "KI-2024/7"               # Protokol
        "bočica"                  # Jedinica mjere
        "3"                       # Količina
        "EUR"                     # Valuta
        "12,5"                    # Cijena, with a decimal comma
        "dr. Ivan Šoljić"         # Propisivač
        "KBC Split"               # Ustanova
        "21000"                   # Poštanski broj
        "Split"                   # Mjesto
        "Ćirilometodska 1"        # Adresa
    )
    local value
    for value in "${typed[@]}"; do
        type_text "$value"
        # Tab out of the address box starts the next entry, back in Tarifni broj.
        xdotool key Tab
    done
    xdotool key Tab Tab
    type_text "Kapi za oči"
    click "$main" BitBtnExit || return 1
    expect_exit "$pid" 0 || return 1

    expect_register "$dir/Baza.xml" 2 || return 1
    expect_record "$dir/Baza.xml" 1 "3004" "Ljekarna Šibenik" "Sirup od žalfije" \
        "Salvia officinalis" "R05CA10" "Tvornica Čakovec d.o.o." "3" "Đurđa Žužić" "bočica" \
        "EUR" "12.5" "KI-2024/7" "dr. Ivan Šoljić" "KBC Split" "21000" "Split" \
        "Ćirilometodska 1" || return 1
    # The pharmacy, manufacturer, unit and currency carry over to a new entry.
    expect_record "$dir/Baza.xml" 2 "" "Ljekarna Šibenik" "Kapi za oči" "" "" \
        "Tvornica Čakovec d.o.o." "" "" "bočica" "EUR" "" "" "" "" "" "" "" || return 1
    [ ! -e "$dir/.Baza.xml.lock" ] || fail "the lock is left behind after Izlaz"
}

# Export to text: the save dialog takes a name without an extension, ".txt"
# is added, and the file holds the register in Windows-1250 with CR LF.
scenario_export() {
    local dir=$1 pid main dialog box
    cp "$EXPECTED/register.xml" "$dir/Baza.xml"
    chmod 600 "$dir/Baza.xml"
    start_program "$dir"
    pid=$STARTED
    main=$(greet "$pid") || return 1

    click "$main" BitBtnExport || return 1
    dialog=$(new_window_of "$pid" "${main%% *}") || return 1
    echo "  the save dialog is titled \"$(xdotool getwindowname "$dialog")\""
    # The offered name is selected: typing replaces it.
    timeout "$WAIT" xdotool windowfocus --sync "$dialog" || fail "no focus on the dialog" || return 1
    type_text "izvoz"
    press "$dialog" Return || return 1
    box=$(window_of "$pid" "Poruka") || return 1
    [ -f "$dir/izvoz.txt" ] || fail "no izvoz.txt when the box says the export is done" || return 1
    press "$box" Return || return 1

    [ ! -e "$dir/izvoz" ] || fail "an export named without the extension" || return 1
    # CR LF and Windows-1250 written out here by other means than the program's.
    sed 's/$/\r/' "$EXPECTED/export.txt" | iconv -f UTF-8 -t WINDOWS-1250 >"$WORK/export.expected"
    if ! cmp "$WORK/export.expected" "$dir/izvoz.txt" >"$WORK/cmp.out" 2>&1; then
        {
            echo "  expected bytes:"
            od -c "$WORK/export.expected" | sed 's/^/    /'
            echo "  bytes written:"
            od -c "$dir/izvoz.txt" | sed 's/^/    /'
        } >&2
        fail "izvoz.txt differs from the expected bytes: $(cat "$WORK/cmp.out")"
        return 1
    fi

    click "$main" BitBtnExit || return 1
    expect_exit "$pid" 0 || return 1
    expect_same_records "$EXPECTED/register.xml" "$dir/Baza.xml"
}

# A second copy in the same folder while the first runs: refused with a box,
# it ends without touching the register; the first carries on.
scenario_second_copy() {
    local dir=$1 first second main refusal
    cp "$EXPECTED/register.xml" "$dir/Baza.xml"
    chmod 600 "$dir/Baza.xml"
    start_program "$dir"
    first=$STARTED
    main=$(greet "$first") || return 1
    cp -p "$dir/Baza.xml" "$WORK/before.xml"

    start_program "$dir"
    second=$STARTED
    refusal=$(window_of "$second" "Greška") || return 1
    cmp -s "$WORK/before.xml" "$dir/Baza.xml" ||
        fail "Baza.xml changed while the second copy's box was open" || return 1
    press "$refusal" Return || return 1
    expect_exit "$second" 0 || return 1
    cmp -s "$WORK/before.xml" "$dir/Baza.xml" || fail "Baza.xml changed by the second copy" ||
        return 1
    expect_equal "process holding the lock" "$first" "$(head -n1 "$dir/.Baza.xml.lock")" ||
        return 1

    click "$main" BitBtnExit || return 1
    expect_exit "$first" 0 || return 1
    [ ! -e "$dir/.Baza.xml.lock" ] || fail "the lock is left behind after Izlaz" || return 1
    expect_same_records "$EXPECTED/register.xml" "$dir/Baza.xml"
}

# Erasing the register asks twice. "Ne" to the second question keeps it;
# "Da" twice leaves an empty register.
scenario_erase() {
    local dir=$1 pid main box
    cp "$EXPECTED/register.xml" "$dir/Baza.xml"
    chmod 600 "$dir/Baza.xml"
    start_program "$dir"
    pid=$STARTED
    main=$(greet "$pid") || return 1
    cp -p "$dir/Baza.xml" "$WORK/before.xml"

    # Return by reflex answers No: the register stays, no second question.
    click "$main" BitBtnErase || return 1
    box=$(window_of "$pid" "Pažnja!") || return 1
    press "$box" Return || return 1
    window_gone "$box" || return 1
    click "$main" BitBtnErase || return 1
    box=$(window_of "$pid" "Pažnja!") || return 1
    press "$box" Tab space || return 1
    window_gone "$box" || return 1
    box=$(window_of "$pid" "Pažnja!") || return 1
    press "$box" Return || return 1
    window_gone "$box" || return 1
    cmp -s "$WORK/before.xml" "$dir/Baza.xml" || fail "Baza.xml changed though erasing was refused" ||
        return 1

    # Yes to both, chosen deliberately.
    click "$main" BitBtnErase || return 1
    box=$(window_of "$pid" "Pažnja!") || return 1
    press "$box" Tab space || return 1
    window_gone "$box" || return 1
    box=$(window_of "$pid" "Pažnja!") || return 1
    press "$box" Tab space || return 1
    box=$(window_of "$pid" "$APP_TITLE") || return 1
    expect_register "$dir/Baza.xml" 0 || return 1
    press "$box" Return || return 1

    click "$main" BitBtnExit || return 1
    expect_exit "$pid" 0 || return 1
    expect_register "$dir/Baza.xml" 0
}

# --------------------------------------------------------- crash recovery

# Types a medicine's name into the current entry and leaves the address box
# with Tab, which posts it and starts the next entry.
enter_name() { # "id x y" of the main window, name
    click "$1" DBEditNaziv || return 1
    xdotool key ctrl+a
    type_text "$2"
    click "$1" DBEditAdresa || return 1
    xdotool key Tab
}

# The register's names, one per line, in order.
names_in() { # file
    local rows row
    rows=$(xmllint --xpath 'count(/DATAPACKET/ROWDATA/ROW)' "$1")
    for ((row = 1; row <= rows; row++)); do
        printf '%s\n' "$(field "$1" "$row" Naziv)"
    done
}

# Two entries typed through the boxes into the hand-written register; the
# program is $STARTED, its main window $MAIN. (Croatian letters are typed in
# first_entries; here they would only add xdotool's keymap races.)
type_two_entries() { # dir
    cp "$EXPECTED/register.xml" "$1/Baza.xml"
    chmod 600 "$1/Baza.xml"
    start_program "$1"
    MAIN=$(greet "$STARTED") || return 1
    click "$MAIN" BitBtnAdd || return 1
    enter_name "$MAIN" "Kapi za usi" || return 1
    enter_name "$MAIN" "Mast od nevena" || return 1
}

# Starts the program again after it was ended from outside, answers the
# recovery question with the keys given (none: no question is expected),
# then closes it with Izlaz and checks the register's names.
restart_and_check() { # dir, keys for the question or "", expected names...
    local dir=$1 keys=$2 pid main box
    shift 2
    start_program "$dir"
    pid=$STARTED
    box=$(window_of "$pid" "Pozdrav") || return 1
    press "$box" Return || return 1
    if [ -n "$keys" ]; then
        box=$(window_of "$pid" "Pažnja!") || return 1
        press "$box" "$keys" || return 1
        window_gone "$box" || return 1
    fi
    # Declined, the recovery data is kept aside and a box says where.
    if [ -n "$keys" ] && [ "$keys" != Return ]; then
        box=$(window_of "$pid" "Poruka") || return 1
        press "$box" Return || return 1
    fi
    main=$(main_window "$pid") || return 1
    click "$main" BitBtnExit || return 1
    expect_exit "$pid" 0 || return 1
    expect_equal "names in Baza.xml" "$(printf '%s\n' "$@")" "$(names_in "$dir/Baza.xml")"
}

mapfile -t ORIGINAL_NAMES < <(names_in "$EXPECTED/register.xml")

scenario_recover_after_kill() {
    local dir=$1 pid
    type_two_entries "$dir" || return 1
    pid=$STARTED
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    expect_equal "names in Baza.xml after the kill" "$(printf '%s\n' "${ORIGINAL_NAMES[@]}")" \
        "$(names_in "$dir/Baza.xml")" || return 1
    [ -f "$dir/.Baza.xml.recovery" ] || fail "no recovery data after the kill" || return 1
    expect_equal "recovery data mode" 600 "$(stat -c %a "$dir/.Baza.xml.recovery")" || return 1
    restart_and_check "$dir" Return "${ORIGINAL_NAMES[@]}" "Kapi za usi" "Mast od nevena" || return 1
    [ ! -e "$dir/.Baza.xml.recovery" ] || fail "recovery data left after a good save"
}

# SIGTERM (a kill, a logout) ends the program as Izlaz does.
scenario_term_saves() {
    local dir=$1 pid
    type_two_entries "$dir" || return 1
    pid=$STARTED
    kill -TERM "$pid"
    expect_exit "$pid" 0 || return 1
    [ ! -e "$dir/.Baza.xml.recovery" ] || fail "recovery data left after the save" || return 1
    restart_and_check "$dir" "" "${ORIGINAL_NAMES[@]}" "Kapi za usi" "Mast od nevena"
}

# SIGTERM while a question is open: answered the safe way, saved, ended.
scenario_term_with_a_box_open() {
    local dir=$1 pid main box
    type_two_entries "$dir" || return 1
    pid=$STARTED
    main=$MAIN
    click "$main" BitBtnErase || return 1
    box=$(window_of "$pid" "Pažnja!") || return 1
    kill -TERM "$pid"
    expect_exit "$pid" 0 || return 1
    restart_and_check "$dir" "" "${ORIGINAL_NAMES[@]}" "Kapi za usi" "Mast od nevena"
}

# The X server goes away under the program (a crashed desktop).
scenario_recover_after_x_server_died() {
    local dir=$1 pid xpid display outer=$DISPLAY
    for display in $(seq 90 120); do
        [ -e "/tmp/.X$display-lock" ] || break
    done
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$WORK/xvfb-$display.log" 2>&1 &
    xpid=$!
    export DISPLAY=":$display"
    local deadline=$((SECONDS + WAIT))
    until xdotool getmouselocation >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || { DISPLAY=$outer; fail "private X server :$display did not start"; return 1; }
        sleep 0.1
    done
    type_two_entries "$dir"
    local typed=$?
    pid=$STARTED
    kill -KILL "$xpid"
    wait "$xpid" 2>/dev/null
    export DISPLAY=$outer
    [ $typed -eq 0 ] || return 1
    local deadline=$((SECONDS + WAIT))
    while running "$pid"; do
        [ $SECONDS -lt $deadline ] || { fail "the program outlived its X server"; return 1; }
        sleep 0.1
    done
    restart_and_check "$dir" Return "${ORIGINAL_NAMES[@]}" "Kapi za usi" "Mast od nevena"
}

# A record half typed, a pause, then a kill: it comes back as typed.
scenario_recover_half_typed() {
    local dir=$1 pid main
    cp "$EXPECTED/register.xml" "$dir/Baza.xml"
    chmod 600 "$dir/Baza.xml"
    start_program "$dir"
    pid=$STARTED
    main=$(greet "$pid") || return 1
    click "$main" BitBtnAdd || return 1
    click "$main" DBEditNaziv || return 1
    type_text "Kapi za usi"
    click "$main" DBEditPacijent || return 1
    type_text "Ana Simic"
    click "$main" DBEditKolicina || return 1
    type_text "2,5"
    sleep 3
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    restart_and_check "$dir" Return "${ORIGINAL_NAMES[@]}" "Kapi za usi" || return 1
    expect_equal "patient" "Ana Simic" "$(field "$dir/Baza.xml" 3 Pacijent)" || return 1
    expect_equal "quantity" "2.5" "$(field "$dir/Baza.xml" 3 Kolicina)"
}

# Erase answered Yes twice, then a kill: the register stays empty.
scenario_erase_then_kill() {
    local dir=$1 pid main box
    type_two_entries "$dir" || return 1
    pid=$STARTED
    main=$MAIN
    click "$main" BitBtnErase || return 1
    box=$(window_of "$pid" "Pažnja!") || return 1
    press "$box" Tab space || return 1
    window_gone "$box" || return 1
    box=$(window_of "$pid" "Pažnja!") || return 1
    press "$box" Tab space || return 1
    box=$(window_of "$pid" "$APP_TITLE") || return 1
    press "$box" Return || return 1
    window_gone "$box" || return 1
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    restart_and_check "$dir" "" || return 1
    expect_register "$dir/Baza.xml" 0
}

# "Ne" to the recovery question keeps the recovery data aside, says where,
# and is not asked again.
scenario_recovery_declined() {
    local dir=$1 pid kept
    type_two_entries "$dir" || return 1
    pid=$STARTED
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    restart_and_check "$dir" Escape "${ORIGINAL_NAMES[@]}" || return 1
    kept=$(find "$dir" -maxdepth 1 -name '.Baza.xml.recovery-*' | wc -l)
    expect_equal "recovery files kept aside" 1 "$kept" || return 1
    restart_and_check "$dir" "" "${ORIGINAL_NAMES[@]}"
}

# Another user planted a link to a private register where the journal's
# temporary file used to be made, before the start and again while the
# program runs: the start reports the first and moves it aside, the entries
# typed are journalled beside the second, and the private register is
# never touched.
scenario_planted_link() {
    local dir=$1 pid box main
    mkdir -p "$WORK/private"
    cp "$EXPECTED/register.xml" "$WORK/private/Baza.xml"
    cp "$WORK/private/Baza.xml" "$WORK/private.orig"
    cp "$EXPECTED/register.xml" "$dir/Baza.xml"
    chmod 600 "$dir/Baza.xml"
    ln -s "$WORK/private/Baza.xml" "$dir/.Baza.xml.recovery.new"
    start_program "$dir"
    pid=$STARTED
    box=$(window_of "$pid" "Pozdrav") || return 1
    press "$box" Return || return 1
    box=$(window_of "$pid" "Greška") || return 1
    press "$box" Return || return 1
    main=$(main_window "$pid") || return 1
    expect_equal "planted links moved aside" 1 \
        "$(find "$dir" -maxdepth 1 -name '.Baza.xml.recovery-*' -type l | wc -l)" || return 1
    ln -s "$WORK/private/Baza.xml" "$dir/.Baza.xml.recovery.new"
    click "$main" BitBtnAdd || return 1
    enter_name "$main" "Kapi za usi" || return 1
    enter_name "$main" "Mast od nevena" || return 1
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    cmp -s "$WORK/private.orig" "$WORK/private/Baza.xml" ||
        fail "the private register behind the planted link was changed" || return 1
    [ -f "$dir/.Baza.xml.recovery" ] && [ ! -L "$dir/.Baza.xml.recovery" ] ||
        fail "the journal is not a file of its own" || return 1
    [ -L "$dir/.Baza.xml.recovery.new" ] || fail "the planted link was moved" || return 1
    rm "$dir/.Baza.xml.recovery.new"
    restart_and_check "$dir" Return "${ORIGINAL_NAMES[@]}" "Kapi za usi" "Mast od nevena" || return 1
    cmp -s "$WORK/private.orig" "$WORK/private/Baza.xml" ||
        fail "the private register behind the planted link was changed"
}

# A FIFO at the journal's name: the start reports it, moves it aside and goes
# on instead of waiting for a writer; typing is journalled anew.
scenario_fifo_at_the_journal() {
    local dir=$1 pid box main kept
    cp "$EXPECTED/register.xml" "$dir/Baza.xml"
    chmod 600 "$dir/Baza.xml"
    mkfifo "$dir/.Baza.xml.recovery"
    start_program "$dir"
    pid=$STARTED
    box=$(window_of "$pid" "Pozdrav") || return 1
    press "$box" Return || return 1
    box=$(window_of "$pid" "Greška") || return 1
    press "$box" Return || return 1
    main=$(main_window "$pid") || return 1
    kept=$(find "$dir" -maxdepth 1 -name '.Baza.xml.recovery-*' -type p | wc -l)
    expect_equal "FIFOs moved aside" 1 "$kept" || return 1
    click "$main" BitBtnAdd || return 1
    enter_name "$main" "Kapi za usi" || return 1
    [ -f "$dir/.Baza.xml.recovery" ] || fail "no journal of its own after the entry" || return 1
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    restart_and_check "$dir" Return "${ORIGINAL_NAMES[@]}" "Kapi za usi"
}

# SIGTERM while the recovery question waits: nobody answered it, so the
# journal stays as it was and the next start asks again.
scenario_term_at_the_recovery_question() {
    local dir=$1 pid box
    type_two_entries "$dir" || return 1
    pid=$STARTED
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    cp "$dir/.Baza.xml.recovery" "$WORK/journal.before"
    start_program "$dir"
    pid=$STARTED
    box=$(window_of "$pid" "Pozdrav") || return 1
    press "$box" Return || return 1
    box=$(window_of "$pid" "Pažnja!") || return 1
    kill -TERM "$pid"
    expect_exit "$pid" 0 || return 1
    cmp -s "$WORK/journal.before" "$dir/.Baza.xml.recovery" ||
        fail "the journal was changed or moved by the unanswered question" || return 1
    restart_and_check "$dir" Return "${ORIGINAL_NAMES[@]}" "Kapi za usi" "Mast od nevena"
}

# The system calls show it: the Tab that posts an entry is followed by the
# journal's sync (and, for the first change, its rename into place and the
# folder's sync) before the next key is sent to the program.
scenario_durable_before_next_input() {
    local dir=$1 pid log="$1/strace.log" tracer before after calls
    cp "$EXPECTED/register.xml" "$dir/Baza.xml"
    chmod 600 "$dir/Baza.xml"
    start_program "$dir"
    pid=$STARTED
    MAIN=$(greet "$pid") || return 1
    strace -f -tt -e trace=fsync,fdatasync,rename,renameat,renameat2 -o "$log" -p "$pid" 2>/dev/null &
    tracer=$!
    sleep 1
    click "$MAIN" BitBtnAdd || return 1
    local name
    for name in Prvi Drugi; do
        before=$(date +%H:%M:%S.%6N)
        enter_name "$MAIN" "$name" || return 1
        # Time for nothing but the program: the next input is not sent yet.
        sleep 1
        after=$(date +%H:%M:%S.%6N)
        calls=$(awk -v a="$before" -v b="$after" '{ if ($2 >= a && $2 <= b) print }' "$log")
        echo "$calls" | grep -q 'fdatasync(\|fsync(' ||
            fail "no sync between posting \"$name\" and the next input: $(cat "$log")" || return 1
        if [ "$name" = Prvi ]; then
            echo "$calls" | grep -q 'rename.*\.Baza\.xml\.recovery\.new.*\.Baza\.xml\.recovery' ||
                fail "the journal was not renamed into place: $calls" || return 1
        fi
        echo "  after posting $name:"
        echo "$calls" | sed 's/^/    /'
    done
    kill "$tracer" 2>/dev/null
    wait "$tracer" 2>/dev/null
    click "$MAIN" BitBtnExit || return 1
    expect_exit "$pid" 0
}

# Finding an entry in the middle of typing one: Ctrl+F over a new entry,
# "djurdja" typed and Enter find "Đurđa" in the first entry's patient (the
# new entry is posted on the way). Escape closes the box and the keyboard is
# back in the new entry's name, caret at its end: what is typed next goes on
# with the name, and the old entry is left alone. Then the same find again,
# and a click into the patient's box of the match: there the user works on
# the match, and F3 finds "djurdja" no more.
scenario_find() {
    local dir=$1 pid main find box
    cp "$EXPECTED/register.xml" "$dir/Baza.xml"
    chmod 600 "$dir/Baza.xml"
    start_program "$dir"
    pid=$STARTED
    main=$(greet "$pid") || return 1

    click "$main" BitBtnAdd || return 1
    click "$main" DBEditNaziv || return 1
    type_text "Novi lijek"
    xdotool key ctrl+f
    find=$(window_of "$pid" "Traži") || return 1
    type_text "djurdja"
    press "$find" Return || return 1
    press "$find" Escape || return 1
    window_gone "$find" || return 1
    # With no window manager to do it, the main window is given the focus
    # back by hand.
    timeout "$WAIT" xdotool windowfocus --sync "${main%% *}" || fail "no focus on the window" ||
        return 1
    type_text " 5 mg"

    xdotool key ctrl+f
    find=$(window_of "$pid" "Traži") || return 1
    press "$find" Return || return 1
    click "$main" DBEditPacijent || return 1
    timeout "$WAIT" xdotool windowfocus --sync "${main%% *}" || fail "no focus on the window" ||
        return 1
    xdotool key --delay 50 Home shift+Right shift+Right shift+Right shift+Right shift+Right
    type_text "Marija"

    xdotool key F3
    box=$(window_of "$pid" "Poruka") || return 1
    press "$box" Return || return 1
    window_gone "$box" || return 1

    click "$main" BitBtnExit || return 1
    expect_exit "$pid" 0 || return 1
    expect_register "$dir/Baza.xml" 3 || return 1
    expect_record "$dir/Baza.xml" 1 "3004" "Ljekarna Šibenik" "Sirup od žalfije" \
        "Salvia officinalis" "R05CA10" "Tvornica Čakovec d.o.o." "2.5" "Marija Žužić" "bočica" \
        "EUR" "12.75" "KI-2024/7" "dr. Ivan Šoljić" "KBC Split" "21000" "Split" \
        "Ćirilometodska 1" || return 1
    expect_record "$dir/Baza.xml" 3 "" "" "Novi lijek 5 mg" "" "" "" "" "" "" "" "" "" "" "" "" \
        "" ""
}

# Undo stays with its entry: two entries for the same patient; in the first
# one the patient is typed over and typed back, the second one is shown and
# Ctrl+Z pressed in the same box. Nothing of the first entry's typing comes
# into the second: the register after Izlaz holds what it held before.
scenario_undo_stays_with_its_entry() {
    local dir=$1 pid main row
    {
        sed -n '1,/<ROWDATA>/p' "$EXPECTED/register.xml"
        for row in A B; do
            printf '<ROW Naziv="%s" Pacijent="Ana Horvat"/>\n' "$row"
        done
        printf '</ROWDATA></DATAPACKET>\n'
    } >"$dir/before.xml"
    cp "$dir/before.xml" "$dir/Baza.xml"
    chmod 600 "$dir/Baza.xml"
    start_program "$dir"
    pid=$STARTED
    main=$(greet "$pid") || return 1

    click "$main" BitBtnFirst || return 1
    click "$main" DBEditPacijent || return 1
    xdotool key ctrl+a
    type_text "Marija Kovac"
    xdotool key ctrl+a
    type_text "Ana Horvat"
    click "$main" BitBtnNext || return 1
    click "$main" DBEditPacijent || return 1
    xdotool key --delay 50 ctrl+z ctrl+z ctrl+z

    click "$main" BitBtnExit || return 1
    expect_exit "$pid" 0 || return 1
    expect_same_records "$dir/before.xml" "$dir/Baza.xml"
}

# A colleague's register put in place of Baza.xml while the program runs is
# never lost. Izlaz asks ("Ne" by default keeps the colleague's file), the
# window is closed without saving, the next start offers the entries back
# over the changed register and "Da" takes them: the first save keeps the
# colleague's file beside as Baza.xml.<date-time>, byte for byte. Then "Da"
# to the change question keeps the next colleague's file the same way.
scenario_colleagues_file_kept() {
    local dir=$1 pid main box kept
    type_two_entries "$dir" || return 1
    pid=$STARTED
    main=$MAIN
    sed 's/Sirup od &#382;alfije/Kolegin sirup/' "$EXPECTED/register.xml" >"$dir/.kolega"
    mv "$dir/.kolega" "$dir/Baza.xml"
    cp -p "$dir/Baza.xml" "$WORK/colleague.xml"

    click "$main" BitBtnExit || return 1
    box=$(window_of "$pid" "Pažnja!") || return 1
    press "$box" Return || return 1
    window_gone "$box" || return 1
    # "Zatvoriti program bez spremanja?": "Da", which is not the default.
    box=$(window_of "$pid" "Pažnja!") || return 1
    press "$box" Tab space || return 1
    expect_exit "$pid" 0 || return 1
    cmp -s "$WORK/colleague.xml" "$dir/Baza.xml" || fail "the colleague's file was changed" ||
        return 1

    start_program "$dir"
    pid=$STARTED
    box=$(window_of "$pid" "Pozdrav") || return 1
    press "$box" Return || return 1
    # The recovery question over a changed register: "Da", not the default.
    box=$(window_of "$pid" "Pažnja!") || return 1
    press "$box" Tab space || return 1
    window_gone "$box" || return 1
    main=$(main_window "$pid") || return 1
    click "$main" BitBtnExit || return 1
    expect_exit "$pid" 0 || return 1
    expect_equal "names in Baza.xml" \
        "$(printf '%s\n' "${ORIGINAL_NAMES[@]}" "Kapi za usi" "Mast od nevena")" \
        "$(names_in "$dir/Baza.xml")" || return 1
    kept=$(find "$dir" -maxdepth 1 -name 'Baza.xml.*')
    [ "$(echo "$kept" | wc -l)" = 1 ] && [[ "$(basename "$kept")" =~ ^Baza\.xml\.[0-9]{8}-[0-9]{6}$ ]] ||
        fail "expected one kept copy Baza.xml.<date-time>, found: $kept" || return 1
    cmp "$WORK/colleague.xml" "$kept" >"$WORK/cmp.out" 2>&1 ||
        fail "the kept copy differs from the colleague's file: $(cat "$WORK/cmp.out")" || return 1
    expect_equal "kept copy mode" 600 "$(stat -c %a "$kept")" || return 1

    # Another colleague's file, and "Da" to replacing it.
    start_program "$dir"
    pid=$STARTED
    main=$(greet "$pid") || return 1
    sed 's/Sirup od &#382;alfije/Drugi sirup/' "$EXPECTED/register.xml" >"$dir/.kolega"
    mv "$dir/.kolega" "$dir/Baza.xml"
    cp -p "$dir/Baza.xml" "$WORK/colleague2.xml"
    click "$main" BitBtnExit || return 1
    box=$(window_of "$pid" "Pažnja!") || return 1
    press "$box" Tab space || return 1
    expect_exit "$pid" 0 || return 1
    kept=$(find "$dir" -maxdepth 1 -name 'Baza.xml.*' ! -name "$(basename "$kept")")
    [ -n "$kept" ] && [ "$(echo "$kept" | wc -l)" = 1 ] ||
        fail "expected a second kept copy, found: $kept" || return 1
    cmp -s "$WORK/colleague2.xml" "$kept" ||
        fail "the second kept copy differs from the colleague's file" || return 1
    expect_equal "names in Baza.xml" \
        "$(printf '%s\n' "${ORIGINAL_NAMES[@]}" "Kapi za usi" "Mast od nevena")" \
        "$(names_in "$dir/Baza.xml")"
}

# ------------------------------------------------- suggestions and Ctrl+Z

# One entry into tests/e2e/known.xml, box by box in tab order, typed in full.
ENTRY_IN_FULL=("3004" "Ljekarna Šibenik" "Keppra 500 mg tbl." "levetiracetam" "n03ax14"
    "UCB Pharma S.A." "Ivana Marić" "" "kutija" "3" "EUR" "45,5" "dr. Ivan Šoljić" "KBC Split"
    "21000" "Split" "Spinčićeva 1")
# The same entry taken from the lists: per box what is typed, then how many
# times Down is pressed before Tab takes the value (none: Tab takes nothing).
# Picked, "Keppra" fills in its generic name, ATK code, maker and unit.
ENTRY_WITH_PICKS=("3:2" "l:1" "k:1" ":0" ":0" ":0" "Ivana Marić:0" ":0" ":0" "3:0" "e:1"
    "45,5:0" "d:2" "k:2" "2:1" "s:1" "s:1")

KEYSTROKES=0
count_typed() {
    KEYSTROKES=$((KEYSTROKES + $(printf '%s' "$1" | LC_ALL=C.UTF-8 wc -m)))
}

# Starts the program on known.xml, types one entry as given ("full" or
# "picks") from Dodaj to the Tab out of the address box, and ends with Izlaz.
type_known_entry() { # dir, how
    local dir=$1 pid main step typed downs i
    cp "$EXPECTED/known.xml" "$dir/Baza.xml"
    chmod 600 "$dir/Baza.xml"
    start_program "$dir"
    pid=$STARTED
    main=$(greet "$pid") || return 1
    click "$main" BitBtnAdd || return 1
    KEYSTROKES=0
    if [ "$2" = full ]; then
        for typed in "${ENTRY_IN_FULL[@]}"; do
            type_text "$typed"
            xdotool key Tab
            count_typed "$typed"
            KEYSTROKES=$((KEYSTROKES + 1))
        done
    else
        for step in "${ENTRY_WITH_PICKS[@]}"; do
            typed=${step%:*}
            downs=${step##*:}
            [ -z "$typed" ] || type_text "$typed"
            count_typed "$typed"
            for ((i = 0; i < downs; i++)); do
                xdotool key Down
            done
            xdotool key Tab
            KEYSTROKES=$((KEYSTROKES + downs + 1))
        done
    fi
    click "$main" BitBtnExit || return 1
    expect_exit "$pid" 0
}

# The same entry typed in full and taken from the lists: the same bytes in
# Baza.xml, for fewer keys.
scenario_entry_with_picks() {
    local dir=$1 full picks
    mkdir -p "$dir/full" "$dir/picks"
    type_known_entry "$dir/full" full || return 1
    full=$KEYSTROKES
    type_known_entry "$dir/picks" picks || return 1
    picks=$KEYSTROKES
    echo "  keystrokes for the entry: $full typed in full, $picks with picks"
    expect_register "$dir/full/Baza.xml" 5 || return 1
    expect_record "$dir/full/Baza.xml" 5 "3004" "Ljekarna Šibenik" "Keppra 500 mg tbl." \
        "levetiracetam" "N03AX14" "UCB Pharma S.A." "3" "Ivana Marić" "kutija" "EUR" "45.5" "" \
        "dr. Ivan Šoljić" "KBC Split" "21000" "Split" "Spinčićeva 1" || return 1
    cmp "$dir/full/Baza.xml" "$dir/picks/Baza.xml" ||
        fail "Baza.xml differs between the entry typed in full and with picks" || return 1
    [ "$picks" -lt "$full" ] || fail "picks took $picks keys, typing in full $full"
}

# Izbriši three times, at the second record, the one after it and the last;
# Ctrl+Z three times; after Izlaz the file is as it was before the deletes.
scenario_delete_undo() {
    local dir=$1 pid main
    cp "$EXPECTED/known.xml" "$dir/Baza.xml"
    chmod 600 "$dir/Baza.xml"
    # Once through the program, so that the file is as the program writes it.
    start_program "$dir"
    pid=$STARTED
    main=$(greet "$pid") || return 1
    click "$main" BitBtnExit || return 1
    expect_exit "$pid" 0 || return 1
    cp "$dir/Baza.xml" "$WORK/before-deletes.xml"

    start_program "$dir"
    pid=$STARTED
    main=$(greet "$pid") || return 1
    click "$main" BitBtnFirst || return 1
    click "$main" BitBtnNext || return 1
    click "$main" BitBtnDel || return 1
    click "$main" BitBtnDel || return 1
    click "$main" BitBtnLast || return 1
    click "$main" BitBtnDel || return 1
    # Izbriši leaves the keyboard in Tarifni broj, which has nothing to undo.
    xdotool key ctrl+z ctrl+z ctrl+z
    click "$main" BitBtnExit || return 1
    expect_exit "$pid" 0 || return 1
    cmp "$WORK/before-deletes.xml" "$dir/Baza.xml" ||
        fail "Baza.xml after the deletes and Ctrl+Z differs from the file before"
}

# ------------------------------------------------------------------- driver

failed=0
run() { # scenario
    SCENARIO=$1
    local dir="$WORK/$SCENARIO"
    mkdir -p "$dir"
    echo "--- $SCENARIO"
    if "scenario_$SCENARIO" "$dir"; then
        echo "ok  $SCENARIO"
    else
        echo "FAILED $SCENARIO (its folder: $dir)"
        failed=$((failed + 1))
    fi
    stop_programs
}

run first_entries
run export
run second_copy
run erase
run recover_after_kill
run term_saves
run term_with_a_box_open
run recover_after_x_server_died
run recover_half_typed
run erase_then_kill
run recovery_declined
run durable_before_next_input
run planted_link
run fifo_at_the_journal
run term_at_the_recovery_question
run find
run undo_stays_with_its_entry
run colleagues_file_kept
run entry_with_picks
run delete_undo

if [ "$failed" -gt 0 ]; then
    echo "$failed scenario(s) failed; files and screenshots are in $WORK"
    exit 1
fi
rm -rf "$WORK"
echo "all scenarios passed"
