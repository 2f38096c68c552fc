# Sourced by the wine_*.sh tests: wine_setup WINDOWS_BIN_DIR WORK_DIR checks that the Windows build
# and Wine are there (exit 77, skipped, when not; a failure when KX_REQUIRE_WINDOWS is set, as
# test.sh does, for there they must be), then makes WORK_DIR afresh and enters it.
wine_setup() {
  local win_bin=$1 work=$2 why=""
  if [ ! -f "$win_bin/softplc.exe" ] || [ ! -f "$win_bin/CCodePublic.dll" ] || [ ! -f "$win_bin/CCodePublic_next.dll" ]; then
    why="no Windows build in $win_bin"
  elif ! command -v wine >/dev/null; then
    why="wine is not installed"
  fi
  if [ -n "$why" ]; then
    if [ -n "${KX_REQUIRE_WINDOWS:-}" ]; then echo "FAIL: $why"; exit 1; fi
    echo "skipped: $why"
    exit 77
  fi
  export WINEDEBUG=-all
  rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
}
