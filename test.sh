#!/usr/bin/env bash
# Builds everything (Linux i386, Windows i686, Linux i386 with sanitizers, the host's core for
# x86-64 under ThreadSanitizer) and runs every test.
# Installs what it needs first (Debian packages, the i386 architecture, Wine's prefix).
set -euo pipefail
cd "$(dirname "$0")"
export WINEDEBUG=${WINEDEBUG:--all}
# The tests that compare the Windows build with this one must not skip here: it is built below.
export KX_REQUIRE_WINDOWS=1

bash scripts/install-deps.sh

# The guide: a broken link or a page missing from it fails here.
mkdocs build --strict --quiet

jobs=$(nproc)
# The Windows build first: the Linux tests compare its tables and its traces with their own.
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j "$jobs"
# The packages, which a test checks (and, as root, installs): the Windows archive, the Debian package.
cmake --build --preset windows-i686 --target package >/dev/null

cmake --preset linux-i386 >/dev/null
cmake --build --preset linux-i386 -j "$jobs"
cmake --build --preset linux-i386 --target package >/dev/null
ctest --preset linux-i386 -j "$jobs"

cmake --preset linux-i386-asan >/dev/null
cmake --build --preset linux-i386-asan -j "$jobs"
ctest --preset linux-i386-asan -j "$jobs"

# The host's core as x86-64 code under ThreadSanitizer (it has no 32-bit x86 runtime): the engine,
# the exchange and a run with both live channels, on modules made of the tests' own functions.
cmake --preset linux-x86_64-tsan >/dev/null
cmake --build --preset linux-x86_64-tsan -j "$jobs"
ctest --preset linux-x86_64-tsan -j "$jobs"
