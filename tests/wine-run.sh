#!/bin/sh
# Runs a test built for Windows under Wine, as CTest's emulator: the test's
# report goes to a file, since Wine does not always pass a Windows program's
# output through a pipe whole, and is shown once the test has ended. The
# exit status is the test's own.
# usage: wine-run.sh [--gui] PROGRAM.exe [ARGS...]
# --gui: the program makes a QApplication (QTEST_MAIN), which takes the
# platform from its command line.
set -u
gui=
if [ "${1:-}" = --gui ]; then
    gui=1
    shift
fi
# The headless platform on Windows reads its fonts from one folder, named by
# QT_QPA_FONTDIR; Wine keeps that variable too, so it is put where Windows
# keeps a user's variables, once per prefix: the fonts the Linux tests get.
prefix=${WINEPREFIX:-$HOME/.wine}
if [ ! -f "$prefix/.lijekovi-fontdir" ]; then
    WINEDEBUG=-all wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /t REG_SZ \
        /d 'Z:\usr\share\fonts\truetype\dejavu' /f >/dev/null 2>&1 &&
        touch "$prefix/.lijekovi-fontdir"
fi
report=$(mktemp "${TMPDIR:-/tmp}/lijekovi-test.XXXXXX")
trap 'rm -f "$report"' EXIT
export WINEDEBUG="${WINEDEBUG:--all}"
# Wine reads its locale from LANG and LC_ALL, so the tests' locale reaches
# the Windows program as the user's regional settings. QT_QPA_PLATFORM is one
# of the variables Wine keeps from Windows programs: the platform goes on the
# command line, where QApplication takes it.
if [ -n "$gui" ] && [ -n "${QT_QPA_PLATFORM:-}" ]; then
    set -- "$@" -platform "$QT_QPA_PLATFORM"
fi
wine "$@" -o "$report,txt" </dev/null
status=$?
cat "$report"
exit $status
