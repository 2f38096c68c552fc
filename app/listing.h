// The program as Structured Text, written once: the statements of Program_Control and of each
// function block, one per step, in the order the module runs them, each with what its debug events
// report. tools/listing.cpp generates from these lists the listing (CCodePublic.st, beside the
// module) and the map from the debug events to its lines in the symbol file. The declarations come
// from the layout (app/layout.h, in its order) and the initial values from the initial-value table
// (app/init_table.cpp); only the statements, the outputs and a comment per unit are written here.
// The module's code (app/*.cpp) runs the same steps; tests/layout/listing_test.cpp holds the two
// together through the events of real cycles.
//
// The lists are X-macros; this header defines nothing else.
#pragma once

// ---- the statements ----------------------------------------------------------------------------
//
// A unit's list takes one macro per kind of statement, always these six in this order:
//   OP(OPERATION, Field, "text")        an operation in the plain shape: kind 1, kind 6 and the
//                                       ExitHook, all reporting Field (the result)
//   GATED(OPERATION, Eno, "text")       an operation with EN/ENO: kind 1 reporting its ENO
//                                       variable Eno, whatever EN is; kind 6 and the ExitHook only
//                                       when EN is TRUE
//   BRACKETED(TYPE, Record, "text")     a call of a block whose body is not generated code (a
//                                       timer, an edge detector, Ext_Block): kind 1, kind 6 and
//                                       the ExitHook here, reporting the record
//   CALL(TYPE, Instance, "text")        a call of a function block with a generated body: kind 1
//                                       here; the body reports its own entry and exit
//   COPY("text")                        a plain assignment: no debug events
//   NOTE("text")                        a comment line of its own
// OPERATION and TYPE are type-id constants (app/layout.h). A text is one statement in the unit's
// body; "\n" continues it on another line, which keeps its own leading spaces.
//
// A call with EN FALSE does not run: its result keeps its value and its ENO reads FALSE. So an
// assignment of that result behind it is made only when the call ran, which the text says with an
// IF on the call's EN.

#define KX_LISTING_PROGRAM_CONTROL(OP, GATED, BRACKETED, CALL, COPY, NOTE)                        \
  NOTE("(* The lag filter, reset by the rising edge of LagResetCmd. *)")                          \
  BRACKETED(R_TRIG, LagResetEdge, "LagResetEdge(CLK := LagResetCmd);")                            \
  CALL(LAG_PT1, LagFilter,                                                                        \
       "LagFilter(In := LagIn, Gain := 2.0, T1 := T#1s, Reset := LagResetEdge.Q);")               \
  COPY("LagOut := LagFilter.Out;")                                                                \
  NOTE("(* The INT ramp. *)")                                                                     \
  CALL(RAMP_INT, IntRamp,                                                                         \
       "IntRamp(Enable := IntRampEnable, Start := 0, Target := 100, Reset := IntRampReset,\n"     \
       "        Step := 1, Period := T#1s);")                                                     \
  COPY("IntRampOut := IntRamp.Out;")                                                              \
  COPY("IntRampReached := IntRamp.Reached;")                                                      \
  NOTE("(* The REAL ramp. *)")                                                                    \
  CALL(RAMP_REAL, RealRamp,                                                                       \
       "RealRamp(Enable := RealRampEnable, Start := 0.0, Target := 100.0, Reset := RealRampReset,\n" \
       "         Step := 1.0, Period := T#1s);")                                                  \
  COPY("RealRampOut := RealRamp.Out;")                                                            \
  COPY("RealRampReached := RealRamp.Reached;")                                                    \
  NOTE("(* The pulse generator; its Toggle is not used. *)")                                      \
  CALL(BLINK_PULSE, Blinker, "Blinker(OnTime := 1000, OffTime := 1000);")                         \
  COPY("BlinkQ := Blinker.Q;")                                                                    \
  NOTE("(* The external block. *)")                                                               \
  BRACKETED(EXT_BLOCK, Ext1,                                                                      \
            "Ext1(In1 := ExtIn1, In2 := ExtIn2, In3 := 111, In4 := ExtIn4, In5 := ExtIn5,\n"      \
            "     In6 := ExtIn6, In7 := 10, In8 := ExtIn8, In9 := BlinkQ, In10 := FALSE,\n"       \
            "     In11 := ExtIn11, In12 := ExtIn12, In13 := 999);")                               \
  COPY("ExtOut1 := Ext1.Out1;")                                                                   \
  COPY("ExtOut2 := Ext1.Out2;")                                                                   \
  COPY("ExtOut3 := Ext1.Out3;")                                                                   \
  COPY("ExtOut4 := Ext1.Out4;")                                                                   \
  COPY("ExtOut5 := Ext1.Out5;")

