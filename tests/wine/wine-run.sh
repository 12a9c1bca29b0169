#!/bin/sh
# wine-run.sh PREFIX LOADER PROGRAM [ARGS...]: runs a Windows program in the given Wine prefix.
prefix=$1 loader=$2
shift 2
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec "$loader" "$@"
