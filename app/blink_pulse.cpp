// Blink_Pulse: a free-running pulse generator, Q FALSE for about OffTime ms and TRUE for about
// OnTime ms, with Toggle inverted at every rising edge of Q; and the program's Blinker network.
//
// A TON times the low phase and a TOF the high phase, closed into a ring through NOT of the Q of
// the previous call: while Q is FALSE the TON runs; when it fires, the TOF's IN and Q rise and Q
// with them; in the next call NOT Q drops the TON, the TOF's IN falls and its off-delay holds Q
// TRUE for OnTime. Each timer starts only in the call after the change of Q that it answers, so
// each phase lasts its set time plus one call interval. No step has EN/ENO.
#include "app/program.h"
#include "blocks/op_compute.h"
#include "blocks/op_shapes.h"

// UINT_TO_TIME counts whole seconds; dividing by 1000 turns the inputs into milliseconds.
#define BLINK_MS_DIVISOR 1000

void Blink_Pulse(BlinkPulseInstance* inst, EntryPointDescriptor* d) {
  kx_enter_hook(KX_TYPE_BLINK_PULSE, inst, KX_EVENT_ENTRY, d);

  // 2: OffTimeConv := UINT_TO_TIME(OffTime).
  kx_plain_enter(KX_TYPE_UINT_TO_TIME, &inst->OffTimeConv, d);
  inst->OffTimeConv = kx_uint_to_time(inst->OffTime);
  kx_plain_exit(d);

  // 3: OffTimePT := OffTimeConv / 1000.
  kx_plain_enter(KX_TYPE_DIV_TIME_BY_INT, &inst->OffTimePT, d);
  inst->OffTimePT = kxtQwDivQwL(inst->OffTimeConv, BLINK_MS_DIVISOR);
  kx_plain_exit(d);

  // 4: OnTimeConv := UINT_TO_TIME(OnTime).
  kx_plain_enter(KX_TYPE_UINT_TO_TIME, &inst->OnTimeConv, d);
  inst->OnTimeConv = kx_uint_to_time(inst->OnTime);
  kx_plain_exit(d);

  // 5: OnTimePT := OnTimeConv / 1000.
  kx_plain_enter(KX_TYPE_DIV_TIME_BY_INT, &inst->OnTimePT, d);
  inst->OnTimePT = kxtQwDivQwL(inst->OnTimeConv, BLINK_MS_DIVISOR);
  kx_plain_exit(d);

  // 6: NotQ := NOT Q (the Q of the previous call).
  kx_plain_enter(KX_TYPE_NOT, &inst->NotQ, d);
  inst->NotQ = kx_not_bool(inst->Q);
  kx_plain_exit(d);

  // 7: the low phase, TON with IN := NotQ, PT := OffTimePT.
  kx_timer_enter(KX_TYPE_TON, &inst->OffTimer, d);
  inst->OffTimer.IN = inst->NotQ;
  inst->OffTimer.PT = inst->OffTimePT;
  KX_fv_TON(&inst->OffTimer, d);
  kx_timer_exit(d);

  // 8: the high phase, TOF with IN := OffTimer.Q, PT := OnTimePT; then Q := OnTimer.Q.
  kx_timer_enter(KX_TYPE_TOF, &inst->OnTimer, d);
  inst->OnTimer.IN = inst->OffTimer.Q;
  inst->OnTimer.PT = inst->OnTimePT;
  KX_fv_TOF(&inst->OnTimer, d);
  kx_timer_exit(d);
  inst->Q = inst->OnTimer.Q;

  // 9: QEdge on the new Q.
  kx_r_trig(&inst->QEdge, &inst->OnTimer.Q, d);

  // 10: ToggleXor := QEdge.Q XOR Toggle; then Toggle := ToggleXor.
  kx_plain_enter(KX_TYPE_XOR, &inst->ToggleXor, d);
  inst->ToggleXor = kx_xor_bool(inst->QEdge.Q, inst->Toggle);
  kx_plain_exit(d);
  inst->Toggle = inst->ToggleXor;

  kx_exit_hook(d);
}
