// The application's layout, written once: the type identifiers that the debug events carry, and
// the data area with every record and every field at its byte offset. Everything else derives
// from these lists: the type-id enum (app/type_ids.h), the packed structs of the data area with
// their compile-time checks (app/data_area.h) and the symbol file that ships beside the module
// (tools/symbol_file.cpp). The offsets are names under which the runtime and its debugger address
// the variables, so they never move.
//
// The lists are X-macros; this header defines nothing else.
#pragma once

// ---- type identifiers --------------------------------------------------------------------------
//
// X(id, CONSTANT, "name", KIND): KX_TYPE_<CONSTANT> in the code, "name" in the symbol file and in
// the host; KIND is PROGRAM, FUNCTION_BLOCK or OPERATION (an elementary operation, written out
// inline). 1 and 2 are not used.
#define KX_LAYOUT_TYPE_IDS(X)                                        \
  X( 3, PROGRAM_CONTROL, "Program_Control", PROGRAM)                 \
  X( 4, LAG_PT1,         "Lag_PT1",         FUNCTION_BLOCK)          \
  X( 5, DIV_REAL,        "DIV_REAL",        OPERATION)               \
  X( 6, MOVE_REAL,       "MOVE_REAL",       OPERATION)               \
  X( 7, TIME_TO_REAL,    "TIME_TO_REAL",    OPERATION)               \
  X( 8, SEL_REAL,        "SEL_REAL",        OPERATION)               \
  X( 9, SUB_TIME,        "SUB_TIME",        OPERATION)               \
  X(10, TON,             "TON",             FUNCTION_BLOCK)          \
  X(11, MUL_REAL,        "MUL_REAL",        OPERATION)               \
  X(12, ADD_REAL,        "ADD_REAL",        OPERATION)               \
  X(13, R_TRIG,          "R_TRIG",          FUNCTION_BLOCK)          \
  X(14, RAMP_INT,        "Ramp_Int",        FUNCTION_BLOCK)          \
  X(15, REAL_TO_INT,     "REAL_TO_INT",     OPERATION)               \
  X(16, LIMIT_REAL,      "LIMIT_REAL",      OPERATION)               \
  X(17, EQ_REAL,         "EQ_REAL",         OPERATION)               \
  X(18, AND_BOOL,        "AND_BOOL",        OPERATION)               \
  X(19, GT_INT,          "GT_INT",          OPERATION)               \
  X(20, INT_TO_REAL,     "INT_TO_REAL",     OPERATION)               \
  X(21, SUB_REAL,        "SUB_REAL",        OPERATION)               \
  X(22, ABS_INT,         "ABS_INT",         OPERATION)               \
  X(23, LT_INT,          "LT_INT",          OPERATION)               \
  X(24, RAMP_REAL,       "Ramp_Real",       FUNCTION_BLOCK)          \
  X(25, GT_REAL,         "GT_REAL",         OPERATION)               \
  X(26, ABS_REAL,        "ABS_REAL",        OPERATION)               \
  X(27, LT_REAL,         "LT_REAL",         OPERATION)               \
  X(28, EXT_BLOCK,       "Ext_Block",       FUNCTION_BLOCK)          \
  X(29, BLINK_PULSE,     "Blink_Pulse",     FUNCTION_BLOCK)          \
  X(30, UINT_TO_TIME,    "UINT_TO_TIME",    OPERATION)               \
  X(31, DIV_TIME_BY_INT, "DIV_TIME_BY_INT", OPERATION)               \
  X(32, TOF,             "TOF",             FUNCTION_BLOCK)          \
  X(33, NOT,             "NOT",             OPERATION)               \
  X(34, XOR,             "XOR",             OPERATION)

