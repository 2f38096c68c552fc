// The standard timers TON (on-delay) and TOF (off-delay) on the 36-byte timer record: the caller
// writes IN and PT before the call and reads Q and ET after it; the 12 state bytes are ours.
//
// Time is the runtime's timer time base (clock.cpp): ticks of the latched clock that never go
// back, so every timer of one cycle sees the same instant. ET counts ticks since the call that
// started the running phase.
//
// TON: while IN is FALSE, Q is FALSE and ET is 0. In the call where IN turns TRUE (also the first
//   call with IN TRUE after the record was zeroed) timing starts: ET is 0 in that call. Then ET is
//   the elapsed time, stopping at PT, and Q is TRUE once ET >= PT; so PT 0 gives Q in the rising
//   call.
// TOF: while IN is TRUE, Q is TRUE and ET is 0. In the call where IN falls the off-delay starts
//   (ET 0 in that call) and Q stays TRUE until ET reaches PT; then Q is FALSE and ET holds PT
//   until IN rises again. So PT 0 drops Q in the falling call. A record that has never seen IN
//   TRUE gives Q FALSE and ET 0.
//
// ET is an output: the elapsed time comes from the state bytes alone, and each call writes ET
// afresh, so a value written into ET between two calls (a debugger, an HMI) does not move the
// timer. A clock that goes back never makes ET negative or smaller than before: the time base
// does not go back, and the time the clock went back is not counted.
//
// Robustness: any IN byte other than 0 counts as TRUE; a negative PT counts as 0; PT may change
// from call to call (a running phase compares its ET with the new PT). A start later than the
// time base (state bytes overwritten) starts the phase anew at this call. All differences
// saturate. A null record does nothing; the descriptor is not used.
//
// State bytes (offset 24 of the record, little-endian):
//   0..7  i64 start: the time base at the call that started the running phase
//   8     flags: bit 0 IN of the previous call was TRUE (TON: timing; TOF: on)
//               bit 1 TOF off-delay running
//               bit 2 TOF off-delay expired (Q FALSE, ET held at PT)
//   9..11 0
#include <cstring>

#include "internal.h"

namespace {

constexpr uint8_t kOn = 1;
constexpr uint8_t kDelay = 2;
constexpr uint8_t kExpired = 4;

int64_t start_of(const TimerRecord& t) {
  int64_t start = 0;
  std::memcpy(&start, &t.state[0], sizeof start);
  return start;
}

void set_state(TimerRecord& t, int64_t start, uint8_t flags) {
  std::memcpy(&t.state[0], &start, sizeof start);
  t.state[8] = flags;
  t.state[9] = t.state[10] = t.state[11] = 0;
}

// A negative PT counts as 0.
int64_t preset(const TimerRecord& t) {
  const int64_t pt = t.PT;
  return pt < 0 ? 0 : pt;
}

// ET of the running phase at `now` (the time base, never negative), at most pt. A start that is
// not in 0..now (state bytes overwritten) starts the phase anew at `now`.
int64_t elapsed(TimerRecord& t, int64_t now, int64_t pt) {
  const int64_t start = start_of(t);
  if (static_cast<uint64_t>(start) > static_cast<uint64_t>(now)) {
    set_state(t, now, t.state[8]);
    return 0;
  }
  const int64_t e = now - start;
  return e < pt ? e : pt;
}

}  // namespace

extern "C" {

KXAPI_API void KX_CDECL KX_fv_TON(TimerRecord* timer, EntryPointDescriptor* /*descriptor*/) {
  if (timer == nullptr) return;
  TimerRecord& t = *timer;
  if (t.IN == 0) {
    set_state(t, 0, 0);
    t.ET = 0;
    t.Q = 0;
    return;
  }
  const int64_t pt = preset(t);
  const int64_t now = kxrt::timer_ticks();
  int64_t et = 0;
  if (t.state[8] & kOn) et = elapsed(t, now, pt);
  else set_state(t, now, kOn);   // the rising call
  t.ET = et;
  t.Q = et >= pt ? 1 : 0;
}

KXAPI_API void KX_CDECL KX_fv_TOF(TimerRecord* timer, EntryPointDescriptor* /*descriptor*/) {
  if (timer == nullptr) return;
  TimerRecord& t = *timer;
  const uint8_t flags = t.state[8];
  if (t.IN != 0) {
    set_state(t, 0, kOn);
    t.Q = 1;
    t.ET = 0;
    return;
  }
  const int64_t pt = preset(t);
  if ((flags & (kOn | kDelay)) == 0) {
    set_state(t, 0, flags & kExpired);
    t.Q = 0;
    t.ET = (flags & kExpired) ? pt : 0;
    return;
  }
  const int64_t now = kxrt::timer_ticks();
  int64_t et = 0;
  if (flags & kOn) set_state(t, now, kDelay);   // the falling call: the off-delay starts
  else et = elapsed(t, now, pt);
  if (et >= pt) {
    set_state(t, 0, kExpired);
    t.Q = 0;
    t.ET = pt;
  } else {
    t.Q = 1;
    t.ET = et;
  }
}

}  // extern "C"
