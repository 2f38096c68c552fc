// Lag_PT1: a first-order lag with time constant T1, gain and reset, and the program's LagFilter
// network that drives it behind the reset-edge detector.
//
// One discrete backward-Euler step per call: y = (x + y'*r) / (r + 1) with r = T1/dt, dt being the
// time since the previous call as measured by an embedded TON that never expires. The steps are
// chained through EN/ENO in four separate branches:
//   filter path  3 -> 9 -> 10 -> 12 -> 13 -> 14 -> 15
//   ratio path   4 -> 8 -> 11
//   clock        5 -> 6
//   7 alone
// so a division by zero in step 8 (dt = 0) only skips step 11 and the filter still runs with
// r = 0, while a division by zero in step 12 leaves Gained and PrevY as they were.
#include "app/program.h"
#include "blocks/op_compute.h"
#include "blocks/op_shapes.h"
#include "blocks/time_literals.h"

void Lag_PT1(LagPt1Instance* inst, EntryPointDescriptor* d) {
  kx_enter_hook(KX_TYPE_LAG_PT1, inst, KX_EVENT_ENTRY, d);

  // 2: the running clock, PT T#1000000d: it runs for a million days before ET stops.
  kx_timer_enter(KX_TYPE_TON, &inst->Clock, d);
  inst->Clock.IN = 1;
  inst->Clock.PT = kxtQwCnvUlL2SQw(KX_T1000000D_LOW, KX_T1000000D_HIGH);
  KX_fv_TON(&inst->Clock, d);
  kx_timer_exit(d);

  // 3: InCopy := In.
  kx_gate_open_true(KX_TYPE_MOVE_REAL, &inst->InCopyENO, d);
  inst->InCopy = inst->In;
  kx_gate_close(&inst->InCopyENO, d);

  // 4: T1Sec := T1 in seconds.
  kx_gate_open_true(KX_TYPE_TIME_TO_REAL, &inst->T1SecENO, d);
  inst->T1Sec = kx_time_to_real(inst->T1);
  kx_gate_close(&inst->T1SecENO, d);

  // 5: DeltaET := Clock.ET - LastET; then Delta := DeltaET.
  kx_gate_open_true(KX_TYPE_SUB_TIME, &inst->DeltaENO, d);
  inst->DeltaET = kxtQwSubQwQw(inst->Clock.ET, inst->LastET);
  kx_gate_close(&inst->DeltaENO, d);
  inst->Delta = inst->DeltaET;

  // 6 (EN: step 5): EtCopy := Clock.ET - T#0s; then LastET := EtCopy.
  if (kx_gate_open(KX_TYPE_SUB_TIME, &inst->CopyENO, &inst->DeltaENO, d)) {
    const KX_TIME zero = kxtQwCnvUlL2SQw(KX_T0S_LOW, KX_T0S_HIGH);
    inst->EtCopy = kxtQwSubQwQw(inst->Clock.ET, zero);
    kx_gate_close(&inst->CopyENO, d);
    inst->LastET = inst->EtCopy;
  }

  // 7: DeltaSec := Delta in seconds.
  kx_gate_open_true(KX_TYPE_TIME_TO_REAL, &inst->DeltaSecENO, d);
  inst->DeltaSec = kx_time_to_real(inst->Delta);
  kx_gate_close(&inst->DeltaSecENO, d);

  // 8 (EN: step 4): Ratio := T1Sec / DeltaSec.
  if (kx_gate_open(KX_TYPE_DIV_REAL, &inst->RatioENO, &inst->T1SecENO, d)) {
    inst->Ratio = kx_div_real(inst->T1Sec, inst->DeltaSec);
    kx_gate_close(&inst->RatioENO, d);
  }

  // 9 (EN: step 3): Weighted := PrevY * Ratio.
  if (kx_gate_open(KX_TYPE_MUL_REAL, &inst->WeightedENO, &inst->InCopyENO, d)) {
    inst->Weighted = kx_mul_real(inst->PrevY, inst->Ratio);
    kx_gate_close(&inst->WeightedENO, d);
  }

  // 10 (EN: step 9): Numerator := InCopy + Weighted.
  if (kx_gate_open(KX_TYPE_ADD_REAL, &inst->NumeratorENO, &inst->WeightedENO, d)) {
    inst->Numerator = kx_add_real(inst->InCopy, inst->Weighted);
    kx_gate_close(&inst->NumeratorENO, d);
  }

  // 11 (EN: step 8): Denominator := Ratio + 1.0.
  if (kx_gate_open(KX_TYPE_ADD_REAL, &inst->DenominatorENO, &inst->RatioENO, d)) {
    inst->Denominator = kx_add_real(inst->Ratio, 1.0f);
    kx_gate_close(&inst->DenominatorENO, d);
  }

  // 12 (EN: step 10): Quotient := Numerator / Denominator; then Y := Quotient.
  if (kx_gate_open(KX_TYPE_DIV_REAL, &inst->QuotientENO, &inst->NumeratorENO, d)) {
    inst->Quotient = kx_div_real(inst->Numerator, inst->Denominator);
    kx_gate_close(&inst->QuotientENO, d);
    inst->Y = inst->Quotient;
  }

  // 13 (EN: step 12): Gained := Y * Gain.
  if (kx_gate_open(KX_TYPE_MUL_REAL, &inst->GainedENO, &inst->QuotientENO, d)) {
    inst->Gained = kx_mul_real(inst->Y, inst->Gain);
    kx_gate_close(&inst->GainedENO, d);
  }

  // 14 (EN: step 13): YCopy := Y.
  if (kx_gate_open(KX_TYPE_MOVE_REAL, &inst->YCopyENO, &inst->GainedENO, d)) {
    inst->YCopy = inst->Y;
    kx_gate_close(&inst->YCopyENO, d);
  }

  // 15 (EN: step 14): YSel := SEL(Reset, YCopy, 0.0); then PrevY := YSel.
  if (kx_gate_open(KX_TYPE_SEL_REAL, &inst->YSelENO, &inst->YCopyENO, d)) {
    inst->YSel = kx_sel_real(inst->Reset, inst->YCopy, 0.0f);
    kx_gate_close(&inst->YSelENO, d);
    inst->PrevY = inst->YSel;
  }

  // 16, plain: OutSel := SEL(Reset, Gained, 0.0); then Out := OutSel.
  kx_plain_enter(KX_TYPE_SEL_REAL, &inst->OutSel, d);
  inst->OutSel = kx_sel_real(inst->Reset, inst->Gained, 0.0f);
  kx_plain_exit(d);
  inst->Out = inst->OutSel;

  kx_exit_hook(d);
}