// ---- records -----------------------------------------------------------------------------------
//
// A record's list takes one macro per kind of row, always these seven in this order:
//   VAR(offset, TYPE, Name, DIRECTION)  a variable of the program itself; DIRECTION is INPUT (the
//                                       program only reads it, into a block input) or OUTPUT (the
//                                       program writes a block output into it in every cycle)
//   FIELD(offset, TYPE, Name, OP)       a field of a block instance or of an embedded record; OP
//                                       is the operation (type-id CONSTANT) whose debug hooks
//                                       report this field's address -- the result of a plain
//                                       operation, the ENO of a gated one (whose result, 4 bytes
//                                       behind, is never reported) -- or NONE
//   BLOCK(offset, Struct, Name)         a function-block instance; its type is the Struct's below
//   TIMER(offset, TON|TOF, Name)        an embedded timer record (TimerRecord) of that block type
//   EDGE(offset, Name)                  an embedded rising-edge detector (RTrigRecord, R_TRIG)
//   PAD(offset, size)                   alignment padding, uint8_t pad<offset>[size]
//   SPARE(offset, size)                 bytes no code reads or writes, uint8_t unused<offset>[size]
// TYPE is BOOL, INT, UINT, REAL or TIME (KX_BOOL ... KX_TIME). Rows are in offset order and
// cover every byte: the compiler checks each offset and each record's size.

// The block instances and the data area: KX_LAYOUT_BLOCKS(R) with R(Struct, TYPE, size, LIST),
// TYPE the type-id CONSTANT whose debug events report the record. In definition order: a record
// comes after the records it embeds.
#define KX_LAYOUT_BLOCKS(R)                                                  \
  R(RampIntInstance,    RAMP_INT,        188, KX_LAYOUT_RAMP_INT)            \
  R(RampRealInstance,   RAMP_REAL,       180, KX_LAYOUT_RAMP_REAL)           \
  R(LagPt1Instance,     LAG_PT1,         200, KX_LAYOUT_LAG_PT1)             \
  R(BlinkPulseInstance, BLINK_PULSE,     117, KX_LAYOUT_BLINK_PULSE)         \
  R(ExtBlockInstance,   EXT_BLOCK,        56, KX_LAYOUT_EXT_BLOCK)           \
  R(DataArea,           PROGRAM_CONTROL, 896, KX_LAYOUT_DATA_AREA)

// The standard records that the blocks embed, defined with the runtime's interface
// (abi/kx_types.h) and checked against these lists: KX_LAYOUT_EMBEDDED(R), R(Struct, size, LIST).
#define KX_LAYOUT_EMBEDDED(R)                       \
  R(TimerRecord, 36, KX_LAYOUT_TIMER)               \
  R(RTrigRecord,  3, KX_LAYOUT_R_TRIG)

// The timer record (TON and TOF); its last 12 bytes are the timer block's state, owned by the
// runtime and never named.
#define KX_LAYOUT_TIMER(VAR, FIELD, BLOCK, TIMER, EDGE, PAD, SPARE) \
  FIELD(  0, BOOL, IN,             NONE)                            \
  FIELD(  4, TIME, PT,             NONE)                            \
  FIELD( 12, BOOL, Q,              NONE)                            \
  FIELD( 16, TIME, ET,             NONE)

// The rising-edge detector, computed in place: Q := CLK AND NOT M, then M := CLK.
#define KX_LAYOUT_R_TRIG(VAR, FIELD, BLOCK, TIMER, EDGE, PAD, SPARE) \
  FIELD(  0, BOOL, CLK,            NONE)                             \
  FIELD(  1, BOOL, Q,              NONE)                             \
  FIELD(  2, BOOL, M,              NONE)

