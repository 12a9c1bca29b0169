#!/bin/sh
# prefix.sh up|down PREFIX LOADER
#   up:   makes a fresh Wine prefix, starts its server for the whole test run and warms it, so that
#         Wine's background processes start here and not inside a test (they would inherit the
#         test's output pipe and hold it open).
#   down: shuts down that prefix's server and everything running in it.
set -e
action=$1 prefix=$2 loader=$3
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  up)
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    wineboot --init >/dev/null 2>&1 </dev/null
    wineserver -p >/dev/null 2>&1 </dev/null &
    "$loader" cmd /c exit >/dev/null 2>&1 </dev/null
    echo "Wine prefix ready: $prefix"
    ;;
  down)
    wineserver -k >/dev/null 2>&1 || true
    ;;
  *) echo "usage: prefix.sh up|down PREFIX LOADER" >&2; exit 2 ;;
esac
