#!/usr/bin/env bash
# Installs the cross compilers, Wine and the test tools this project builds and tests with.
# Idempotent: prints nothing and changes nothing when everything is in place.
set -euo pipefail

packages=(
  cmake make g++ git python3 file
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 qemu-user-static
  xvfb xauth xdotool imagemagick
  googletest nlohmann-json3-dev openjdk-17-jdk-headless
)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine runs 32-bit programs through its i386 loader. Some virtual machines cannot execute 32-bit
# ELF programs at all; there the loader runs under qemu's user-mode emulator instead. The guest
# address space is held at 2 GiB: with qemu's default of 4 GiB Wine needs about a minute to start.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  interpreter=/usr/local/bin/qemu-i386-wine
  if [ ! -x "$interpreter" ]; then
    $sudo tee "$interpreter" >/dev/null <<'WRAP'
#!/bin/sh
: "${QEMU_RESERVED_VA:=0x7fff0000}"
export QEMU_RESERVED_VA
exec /usr/bin/qemu-i386-static "$@"
WRAP
    $sudo chmod 755 "$interpreter"
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
  [ -e "$binfmt/qemu-i386" ] && echo -1 | $sudo tee "$binfmt/qemu-i386" >/dev/null
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$interpreter"':' \
    | $sudo tee "$binfmt/register" >/dev/null
  if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "error: this machine cannot run 32-bit programs, not even through qemu-i386" >&2
    exit 1
  fi
  echo "32-bit programs run through qemu-i386 (binfmt_misc)"
fi
