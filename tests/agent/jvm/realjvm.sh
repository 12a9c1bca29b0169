# Test bed for the agent in a real JVM; source this file.
# run_jvm OPTIONS COMMAND...: starts the JDK's java with the Java side and the harness on its class
# path, attaches the agent library with OPTIONS and runs the harness COMMANDs (see AttachHarness).
# Afterwards $jvm_status holds the exit code, $jvm_stdout and $jvm_stderr the output, and
# $jvm_console the agent's console lines ("zentaro> ..."). Needs JAVA, CLASSPATH_JVM and LIBRARY.
run_jvm() {
  jvm_out=$(mktemp) jvm_err=$(mktemp)
  options=$1
  shift
  "$JAVA" -Djdk.attach.allowAttachSelf=true -cp "$CLASSPATH_JVM" AttachHarness "$LIBRARY" "$options" "$@" \
    >"$jvm_out" 2>"$jvm_err" </dev/null
  jvm_status=$?
  jvm_stdout=$(cat "$jvm_out")
  jvm_stderr=$(cat "$jvm_err")
  jvm_console=$(grep '^zentaro> ' "$jvm_err")
  rm -f "$jvm_out" "$jvm_err"
}

failures=0
expect_equal() { # WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'FAIL: %s\n--- expected\n%s\n--- actual\n%s\n--- JVM standard error\n%s\n' "$1" "$2" "$3" "$jvm_stderr"
    failures=$((failures + 1))
  else
    echo "ok: $1"
  fi
}