// Ramp_Int (type 14): moves an INT output towards a target at |Step| units per Period.
#define KX_LAYOUT_RAMP_INT(VAR, FIELD, BLOCK, TIMER, EDGE, PAD, SPARE) \
  FIELD(  0, BOOL, Enable,         NONE)                               \
  PAD(    1, 1)                                                        \
  FIELD(  2, INT,  Start,          NONE)                               \
  FIELD(  4, INT,  Target,         NONE)                               \
  FIELD(  6, BOOL, Reset,          NONE)                               \
  PAD(    7, 1)                                                        \
  FIELD(  8, INT,  Step,           NONE)                               \
  PAD(   10, 2)                                                        \
  FIELD( 12, TIME, Period,         NONE)                               \
  FIELD( 20, BOOL, ENO,            NONE)                               \
  PAD(   21, 1)                                                        \
  FIELD( 22, INT,  Out,            NONE)                               \
  FIELD( 24, BOOL, Reached,        NONE)                               \
  PAD(   25, 3)                                                        \
  FIELD( 28, TIME, LastET,         NONE)                               \
  FIELD( 36, INT,  IntValue,       REAL_TO_INT)                        \
  PAD(   38, 2)                                                        \
  FIELD( 40, REAL, PeriodSec,      TIME_TO_REAL)                       \
  FIELD( 44, REAL, JumpSel,        SEL_REAL)                           \
  FIELD( 48, REAL, UpLimited,      LIMIT_REAL)                         \
  FIELD( 52, BOOL, CopyENO,        SUB_TIME)                           \
  PAD(   53, 3)                                                        \
  FIELD( 56, TIME, EtCopy,         NONE)                               \
  FIELD( 64, REAL, UpSel,          SEL_REAL)                           \
  FIELD( 68, REAL, DownSel,        SEL_REAL)                           \
  FIELD( 72, BOOL, PeriodZero,     EQ_REAL)                            \
  PAD(   73, 3)                                                        \
  FIELD( 76, REAL, NewValue,       SEL_REAL)                           \
  FIELD( 80, REAL, Increment,      MUL_REAL)                           \
  FIELD( 84, REAL, Value,          NONE)                               \
  FIELD( 88, BOOL, UpActive,       AND_BOOL)                           \
  PAD(   89, 3)                                                        \
  FIELD( 92, REAL, Rate,           DIV_REAL)                           \
  FIELD( 96, BOOL, DeltaENO,       SUB_TIME)                           \
  PAD(   97, 3)                                                        \
  FIELD(100, TIME, DeltaET,        NONE)                               \
  FIELD(108, BOOL, StartGtTarget,  GT_INT)                             \
  PAD(  109, 3)                                                        \
  TIMER(112, TON,  Clock)                                              \
  FIELD(148, REAL, DeltaSec,       TIME_TO_REAL)                       \
  FIELD(152, REAL, StartReal,      INT_TO_REAL)                        \
  FIELD(156, REAL, AbsStepReal,    INT_TO_REAL)                        \
  FIELD(160, BOOL, AtTarget,       EQ_REAL)                            \
  PAD(  161, 3)                                                        \
  FIELD(164, REAL, TargetReal,     INT_TO_REAL)                        \
  FIELD(168, BOOL, JumpActive,     AND_BOOL)                           \
  FIELD(169, BOOL, DownActive,     AND_BOOL)                           \
  PAD(  170, 2)                                                        \
  FIELD(172, REAL, DownCandidate,  SUB_REAL)                           \
  FIELD(176, INT,  AbsStep,        ABS_INT)                            \
  FIELD(178, BOOL, StartLtTarget,  LT_INT)                             \
  PAD(  179, 1)                                                        \
  FIELD(180, REAL, DownLimited,    LIMIT_REAL)                         \
  FIELD(184, REAL, UpCandidate,    ADD_REAL)

