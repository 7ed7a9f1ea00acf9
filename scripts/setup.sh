#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the programs.
# Quick when everything is there: apt is only touched for missing packages.
#
# The 32-bit Wine loader (wine32) needs the i386 architecture in dpkg and a
# kernel that runs 32-bit programs; where the kernel refuses them, the 32-bit
# Wine is not installed at all and the x86 tests skip themselves.
#
# A package mirror caught in mid-synchronisation fails one index (often the
# i386 security one): the update is retried, and the install goes on as long
# as it can be resolved, with the stable suite preferred when the i386 twins
# of newer amd64 libraries are missing. What still cannot be installed is
# named, one line a package, and set-up fails.
set -uo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build googletest
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  libz-mingw-w64-dev
  wine64 xvfb x11-utils imagemagick
  unzip zip p7zip-full libarchive-tools libevt-utils python3 python3-pefile python3-jsonschema
)
# Wanted, not needed: the browser that renders the run's summary page in its
# test, which skips itself without one. One that cannot be installed is
# named, and set-up goes on.
optional=(chromium-headless-shell)
packages+=("${optional[@]}")
if scripts/probe32.sh; then
  packages+=(wine32:i386)
else
  echo "setup: this kernel cannot run 32-bit programs: the 32-bit Wine is not installed and the x86 tests will be skipped"
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
((${#missing[@]})) || exit 0

echo "setup: installing ${missing[*]}"
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
for attempt in 1 2 3; do
  $SUDO apt-get update -q >"$log" 2>&1 && break
  echo "setup: apt-get update failed (attempt $attempt of 3): $(grep -m1 '^E:' "$log" || tail -n1 "$log")"
  [ "$attempt" -lt 3 ] && sleep $((attempt * 5))
done

# The options under which the whole list resolves: as configured, else with
# the stable suite of this release preferred.
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
resolves() { $SUDO apt-get install -s -q --no-install-recommends "$@" >"$log" 2>&1; }
options=()
if ! resolves "${missing[@]}"; then
  if [ -n "$suite" ] && resolves -t "$suite" "${missing[@]}"; then
    echo "setup: the package list resolves only with the $suite suite preferred; installing so"
    options=(-t "$suite")
  fi
fi

if resolves "${options[@]}" "${missing[@]}"; then
  $SUDO apt-get install -y -q --no-install-recommends "${options[@]}" "${missing[@]}" && exit 0
  echo "setup: apt-get install failed" >&2
  exit 1
fi

# Something cannot be resolved: install what can be, name what cannot.
installable=() failed=0
for p in "${missing[@]}"; do
  if resolves "${options[@]}" "$p" || { [ -n "$suite" ] && resolves -t "$suite" "$p"; }; then
    installable+=("$p")
  else
    reason=$(grep -m1 -E '^E:|Depends:|but it is not' "$log" | sed 's/^ *//')
    echo "setup: cannot install $p: ${reason:-apt-get cannot resolve it}" >&2
    [[ " ${optional[*]} " == *" $p "* ]] || failed=1
  fi
done
if ((${#installable[@]})); then
  $SUDO apt-get install -y -q --no-install-recommends "${options[@]}" "${installable[@]}" ||
    { [ -n "$suite" ] && $SUDO apt-get install -y -q --no-install-recommends -t "$suite" "${installable[@]}"; } ||
    { echo "setup: apt-get install failed" >&2; exit 1; }
fi
exit $failed
