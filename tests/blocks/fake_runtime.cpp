#include "fake_runtime.h"

#include <cstring>

#include "abi/kx_debug.h"
#include "abi/kx_framework.h"

namespace fake {

State state;

void reset(const void* base) {
  state = State{};
  state.base = static_cast<const uint8_t*>(base);
}

static int64_t rel(const void* p) {
  return static_cast<int64_t>(reinterpret_cast<intptr_t>(p)) -
         static_cast<int64_t>(reinterpret_cast<intptr_t>(state.base));
}

std::vector<Event> hooks() {
  std::vector<Event> out;
  for (const Event& e : state.log)
    if (e.call == Call::Enter || e.call == Call::Exit) out.push_back(e);
  return out;
}

std::vector<Event> errorCalls() {
  std::vector<Event> out;
  for (const Event& e : state.log)
    if (e.call == Call::ClrError || e.call == Call::SetError || e.call == Call::GetError)
      out.push_back(e);
  return out;
}

// Timer state bytes: start time at 0..7, running flag at 8.
static KX_TIME timerStart(const TimerRecord* t) {
  KX_TIME v;
  std::memcpy(&v, t->state, sizeof v);
  return v;
}
static void setTimerStart(TimerRecord* t, KX_TIME v) { std::memcpy(t->state, &v, sizeof v); }

static KX_TIME elapsed(const TimerRecord* t) {
  const KX_TIME et = state.now - timerStart(t);
  const KX_TIME pt = t->PT;
  return et < pt ? et : pt;
}

}  // namespace fake

using fake::Call;
using fake::state;

extern "C" {

// ---- debug library -----------------------------------------------------------------------------

int32_t KX_STDCALL KXoplck_EnterBreakpoint(int32_t typeId, void* address, int32_t kind,
                                           EntryPointDescriptor*) {
  state.log.push_back({Call::Enter, typeId, fake::rel(address), kind});
  return 0;
}
int32_t KX_STDCALL KXoplck_ExitBreakpoint(EntryPointDescriptor*) {
  state.log.push_back({Call::Exit});
  return 0;
}
void KX_STDCALL KXoplck_clrErrorInfo(void) {
  state.log.push_back({Call::ClrError});
  state.errorCode = state.errorDetail = 0;
}
void KX_STDCALL KXoplck_setErrorInfo(int32_t code, int32_t detail) {
  state.log.push_back({Call::SetError, code, detail});
  state.errorCode = code;
  state.errorDetail = detail;
}
int32_t KX_STDCALL KXoplck_getErrorInfo(void) {
  state.log.push_back({Call::GetError});
  return state.errorCode;
}

// ---- framework library: timers ------------------------------------------------------------------

// TON: ET is 0 while IN is FALSE and in the call in which IN turns TRUE, then the time since that
// call, stopping at PT; Q once ET has reached PT.
void KX_CDECL KX_fv_TON(TimerRecord* t, EntryPointDescriptor*) {
  state.log.push_back({Call::Ton, 0, fake::rel(t)});
  if (t->IN == 0) {
    t->state[8] = 0;
    t->ET = 0;
    t->Q = 0;
    return;
  }
  if (t->state[8] == 0) {
    t->state[8] = 1;
    fake::setTimerStart(t, state.now);
  }
  t->ET = fake::elapsed(t);
  t->Q = t->ET >= t->PT ? 1 : 0;
}

// TOF: Q while IN is TRUE; when IN falls Q stays TRUE until ET, counted from that call, reaches PT.
void KX_CDECL KX_fv_TOF(TimerRecord* t, EntryPointDescriptor*) {
  state.log.push_back({Call::Tof, 0, fake::rel(t)});
  if (t->IN != 0) {
    t->state[8] = 0;
    t->ET = 0;
    t->Q = 1;
    return;
  }
  if (t->state[8] == 0 && t->Q != 0) {
    t->state[8] = 1;
    fake::setTimerStart(t, state.now);
  }
  if (t->state[8] != 0) {
    t->ET = fake::elapsed(t);
    if (t->ET >= t->PT) {
      t->Q = 0;
      t->state[8] = 0;
    }
  }
}

// ---- framework library: TIME helpers -------------------------------------------------------------

KX_TIME KX_CDECL kxtQwCnvUlL2SQw(uint32_t low, int32_t high) {
  ++state.timeCalls;
  state.log.push_back({Call::Literal, 0, low, high});
  return static_cast<KX_TIME>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low);
}
KX_TIME KX_CDECL kxtQwCnvUl2SQw(uint32_t value) {
  ++state.timeCalls;
  return value;
}
KX_TIME KX_CDECL kxtQwMulQwUl(KX_TIME a, uint32_t b) {
  ++state.timeCalls;
  return static_cast<KX_TIME>(static_cast<uint64_t>(a) * b);
}
KX_TIME KX_CDECL kxtQwDivQwL(KX_TIME a, int32_t b) {
  ++state.timeCalls;
  return b == 0 ? 0 : a / b;
}
KX_TIME KX_CDECL kxtQwSubQwQw(KX_TIME a, KX_TIME b) {
  ++state.timeCalls;
  state.log.push_back({Call::SubTime});
  if (state.subCalls++ == state.failSubCall) {
    state.errorCode = 150;
    state.errorDetail = 0;
  }
  return static_cast<KX_TIME>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
const double* KX_CDECL kxtQwCnvSQw2DPtr(KX_TIME value) {
  ++state.timeCalls;
  static double slot;
  slot = static_cast<double>(value);
  return &slot;
}

// ---- framework library: the rest, which the block tests never reach -------------------------------

int32_t KX_CDECL KX_fr_init2(const uint8_t*, uint8_t*, uint32_t, uint64_t) { return 0; }
int32_t KX_CDECL KX_fr_move(const uint8_t*, const uint8_t*, uint8_t*) { return 0; }
int32_t KX_CDECL KX_fr_mapAddress(const uint8_t*, uint32_t, uint32_t*) { return 1; }
uint32_t KX_CDECL KX_fr_QueryRetainedDataSize(uint32_t) { return 0; }
uint32_t KX_CDECL KX_fr_GetRetainedData(uint32_t, const uint8_t*, uint8_t*) { return 0; }
uint32_t KX_CDECL KX_fr_SetRetainedData(uint32_t, uint8_t*, const uint8_t*) { return 0; }
int32_t KX_CDECL KX_fs_doesTargetVersionMatch(uint32_t, uint32_t, uint32_t, uint32_t) { return 1; }
void* KX_CDECL kx_memcpy(void* destination, const void* source, uint32_t size) {
  if (size != 0) std::memcpy(destination, source, size);
  return destination;
}
void KX_CDECL rtc_diag_timefunc(void) {}
}