// Ramp_Real (type 24): moves a REAL output towards a target at |Step| units per Period.
#define KX_LAYOUT_RAMP_REAL(VAR, FIELD, BLOCK, TIMER, EDGE, PAD, SPARE) \
  FIELD(  0, BOOL, Enable,         NONE)                                \
  PAD(    1, 3)                                                         \
  FIELD(  4, REAL, Start,          NONE)                                \
  FIELD(  8, REAL, Target,         NONE)                                \
  FIELD( 12, BOOL, Reset,          NONE)                                \
  PAD(   13, 3)                                                         \
  FIELD( 16, REAL, Step,           NONE)                                \
  FIELD( 20, TIME, Period,         NONE)                                \
  FIELD( 28, BOOL, ENO,            NONE)                                \
  PAD(   29, 3)                                                         \
  FIELD( 32, REAL, Out,            NONE)                                \
  FIELD( 36, BOOL, Reached,        NONE)                                \
  PAD(   37, 3)                                                         \
  FIELD( 40, REAL, PeriodSec,      TIME_TO_REAL)                        \
  FIELD( 44, REAL, JumpSel,        SEL_REAL)                            \
  FIELD( 48, REAL, UpLimited,      LIMIT_REAL)                          \
  FIELD( 52, BOOL, CopyENO,        SUB_TIME)                            \
  PAD(   53, 3)                                                         \
  FIELD( 56, TIME, EtCopy,         NONE)                                \
  FIELD( 64, REAL, UpSel,          SEL_REAL)                            \
  FIELD( 68, REAL, DownSel,        SEL_REAL)                            \
  FIELD( 72, BOOL, PeriodZero,     EQ_REAL)                             \
  PAD(   73, 3)                                                         \
  FIELD( 76, REAL, NewValue,       SEL_REAL)                            \
  FIELD( 80, REAL, Increment,      MUL_REAL)                            \
  FIELD( 84, BOOL, UpActive,       AND_BOOL)                            \
  PAD(   85, 3)                                                         \
  FIELD( 88, REAL, Rate,           DIV_REAL)                            \
  FIELD( 92, BOOL, DeltaENO,       SUB_TIME)                            \
  PAD(   93, 3)                                                         \
  FIELD( 96, TIME, DeltaET,        NONE)                                \
  TIMER(104, TON,  Clock)                                               \
  FIELD(140, BOOL, StartGtTarget,  GT_REAL)                             \
  PAD(  141, 3)                                                         \
  FIELD(144, REAL, DeltaSec,       TIME_TO_REAL)                        \
  FIELD(148, BOOL, AtTarget,       EQ_REAL)                             \
  FIELD(149, BOOL, JumpActive,     AND_BOOL)                            \
  FIELD(150, BOOL, DownActive,     AND_BOOL)                            \
  PAD(  151, 1)                                                         \
  FIELD(152, REAL, DownCandidate,  SUB_REAL)                            \
  FIELD(156, REAL, AbsStep,        ABS_REAL)                            \
  FIELD(160, BOOL, StartLtTarget,  LT_REAL)                             \
  PAD(  161, 3)                                                         \
  FIELD(164, TIME, LastET,         NONE)                                \
  FIELD(172, REAL, DownLimited,    LIMIT_REAL)                          \
  FIELD(176, REAL, UpCandidate,    ADD_REAL)

// Lag_PT1 (type 4): first-order lag with gain and reset; every gated step owns an ENO byte with
// its result 4 bytes behind it.
#define KX_LAYOUT_LAG_PT1(VAR, FIELD, BLOCK, TIMER, EDGE, PAD, SPARE) \
  FIELD(  0, REAL, In,             NONE)                              \
  FIELD(  4, REAL, Gain,           NONE)                              \
  FIELD(  8, TIME, T1,             NONE)                              \
  FIELD( 16, BOOL, Reset,          NONE)                              \
  FIELD( 17, BOOL, ENO,            NONE)                              \
  PAD(   18, 2)                                                       \
  FIELD( 20, REAL, Out,            NONE)                              \
  FIELD( 24, BOOL, QuotientENO,    DIV_REAL)                          \
  PAD(   25, 3)                                                       \
  FIELD( 28, REAL, Quotient,       NONE)                              \
  FIELD( 32, BOOL, InCopyENO,      MOVE_REAL)                         \
  PAD(   33, 3)                                                       \
  FIELD( 36, REAL, InCopy,         NONE)                              \
  FIELD( 40, BOOL, DeltaSecENO,    TIME_TO_REAL)                      \
  PAD(   41, 3)                                                       \
  FIELD( 44, REAL, DeltaSec,       NONE)                              \
  FIELD( 48, BOOL, T1SecENO,       TIME_TO_REAL)                      \
  PAD(   49, 3)                                                       \
  FIELD( 52, REAL, T1Sec,          NONE)                              \
  FIELD( 56, BOOL, YCopyENO,       MOVE_REAL)                         \
  PAD(   57, 3)                                                       \
  FIELD( 60, REAL, YCopy,          NONE)                              \
  FIELD( 64, TIME, LastET,         NONE)                              \
  FIELD( 72, BOOL, YSelENO,        SEL_REAL)                          \
  PAD(   73, 3)                                                       \
  FIELD( 76, REAL, YSel,           NONE)                              \
  FIELD( 80, BOOL, CopyENO,        SUB_TIME)                          \
  PAD(   81, 3)                                                       \
  FIELD( 84, TIME, EtCopy,         NONE)                              \
  TIMER( 92, TON,  Clock)                                             \
  FIELD(128, BOOL, GainedENO,      MUL_REAL)                          \
  PAD(  129, 3)                                                       \
  FIELD(132, REAL, Gained,         NONE)                              \
  FIELD(136, BOOL, WeightedENO,    MUL_REAL)                          \
  PAD(  137, 3)                                                       \
  FIELD(140, REAL, Weighted,       NONE)                              \
  FIELD(144, BOOL, DeltaENO,       SUB_TIME)                          \
  PAD(  145, 3)                                                       \
  FIELD(148, TIME, DeltaET,        NONE)                              \
  FIELD(156, REAL, PrevY,          NONE)                              \
  FIELD(160, BOOL, NumeratorENO,   ADD_REAL)                          \
  PAD(  161, 3)                                                       \
  FIELD(164, REAL, Numerator,      NONE)                              \
  FIELD(168, BOOL, RatioENO,       DIV_REAL)                          \
  PAD(  169, 3)                                                       \
  FIELD(172, REAL, Ratio,          NONE)                              \
  FIELD(176, TIME, Delta,          NONE)                              \
  FIELD(184, REAL, Y,              NONE)                              \
  FIELD(188, BOOL, DenominatorENO, ADD_REAL)                          \
  PAD(  189, 3)                                                       \
  FIELD(192, REAL, Denominator,    NONE)                              \
  FIELD(196, REAL, OutSel,         SEL_REAL)

