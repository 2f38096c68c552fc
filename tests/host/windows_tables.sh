#!/usr/bin/env bash
# The Windows module's export and import tables as a runtime sees them: the export directory named
# CCodePublic with exactly the decorated exports; imports from KxApi_VC.DLL (plain cdecl names),
# from KXoplcK_VC.DLL (_KXoplck_...@N) and, once the blocks use them, abs/fabs from msvcrt.dll.
# Usage: windows_tables.sh WINDOWS_BIN_DIR. Exit 77 (skipped) without a Windows build.
set -u
dll=$1/CCodePublic.dll
if [ ! -f "$dll" ]; then
  echo "skipped: no Windows build at $dll"
  exit 77
fi
p=$(i686-w64-mingw32-objdump -p "$dll") || { echo "FAIL: objdump"; exit 1; }
bad=0
fail() { echo "FAIL: $*"; bad=1; }

echo "$p" | grep -qE '^Name[[:space:]].*[[:space:]]CCodePublic(\.dll)?$' || fail "export directory is not named CCodePublic"

# The exports so far; online change (KX_fr_CallReInitFunc@12, KXocc_isReloadPossible@12,
# KXocc_isLoadPossible@8, KXocc_mapDataAddress@8) joins them later and is accepted when present.
want="KX_fr_CallGetRetainedData@8 KX_fr_CallInitFunc@8 KX_fr_CallQueryRetainedDataSize@4
KX_fr_CallSetRetainedData@8 KX_fr_SimpleMain@8 KXocc_getData@12 KXocc_getDataAddressOffset@8
KXocc_getDataPointer@4 KXocc_queryCCRC@0 KXocc_queryCFWVersion@0 KXocc_queryCInfo@4
KXocc_queryCInfoCount@0 KXocc_queryCVersion@0 KXocc_queryEP@4 KXocc_queryEPCount@0
KXocc_queryTASK@4 KXocc_queryTASKCount@0 KXocc_queryTimeFreq@0 KXocc_setData@12"
later="KX_fr_CallReInitFunc@12 KXocc_isLoadPossible@8 KXocc_isReloadPossible@12 KXocc_mapDataAddress@8"
got=$(echo "$p" | awk '/\[Ordinal\/Name Pointer\] Table/{f=1;next} f&&/^[[:space:]]*\[/{print $NF;next} f&&NF==0{f=0}' | sort)
got_now=$(printf '%s\n' $got | grep -vxF -f <(printf '%s\n' $later) | sort)
[ "$got_now" = "$(printf '%s\n' $want | sort)" ] || fail "exports differ: got [$(echo $got)]"
n_later=$(printf '%s\n' $got | grep -cxF -f <(printf '%s\n' $later))
[ "$n_later" = 0 ] || [ "$n_later" = 4 ] || fail "only part of the online-change exports: [$(echo $got)]"

# Imports of one DLL: objdump lists them under "DLL Name: ..." up to the next blank line.
imports() {
  echo "$p" | awk -v dll="$1" 'tolower($0) ~ "dll name: " tolower(dll) {f=1; next} f && NF==0 {f=0}
    f && NF>=3 && $1 ~ /^[0-9a-f]+$/ {print $NF}'
}
kx=" $(imports KxApi_VC.dll | tr '\n' ' ') "
kd=" $(imports KXoplcK_VC.dll | tr '\n' ' ') "
ms=" $(imports msvcrt.dll | tr '\n' ' ') "
echo "$p" | grep -qi 'DLL Name: KxApi_VC.dll' || fail "no imports from KxApi_VC.DLL"
echo "$p" | grep -qi 'DLL Name: KXoplcK_VC.dll' || fail "no imports from KXoplcK_VC.DLL"
for s in KX_fr_init2 kx_memcpy; do
  case "$kx" in *" $s "*) ;; *) fail "$s is not imported from KxApi_VC.DLL";; esac
done
for s in _KXoplck_EnterBreakpointImpl@16 _KXoplck_ExitBreakpointImpl@4; do
  case "$kd" in *" $s "*) ;; *) fail "$s is not imported from KXoplcK_VC.DLL";; esac
done
for s in $kd; do
  [[ $s == _KXoplck_*@[0-9]* ]] || fail "KXoplcK_VC.DLL import $s is not a decorated _KXoplck_ name"
done
# The function blocks bring the timers, the TIME helpers, the error information and abs/fabs.
if echo "$p" | grep -q 'KX_fv_TON'; then
  for s in KX_fv_TON KX_fv_TOF kxtQwCnvUlL2SQw kxtQwCnvUl2SQw kxtQwMulQwUl kxtQwDivQwL kxtQwSubQwQw kxtQwCnvSQw2DPtr; do
    case "$kx" in *" $s "*) ;; *) fail "$s is not imported from KxApi_VC.DLL";; esac
  done
  for s in _KXoplck_clrCEPErrorInfo@0 _KXoplck_setCEPErrorInfo@8 _KXoplck_getCEPErrorInfo@0; do
    case "$kd" in *" $s "*) ;; *) fail "$s is not imported from KXoplcK_VC.DLL";; esac
  done
  for s in abs fabs; do case "$ms" in *" $s "*) ;; *) fail "$s is not imported from msvcrt.dll";; esac; done
else
  echo "note: no function blocks in the module yet; abs/fabs imports not checked"
fi

[ $bad = 0 ] && echo "export and import tables hold"
exit $bad
