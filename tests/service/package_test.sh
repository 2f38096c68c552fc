#!/usr/bin/env bash
# The packages as CPack builds them (cmake --build --preset linux-i386 --target package, and the
# same for windows-i686; ./test.sh builds both): the Debian package's files, dependencies and
# conffile; as root, the package installed with dpkg, the installed softplc running the installed
# module with the example configuration for a few seconds (serving the installed page), and the
# package purged again; the Windows archive's files, with every DLL that softplc.exe imports either
# in the archive or the system's.
# Usage: package_test.sh LINUX_BUILD_DIR WINDOWS_BIN_DIR
set -u
build=$1
win_packages=$2/../packages
bad=0
fail() { echo "FAIL: $*"; bad=1; }

deb=$(ls -t "$build"/packages/softplc_*_i386.deb 2>/dev/null | head -1)
if [ -z "$deb" ]; then
  echo "SKIP: no Debian package in $build/packages: build it with cmake --build --preset linux-i386 --target package"
  exit 77
fi
if [ "$build/bin/softplc" -nt "$deb" ]; then
  echo "SKIP: $deb is older than the build: build it again with cmake --build --preset linux-i386 --target package"
  exit 77
fi

contents=$(dpkg-deb --contents "$deb" | awk '{ if ($7 == "->") print $6, $7, $8; else print $6 }')
for file in ./usr/lib/softplc/softplc ./usr/lib/softplc/CCodePublic.so ./usr/lib/softplc/CCodePublic_next.so \
    ./usr/lib/softplc/KxApi_VC.so ./usr/lib/softplc/KXoplcK_VC.so ./usr/lib/softplc/CCodePublic.symbols.json \
    ./usr/lib/softplc/CCodePublic.st ./usr/lib/softplc/CCodePublic_next.symbols.json \
    ./usr/lib/softplc/CCodePublic_next.st ./usr/lib/softplc/web/index.html ./usr/lib/softplc/web/app.js \
    ./usr/lib/softplc/web/lib/dygraph.min.js ./lib/systemd/system/softplc@.service ./etc/softplc/example.yaml ./usr/share/man/man1/softplc.1 \
    ./usr/share/doc/softplc/copyright; do
  echo "$contents" | grep -qx "$file" || fail "the package lacks $file"
done
echo "$contents" | grep -qx "./usr/bin/softplc -> ../lib/softplc/softplc" || fail "/usr/bin/softplc is not a link to ../lib/softplc/softplc"
echo "$contents" | grep -q "_slow\|_broken" && fail "the package holds a test fixture module"
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libmodbus5 libsystemd0 'libyaml-cpp0\.[0-9]' 'libstdc\+\+6' libc6; do
  echo "$depends" | grep -qE "(^|, )$lib( |,|$)" || fail "Depends lacks $lib: $depends"
done
[ "$(dpkg-deb --field "$deb" Architecture)" = i386 ] || fail "the package is not for i386"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles 2>/dev/null | grep -qx /etc/softplc/example.yaml ||
  fail "/etc/softplc/example.yaml is not a conffile"
grep -q "dygraphs is MIT-licenced" <(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/softplc/copyright) ||
  fail "the copyright file lacks the notices of the charting library"

# The Windows archive, when the Windows build made one.
zip=$(ls -t "$win_packages"/softplc-*-win32.zip 2>/dev/null | head -1)
if [ -n "$zip" ]; then
  listing=$(unzip -Z1 "$zip")
  top=$(echo "$listing" | head -1 | cut -d/ -f1)
  for file in softplc.exe CCodePublic.dll CCodePublic_next.dll KxApi_VC.dll KXoplcK_VC.dll CCodePublic.symbols.json \
      CCodePublic.st web/index.html web/lib/dygraph.min.js COPYRIGHT.txt; do
    echo "$listing" | grep -qx "$top/$file" || fail "the archive lacks $file"
  done
  scratch=$(mktemp -d)
  unzip -q "$zip" "$top/softplc.exe" -d "$scratch"
  for dll in $(i686-w64-mingw32-objdump -p "$scratch/$top/softplc.exe" | awk '/DLL Name:/ {print $3}'); do
    case "$(echo "$dll" | tr A-Z a-z)" in
      kernel32.dll|msvcrt.dll|ws2_32.dll|mswsock.dll|winmm.dll|user32.dll|advapi32.dll|shell32.dll|bcrypt.dll|api-ms-win-*) ;;
      *) echo "$listing" | grep -qix "$top/$dll" || fail "softplc.exe needs $dll, which the archive lacks" ;;
    esac
  done
  rm -rf "$scratch"
