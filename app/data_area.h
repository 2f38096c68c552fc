// The data area: every variable of the application in one 896-byte block. Offsets are the names
// under which the runtime and its debugger address the variables, so every field of every record
// is placed explicitly (padding written out) and checked at compile time.
#pragma once

#include "abi/kx_types.h"

#define KX_DATA_AREA_SIZE 896u

#pragma pack(push, 1)

// Ramp_Int (type 14): moves an INT output towards a target at |Step| units per Period.
struct RampIntInstance {
  KX_BOOL Enable;
  uint8_t pad1[1];
  KX_INT Start;
  KX_INT Target;
  KX_BOOL Reset;
  uint8_t pad7[1];
  KX_INT Step;
  uint8_t pad10[2];
  KX_TIME Period;
  KX_BOOL ENO;
  uint8_t pad21[1];
  KX_INT Out;
  KX_BOOL Reached;
  uint8_t pad25[3];
  KX_TIME LastET;
  KX_INT IntValue;
  uint8_t pad38[2];
  KX_REAL PeriodSec;
  KX_REAL JumpSel;
  KX_REAL UpLimited;
  KX_BOOL CopyENO;
  uint8_t pad53[3];
  KX_TIME EtCopy;
  KX_REAL UpSel;
  KX_REAL DownSel;
  KX_BOOL PeriodZero;
  uint8_t pad73[3];
  KX_REAL NewValue;
  KX_REAL Increment;
  KX_REAL Value;
  KX_BOOL UpActive;
  uint8_t pad89[3];
  KX_REAL Rate;
  KX_BOOL DeltaENO;
  uint8_t pad97[3];
  KX_TIME DeltaET;
  KX_BOOL StartGtTarget;
  uint8_t pad109[3];
  TimerRecord Clock;
  KX_REAL DeltaSec;
  KX_REAL StartReal;
  KX_REAL AbsStepReal;
  KX_BOOL AtTarget;
  uint8_t pad161[3];
  KX_REAL TargetReal;
  KX_BOOL JumpActive;
  KX_BOOL DownActive;
  uint8_t pad170[2];
  KX_REAL DownCandidate;
  KX_INT AbsStep;
  KX_BOOL StartLtTarget;
  uint8_t pad179[1];
  KX_REAL DownLimited;
  KX_REAL UpCandidate;
};

// Ramp_Real (type 24): moves a REAL output towards a target at |Step| units per Period.
struct RampRealInstance {
  KX_BOOL Enable;
  uint8_t pad1[3];
  KX_REAL Start;
  KX_REAL Target;
  KX_BOOL Reset;
  uint8_t pad13[3];
  KX_REAL Step;
  KX_TIME Period;
  KX_BOOL ENO;
  uint8_t pad29[3];
  KX_REAL Out;
  KX_BOOL Reached;
  uint8_t pad37[3];
  KX_REAL PeriodSec;
  KX_REAL JumpSel;
  KX_REAL UpLimited;
  KX_BOOL CopyENO;
  uint8_t pad53[3];
  KX_TIME EtCopy;
  KX_REAL UpSel;
  KX_REAL DownSel;
  KX_BOOL PeriodZero;
  uint8_t pad73[3];
  KX_REAL NewValue;
  KX_REAL Increment;
  KX_BOOL UpActive;
  uint8_t pad85[3];
  KX_REAL Rate;
  KX_BOOL DeltaENO;
  uint8_t pad93[3];
  KX_TIME DeltaET;
  TimerRecord Clock;
  KX_BOOL StartGtTarget;
  uint8_t pad141[3];
  KX_REAL DeltaSec;
  KX_BOOL AtTarget;
  KX_BOOL JumpActive;
  KX_BOOL DownActive;
  uint8_t pad151[1];
  KX_REAL DownCandidate;
  KX_REAL AbsStep;
  KX_BOOL StartLtTarget;
  uint8_t pad161[3];
  KX_TIME LastET;
  KX_REAL DownLimited;
  KX_REAL UpCandidate;
};

