// The TIME literals of the application as the two 32-bit words that kxtQwCnvUlL2SQw takes (low
// word, high word). A TIME constant is never stored as a 64-bit value: the code builds it through
// the runtime at every use.
#pragma once

// T#0s = 0 ticks.
#define KX_T0S_LOW 0x00000000u
#define KX_T0S_HIGH 0

// T#1s = 1193182 ticks.
#define KX_T1S_LOW 0x001234DEu
#define KX_T1S_HIGH 0

// T#36500d = 3762818755200000 ticks: PT of the ramps' running clocks.
#define KX_T36500D_LOW 0x83420400u
#define KX_T36500D_HIGH 0x000D5E43

// T#1000000d = 103090924800000000 ticks: PT of the lag filter's running clock.
#define KX_T1000000D_LOW 0x60454000u
#define KX_T1000000D_HIGH 0x016E40A6