#define KX_LISTING_LAG_PT1(OP, GATED, BRACKETED, CALL, COPY, NOTE)                                \
  BRACKETED(TON, Clock, "Clock(IN := TRUE, PT := T#1000000d);")                                   \
  GATED(MOVE_REAL, InCopyENO, "InCopy := MOVE(IN := In, ENO => InCopyENO);")                      \
  GATED(TIME_TO_REAL, T1SecENO, "T1Sec := TIME_TO_REAL(IN := T1, ENO => T1SecENO);")              \
  GATED(SUB_TIME, DeltaENO, "DeltaET := SUB(IN1 := Clock.ET, IN2 := LastET, ENO => DeltaENO);")   \
  COPY("Delta := DeltaET;")                                                                       \
  GATED(SUB_TIME, CopyENO,                                                                        \
        "EtCopy := SUB(EN := DeltaENO, IN1 := Clock.ET, IN2 := T#0s, ENO => CopyENO);")           \
  COPY("IF DeltaENO THEN LastET := EtCopy; END_IF;")                                              \
  GATED(TIME_TO_REAL, DeltaSecENO, "DeltaSec := TIME_TO_REAL(IN := Delta, ENO => DeltaSecENO);")  \
  GATED(DIV_REAL, RatioENO,                                                                       \
        "Ratio := DIV(EN := T1SecENO, IN1 := T1Sec, IN2 := DeltaSec, ENO => RatioENO);")          \
  GATED(MUL_REAL, WeightedENO,                                                                    \
        "Weighted := MUL(EN := InCopyENO, IN1 := PrevY, IN2 := Ratio, ENO => WeightedENO);")      \
  GATED(ADD_REAL, NumeratorENO,                                                                   \
        "Numerator := ADD(EN := WeightedENO, IN1 := InCopy, IN2 := Weighted,\n"                   \
        "                 ENO => NumeratorENO);")                                                 \
  GATED(ADD_REAL, DenominatorENO,                                                                 \
        "Denominator := ADD(EN := RatioENO, IN1 := Ratio, IN2 := 1.0, ENO => DenominatorENO);")   \
  GATED(DIV_REAL, QuotientENO,                                                                    \
        "Quotient := DIV(EN := NumeratorENO, IN1 := Numerator, IN2 := Denominator,\n"             \
        "                ENO => QuotientENO);")                                                   \
  COPY("IF NumeratorENO THEN Y := Quotient; END_IF;")                                             \
  GATED(MUL_REAL, GainedENO, "Gained := MUL(EN := QuotientENO, IN1 := Y, IN2 := Gain, ENO => GainedENO);") \
  GATED(MOVE_REAL, YCopyENO, "YCopy := MOVE(EN := GainedENO, IN := Y, ENO => YCopyENO);")         \
  GATED(SEL_REAL, YSelENO,                                                                        \
        "YSel := SEL(EN := YCopyENO, G := Reset, IN0 := YCopy, IN1 := 0.0, ENO => YSelENO);")     \
  COPY("IF YCopyENO THEN PrevY := YSel; END_IF;")                                                 \
  OP(SEL_REAL, OutSel, "OutSel := SEL(Reset, Gained, 0.0);")                                      \
  COPY("Out := OutSel;")

