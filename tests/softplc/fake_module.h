// A module made of this test's own functions, attached through the export table as a loaded one
// is, and a runtime whose clock moves only when the engine waits or a cycle takes time: the core
// (engine, exchange) without a module file and without sleeping.
//
// FakeModule<N>'s one entry point has a data area of 8 bytes, named by its symbols:
//   0  INT  Count  the program adds N in every cycle
//   2  INT  In     only read by the program
//   4  INT  Out    the program writes In + Count (FakeModule<2>'s symbols lack it)
// An online change from FakeModule<1> to FakeModule<2> takes the whole data area over.
#pragma once

#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "abi/exports.h"
#include "softplc/engine/engine.h"
#include "softplc/plc/online_change.h"

namespace softplc_test {

using namespace softplc;

// The engine's runtime on a clock of the test's: waits jump to their end, a cycle takes `cost`.
class FakeRuntime final : public EngineRuntime {
 public:
  int64_t now = 1'000'000;        // steady nanoseconds
  int64_t cost = 0;               // what the next cycles take
  std::vector<int64_t> waits;     // the times waited for, on the clock (real time) or steady (paced)
  uint32_t errors = 0;            // what the next cycles record

  Status select_clock(ClockKind) override {
    origin_ = now;
    return ok_status();
  }
  CycleCalls cycle_calls() const override { return {&advanced, &begun, &error_count, &first_error}; }
  std::string refusal() const override { return {}; }
  int64_t latch_clock() override { return now - origin_; }
  int64_t clock_now_ns() const override { return now - origin_; }
  int64_t steady_now_ns() const override { return now; }
  void wait_for_clock(int64_t ns, const std::atomic<bool>&) override {
    waits.push_back(ns);
    now = std::max(now, origin_ + ns);
  }
  void wait_for_steady(int64_t steadyNs, const std::atomic<bool>&) override {
    waits.push_back(steadyNs - origin_);
    now = std::max(now, steadyNs);
  }
 private:
  static int32_t advanced(int64_t) { return 0; }
  static void begun() {}
  static uint32_t error_count();
  static int32_t first_error() { return error_count() != 0 ? 140 : 0; }

  int64_t origin_ = 0;
};

inline FakeRuntime* gFakeRuntime = nullptr;   // the runtime of the engine under test, for the cycle's cost

inline uint32_t FakeRuntime::error_count() { return gFakeRuntime != nullptr ? gFakeRuntime->errors : 0; }

template <int N>
struct FakeModule {
  static inline uint8_t area[8] = {};
  static inline CodeDescriptor code = {nullptr, nullptr, nullptr, 0x100, 0, 0, nullptr, 0};
  static inline const char name[] = "Fake";
  static inline EntryPointDescriptor descriptor = [] {
    EntryPointDescriptor d{};
    d.size = sizeof(EntryPointDescriptor);
    d.name = name;
    d.dataArea = area;
    d.dataSize = sizeof area;
    d.codeDescriptor = &code;
    d.layoutSignature = 0x100 + N;
    return d;
  }();
  static inline CfwVersion version = {3, 3, "fake"};

  static int16_t at(uint32_t offset) {
    int16_t value;
    std::memcpy(&value, area + offset, sizeof value);
    return value;
  }
  static void put(uint32_t offset, int16_t value) { std::memcpy(area + offset, &value, sizeof value); }

