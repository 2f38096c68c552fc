#!/usr/bin/env bash
# Builds the module, the runtime libraries and softplc for Linux i386, then runs the program for
# two minutes of simulated time with both ramps enabled and prints the program variables.
# Extra arguments go to `softplc run` (e.g. ./run.sh --events --cycles 1).
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
cmake --preset linux-i386 >/dev/null
cmake --build --preset linux-i386 -j "$(nproc)"
bin=build/linux-i386/bin
if [ $# -eq 0 ]; then
  set -- --duration 120s --period 10ms --set IntRampEnable=TRUE --set RealRampEnable=TRUE \
    --trace build/linux-i386/run.csv --plot build/linux-i386/run.png
fi
exec "$bin/softplc" run "$@"