// Blink_Pulse (type 29): free-running pulse generator, OnTime/OffTime in milliseconds.
#define KX_LAYOUT_BLINK_PULSE(VAR, FIELD, BLOCK, TIMER, EDGE, PAD, SPARE) \
  FIELD(  0, UINT, OnTime,         NONE)                                  \
  FIELD(  2, UINT, OffTime,        NONE)                                  \
  FIELD(  4, BOOL, ENO,            NONE)                                  \
  FIELD(  5, BOOL, Q,              NONE)                                  \
  FIELD(  6, BOOL, Toggle,         NONE)                                  \
  PAD(    7, 1)                                                           \
  TIMER(  8, TON,  OffTimer)                                              \
  FIELD( 44, TIME, OffTimeConv,    UINT_TO_TIME)                          \
  FIELD( 52, TIME, OnTimeConv,     UINT_TO_TIME)                          \
  FIELD( 60, TIME, OffTimePT,      DIV_TIME_BY_INT)                       \
  TIMER( 68, TOF,  OnTimer)                                               \
  FIELD(104, TIME, OnTimePT,       DIV_TIME_BY_INT)                       \
  FIELD(112, BOOL, NotQ,           NOT)                                   \
  FIELD(113, BOOL, ToggleXor,      XOR)                                   \
  EDGE( 114,       QEdge)

// Ext_Block (type 28): a block whose body is empty in this module; the program only copies its
// inputs in and its outputs out.
#define KX_LAYOUT_EXT_BLOCK(VAR, FIELD, BLOCK, TIMER, EDGE, PAD, SPARE) \
  FIELD(  0, INT,  In1,            NONE)                                \
  FIELD(  2, INT,  In2,            NONE)                                \
  FIELD(  4, INT,  In3,            NONE)                                \
  FIELD(  6, INT,  In4,            NONE)                                \
  FIELD(  8, INT,  In5,            NONE)                                \
  FIELD( 10, INT,  In6,            NONE)                                \
  FIELD( 12, INT,  In7,            NONE)                                \
  FIELD( 14, BOOL, In8,            NONE)                                \
  FIELD( 15, BOOL, In9,            NONE)                                \
  FIELD( 16, BOOL, In10,           NONE)                                \
  PAD(   17, 1)                                                         \
  FIELD( 18, INT,  In11,           NONE)                                \
  FIELD( 20, BOOL, In12,           NONE)                                \
  PAD(   21, 3)                                                         \
  FIELD( 24, INT,  In13,           NONE)                                \
  PAD(   26, 2)                                                         \
  FIELD( 28, BOOL, ENO,            NONE)                                \
  PAD(   29, 1)                                                         \
  FIELD( 30, INT,  Out1,           NONE)                                \
  PAD(   32, 2)                                                         \
  FIELD( 34, BOOL, Out2,           NONE)                                \
  PAD(   35, 1)                                                         \
  FIELD( 36, INT,  Out3,           NONE)                                \
  FIELD( 38, BOOL, Out4,           NONE)                                \
  PAD(   39, 1)                                                         \
  FIELD( 40, INT,  Out5,           NONE)                                \
  PAD(   42, 14)

