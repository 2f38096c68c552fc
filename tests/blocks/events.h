// A runtime call as the block tests record it, and the expected hook sequences of the four block
// bodies, written out step by step: type identifier and hook field offset inside the instance.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <vector>

namespace blk {

enum class Call : uint8_t {
  Enter,     // EnterBreakpoint(typeId, address - base, kind)
  Exit,      // ExitBreakpoint
  ClrError,  // clrCEPErrorInfo
  SetError,  // setCEPErrorInfo(code, detail): typeId = code, offset = detail
  GetError,  // getCEPErrorInfo
  Literal,   // kxtQwCnvUlL2SQw(low, high): offset = low, kind = high
  SubTime,   // kxtQwSubQwQw
  Ton,       // KX_fv_TON(record): offset = record - base
  Tof,       // KX_fv_TOF(record): offset = record - base
};

struct Event {
  Call call;
  int32_t typeId = 0;
  int64_t offset = 0;
  int32_t kind = 0;
  bool operator==(const Event&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Event& e) {
  static const char* const names[] = {"Enter", "Exit", "Clr", "Set", "Get",
                                      "Literal", "Sub", "Ton", "Tof"};
  return out << names[static_cast<int>(e.call)] << "(" << e.typeId << ", +" << e.offset << ", "
             << e.kind << ")";
}

inline Event enter(int32_t typeId, int64_t offset, int32_t kind) {
  return {Call::Enter, typeId, offset, kind};
}
inline Event exitHook() { return {Call::Exit}; }

// One step of a body: its type identifier and its hook field.
struct Step {
  int32_t typeId;
  int64_t offset;
};

// The events of a generated body at instance offset `at` whose steps all run: its kind-6 event,
// each step's kind-1 event, kind-6 event and ExitHook, its own ExitHook.
inline std::vector<Event> body(int32_t typeId, std::initializer_list<Step> steps, int64_t at = 0) {
  std::vector<Event> out{enter(typeId, at, 6)};
  for (const Step& s : steps) {
    out.push_back(enter(s.typeId, at + s.offset, 1));
    out.push_back(enter(s.typeId, at + s.offset, 6));
    out.push_back(exitHook());
  }
  out.push_back(exitHook());
  return out;
}

// The same events with the gates of the steps at these offsets closed: their kind-1 event only.
inline std::vector<Event> closed(std::vector<Event> events,
                                 std::initializer_list<int64_t> offsets) {
  for (int64_t offset : offsets) {
    for (size_t i = 0; i + 2 < events.size(); ++i) {
      if (events[i].call == Call::Enter && events[i].kind == 1 && events[i].offset == offset) {
        events.erase(events.begin() + i + 1, events.begin() + i + 3);
        break;
      }
    }
  }
  return events;
}

// Lag_PT1 (4), steps 2 to 16; first: the first call from the zero state, in which Delta is 0 so
// step 8 divides by zero and closes step 11, and the zero Denominator fails step 12 and closes
// steps 13 to 15.
inline std::vector<Event> lagBody(bool first, int64_t at = 0) {
  const std::vector<Event> all = body(4,
                                      {{10, 92},     // 2 TON Clock
                                       {6, 32},      // 3 MOVE InCopy
                                       {7, 48},      // 4 TIME_TO_REAL T1Sec
                                       {9, 144},     // 5 SUB DeltaET
                                       {9, 80},      // 6 SUB EtCopy
                                       {7, 40},      // 7 TIME_TO_REAL DeltaSec
                                       {5, 168},     // 8 DIV Ratio
                                       {11, 136},    // 9 MUL Weighted
                                       {12, 160},    // 10 ADD Numerator
                                       {12, 188},    // 11 ADD Denominator (EN: step 8)
                                       {5, 24},      // 12 DIV Quotient
                                       {11, 128},    // 13 MUL Gained (EN: step 12)
                                       {6, 56},      // 14 MOVE YCopy
                                       {8, 72},      // 15 SEL YSel
                                       {8, 196}},    // 16 SEL OutSel, plain
                                      at);
  return first ? closed(all, {at + 188, at + 128, at + 56, at + 72}) : all;
}

// Ramp_Int (14), steps 2 to 28.
inline std::vector<Event> rampIntBody(int64_t at = 0) {
  return body(14,
              {{20, 152}, {23, 178}, {18, 88},  {19, 108}, {18, 169}, {10, 112}, {22, 176},
               {20, 156}, {7, 40},   {5, 92},   {17, 72},  {18, 168}, {20, 164}, {17, 160},
               {9, 96},   {9, 52},   {7, 148},  {11, 80},  {12, 184}, {16, 48},  {8, 64},
               {21, 172}, {16, 180}, {8, 68},   {8, 44},   {8, 76},   {15, 36}},
              at);
}

// Ramp_Real (24), steps 2 to 24.
inline std::vector<Event> rampRealBody(int64_t at = 0) {
  return body(24,
              {{27, 160}, {18, 84},  {25, 140}, {18, 150}, {10, 104}, {26, 156}, {7, 40},
               {5, 88},   {17, 72},  {18, 149}, {17, 148}, {9, 92},   {9, 52},   {7, 144},
               {11, 80},  {12, 176}, {16, 48},  {8, 64},   {21, 152}, {16, 172}, {8, 68},
               {8, 44},   {8, 76}},
              at);
}

// Blink_Pulse (29), steps 2 to 10.
inline std::vector<Event> blinkBody(int64_t at = 0) {
  return body(29,
              {{30, 44},    // 2 UINT_TO_TIME OffTimeConv
               {31, 60},    // 3 DIV OffTimePT
               {30, 52},    // 4 UINT_TO_TIME OnTimeConv
               {31, 104},   // 5 DIV OnTimePT
               {33, 112},   // 6 NOT NotQ
               {10, 8},     // 7 TON OffTimer
               {32, 68},    // 8 TOF OnTimer
               {13, 114},   // 9 R_TRIG QEdge
               {34, 113}},  // 10 XOR ToggleXor
              at);
}

}  // namespace blk
