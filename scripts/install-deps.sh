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
  libyaml-cpp-dev:i386
  libsystemd-dev:i386
  dpkg-dev fakeroot zip unzip
  # The thread-sanitizer build (preset linux-x86_64-tsan) is the build machine's own x86-64 code.
  libgtest-dev:amd64 libgmock-dev:amd64 libmodbus-dev:amd64 libsystemd-dev:amd64
  nodejs
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

# yaml-cpp for the mingw-w64 build (scenario files under Wine): Debian has no mingw build of it, so
# its source package is fetched once with apt itself, from a source list of its own (the system's
# apt configuration is left as it is), into /usr/local/src/yaml-cpp; the windows-i686 build
# compiles it there as a subdirectory. The Linux build uses libyaml-cpp-dev:i386.
yaml_src=/usr/local/src/yaml-cpp
if [ ! -f "$yaml_src/include/yaml-cpp/yaml.h" ]; then
  echo "fetching yaml-cpp from Debian's source package"
  work=$(mktemp -d)
  mkdir -p "$work/parts" "$work/lists/partial" "$work/cache" "$work/src"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -e 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$work/parts/src.sources"
  else
    grep -h '^deb ' /etc/apt/sources.list | sed -e 's/^deb /deb-src /' >"$work/parts/src.list"
  fi
  apt_src=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/parts"
           -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o APT::Sandbox::User=root)
  as_root apt-get "${apt_src[@]}" -qq update
  (cd "$work/src" && as_root apt-get "${apt_src[@]}" -qq source yaml-cpp) >"$work/log" 2>&1 || true
  tree=$(find "$work/src" -maxdepth 4 -path '*/include/yaml-cpp/yaml.h' | head -n 1)
  if [ -z "$tree" ]; then
    cat "$work/log" >&2
    echo "install-deps: no yaml-cpp sources in Debian's source package yaml-cpp" >&2
    exit 1
  fi
  tree=$(dirname "$(dirname "$(dirname "$tree")")")
  as_root mkdir -p "$(dirname "$yaml_src")"
  as_root rm -rf "$yaml_src"
  as_root cp -r "$tree" "$yaml_src"
  as_root rm -rf "$work"
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

# The DAP tests' client and the editor extension's packer, from npm at the versions the lock file
# records (tests/dap/package-lock.json); npm ci is quick when they are installed already. Debian
# ships npm apart from nodejs.
if ! command -v npm >/dev/null; then
  as_root apt-get install -y -qq --no-install-recommends npm >/dev/null
fi
dap_tests="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/dap"
if [ ! -f "$dap_tests/node_modules/.package-lock.json" ] ||
   ! cmp -s "$dap_tests/package-lock.json" "$dap_tests/node_modules/.package-lock.json.installed"; then
  echo "installing the DAP tests' npm packages"
  (cd "$dap_tests" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  cp "$dap_tests/package-lock.json" "$dap_tests/node_modules/.package-lock.json.installed"
fi