else
  echo "note: no Windows archive in $win_packages; its check is left out"
fi

if [ "$(id -u)" != 0 ]; then
  echo "SKIP (installing): dpkg -i needs root; the package's contents were checked"
  [ $bad = 0 ] || exit 1
  exit 77
fi

# The machine is left as it was: a softplc installed before is not touched.
if dpkg-query -W -f='${db:Status-Status}' softplc 2>/dev/null | grep -qv '^not-installed$'; then
  echo "SKIP (installing): a softplc package is installed on this machine already; the test leaves it alone"
  [ $bad = 0 ] || exit 1
  exit 77
fi

# dpkg takes a lock that another installation may hold for a while.
dpkg_retrying() {
  local out
  for _ in $(seq 1 90); do
    if out=$("$@" 2>&1); then return 0; fi
    echo "$out" | grep -qi "lock" || { echo "$out"; return 1; }
    sleep 2
  done
  echo "$out"
  return 1
}
dpkg_retrying dpkg -i "$deb" || { echo "FAIL: dpkg -i $deb"; exit 1; }
cleanup() { dpkg_retrying dpkg --purge softplc >/dev/null || echo "FAIL: dpkg --purge softplc"; }
trap cleanup EXIT

[ "$(readlink -f /usr/bin/softplc)" = /usr/lib/softplc/softplc ] || fail "/usr/bin/softplc does not lead to /usr/lib/softplc/softplc"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify /lib/systemd/system/softplc@.service 2>&1 | grep -v "^$" | grep -iE "error|invalid|unknown" &&
    fail "systemd-analyze verify finds fault with softplc@.service"
fi
/usr/bin/softplc config-check /etc/softplc/example.yaml || fail "the example configuration does not check out"

port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
out=$(mktemp)
err=$(mktemp)
(cd / && exec /usr/bin/softplc run --config /etc/softplc/example.yaml --http "127.0.0.1:$port" >"$out" 2>"$err") &
pid=$!
served=no
for _ in $(seq 1 50); do
  if /usr/bin/python3 - "$port" <<'PY' 2>/dev/null; then served=yes; break; fi
import sys, urllib.request
base = f"http://127.0.0.1:{sys.argv[1]}"
page = urllib.request.urlopen(base + "/", timeout=2).read().decode()
status = urllib.request.urlopen(base + "/api/status", timeout=2).read().decode()
assert "<html" in page.lower() and '"running":true' in status and '"codeVersion":"2010-07-28 15:10:27"' in status
PY
  sleep 0.2
done
sleep 3
kill -TERM $pid
wait $pid
status=$?
[ $served = yes ] || fail "the installed softplc did not serve its page and status on port $port"
[ $status = 0 ] || fail "the installed softplc ended with status $status"
grep -q "^module CCodePublic: " "$out" || fail "the installed module did not run"
grep -qE "^ran [0-9]+ cycles every 0.01s \(real-time clock\)" "$out" || fail "no report of a real-time run"
grep -q "^IntRampEnable = TRUE" "$out" || fail "the example's set values were not written"
grep -q "^softplc: stopped by SIGTERM after" "$err" || fail "SIGTERM did not end the run as a stop"
if [ $bad != 0 ]; then echo "--- stdout"; cat "$out"; echo "--- stderr"; cat "$err"; fi
rm -f "$out" "$err"

trap - EXIT
cleanup
[ -e /usr/bin/softplc ] && fail "/usr/bin/softplc is left after the purge"
[ -e /etc/softplc/example.yaml ] && fail "/etc/softplc/example.yaml is left after the purge"
[ $bad = 0 ] && echo "package checks passed"
exit $bad
