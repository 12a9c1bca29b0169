#!/bin/sh
# check-imports.sh OBJDUMP BUILD_DIR: every .exe and .dll built in the tree imports system DLLs only
# (no libgcc, libstdc++ or winpthread DLLs that a user's machine would lack).
objdump=$1 dir=$2
allowed='^(kernel32|user32|advapi32|winmm|msvcrt|ws2_32|shell32|ole32|oleaut32|gdi32|version|shlwapi|api-ms-win-[a-z0-9-]+)\.dll$'
checked=0 failed=0
for f in $(find "$dir" \( -path "$dir/wineprefix" -o -name CMakeFiles \) -prune -o \( -name '*.exe' -o -name '*.dll' \) -type f -print); do
  checked=$((checked + 1))
  for dll in $("$objdump" -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
      case "$(basename "$f")" in
        # the stand-in jvm.dll imports its companion DLL on purpose
        jvm.dll) [ "$dll" = "standinrt.dll" ] && continue ;;
      esac
      echo "FAIL: $f imports $dll"
      failed=$((failed + 1))
    fi
  done
done
echo "checked $checked binaries"
[ "$checked" -gt 0 ] && [ "$failed" -eq 0 ]
