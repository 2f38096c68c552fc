// The debug brackets around the elementary operations: the plain shape, the gated (EN/ENO)
// shape, the timer form and the edge form. Every hook goes through the guard of hooks.h, so the
// switch is tested afresh before each one.
//
// Operands are read by the generated code between the brackets, after the opening events: a
// debugger holding the cycle at an event sees (and may change) the values the step then uses.
//
// Plain shape, result variable R:
//     kx_plain_enter(id, &R, d);  R = <computation>;  kx_plain_exit(d);  [copies of R]
// Gated shape, ENO variable E (its result variable lies 4 bytes behind it):
//     if (kx_gate_open(id, &E, &EN, d)) { R = <computation>; kx_gate_close(&E, d); [copies] }
//   or, with EN the constant TRUE, unconditionally:
//     kx_gate_open_true(id, &E, d);  R = <computation>;  kx_gate_close(&E, d);  [copies]
// The copies behind a gated step depend only on the gate, not on the E the step wrote: a step
// that failed still hands on the value it left in R.
#pragma once

#include "blocks/hooks.h"
#include "abi/kx_framework.h"

#define KX_SHAPE static inline __attribute__((always_inline))

// ---- plain shape -------------------------------------------------------------------------------

KX_SHAPE void kx_plain_enter(int32_t typeId, const void* result, EntryPointDescriptor* d) {
  kx_enter_hook(typeId, result, KX_EVENT_STEP, d);
  kx_enter_hook(typeId, result, KX_EVENT_ENTRY, d);
}

KX_SHAPE void kx_plain_exit(EntryPointDescriptor* d) { kx_exit_hook(d); }

// ---- gated shape -------------------------------------------------------------------------------

// The kind-1 event comes whatever EN is. E takes EN as a byte copy; with E 0 the step ends here:
// no kind-6 event, no error-information call, R keeps its value and E reads FALSE. Otherwise the
// kind-6 event is issued and the error information cleared; from here to kx_gate_close nothing but
// the operation may run, so that no debugger stop can touch the error information that decides E.
KX_SHAPE bool kx_gate_open(int32_t typeId, KX_BOOL* eno, const KX_BOOL* en,
                           EntryPointDescriptor* d) {
  kx_enter_hook(typeId, eno, KX_EVENT_STEP, d);
  *eno = *en;
  if (*eno == 0) return false;
  kx_enter_hook(typeId, eno, KX_EVENT_ENTRY, d);
  KXoplck_clrErrorInfo();
  return true;
}

// EN is the constant TRUE: the gate has no test and is always open.
KX_SHAPE void kx_gate_open_true(int32_t typeId, KX_BOOL* eno, EntryPointDescriptor* d) {
  kx_enter_hook(typeId, eno, KX_EVENT_STEP, d);
  *eno = 1;
  kx_enter_hook(typeId, eno, KX_EVENT_ENTRY, d);
  KXoplck_clrErrorInfo();
}

// Any error recorded since the gate opened -- by the operation itself or by a runtime function
// it called -- makes the step's ENO FALSE.
KX_SHAPE void kx_gate_close(KX_BOOL* eno, EntryPointDescriptor* d) {
  *eno = KXoplck_getErrorInfo() == 0 ? 1 : 0;
  kx_exit_hook(d);
}

// ---- timer form --------------------------------------------------------------------------------

// Both events on the timer record; the generated code then writes IN and PT (building a PT
// literal there), calls KX_fv_TON or KX_fv_TOF and closes with kx_timer_exit.
KX_SHAPE void kx_timer_enter(int32_t typeId, TimerRecord* timer, EntryPointDescriptor* d) {
  kx_enter_hook(typeId, timer, KX_EVENT_STEP, d);
  kx_enter_hook(typeId, timer, KX_EVENT_ENTRY, d);
}

KX_SHAPE void kx_timer_exit(EntryPointDescriptor* d) { kx_exit_hook(d); }

// ---- edge form ---------------------------------------------------------------------------------

// R_TRIG computed in place: Q is TRUE in the execution in which CLK is TRUE and the memory M (CLK
// of the previous execution) is FALSE. M takes CLK as a byte copy; CLK is read after the events.
KX_SHAPE void kx_r_trig(RTrigRecord* edge, const KX_BOOL* clk, EntryPointDescriptor* d) {
  kx_enter_hook(KX_TYPE_R_TRIG, edge, KX_EVENT_STEP, d);
  kx_enter_hook(KX_TYPE_R_TRIG, edge, KX_EVENT_ENTRY, d);
  edge->CLK = *clk;
  edge->Q = (edge->CLK != 0 && edge->M == 0) ? 1 : 0;
  edge->M = edge->CLK;
  kx_exit_hook(d);
}