// The whole data area (896 bytes): the program's variables at 0..55, then the block instances.
#define KX_LAYOUT_DATA_AREA(VAR, FIELD, BLOCK, TIMER, EDGE, PAD, SPARE) \
  VAR(    0, REAL, LagIn,           INPUT)                              \
  VAR(    4, BOOL, LagResetCmd,     INPUT)                              \
  PAD(    5, 3)                                                         \
  VAR(    8, REAL, LagOut,          OUTPUT)                             \
  VAR(   12, BOOL, IntRampEnable,   INPUT)                              \
  VAR(   13, BOOL, IntRampReset,    INPUT)                              \
  VAR(   14, BOOL, IntRampReached,  OUTPUT)                             \
  PAD(   15, 1)                                                         \
  VAR(   16, INT,  IntRampOut,      OUTPUT)                             \
  PAD(   18, 2)                                                         \
  VAR(   20, REAL, RealRampOut,     OUTPUT)                             \
  VAR(   24, BOOL, RealRampEnable,  INPUT)                              \
  VAR(   25, BOOL, RealRampReset,   INPUT)                              \
  VAR(   26, BOOL, RealRampReached, OUTPUT)                             \
  PAD(   27, 1)                                                         \
  VAR(   28, INT,  ExtIn1,          INPUT)                              \
  VAR(   30, INT,  ExtIn6,          INPUT)                              \
  VAR(   32, BOOL, ExtIn12,         INPUT)                              \
  VAR(   33, BOOL, ExtOut2,         OUTPUT)                             \
  VAR(   34, INT,  ExtIn4,          INPUT)                              \
  VAR(   36, INT,  ExtOut3,         OUTPUT)                             \
  VAR(   38, INT,  ExtIn11,         INPUT)                              \
  VAR(   40, INT,  ExtIn5,          INPUT)                              \
  VAR(   42, INT,  ExtOut1,         OUTPUT)                             \
  VAR(   44, INT,  ExtOut5,         OUTPUT)                             \
  VAR(   46, BOOL, ExtOut4,         OUTPUT)                             \
  PAD(   47, 3)                                                         \
  VAR(   50, INT,  ExtIn2,          INPUT)                              \
  VAR(   52, BOOL, ExtIn8,          INPUT)                              \
  VAR(   53, BOOL, BlinkQ,          OUTPUT)                             \
  PAD(   54, 2)                                                         \
  BLOCK( 56, LagPt1Instance,        LagFilter)                          \
  EDGE( 256,                        LagResetEdge)                       \
  PAD(  259, 1)                                                         \
  BLOCK(260, RampIntInstance,       IntRamp)                            \
  BLOCK(448, RampRealInstance,      RealRamp)                           \
  SPARE(628, 92)                                                        \
  BLOCK(720, ExtBlockInstance,      Ext1)                               \
  BLOCK(776, BlinkPulseInstance,    Blinker)                            \
  SPARE(893, 3)

// Runs LIST with the seven row macros PREFIX##VAR ... PREFIX##SPARE.
#define KX_LAYOUT_ROWS(LIST, PREFIX) \
  LIST(PREFIX##VAR, PREFIX##FIELD, PREFIX##BLOCK, PREFIX##TIMER, PREFIX##EDGE, PREFIX##PAD, \
       PREFIX##SPARE)