#define KX_LISTING_RAMP_INT(OP, GATED, BRACKETED, CALL, COPY, NOTE)                               \
  OP(INT_TO_REAL, StartReal, "StartReal := INT_TO_REAL(Start);")                                  \
  OP(LT_INT, StartLtTarget, "StartLtTarget := LT(Start, Target);")                                \
  OP(AND_BOOL, UpActive, "UpActive := Enable AND StartLtTarget;")                                 \
  OP(GT_INT, StartGtTarget, "StartGtTarget := GT(Start, Target);")                                \
  OP(AND_BOOL, DownActive, "DownActive := Enable AND StartGtTarget;")                             \
  BRACKETED(TON, Clock, "Clock(IN := Enable, PT := T#36500d);")                                   \
  OP(ABS_INT, AbsStep, "AbsStep := ABS(Step);")                                                   \
  OP(INT_TO_REAL, AbsStepReal, "AbsStepReal := INT_TO_REAL(AbsStep);")                            \
  OP(TIME_TO_REAL, PeriodSec, "PeriodSec := TIME_TO_REAL(Period);")                               \
  OP(DIV_REAL, Rate, "Rate := DIV(AbsStepReal, PeriodSec);")                                      \
  OP(EQ_REAL, PeriodZero, "PeriodZero := EQ(PeriodSec, 0.0);")                                    \
  OP(AND_BOOL, JumpActive, "JumpActive := PeriodZero AND Enable;")                                \
  OP(INT_TO_REAL, TargetReal, "TargetReal := INT_TO_REAL(Target);")                               \
  OP(EQ_REAL, AtTarget, "AtTarget := EQ(Value, TargetReal);")                                     \
  COPY("Reached := AtTarget;")                                                                    \
  GATED(SUB_TIME, DeltaENO, "DeltaET := SUB(IN1 := Clock.ET, IN2 := LastET, ENO => DeltaENO);")   \
  GATED(SUB_TIME, CopyENO,                                                                        \
        "EtCopy := SUB(EN := DeltaENO, IN1 := Clock.ET, IN2 := T#0s, ENO => CopyENO);")           \
  COPY("IF DeltaENO THEN LastET := EtCopy; END_IF;")                                              \
  OP(TIME_TO_REAL, DeltaSec, "DeltaSec := TIME_TO_REAL(DeltaET);")                                \
  OP(MUL_REAL, Increment, "Increment := MUL(DeltaSec, Rate);")                                    \
  NOTE("(* The new position, in priority: Reset, a zero Period, falling, rising, holding. *)")   \
  OP(ADD_REAL, UpCandidate, "UpCandidate := ADD(Value, Increment);")                              \
  OP(LIMIT_REAL, UpLimited, "UpLimited := LIMIT(StartReal, UpCandidate, TargetReal);")            \
  OP(SEL_REAL, UpSel, "UpSel := SEL(UpActive, Value, UpLimited);")                                \
  OP(SUB_REAL, DownCandidate, "DownCandidate := SUB(Value, Increment);")                          \
  OP(LIMIT_REAL, DownLimited, "DownLimited := LIMIT(TargetReal, DownCandidate, StartReal);")      \
  OP(SEL_REAL, DownSel, "DownSel := SEL(DownActive, UpSel, DownLimited);")                        \
  OP(SEL_REAL, JumpSel, "JumpSel := SEL(JumpActive, DownSel, TargetReal);")                       \
  OP(SEL_REAL, NewValue, "NewValue := SEL(Reset, JumpSel, StartReal);")                           \
  COPY("Value := NewValue;")                                                                      \
  OP(REAL_TO_INT, IntValue, "IntValue := REAL_TO_INT(NewValue);")                                 \
  COPY("Out := IntValue;")

#define KX_LISTING_RAMP_REAL(OP, GATED, BRACKETED, CALL, COPY, NOTE)                              \
  OP(LT_REAL, StartLtTarget, "StartLtTarget := LT(Start, Target);")                               \
  OP(AND_BOOL, UpActive, "UpActive := Enable AND StartLtTarget;")                                 \
  OP(GT_REAL, StartGtTarget, "StartGtTarget := GT(Start, Target);")                               \
  OP(AND_BOOL, DownActive, "DownActive := Enable AND StartGtTarget;")                             \
  BRACKETED(TON, Clock, "Clock(IN := Enable, PT := T#36500d);")                                   \
  OP(ABS_REAL, AbsStep, "AbsStep := ABS(Step);")                                                  \
  OP(TIME_TO_REAL, PeriodSec, "PeriodSec := TIME_TO_REAL(Period);")                               \
  OP(DIV_REAL, Rate, "Rate := DIV(AbsStep, PeriodSec);")                                          \
  OP(EQ_REAL, PeriodZero, "PeriodZero := EQ(PeriodSec, 0.0);")                                    \
  OP(AND_BOOL, JumpActive, "JumpActive := PeriodZero AND Enable;")                                \
  OP(EQ_REAL, AtTarget, "AtTarget := EQ(Out, Target);")                                           \
  COPY("Reached := AtTarget;")                                                                    \
  GATED(SUB_TIME, DeltaENO, "DeltaET := SUB(IN1 := Clock.ET, IN2 := LastET, ENO => DeltaENO);")   \
  GATED(SUB_TIME, CopyENO,                                                                        \
        "EtCopy := SUB(EN := DeltaENO, IN1 := Clock.ET, IN2 := T#0s, ENO => CopyENO);")           \
  COPY("IF DeltaENO THEN LastET := EtCopy; END_IF;")                                              \
  OP(TIME_TO_REAL, DeltaSec, "DeltaSec := TIME_TO_REAL(DeltaET);")                                \
  OP(MUL_REAL, Increment, "Increment := MUL(DeltaSec, Rate);")                                    \
  NOTE("(* The new position, in priority: Reset, a zero Period, falling, rising, holding. *)")   \
  OP(ADD_REAL, UpCandidate, "UpCandidate := ADD(Out, Increment);")                                \
  OP(LIMIT_REAL, UpLimited, "UpLimited := LIMIT(Start, UpCandidate, Target);")                    \
  OP(SEL_REAL, UpSel, "UpSel := SEL(UpActive, Out, UpLimited);")                                  \
  OP(SUB_REAL, DownCandidate, "DownCandidate := SUB(Out, Increment);")                            \
  OP(LIMIT_REAL, DownLimited, "DownLimited := LIMIT(Target, DownCandidate, Start);")              \
  OP(SEL_REAL, DownSel, "DownSel := SEL(DownActive, UpSel, DownLimited);")                        \
  OP(SEL_REAL, JumpSel, "JumpSel := SEL(JumpActive, DownSel, Target);")                           \
  OP(SEL_REAL, NewValue, "NewValue := SEL(Reset, JumpSel, Start);")                               \
  COPY("Out := NewValue;")

