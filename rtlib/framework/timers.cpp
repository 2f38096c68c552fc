// The standard timers TON (on-delay) and TOF (off-delay) on the 36-byte timer record: the caller
// writes IN and PT before the call and reads Q and ET after it; the 12 state bytes are ours.
//
// Time is the clock's latched tick count (kxrt_clock_latch), so every timer of one cycle sees the
// same instant. ET counts ticks since the call that started the running phase.
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
// Robustness: any IN byte other than 0 counts as TRUE; a negative PT counts as 0; PT may change
// from call to call (a running phase compares its ET with the new PT). A clock that goes back
// never makes ET negative or smaller than the ET reported in the previous call: the phase's start
// is moved so that ET carries on from there, and the time the clock went back is not counted.
// All differences saturate. A null record does nothing; the descriptor is not used.
//
// State bytes (offset 24 of the record, little-endian):
//   0..7  i64 start: latched tick count at the call that started the running phase
//   8     flags: bit 0 IN of the previous call was TRUE (TON: timing; TOF: on)
//               bit 1 TOF off-delay running
//               bit 2 TOF off-delay expired (Q FALSE, ET held at PT)
//   9..11 0
#include <algorithm>
#include <cstring>

#include "internal.h"

namespace {

constexpr uint8_t kOn = 1;
constexpr uint8_t kDelay = 2;
constexpr uint8_t kExpired = 4;

struct TimerState {
  int64_t start = 0;
  uint8_t flags = 0;
};

TimerState load(const TimerRecord& t) {
  TimerState s;
  std::memcpy(&s.start, &t.state[0], sizeof s.start);
  s.flags = t.state[8];
  return s;
}

void store(TimerRecord& t, const TimerState& s) {
  std::memcpy(&t.state[0], &s.start, sizeof s.start);
  t.state[8] = s.flags;
  t.state[9] = t.state[10] = t.state[11] = 0;
}

// ET of a running phase at `now`, at most pt. Never below the ET reported last time (as far as
// that is a plausible value, 0..pt): if the clock went back, the start is moved instead.
int64_t elapsed(TimerState& s, int64_t now, int64_t previous_et, int64_t pt) {
  const int64_t floor = std::clamp<int64_t>(previous_et, 0, pt);
  int64_t e = kxrt::saturating_sub(now, s.start);
  if (e < floor) {
    s.start = kxrt::saturating_sub(now, floor);
    e = floor;
  }
  return std::min(e, pt);
}

}  // namespace

extern "C" {

KXAPI_API void KX_CDECL KX_fv_TON(TimerRecord* timer, EntryPointDescriptor* /*descriptor*/) {
  if (timer == nullptr) return;
  TimerRecord& t = *timer;
  const int64_t raw_pt = t.PT;   // a packed field: read it once into a local
  const int64_t pt = std::max<int64_t>(raw_pt, 0);
  TimerState s = load(t);
  int64_t et = 0;
  if (t.IN != 0) {
    const int64_t now = kxrt::latched_ticks();
    if (s.flags & kOn) {
      et = elapsed(s, now, int64_t{t.ET}, pt);
    } else {
      s = TimerState{now, kOn};
    }
  } else {
    s = TimerState{};
  }
  t.ET = et;
  t.Q = (t.IN != 0 && et >= pt) ? 1 : 0;
  store(t, s);
}

KXAPI_API void KX_CDECL KX_fv_TOF(TimerRecord* timer, EntryPointDescriptor* /*descriptor*/) {
  if (timer == nullptr) return;
  TimerRecord& t = *timer;
  const int64_t raw_pt = t.PT;   // a packed field: read it once into a local
  const int64_t pt = std::max<int64_t>(raw_pt, 0);
  TimerState s = load(t);
  if (t.IN != 0) {
    s = TimerState{0, kOn};
    t.Q = 1;
    t.ET = 0;
  } else if (s.flags & (kOn | kDelay)) {
    const int64_t now = kxrt::latched_ticks();
    int64_t et = 0;
    if (s.flags & kOn) {
      s = TimerState{now, kDelay};   // the falling call: the off-delay starts
    } else {
      et = elapsed(s, now, int64_t{t.ET}, pt);
    }
    if (et >= pt) {
      s = TimerState{0, kExpired};
      t.Q = 0;
      t.ET = pt;
    } else {
      t.Q = 1;
      t.ET = et;
    }
  } else {
    t.Q = 0;
    t.ET = (s.flags & kExpired) ? pt : 0;
  }
  store(t, s);
}

}  // extern "C"
