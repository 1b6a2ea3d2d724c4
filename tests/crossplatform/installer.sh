#!/bin/sh
# The installer as a user meets it, under Wine in an X server of its own
# (run through xvfb-run): installed silently for the current user, the
# program started from its shortcut in Documents\Lijekovi where it writes
# Baza.xml, closed with Alt+F4, then uninstalled silently, which must leave
# that folder and everything in it.
# usage: xvfb-run -a installer.sh lijekovi-2.1-setup.exe
set -eu
setup=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/lijekovi-installer.XXXXXX")
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
# A user of their own: Wine links the prefix's Documents and Desktop to
# these folders.
export HOME="$work/home" WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$HOME/Documents" "$HOME/Desktop"
wineboot --init >/dev/null 2>&1
user=$(ls "$WINEPREFIX/drive_c/users" | grep -v '^Public$' | head -n 1)
programs="$WINEPREFIX/drive_c/users/$user/AppData/Local/Programs/Lijekovi"
startmenu="$WINEPREFIX/drive_c/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Lijekovi.lnk"
register="$HOME/Documents/Lijekovi"

fail() { echo "FAIL: $*" >&2; exit 1; }
waitfor() { # waitfor SECONDS COMMAND...
    t=$1; shift
    while [ "$t" -gt 0 ]; do "$@" && return 0; sleep 1; t=$((t - 1)); done
    return 1
}
window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
shown() { [ -n "$(window "$1")" ]; }
press() { # title, keys...: a window just shown may refuse the focus for a moment
    local id tries=0
    id=$(window "$1")
    shift
    until xdotool windowfocus --sync "$id" 2>/dev/null; do
        tries=$((tries + 1))
        [ $tries -lt 50 ] || fail "the window never took the focus"
        sleep 0.2
    done
    xdotool key "$@"
}

# A note the user keeps beside the register, there before the install.
mkdir -p "$register"
echo "moje bilješke" >"$register/biljeske.txt"

wine "$setup" /S
[ -f "$programs/lijekovi.exe" ] || fail "the program is not installed in $programs"
[ -f "$programs/uninstall.exe" ] || fail "no uninstaller"
[ -f "$startmenu" ] || fail "no Start menu entry"
[ -f "$HOME/Desktop/Lijekovi.lnk" ] || fail "no desktop shortcut"
[ "$(cat "$register/biljeske.txt")" = "moje bilješke" ] || fail "the installer touched the working folder"
echo "installed for the user: program, uninstaller, Start menu entry, desktop shortcut"

# Started as the Start menu starts it: the shortcut's working folder.
wine start /unix "$startmenu"
waitfor 60 shown Pozdrav || fail "the program did not greet"
[ -f "$register/.Baza.xml.lock" ] || fail "the program did not start in $register"
press Pozdrav Return
waitfor 30 test -f "$register/Baza.xml" || fail "no Baza.xml in the working folder"
waitfor 30 shown Tervalis || fail "no window"
press Tervalis alt+F4
waitfor 30 test ! -e "$register/.Baza.xml.lock" || fail "the program did not end"
grep -q '<DATAPACKET' "$register/Baza.xml" || fail "Baza.xml is not a register"
echo "started in Documents\\Lijekovi, wrote Baza.xml there, closed"

cp "$register/Baza.xml" "$work/Baza.xml"
wine "$programs/uninstall.exe" /S
# The uninstaller copies itself away and removes the program from there.
waitfor 30 test ! -e "$programs/lijekovi.exe" || fail "the program is still installed"
waitfor 10 test ! -e "$startmenu" || fail "the Start menu entry is still there"
[ ! -e "$HOME/Desktop/Lijekovi.lnk" ] || fail "the desktop shortcut is still there"
cmp -s "$register/Baza.xml" "$work/Baza.xml" || fail "the uninstaller changed the register"
[ "$(cat "$register/biljeske.txt")" = "moje bilješke" ] || fail "the uninstaller touched the user's note"
echo "uninstalled: program and shortcuts gone, Documents\\Lijekovi and its files kept"
