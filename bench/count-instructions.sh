#!/usr/bin/env bash
# Instructions per cycle, counted with callgrind (valgrind) on the linux-i386 build:
#
#   bench/count-instructions.sh [BUILD_DIR]      (default build/linux-i386)
#
# Each row runs its command twice under callgrind, for 2000 and for 12000 cycles, and prints
# (Ir(12000) - Ir(2000)) / 10000: start-up, loading and initialisation cancel out. Both ramps are
# enabled and the simulated clock moves 10 ms per cycle.
#
# A row is a function that prints its command line for a given number of cycles; add one to
# `rows` below to extend the table (the host's rows, for instance, run softplc itself).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux-i386}
bin=$build/bin

command -v valgrind >/dev/null || { echo "count-instructions: valgrind is missing (scripts/install-deps.sh)" >&2; exit 1; }
for f in cycle_driver_stubs cycle_driver_rtlib CCodePublic.so; do
  [ -e "$bin/$f" ] || { echo "count-instructions: $bin/$f is missing; build the linux-i386 preset first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Total instructions (Ir) of one command under callgrind.
instructions() {
  local out=$work/callgrind.out
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >/dev/null 2>"$work/valgrind.log" || {
    cat "$work/valgrind.log" >&2
    return 1
  }
  awk '/^summary:/ { print $2 }' "$out"
}

# Prints one row: its label and the instructions per cycle of the command its function gives.
row() {
  local label=$1 command=$2 short long
  short=$(instructions $($command 2000))
  long=$(instructions $($command 12000))
  awk -v l="$label" -v a="$short" -v b="$long" 'BEGIN { printf "%-58s %9.0f\n", l, (b - a) / 10000 }'
}

# ---- rows: each prints the command line for $1 cycles -------------------------------------------
module_stubs() { echo "$bin/cycle_driver_stubs $1"; }
module_rtlib() { echo "$bin/cycle_driver_rtlib $1"; }
module_rtlib_hooks() { echo "$bin/cycle_driver_rtlib $1 hooks"; }

rows=(
  "module, do-nothing runtime functions, hooks off:module_stubs"
  "module, our runtime libraries, hooks off:module_rtlib"
  "module, our runtime libraries, hooks on (counting handler):module_rtlib_hooks"
)

printf "%-58s %9s\n" "instructions per cycle ($build)" "Ir"
for r in "${rows[@]}"; do row "${r%%:*}" "${r##*:}"; done
