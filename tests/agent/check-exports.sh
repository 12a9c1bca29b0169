#!/bin/sh
# check-exports.sh OBJDUMP|NM LIBRARY: the agent library exports exactly Agent_OnAttach and the six
# natives of JvmtiCallee, nothing else.
tool=$1 library=$2
expected="Agent_OnAttach
Java_com_zentaro_agent_callee_JvmtiCallee_addNetioClass
Java_com_zentaro_agent_callee_JvmtiCallee_associateThread
Java_com_zentaro_agent_callee_JvmtiCallee_createInterceptionMethodId
Java_com_zentaro_agent_callee_JvmtiCallee_debugOut0
Java_com_zentaro_agent_callee_JvmtiCallee_record
Java_com_zentaro_agent_callee_JvmtiCallee_setFilters"
case "$library" in
  *.dll) actual=$("$tool" -p "$library" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | sort) ;;
  *) actual=$("$tool" -D --defined-only "$library" | awk '{print $3}' | sort) ;;
esac
if [ "$actual" != "$expected" ]; then
  echo "FAIL: $library exports:"
  echo "$actual"
  exit 1
fi
echo "$library exports exactly the agent's entry points"
