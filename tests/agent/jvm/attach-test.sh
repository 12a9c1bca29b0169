#!/bin/sh
# attach-test.sh JAVA CLASSPATH LIBRARY: attaches the Linux agent to a running OpenJDK and calls
# its natives.
JAVA=$1 CLASSPATH_JVM=$2 LIBRARY=$3
. "$(dirname "$0")/realjvm.sh"
profile=$(mktemp -d)
export USERPROFILE="$profile"

run_jvm agent-threads,agent-classes "debug:0:0:hello %s from Java" "debug:0:1:dropped" "id:__hvs_probe" \
  "id:__hvs_probe"
expect_equal "exit status" 0 "$jvm_status"
expect_equal "console lines" "zentaro> Protocol version 1
zentaro> 64-bit library
zentaro> Record agent threads
zentaro> Record agent classes
zentaro> Native library initialized
zentaro> writing debug output to $profile/zentaro.native.debug.out." "$jvm_console"
expect_equal "debug file" "hello %s from Java" "$(cat "$profile/zentaro.native.debug.out")"
first_id=$(echo "$jvm_stdout" | sed -n '1s/^id __hvs_probe = //p')
second_id=$(echo "$jvm_stdout" | sed -n '2s/^id __hvs_probe = //p')
expect_equal "natives bound, program finished" "id __hvs_probe = $first_id
id __hvs_probe = $second_id
done" "$jvm_stdout"
expect_equal "interception ids are non-zero and new for each call" "yes" \
  "$([ "${first_id:-0}" != 0 ] && [ "${second_id:-0}" != 0 ] && [ "$first_id" != "$second_id" ] && echo yes)"

run_jvm - attach:save-thread-start
expect_equal "second attach, exit status" 0 "$jvm_status"
expect_equal "second attach is ignored" "zentaro> Protocol version 1
zentaro> 64-bit library
zentaro> Native library initialized
zentaro> Protocol version 1
zentaro> Native library already initialized; this attach is ignored." "$jvm_console"

rm -rf "$profile"
[ "$failures" -eq 0 ]
