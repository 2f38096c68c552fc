#!/usr/bin/env bash
# The module's binary contract on both targets: exactly the exported names, every runtime import
# as an ordinary undefined symbol (ELF) or an import-table entry of the right DLL (PE), the
# needed libraries and the $ORIGIN search path. Usage: check_contract.sh SOURCE_DIR LINUX_BUILD_DIR
# The Windows half runs when SOURCE_DIR/build/windows-i686 has been built (KX_WINDOWS_BIN_DIR
# overrides where to look).
set -u
src=$1
linux_bin=$2/bin
win_bin=${KX_WINDOWS_BIN_DIR:-$src/build/windows-i686/bin}
bad=0
fail() { echo "FAIL: $*"; bad=1; }

exports="KX_fr_CallGetRetainedData@8 KX_fr_CallInitFunc@8 KX_fr_CallQueryRetainedDataSize@4
KX_fr_CallSetRetainedData@8 KX_fr_SimpleMain@8 KXocc_getData@12 KXocc_getDataAddressOffset@8
KXocc_getDataPointer@4 KXocc_queryCCRC@0 KXocc_queryCFWVersion@0 KXocc_queryCInfo@4
KXocc_queryCInfoCount@0 KXocc_queryCVersion@0 KXocc_queryEP@4 KXocc_queryEPCount@0
KXocc_queryTASK@4 KXocc_queryTASKCount@0 KXocc_queryTimeFreq@0 KXocc_setData@12
KX_fr_CallReInitFunc@12 KXocc_isLoadPossible@8 KXocc_isReloadPossible@12 KXocc_mapDataAddress@8"
framework="KX_fr_init2 kx_memcpy KX_fr_QueryRetainedDataSize KX_fr_GetRetainedData KX_fr_SetRetainedData
KX_fr_move KX_fr_mapAddress KX_fs_doesTargetVersionMatch rtc_diag_timefunc
KX_fv_TON KX_fv_TOF kxtQwCnvUlL2SQw kxtQwSubQwQw kxtQwCnvSQw2DPtr kxtQwCnvUl2SQw kxtQwMulQwUl kxtQwDivQwL"
debug="KXoplck_EnterBreakpointImpl@16 KXoplck_ExitBreakpointImpl@4
KXoplck_clrCEPErrorInfo@0 KXoplck_setCEPErrorInfo@8 KXoplck_getCEPErrorInfo@0"
system="abs fabs"

so=$linux_bin/CCodePublic.so
if [ -f "$so" ]; then
  file -L "$so" | grep -q 'ELF 32-bit LSB shared object, Intel 80386' || fail "ELF: not an i386 shared object"
  got=$(nm -D --defined-only "$so" | awk '{print $3}' | sort)
  want=$(printf '%s\n' $exports | sed 's/@.*//' | sort)
  [ "$got" = "$want" ] || fail "ELF exports differ: got [$(echo $got)] want [$(echo $want)]"
  undefined=" $(nm -D --undefined-only "$so" | awk '{print $2}' | sed 's/@.*//' | tr '\n' ' ') "
  for s in $framework $(printf '%s\n' $debug | sed 's/@.*//'); do
    case "$undefined" in *" $s "*) ;; *) fail "ELF: $s is not an undefined dynamic symbol";; esac
  done
  needed=" $(readelf -d "$so" | awk '/NEEDED/{print $NF}' | tr -d '[]' | tr '\n' ' ') "
  for l in KxApi_VC.so KXoplcK_VC.so; do
    case "$needed" in *" $l "*) ;; *) fail "ELF: $l is not DT_NEEDED";; esac
  done
  readelf -d "$so" | grep -qE '(RPATH|RUNPATH).*\$ORIGIN' || fail "ELF: no \$ORIGIN search path"
  readelf -d "$so" | grep -q SYMBOLIC && fail "ELF: linked with -Bsymbolic"
  for s in $framework; do
    nm --defined-only "$so" 2>/dev/null | awk '{print $3}' | grep -qx "$s" && fail "ELF: a copy of $s lives inside the module"
  done
else
  fail "missing $so"
fi

dll=$win_bin/CCodePublic.dll
if [ -f "$dll" ]; then
  p=$(i686-w64-mingw32-objdump -p "$dll")
  echo "$p" | grep -q 'file format pei-i386' || fail "PE: not a PE32 i386 image"
  got=$(echo "$p" | awk '/\[Ordinal\/Name Pointer\] Table/{f=1;next} f&&/^[[:space:]]*\[/{print $NF; next} f&&NF==0{f=0}' | sort)
  want=$(printf '%s\n' $exports | sort)
  [ "$got" = "$want" ] || fail "PE exports differ: got [$(echo $got)] want [$(echo $want)]"
  echo "$p" | grep -qE '^Name[[:space:]].*[[:space:]]CCodePublic(\.dll)?$' || fail "PE: export directory not named CCodePublic"
  imports() { echo "$p" | awk -v dll="$1" 'tolower($0) ~ "dll name: " tolower(dll) {f=1; next} f && /DLL Name:/ {f=0} f && NF>=3 && $1 ~ /^[0-9a-f]+$/ {print $NF}'; }
  kx=" $(imports KxApi_VC.dll | tr '\n' ' ') "
  kd=" $(imports KXoplcK_VC.dll | tr '\n' ' ') "
  ms=" $(imports msvcrt.dll | tr '\n' ' ') "
  for s in $framework; do case "$kx" in *" $s "*) ;; *) fail "PE: $s not imported from KxApi_VC.DLL";; esac; done
  for s in $debug; do case "$kd" in *" _$s "*) ;; *) fail "PE: _$s not imported from KXoplcK_VC.DLL";; esac; done
  for s in $system; do case "$ms" in *" $s "*) ;; *) fail "PE: $s not imported from msvcrt.dll";; esac; done
  echo "$p" | grep -qiE 'DLL Name: (libstdc\+\+|libgcc|libwinpthread)' && fail "PE: depends on a mingw runtime DLL"
elif [ -n "${KX_REQUIRE_WINDOWS:-}" ]; then
  fail "no Windows build at $win_bin"
else
  echo "note: no Windows build at $win_bin; checked the Linux module only"
fi

[ $bad = 0 ] && echo "binary contract holds"
exit $bad
