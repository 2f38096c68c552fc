// The engine's runtime as the host has it: our runtime libraries' clock and error information, and
// the pacer's waits.
#include "kxrt.h"
#include "softplc/engine/engine_runtime.h"
#include "softplc/engine/pacer.h"

namespace softplc {

namespace {

class LibraryRuntime final : public EngineRuntime {
 public:
  explicit LibraryRuntime(int64_t spinNs) : pacer_(spinNs) {}

  Status select_clock(ClockKind kind) override {
    const int32_t source = kind == ClockKind::RealTime ? KXRT_CLOCK_MONOTONIC : KXRT_CLOCK_SIMULATED;
    if (kxrt_clock_select(source) != 0) {
      const std::string why = refusal();
      return runtime_error("the runtime refused the clock" + (why.empty() ? why : ": " + why));
    }
    return ok_status();
  }
  CycleCalls cycle_calls() const override {
    return {&kxrt_clock_advance_ns, &kxdbg_begin_cycle, &kxdbg_cycle_error_count, &kxdbg_cycle_first_error};
  }
  std::string refusal() const override {
    const char* message = kxrt_last_message();
    return message != nullptr ? message : "";
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

 private:
  Pacer pacer_;
};

}  // namespace

std::unique_ptr<EngineRuntime> library_runtime(int64_t spinNs) { return std::make_unique<LibraryRuntime>(spinNs); }

}  // namespace softplc
