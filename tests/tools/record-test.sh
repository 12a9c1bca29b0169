#!/bin/sh
# record-test.sh RECORD SNAPSHOT DEMO_JAR JAVA: zentaro-record against a real demo JVM: a recording
# that checks and holds the hot method, the progress bar on a terminal only, Ctrl-C, the errors.
RECORD=$1 SNAPSHOT=$2 DEMO_JAR=$3 JAVA=$4
scratch=$(mktemp -d)
failures=0
expect() { # WHAT CONDITION...
  what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
contains() { case "$1" in *"$2"*) return 0 ;; *) return 1 ;; esac }
run() { # runs the recorder, keeping $status, $out and $err
  "$RECORD" "$@" >"$scratch/out" 2>"$scratch/err"
  status=$?
  out=$(cat "$scratch/out") err=$(cat "$scratch/err")
}

"$JAVA" -jar "$DEMO_JAR" 60 >"$scratch/demo.out" 2>&1 &
demo=$!
while ! grep -q ready "$scratch/demo.out"; do sleep 0.1; done
trap 'kill $demo $other 2>/dev/null; rm -rf "$scratch"' EXIT

# A plain recording, not on a terminal: no progress bar, the file checks, the hot method is there.
run --pid $demo --seconds 2 --out "$scratch/plain.snapshot"
expect "recording exits with 0" [ "$status" = 0 ]
expect "reports where it wrote" contains "$out" "Wrote $scratch/plain.snapshot"
expect "no progress bar off a terminal" [ -z "$err" ]
expect "the file checks" "$SNAPSHOT" check "$scratch/plain.snapshot"
tree=$("$SNAPSHOT" tree "$scratch/plain.snapshot")
expect "the hot method is in the cruncher's tree" contains "$tree" "com.zentaro.demo.DemoWorkload.countPrimes(I)I"
expect "the socket read counts as network I/O" contains "$(echo "$tree" | grep -A40 'Thread "client"')" "network I/O"
expect "no temporary files are left" [ "$(ls -A "$scratch" | grep -c recording)" = 0 ]

# On a terminal the progress bar shows.
script -qec "'$RECORD' --pid $demo --seconds 1 --out '$scratch/terminal.snapshot'" /dev/null >"$scratch/tty" 2>&1
expect "progress bar on a terminal" grep -q 'Recording \[#' "$scratch/tty"
expect "terminal recording checks" "$SNAPSHOT" check "$scratch/terminal.snapshot"

# One Ctrl-C once the agent is attached (each attach writes a "Protocol version" line): the
# recorder says how long it still takes and writes the file. A background job inherits an ignored
# SIGINT; the recorder gets the default back, as in a terminal.
attaches=$(grep -c "Protocol version" "$scratch/demo.out")
python3 -c 'import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); os.execv(sys.argv[1], sys.argv[1:])' \
  "$RECORD" --pid $demo --seconds 3 --out "$scratch/interrupted.snapshot" >"$scratch/out" 2>"$scratch/err" &
recorder=$!
while [ "$(grep -c "Protocol version" "$scratch/demo.out")" = "$attaches" ]; do sleep 0.1; done
sleep 0.5
kill -INT $recorder
wait $recorder
status=$?
expect "Ctrl-C: exit code 0" [ "$status" = 0 ]
expect "Ctrl-C: explains the wait" grep -q "cannot end a recording early" "$scratch/err"
expect "Ctrl-C: the file checks" "$SNAPSHOT" check "$scratch/interrupted.snapshot"

# Errors, with the message and the exit code.
sleep 30 &
other=$!
run --pid $other --seconds 1 --out "$scratch/x.snapshot"
expect "a process that is no JVM: exit 1" [ "$status" = 1 ]
expect "a process that is no JVM: message" contains "$err" "process $other is not a JVM that accepts attach"
expect "a process that is no JVM is left alone" kill -0 $other
kill $other
wait $other 2>/dev/null
run --pid $other --seconds 1 --out "$scratch/x.snapshot"
expect "a missing process: exit 1" [ "$status" = 1 ]
expect "a missing process: message" contains "$err" "no process has the id $other"
run --pid $demo --seconds 1 --out "$scratch/no/such/dir/x.snapshot"
expect "unwritable output: exit 1" [ "$status" = 1 ]
expect "unwritable output: message" contains "$err" "cannot write $scratch/no/such/dir/x.snapshot"
run --seconds 1
expect "no pid: exit 2" [ "$status" = 2 ]
expect "no pid: message and usage" contains "$err" "--pid is missing"
run --pid 12x
expect "a bad number: exit 2" [ "$status" = 2 ]
run --help
expect "help: exit 0 and the options" contains "$out" "--netio CLASS[#METHOD[#SIGNATURE]]"
run --list
expect "--list shows the demo JVM" contains "$out" "$demo "

[ "$failures" -eq 0 ]
