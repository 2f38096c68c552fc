// The engine's runtime as the host has it: our runtime libraries' clock and error information, and
// the pacer's waits.
#include "kxrt.h"
#include "softplc/engine/engine_runtime.h"
#include "softplc/engine/pacer.h"

namespace softplc {

namespace {

std::string runtime_failure(const char* what) {
  const char* message = kxrt_last_message();
  return std::string(what) + (message != nullptr && *message != '\0' ? std::string(": ") + message : "");
}

class LibraryRuntime final : public EngineRuntime {
 public:
  explicit LibraryRuntime(int64_t spinNs) : pacer_(spinNs) {}

  Status select_clock(ClockKind kind) override {
    const int32_t source = kind == ClockKind::RealTime ? KXRT_CLOCK_MONOTONIC : KXRT_CLOCK_SIMULATED;
    if (kxrt_clock_select(source) != 0) return runtime_error(runtime_failure("the runtime refused the clock"));
    return ok_status();
  }
  Status advance_clock(int64_t ns) override {
    if (kxrt_clock_advance_ns(ns) != 0) return runtime_error(runtime_failure("the runtime refused to advance the clock"));
    return ok_status();
  }
  int64_t latch_clock() override {
    kxrt_clock_latch();
    return kxrt_clock_latched_ns();
  }
  int64_t clock_now_ns() const override { return kxrt_clock_now_ns(); }
  int64_t steady_now_ns() const override { return steady_clock_ns(); }
  void wait_for_clock(int64_t ns, const std::atomic<bool>& stop) override { pacer_.wait_until(ns, stop); }
  void wait_for_steady(int64_t steadyNs, const std::atomic<bool>& stop) override {
    pacer_.wait_until_steady(0, steadyNs, stop);
  }
  void begin_cycle() override { kxdbg_begin_cycle(); }
  uint32_t cycle_error_count() const override { return kxdbg_cycle_error_count(); }
  int32_t cycle_first_error() const override { return kxdbg_cycle_first_error(); }

 private:
  Pacer pacer_;
};

}  // namespace

std::unique_ptr<EngineRuntime> library_runtime(int64_t spinNs) { return std::make_unique<LibraryRuntime>(spinNs); }

}  // namespace softplc