#define KX_LISTING_BLINK_PULSE(OP, GATED, BRACKETED, CALL, COPY, NOTE)                            \
  OP(UINT_TO_TIME, OffTimeConv, "OffTimeConv := UINT_TO_TIME(OffTime);")                          \
  OP(DIV_TIME_BY_INT, OffTimePT, "OffTimePT := DIV(OffTimeConv, 1000);")                          \
  OP(UINT_TO_TIME, OnTimeConv, "OnTimeConv := UINT_TO_TIME(OnTime);")                             \
  OP(DIV_TIME_BY_INT, OnTimePT, "OnTimePT := DIV(OnTimeConv, 1000);")                             \
  OP(NOT, NotQ, "NotQ := NOT Q;")                                                                 \
  BRACKETED(TON, OffTimer, "OffTimer(IN := NotQ, PT := OffTimePT);")                              \
  BRACKETED(TOF, OnTimer, "OnTimer(IN := OffTimer.Q, PT := OnTimePT);")                           \
  COPY("Q := OnTimer.Q;")                                                                         \
  BRACKETED(R_TRIG, QEdge, "QEdge(CLK := OnTimer.Q);")                                            \
  OP(XOR, ToggleXor, "ToggleXor := QEdge.Q XOR Toggle;")                                          \
  COPY("Toggle := ToggleXor;")

#define KX_LISTING_EXT_BLOCK(OP, GATED, BRACKETED, CALL, COPY, NOTE)                              \
  NOTE("(* Empty in this module: the outputs keep what the instance holds. *)")

// ---- the units ---------------------------------------------------------------------------------
//
// The program and the function blocks in the listing's order: U(Struct, TYPE, LIST, "outputs",
// "comment"). Struct and TYPE are the unit's record and type-id constant in the layout, LIST its
// statements above. A function block's inputs are its fields ahead of ENO; "outputs" names the
// fields behind ENO that are its outputs, the rest are its own variables. The program's inputs
// and outputs are the directions of its variables in the layout. The comment (lines joined by
// "\n") stands under the unit's first line.
#define KX_LISTING_UNITS(U)                                                                        \
  U(DataArea, PROGRAM_CONTROL, KX_LISTING_PROGRAM_CONTROL, "",                                     \
    "(* Runs its networks in this order in every cycle. *)")                                       \
  U(LagPt1Instance, LAG_PT1, KX_LISTING_LAG_PT1, "Out",                                            \
    "(* A first-order lag with time constant T1, gain and reset: one backward-Euler step\n"        \
    "   y := (x + y' * r) / (r + 1), r = T1 / dt, per call, dt measured by a running TON.\n"       \
    "   The steps are chained through EN/ENO: a division by zero skips what depends on it. *)")    \
  U(RampIntInstance, RAMP_INT, KX_LISTING_RAMP_INT, "Out, Reached",                                \
    "(* Moves Out from Start towards Target at |Step| units per Period. The position Value is\n"   \
    "   a REAL, so that fractions of a unit add up; Clock, a running TON, measures the time\n"     \
    "   between two calls. TIME_TO_REAL gives seconds. *)")                                        \
  U(RampRealInstance, RAMP_REAL, KX_LISTING_RAMP_REAL, "Out, Reached",                             \
    "(* Ramp_Int for REAL values: Out itself is the position, so a value written into Out\n"       \
    "   between two calls is where the next call moves from. *)")                                  \
  U(BlinkPulseInstance, BLINK_PULSE, KX_LISTING_BLINK_PULSE, "Q, Toggle",                          \
    "(* A free-running pulse: Q FALSE for OffTime ms, TRUE for OnTime ms; Toggle changes at\n"     \
    "   every rising edge of Q. UINT_TO_TIME counts seconds, hence the division by 1000. *)")      \
  U(ExtBlockInstance, EXT_BLOCK, KX_LISTING_EXT_BLOCK, "Out1, Out2, Out3, Out4, Out5",             \
    "(* Its body is not generated code: the program reports its events around the call. *)")
