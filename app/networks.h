// The networks of Program_Control, one per function-block call, in the order the program runs
// them. Each issues the call's kind-1 event, writes the instance's ENO and inputs, calls the body
// and copies the outputs back into the program's variables.
//
// They are steps of the program's body, written out in it (always inlined into Program_Control,
// the only unit that includes this header): one stack frame and one GOT set-up for all of them
// instead of one per network. The block bodies stay functions of their own.
#pragma once

#include "app/program.h"
#include "blocks/op_shapes.h"
#include "blocks/time_literals.h"

#define KX_NETWORK static inline __attribute__((always_inline))

// The LagFilter network: the reset command's rising edge becomes a one-call Reset. The program's
// variables are read and written at their fixed places in the module's data area; the edge
// record and the instance are reached through the data area the program was given.
KX_NETWORK void Network_LagFilter(DataArea* base, EntryPointDescriptor* d) {
  DataArea* const vars = &kx_dataArea;
  RTrigRecord* const edge = &base->LagResetEdge;
  LagPt1Instance* const lag = &base->LagFilter;

  kx_r_trig(edge, &vars->LagResetCmd, d);

  kx_enter_hook(KX_TYPE_LAG_PT1, lag, KX_EVENT_STEP, d);
  lag->ENO = 1;
  lag->In = vars->LagIn;
  lag->Gain = 2.0f;
  lag->T1 = kxtQwCnvUlL2SQw(KX_T1S_LOW, KX_T1S_HIGH);
  lag->Reset = edge->Q;
  Lag_PT1(lag, d);
  vars->LagOut = lag->Out;
}

// The IntRamp network: Start 0, Target 100, Step 1, Period T#1s, written in this order in every
// cycle; Enable and Reset come from the program's variables.
KX_NETWORK void Network_IntRamp(DataArea* base, EntryPointDescriptor* d) {
  DataArea* const vars = &kx_dataArea;
  RampIntInstance* const ramp = &base->IntRamp;

  kx_enter_hook(KX_TYPE_RAMP_INT, ramp, KX_EVENT_STEP, d);
  ramp->ENO = 1;
  ramp->Enable = vars->IntRampEnable;
  ramp->Start = 0;
  ramp->Target = 100;
  ramp->Reset = vars->IntRampReset;
  ramp->Step = 1;
  ramp->Period = kxtQwCnvUlL2SQw(KX_T1S_LOW, KX_T1S_HIGH);
  Ramp_Int(ramp, d);
  vars->IntRampOut = ramp->Out;
  vars->IntRampReached = ramp->Reached;
}

// The RealRamp network: Start 0.0, Target 100.0, Step 1.0, Period T#1s, written in this order in
// every cycle; Enable and Reset come from the program's variables. Out is never written here.
KX_NETWORK void Network_RealRamp(DataArea* base, EntryPointDescriptor* d) {
  DataArea* const vars = &kx_dataArea;
  RampRealInstance* const ramp = &base->RealRamp;

  kx_enter_hook(KX_TYPE_RAMP_REAL, ramp, KX_EVENT_STEP, d);
  ramp->ENO = 1;
  ramp->Enable = vars->RealRampEnable;
  ramp->Start = 0.0f;
  ramp->Target = 100.0f;
  ramp->Reset = vars->RealRampReset;
  ramp->Step = 1.0f;
  ramp->Period = kxtQwCnvUlL2SQw(KX_T1S_LOW, KX_T1S_HIGH);
  Ramp_Real(ramp, d);
  vars->RealRampOut = ramp->Out;
  vars->RealRampReached = ramp->Reached;
}

// The Blinker network: OnTime and OffTime 1000 ms, written in this order in every cycle; Q goes
// to BlinkQ, Toggle is not used.
KX_NETWORK void Network_Blinker(DataArea* base, EntryPointDescriptor* d) {
  DataArea* const vars = &kx_dataArea;
  BlinkPulseInstance* const blink = &base->Blinker;

  kx_enter_hook(KX_TYPE_BLINK_PULSE, blink, KX_EVENT_STEP, d);
  blink->ENO = 1;
  blink->OnTime = 1000;
  blink->OffTime = 1000;
  Blink_Pulse(blink, d);
  vars->BlinkQ = blink->Q;
}

// Ext_Block's body is empty in this module: its outputs keep whatever the instance holds. It is
// not generated code, so its caller brackets it (below).
KX_NETWORK void Ext_Block(ExtBlockInstance* instance) { (void)instance; }

// The Ext1 network: Ext_Block has no generated body, so the caller brackets it with the kind-6
// event and the ExitHook itself. The program's own variables are read and written at their fixed
// places in the module's data area; the instance is reached through the data area it was given.
KX_NETWORK void Network_Ext1(DataArea* base, EntryPointDescriptor* descriptor) {
  ExtBlockInstance* const ext = &base->Ext1;
  DataArea* const vars = &kx_dataArea;
  kx_enter_hook(KX_TYPE_EXT_BLOCK, ext, KX_EVENT_STEP, descriptor);
  ext->ENO = 1;
  kx_enter_hook(KX_TYPE_EXT_BLOCK, ext, KX_EVENT_ENTRY, descriptor);
  ext->In1 = vars->ExtIn1;
  ext->In2 = vars->ExtIn2;
  ext->In3 = 111;
  ext->In4 = vars->ExtIn4;
  ext->In5 = vars->ExtIn5;
  ext->In6 = vars->ExtIn6;
  ext->In7 = 10;
  ext->In8 = vars->ExtIn8;
  ext->In9 = vars->BlinkQ;
  ext->In10 = 0;
  ext->In11 = vars->ExtIn11;
  ext->In12 = vars->ExtIn12;
  ext->In13 = 999;
  Ext_Block(ext);
  kx_exit_hook(descriptor);
  vars->ExtOut1 = ext->Out1;
  vars->ExtOut2 = ext->Out2;
  vars->ExtOut3 = ext->Out3;
  vars->ExtOut4 = ext->Out4;
  vars->ExtOut5 = ext->Out5;
}
