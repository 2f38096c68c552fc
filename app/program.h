// The application: the module's data area, its initial-value table, the cycle function, the
// program Program_Control with its networks, and the function-block bodies.
#pragma once

#include "app/data_area.h"
#include "abi/descriptors.h"

// The module's own data area: zero at load, written only by the runtime's initialisation, by the
// cycles and by the data-access exports.
extern DataArea kx_dataArea;

// The initial-value table handed to KX_fr_init2.
#define KX_INIT_TABLE_SIZE 68u
extern const uint8_t kx_initTable[KX_INIT_TABLE_SIZE];

// The cycle function of the entry point (its cycleFunction slot).
void KX_STDCALL KX_PI_Program_Control_cycle(EntryPointDescriptor* descriptor);

// The program: runs its networks in a fixed order, once per cycle.
void Program_Control(uint8_t* dataArea, EntryPointDescriptor* descriptor);

// The networks of Program_Control are in app/networks.h.

// Function-block bodies.
void Lag_PT1(LagPt1Instance* instance, EntryPointDescriptor* descriptor);
void Ramp_Int(RampIntInstance* instance, EntryPointDescriptor* descriptor);
void Ramp_Real(RampRealInstance* instance, EntryPointDescriptor* descriptor);
void Blink_Pulse(BlinkPulseInstance* instance, EntryPointDescriptor* descriptor);
