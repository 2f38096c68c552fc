#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's packages, when it is missing.
# Quick when everything is there: it only asks dpkg. Needs root (or sudo) the first time.
set -euo pipefail

need_pkgs=(
  cmake ninja-build g++ g++-multilib file binutils
  libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386
  gnuplot-nox
  libcli11-dev
  nlohmann-json3-dev
  valgrind
  libmodbus-dev:i386
  python3-pymodbus python3-serial-asyncio
  libboost-dev
  libjs-dygraphs
  chromium chromium-driver python3-selenium
  mkdocs help2man curl
)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  missing=("${need_pkgs[@]}")
else
  for p in "${need_pkgs[@]}"; do
    if ! dpkg-query -W -f='${db:Status-Status}\n' "$p" 2>/dev/null | grep -qx installed; then
      missing+=("$p")
    fi
  done
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The mingw-w64 compiler comes in a win32-thread and a posix-thread flavour; std::thread and
# <mutex> in the host need the posix one.
if command -v update-alternatives >/dev/null && [ -e /usr/bin/i686-w64-mingw32-g++-posix ]; then
  cur=$(readlink -f /usr/bin/i686-w64-mingw32-g++ || true)
  case "$cur" in *posix*) ;; *)
    as_root update-alternatives --set i686-w64-mingw32-g++ /usr/bin/i686-w64-mingw32-g++-posix >/dev/null
    as_root update-alternatives --set i686-w64-mingw32-gcc /usr/bin/i686-w64-mingw32-gcc-posix >/dev/null ;;
  esac
fi

# Wine keeps its prefix in the home folder; create it once, quietly, so that the first test run
# does not spend its time (or its output) on it.
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  echo "creating the wine prefix"
  WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
fi
