// Ramp_Int: moves an INT output from Start towards Target at |Step| units per Period, and the
// program's IntRamp network that calls it.
//
// The position is kept as a REAL (Value) so that fractions of a unit accumulate from cycle to
// cycle; Out is that position rounded half away from zero. The elapsed time comes from an
// embedded TON used as a running clock: IN follows Enable, and the difference of two successive
// ETs is the time between two cycles. The new position is chosen by a chain of SELs, in priority:
// Reset -> Start; Enable with a zero Period -> Target; Enable and Start > Target -> falling,
// limited to Target..Start; Enable and Start < Target -> rising, limited to Start..Target;
// otherwise the position holds. The direction comes from Start against Target, never from the
// position.
#include "app/program.h"
#include "blocks/op_compute.h"
#include "blocks/op_shapes.h"
#include "blocks/time_literals.h"

void Ramp_Int(RampIntInstance* inst, EntryPointDescriptor* d) {
  kx_enter_hook(KX_TYPE_RAMP_INT, inst, KX_EVENT_ENTRY, d);

  // 2: StartReal := INT_TO_REAL(Start).
  kx_plain_enter(KX_TYPE_INT_TO_REAL, &inst->StartReal, d);
  inst->StartReal = kx_int_to_real(inst->Start);
  kx_plain_exit(d);

  // 3: StartLtTarget := Start < Target.
  kx_plain_enter(KX_TYPE_LT_INT, &inst->StartLtTarget, d);
  inst->StartLtTarget = kx_lt_int(inst->Start, inst->Target);
  kx_plain_exit(d);

  // 4: UpActive := Enable AND StartLtTarget.
  kx_plain_enter(KX_TYPE_AND_BOOL, &inst->UpActive, d);
  inst->UpActive = kx_and_bool(inst->Enable, inst->StartLtTarget);
  kx_plain_exit(d);

  // 5: StartGtTarget := Start > Target.
  kx_plain_enter(KX_TYPE_GT_INT, &inst->StartGtTarget, d);
  inst->StartGtTarget = kx_gt_int(inst->Start, inst->Target);
  kx_plain_exit(d);

  // 6: DownActive := Enable AND StartGtTarget.
  kx_plain_enter(KX_TYPE_AND_BOOL, &inst->DownActive, d);
  inst->DownActive = kx_and_bool(inst->Enable, inst->StartGtTarget);
  kx_plain_exit(d);

  // 7: the running clock, IN := Enable, PT := T#36500d.
  kx_timer_enter(KX_TYPE_TON, &inst->Clock, d);
  inst->Clock.IN = inst->Enable;
  inst->Clock.PT = kxtQwCnvUlL2SQw(KX_T36500D_LOW, KX_T36500D_HIGH);
  KX_fv_TON(&inst->Clock, d);
  kx_timer_exit(d);

  // 8: AbsStep := ABS(Step); Step -32768 stays -32768.
  kx_plain_enter(KX_TYPE_ABS_INT, &inst->AbsStep, d);
  inst->AbsStep = kx_abs_int(inst->Step);
  kx_plain_exit(d);

  // 9: AbsStepReal := INT_TO_REAL(AbsStep).
  kx_plain_enter(KX_TYPE_INT_TO_REAL, &inst->AbsStepReal, d);
  inst->AbsStepReal = kx_int_to_real(inst->AbsStep);
  kx_plain_exit(d);

  // 10: PeriodSec := Period in seconds.
  kx_plain_enter(KX_TYPE_TIME_TO_REAL, &inst->PeriodSec, d);
  inst->PeriodSec = kx_time_to_real(inst->Period);
  kx_plain_exit(d);

  // 11: Rate := AbsStepReal / PeriodSec (error 140 and 0.0 for a zero Period; no ENO).
  kx_plain_enter(KX_TYPE_DIV_REAL, &inst->Rate, d);
  inst->Rate = kx_div_real(inst->AbsStepReal, inst->PeriodSec);
  kx_plain_exit(d);

  // 12: PeriodZero := PeriodSec = 0.0.
  kx_plain_enter(KX_TYPE_EQ_REAL, &inst->PeriodZero, d);
  inst->PeriodZero = kx_eq_real(inst->PeriodSec, 0.0f);
  kx_plain_exit(d);

  // 13: JumpActive := PeriodZero AND Enable.
  kx_plain_enter(KX_TYPE_AND_BOOL, &inst->JumpActive, d);
  inst->JumpActive = kx_and_bool(inst->PeriodZero, inst->Enable);
  kx_plain_exit(d);

  // 14: TargetReal := INT_TO_REAL(Target).
  kx_plain_enter(KX_TYPE_INT_TO_REAL, &inst->TargetReal, d);
  inst->TargetReal = kx_int_to_real(inst->Target);
  kx_plain_exit(d);

  // 15: AtTarget := Value = TargetReal (the position before the update); then Reached.
  kx_plain_enter(KX_TYPE_EQ_REAL, &inst->AtTarget, d);
  inst->AtTarget = kx_eq_real(inst->Value, inst->TargetReal);
  kx_plain_exit(d);
  inst->Reached = inst->AtTarget;

  // 16: DeltaET := Clock.ET - LastET.
  kx_gate_open_true(KX_TYPE_SUB_TIME, &inst->DeltaENO, d);
  inst->DeltaET = kxtQwSubQwQw(inst->Clock.ET, inst->LastET);
  kx_gate_close(&inst->DeltaENO, d);

  // 17 (EN: step 16): EtCopy := Clock.ET - T#0s; then LastET := EtCopy.
  if (kx_gate_open(KX_TYPE_SUB_TIME, &inst->CopyENO, &inst->DeltaENO, d)) {
    const KX_TIME zero = kxtQwCnvUlL2SQw(KX_T0S_LOW, KX_T0S_HIGH);
    inst->EtCopy = kxtQwSubQwQw(inst->Clock.ET, zero);
    kx_gate_close(&inst->CopyENO, d);
    inst->LastET = inst->EtCopy;
  }

  // 18: DeltaSec := DeltaET in seconds.
  kx_plain_enter(KX_TYPE_TIME_TO_REAL, &inst->DeltaSec, d);
  inst->DeltaSec = kx_time_to_real(inst->DeltaET);
  kx_plain_exit(d);

  // 19: Increment := DeltaSec * Rate.
  kx_plain_enter(KX_TYPE_MUL_REAL, &inst->Increment, d);
  inst->Increment = kx_mul_real(inst->DeltaSec, inst->Rate);
  kx_plain_exit(d);

  // 20: UpCandidate := Value + Increment.
  kx_plain_enter(KX_TYPE_ADD_REAL, &inst->UpCandidate, d);
  inst->UpCandidate = kx_add_real(inst->Value, inst->Increment);
  kx_plain_exit(d);

  // 21: UpLimited := LIMIT(StartReal, UpCandidate, TargetReal).
  kx_plain_enter(KX_TYPE_LIMIT_REAL, &inst->UpLimited, d);
  inst->UpLimited = kx_limit_real(inst->StartReal, inst->UpCandidate, inst->TargetReal);
  kx_plain_exit(d);

  // 22: UpSel := SEL(UpActive, Value, UpLimited).
  kx_plain_enter(KX_TYPE_SEL_REAL, &inst->UpSel, d);
  inst->UpSel = kx_sel_real(inst->UpActive, inst->Value, inst->UpLimited);
  kx_plain_exit(d);

  // 23: DownCandidate := Value - Increment.
  kx_plain_enter(KX_TYPE_SUB_REAL, &inst->DownCandidate, d);
  inst->DownCandidate = kx_sub_real(inst->Value, inst->Increment);
  kx_plain_exit(d);

  // 24: DownLimited := LIMIT(TargetReal, DownCandidate, StartReal).
  kx_plain_enter(KX_TYPE_LIMIT_REAL, &inst->DownLimited, d);
  inst->DownLimited = kx_limit_real(inst->TargetReal, inst->DownCandidate, inst->StartReal);
  kx_plain_exit(d);

  // 25: DownSel := SEL(DownActive, UpSel, DownLimited).
  kx_plain_enter(KX_TYPE_SEL_REAL, &inst->DownSel, d);
  inst->DownSel = kx_sel_real(inst->DownActive, inst->UpSel, inst->DownLimited);
  kx_plain_exit(d);

  // 26: JumpSel := SEL(JumpActive, DownSel, TargetReal).
  kx_plain_enter(KX_TYPE_SEL_REAL, &inst->JumpSel, d);
  inst->JumpSel = kx_sel_real(inst->JumpActive, inst->DownSel, inst->TargetReal);
  kx_plain_exit(d);

  // 27: NewValue := SEL(Reset, JumpSel, StartReal); then Value := NewValue.
  kx_plain_enter(KX_TYPE_SEL_REAL, &inst->NewValue, d);
  inst->NewValue = kx_sel_real(inst->Reset, inst->JumpSel, inst->StartReal);
  kx_plain_exit(d);
  inst->Value = inst->NewValue;

  // 28: IntValue := REAL_TO_INT(NewValue); then Out := IntValue.
  kx_plain_enter(KX_TYPE_REAL_TO_INT, &inst->IntValue, d);
  inst->IntValue = kx_real_to_int(inst->NewValue);
  kx_plain_exit(d);
  inst->Out = inst->IntValue;

  kx_exit_hook(d);
}
