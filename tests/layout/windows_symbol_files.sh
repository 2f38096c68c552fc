#!/usr/bin/env bash
# The windows-i686 build writes the same symbol files and listings as this build, byte for byte.
# Usage: windows_symbol_files.sh LINUX_BIN_DIR WINDOWS_BIN_DIR. Exit 77 (skipped) without a
# Windows build, unless KX_REQUIRE_WINDOWS is set (test.sh): then that is a failure.
set -u
linux_bin=$1
win_bin=$2
if [ ! -f "$win_bin/CCodePublic.dll" ]; then
  echo "${KX_REQUIRE_WINDOWS:+FAIL: }no Windows build in $win_bin"
  [ -n "${KX_REQUIRE_WINDOWS:-}" ] && exit 1
  exit 77
fi
bad=0
for file in CCodePublic.symbols.json CCodePublic_next.symbols.json CCodePublic.st CCodePublic_next.st; do
  if [ ! -f "$win_bin/$file" ]; then
    echo "FAIL: the Windows build has no $file"; bad=1
  elif ! cmp "$linux_bin/$file" "$win_bin/$file"; then
    echo "FAIL: $file differs"; diff "$linux_bin/$file" "$win_bin/$file" | head -n 6; bad=1
  fi
done
[ $bad = 0 ] && echo "symbol files and listings identical"
exit $bad
