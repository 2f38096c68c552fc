// Ramp_Real: moves a REAL output from Start towards Target at |Step| units per Period, and the
// program's RealRamp network that calls it.
//
// The INT ramp's twin without its conversions: Out itself is the position, so every cycle starts
// from the Out of the previous one, and a value written into Out between two cycles becomes the
// position from which the next cycle moves. The running clock, the choice of the new position and
// its priorities are those of Ramp_Int.
#include "app/program.h"
#include "blocks/op_compute.h"
#include "blocks/op_shapes.h"
#include "blocks/time_literals.h"

void Ramp_Real(RampRealInstance* inst, EntryPointDescriptor* d) {
  kx_enter_hook(KX_TYPE_RAMP_REAL, inst, KX_EVENT_ENTRY, d);

  // 2: StartLtTarget := Start < Target (FALSE with a NaN).
  kx_plain_enter(KX_TYPE_LT_REAL, &inst->StartLtTarget, d);
  inst->StartLtTarget = kx_lt_real(inst->Start, inst->Target);
  kx_plain_exit(d);

  // 3: UpActive := Enable AND StartLtTarget.
  kx_plain_enter(KX_TYPE_AND_BOOL, &inst->UpActive, d);
  inst->UpActive = kx_and_bool(inst->Enable, inst->StartLtTarget);
  kx_plain_exit(d);

  // 4: StartGtTarget := Start > Target (FALSE with a NaN).
  kx_plain_enter(KX_TYPE_GT_REAL, &inst->StartGtTarget, d);
  inst->StartGtTarget = kx_gt_real(inst->Start, inst->Target);
  kx_plain_exit(d);

  // 5: DownActive := Enable AND StartGtTarget.
  kx_plain_enter(KX_TYPE_AND_BOOL, &inst->DownActive, d);
  inst->DownActive = kx_and_bool(inst->Enable, inst->StartGtTarget);
  kx_plain_exit(d);

  // 6: the running clock, IN := Enable, PT := T#36500d.
  kx_timer_enter(KX_TYPE_TON, &inst->Clock, d);
  inst->Clock.IN = inst->Enable;
  inst->Clock.PT = kxtQwCnvUlL2SQw(KX_T36500D_LOW, KX_T36500D_HIGH);
  KX_fv_TON(&inst->Clock, d);
  kx_timer_exit(d);

  // 7: AbsStep := ABS(Step).
  kx_plain_enter(KX_TYPE_ABS_REAL, &inst->AbsStep, d);
  inst->AbsStep = kx_abs_real(inst->Step);
  kx_plain_exit(d);

  // 8: PeriodSec := Period in seconds.
  kx_plain_enter(KX_TYPE_TIME_TO_REAL, &inst->PeriodSec, d);
  inst->PeriodSec = kx_time_to_real(inst->Period);
  kx_plain_exit(d);

  // 9: Rate := AbsStep / PeriodSec (error 140 and 0.0 for a zero Period; no ENO).
  kx_plain_enter(KX_TYPE_DIV_REAL, &inst->Rate, d);
  inst->Rate = kx_div_real(inst->AbsStep, inst->PeriodSec);
  kx_plain_exit(d);

  // 10: PeriodZero := PeriodSec = 0.0.
  kx_plain_enter(KX_TYPE_EQ_REAL, &inst->PeriodZero, d);
  inst->PeriodZero = kx_eq_real(inst->PeriodSec, 0.0f);
  kx_plain_exit(d);

  // 11: JumpActive := PeriodZero AND Enable.
  kx_plain_enter(KX_TYPE_AND_BOOL, &inst->JumpActive, d);
  inst->JumpActive = kx_and_bool(inst->PeriodZero, inst->Enable);
  kx_plain_exit(d);

  // 12: AtTarget := Out = Target (the position before the update); then Reached.
  kx_plain_enter(KX_TYPE_EQ_REAL, &inst->AtTarget, d);
  inst->AtTarget = kx_eq_real(inst->Out, inst->Target);
  kx_plain_exit(d);
  inst->Reached = inst->AtTarget;

  // 13: DeltaET := Clock.ET - LastET.
  kx_gate_open_true(KX_TYPE_SUB_TIME, &inst->DeltaENO, d);
  inst->DeltaET = kxtQwSubQwQw(inst->Clock.ET, inst->LastET);
  kx_gate_close(&inst->DeltaENO, d);

  // 14 (EN: step 13): EtCopy := Clock.ET - T#0s; then LastET := EtCopy.
  if (kx_gate_open(KX_TYPE_SUB_TIME, &inst->CopyENO, &inst->DeltaENO, d)) {
    const KX_TIME zero = kxtQwCnvUlL2SQw(KX_T0S_LOW, KX_T0S_HIGH);
    inst->EtCopy = kxtQwSubQwQw(inst->Clock.ET, zero);
    kx_gate_close(&inst->CopyENO, d);
    inst->LastET = inst->EtCopy;
  }

  // 15: DeltaSec := DeltaET in seconds.
  kx_plain_enter(KX_TYPE_TIME_TO_REAL, &inst->DeltaSec, d);
  inst->DeltaSec = kx_time_to_real(inst->DeltaET);
  kx_plain_exit(d);

  // 16: Increment := DeltaSec * Rate.
  kx_plain_enter(KX_TYPE_MUL_REAL, &inst->Increment, d);
  inst->Increment = kx_mul_real(inst->DeltaSec, inst->Rate);
  kx_plain_exit(d);

  // 17: UpCandidate := Out + Increment.
  kx_plain_enter(KX_TYPE_ADD_REAL, &inst->UpCandidate, d);
  inst->UpCandidate = kx_add_real(inst->Out, inst->Increment);
  kx_plain_exit(d);

  // 18: UpLimited := LIMIT(Start, UpCandidate, Target).
  kx_plain_enter(KX_TYPE_LIMIT_REAL, &inst->UpLimited, d);
  inst->UpLimited = kx_limit_real(inst->Start, inst->UpCandidate, inst->Target);
  kx_plain_exit(d);

  // 19: UpSel := SEL(UpActive, Out, UpLimited).
  kx_plain_enter(KX_TYPE_SEL_REAL, &inst->UpSel, d);
  inst->UpSel = kx_sel_real(inst->UpActive, inst->Out, inst->UpLimited);
  kx_plain_exit(d);

  // 20: DownCandidate := Out - Increment.
  kx_plain_enter(KX_TYPE_SUB_REAL, &inst->DownCandidate, d);
  inst->DownCandidate = kx_sub_real(inst->Out, inst->Increment);
  kx_plain_exit(d);

  // 21: DownLimited := LIMIT(Target, DownCandidate, Start).
  kx_plain_enter(KX_TYPE_LIMIT_REAL, &inst->DownLimited, d);
  inst->DownLimited = kx_limit_real(inst->Target, inst->DownCandidate, inst->Start);
  kx_plain_exit(d);

  // 22: DownSel := SEL(DownActive, UpSel, DownLimited).
  kx_plain_enter(KX_TYPE_SEL_REAL, &inst->DownSel, d);
  inst->DownSel = kx_sel_real(inst->DownActive, inst->UpSel, inst->DownLimited);
  kx_plain_exit(d);

  // 23: JumpSel := SEL(JumpActive, DownSel, Target).
  kx_plain_enter(KX_TYPE_SEL_REAL, &inst->JumpSel, d);
  inst->JumpSel = kx_sel_real(inst->JumpActive, inst->DownSel, inst->Target);
  kx_plain_exit(d);

  // 24: NewValue := SEL(Reset, JumpSel, Start); then Out := NewValue.
  kx_plain_enter(KX_TYPE_SEL_REAL, &inst->NewValue, d);
  inst->NewValue = kx_sel_real(inst->Reset, inst->JumpSel, inst->Start);
  kx_plain_exit(d);
  inst->Out = inst->NewValue;

  kx_exit_hook(d);
}
