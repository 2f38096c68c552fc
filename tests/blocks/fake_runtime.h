// A scripted stand-in for the two runtime libraries, linked into the unit tests in place of the
// real ones. It records every hook event and every error-information call in one log, models
// TON and TOF on a clock that the test moves, does TIME arithmetic in plain int64 and can be told
// to make one TIME subtraction record an error.
#pragma once

#include <cstdint>
#include <vector>

#include "events.h"

#include "abi/kx_types.h"

namespace fake {

using blk::Call;
using blk::Event;

struct State {
  const uint8_t* base = nullptr;   // hook addresses are logged relative to this
  std::vector<Event> log;
  int32_t errorCode = 0;
  int32_t errorDetail = 0;
  KX_TIME now = 0;                 // the timers' clock, in ticks
  int subCalls = 0;
  int failSubCall = -1;            // this kxtQwSubQwQw call (0-based) records error 150
  int timeCalls = 0;               // every TIME helper call
};

extern State state;

// Forgets everything; addresses are logged relative to base from now on.
void reset(const void* base);

// The log reduced to the hook events.
std::vector<Event> hooks();
// The log reduced to the error-information calls.
std::vector<Event> errorCalls();

}  // namespace fake