// Lag_PT1 (type 4): first-order lag with gain and reset; every gated step owns an ENO byte with
// its result 4 bytes behind it.
struct LagPt1Instance {
  KX_REAL In;
  KX_REAL Gain;
  KX_TIME T1;
  KX_BOOL Reset;
  KX_BOOL ENO;
  uint8_t pad18[2];
  KX_REAL Out;
  KX_BOOL QuotientENO;
  uint8_t pad25[3];
  KX_REAL Quotient;
  KX_BOOL InCopyENO;
  uint8_t pad33[3];
  KX_REAL InCopy;
  KX_BOOL DeltaSecENO;
  uint8_t pad41[3];
  KX_REAL DeltaSec;
  KX_BOOL T1SecENO;
  uint8_t pad49[3];
  KX_REAL T1Sec;
  KX_BOOL YCopyENO;
  uint8_t pad57[3];
  KX_REAL YCopy;
  KX_TIME LastET;
  KX_BOOL YSelENO;
  uint8_t pad73[3];
  KX_REAL YSel;
  KX_BOOL CopyENO;
  uint8_t pad81[3];
  KX_TIME EtCopy;
  TimerRecord Clock;
  KX_BOOL GainedENO;
  uint8_t pad129[3];
  KX_REAL Gained;
  KX_BOOL WeightedENO;
  uint8_t pad137[3];
  KX_REAL Weighted;
  KX_BOOL DeltaENO;
  uint8_t pad145[3];
  KX_TIME DeltaET;
  KX_REAL PrevY;
  KX_BOOL NumeratorENO;
  uint8_t pad161[3];
  KX_REAL Numerator;
  KX_BOOL RatioENO;
  uint8_t pad169[3];
  KX_REAL Ratio;
  KX_TIME Delta;
  KX_REAL Y;
  KX_BOOL DenominatorENO;
  uint8_t pad189[3];
  KX_REAL Denominator;
  KX_REAL OutSel;
};

// Blink_Pulse (type 29): free-running pulse generator, OnTime/OffTime in milliseconds.
struct BlinkPulseInstance {
  KX_UINT OnTime;
  KX_UINT OffTime;
  KX_BOOL ENO;
  KX_BOOL Q;
  KX_BOOL Toggle;
  uint8_t pad7[1];
  TimerRecord OffTimer;
  KX_TIME OffTimeConv;
  KX_TIME OnTimeConv;
  KX_TIME OffTimePT;
  TimerRecord OnTimer;
  KX_TIME OnTimePT;
  KX_BOOL NotQ;
  KX_BOOL ToggleXor;
  RTrigRecord QEdge;
};

// Ext_Block (type 28): a block whose body is empty in this module; the program only copies
// its inputs in and its outputs out.
struct ExtBlockInstance {
  KX_INT In1;
  KX_INT In2;
  KX_INT In3;
  KX_INT In4;
  KX_INT In5;
  KX_INT In6;
  KX_INT In7;
  KX_BOOL In8;
  KX_BOOL In9;
  KX_BOOL In10;
  uint8_t pad17[1];
  KX_INT In11;
  KX_BOOL In12;
  uint8_t pad21[3];
  KX_INT In13;
  uint8_t pad26[2];
  KX_BOOL ENO;
  uint8_t pad29[1];
  KX_INT Out1;
  uint8_t pad32[2];
  KX_BOOL Out2;
  uint8_t pad35[1];
  KX_INT Out3;
  KX_BOOL Out4;
  uint8_t pad39[1];
  KX_INT Out5;
  uint8_t pad42[14];
};

// The whole data area: the program's variables at 0..55, then the block instances.
struct DataArea {
  KX_REAL LagIn;
  KX_BOOL LagResetCmd;
  uint8_t pad5[3];
  KX_REAL LagOut;
  KX_BOOL IntRampEnable;
  KX_BOOL IntRampReset;
  KX_BOOL IntRampReached;
  uint8_t pad15[1];
  KX_INT IntRampOut;
  uint8_t pad18[2];
  KX_REAL RealRampOut;
  KX_BOOL RealRampEnable;
  KX_BOOL RealRampReset;
  KX_BOOL RealRampReached;
  uint8_t pad27[1];
  KX_INT ExtIn1;
  KX_INT ExtIn6;
  KX_BOOL ExtIn12;
  KX_BOOL ExtOut2;
  KX_INT ExtIn4;
  KX_INT ExtOut3;
  KX_INT ExtIn11;
  KX_INT ExtIn5;
  KX_INT ExtOut1;
  KX_INT ExtOut5;
  KX_BOOL ExtOut4;
  uint8_t pad47[3];
  KX_INT ExtIn2;
  KX_BOOL ExtIn8;
  KX_BOOL BlinkQ;
  uint8_t pad54[2];
  LagPt1Instance LagFilter;
  RTrigRecord LagResetEdge;
  uint8_t pad259[1];
  RampIntInstance IntRamp;
  RampRealInstance RealRamp;
  uint8_t unused628[92];
  ExtBlockInstance Ext1;
  BlinkPulseInstance Blinker;
  uint8_t unused893[3];
};

#pragma pack(pop)

#include "app/data_area_layout.h"   // the compile-time checks of every offset above