  static int32_t KX_STDCALL simple_main(uint32_t mode, uint32_t) {
    if (mode == KX_MODE_INIT) {
      std::memset(area, 0, sizeof area);
    } else {
      put(0, static_cast<int16_t>(at(0) + N));
      put(4, static_cast<int16_t>(at(2) + at(0)));
      if (gFakeRuntime != nullptr) gFakeRuntime->now += gFakeRuntime->cost;
    }
    return 0;
  }
  static int32_t KX_STDCALL call_init(EntryPointDescriptor*, uint32_t) { return 0; }
  static uint32_t KX_STDCALL one() { return 1; }
  static uint32_t KX_STDCALL none() { return 0; }
  static EntryPointDescriptor* KX_STDCALL query_ep(uint32_t index) { return index == 0 ? &descriptor : nullptr; }
  static void* KX_STDCALL query_task(uint32_t) { return nullptr; }
  static const CfwVersion* KX_STDCALL query_version() { return &version; }
  static uint32_t KX_STDCALL ticks() { return 1'000'000; }
  static const char* KX_STDCALL code_version() { return "fake"; }
  static uint32_t KX_STDCALL info(uint32_t) { return 0; }
  static uint8_t* KX_STDCALL data_pointer(const DataRef* ref) { return area + ref->offset; }
  static uint32_t KX_STDCALL address_offset(uint32_t, const EntryPointDescriptor*) { return 0; }
  static int32_t KX_STDCALL get_data(const DataRef* ref, void* to, uint32_t size) {
    if (ref->descriptor != &descriptor || ref->offset + size > sizeof area) return KX_STATUS_RANGE_PAST_END;
    std::memcpy(to, area + ref->offset, size);
    return KX_STATUS_OK;
  }
  static int32_t KX_STDCALL set_data(const DataRef* ref, const void* from, uint32_t size) {
    if (ref->descriptor != &descriptor || ref->offset + size > sizeof area) return KX_STATUS_RANGE_PAST_END;
    std::memcpy(area + ref->offset, from, size);
    return KX_STATUS_OK;
  }
  static uint32_t KX_STDCALL retained_size(EntryPointDescriptor*) { return 0; }
  static uint32_t KX_STDCALL retained(EntryPointDescriptor*, uint8_t*) { return 0; }
  static uint32_t KX_STDCALL set_retained(EntryPointDescriptor*, const uint8_t*) { return 0; }
  // Online change: the predecessor's values are taken over whole, references keep their offsets.
  static int32_t KX_STDCALL re_init(EntryPointDescriptor* next, EntryPointDescriptor* old, uint32_t) {
    std::memcpy(next->dataArea, old->dataArea, sizeof area);
    return 0;
  }
  static int32_t KX_STDCALL reload_possible(EntryPointDescriptor*, EntryPointDescriptor*, uint32_t) { return 0; }
  static int32_t KX_STDCALL load_possible(uint32_t, uint32_t) { return 0; }
  static int32_t KX_STDCALL map_address(DataRef* ref, EntryPointDescriptor* current) {
    ref->descriptor = current;
    return 0;
  }

  static ModuleExports exports() {
    return {&simple_main,   &call_init,     &one,     &query_ep,      &none,          &query_task, &query_version,
            &ticks,         &code_version,  &none,    &none,          &info,          &data_pointer,
            &address_offset, &get_data,     &set_data, &retained_size, &retained,      &set_retained};
  }
  static OnlineChangeExports change_exports() { return {&re_init, &reload_possible, &load_possible, &map_address}; }

  static std::shared_ptr<const Symbols> symbols() {
    auto symbols = std::make_shared<Symbols>();
    symbols->entryPoint = name;
    symbols->dataSize = sizeof area;
    const auto variable = [](const char* name, uint32_t offset, Direction direction) {
      Variable v;
      v.name = name;
      v.offset = offset;
      v.type = ValueType::Int;
      v.program = true;
      v.direction = direction;
      return v;
    };
    symbols->variables = {variable("Count", 0, Direction::Output), variable("In", 2, Direction::Input)};
    if (N != 2) symbols->variables.push_back(variable("Out", 4, Direction::Output));
    return symbols;
  }

  static Module module() { return Module::in_process("fake" + std::to_string(N), exports(), change_exports()); }
  // Attached to the runtime, as load_plc attaches a module file.
  static std::unique_ptr<Plc> attach() { return std::move(Plc::attach(module(), BoundSymbols{symbols(), ""})).value(); }
  // Prepared for an online change, as the change queue prepares a module file.
  static Result<PreparedModule> prepare() {
    auto plc = Plc::make(module(), BoundSymbols{symbols(), ""});
    if (!plc) return plc.error();
    auto info = query_module_info((*plc)->module());
    if (!info) return info.error();
    return PreparedModule{std::move(plc).value(), change_exports(), std::move(info).value()};
  }
};

// Services for an engine on `runtime` whose online changes bring FakeModule<2>, whatever the path.
inline EngineServices fake_services(std::unique_ptr<FakeRuntime> runtime) {
  gFakeRuntime = runtime.get();
  EngineServices services;
  services.runtime = std::move(runtime);
  services.prepare = [](const Plc&, const std::filesystem::path&) { return FakeModule<2>::prepare(); };
  return services;
}

}  // namespace softplc_test
