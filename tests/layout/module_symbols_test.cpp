// The symbol files against what the built modules do, through their exports on our runtime
// libraries: the descriptors they report, the addresses their debug events carry and the program
// variables their cycles write.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kxrt.h"
#include "loaded_module.h"
#include "symbol_file.h"

namespace {

using nlohmann::json;

TEST(ModuleSymbols, DescriptorsAreThoseOfTheSymbolFile) {
  for (const char* name : {"CCodePublic", "CCodePublic_next"}) {
    SCOPED_TRACE(name);
    const json file = symbol_file(name);
    LoadedModule module(std::string(KX_BIN_DIR) + "/" + name + ".so");
    EXPECT_EQ(file.at("codeVersion"), module.queryCVersion());
    EXPECT_EQ(file.at("ticksPerSecond"), module.queryTimeFreq());
    ASSERT_EQ(file.at("entryPoints").size(), module.queryEPCount());
    const json& ep = file.at("entryPoints").at(0);
    EXPECT_EQ(ep.at("name"), module.ep->name);
    EXPECT_EQ(ep.at("dataSize"), module.ep->dataSize);
    EXPECT_EQ(ep.at("layoutSignature"), module.ep->layoutSignature);
  }
}

using Address = std::pair<int32_t, uint32_t>;   // type identifier, data-area offset

class CyclesWithHooks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module = std::make_unique<LoadedModule>(module_path());
    ASSERT_EQ(0, kxrt_register_entry_point(module->ep)) << kxrt_last_message();
  }
  static void TearDownTestSuite() {
    kxrt_unregister_all();
    module.reset();
  }
  void SetUp() override {
    ASSERT_EQ(0, kxrt_clock_select(KXRT_CLOCK_SIMULATED));
    ASSERT_EQ(0, module->simpleMain(KX_MODE_INIT, 0));
  }
  void TearDown() override {
    kxdbg_set_handler(nullptr, nullptr, nullptr);
    module->ep->globalDebugFlag = nullptr;
  }
  // Cycle k at k * 10 ms.
  void cycles(int n) {
    for (int i = 0; i < n; ++i, ++count) {
      ASSERT_EQ(0, kxrt_clock_set_ns(count * 10'000'000));
      kxdbg_begin_cycle();
      ASSERT_EQ(0, module->simpleMain(KX_MODE_CYCLE, 0));
    }
  }

  static inline std::unique_ptr<LoadedModule> module;
  int64_t count = 0;
};

struct Seen {
  std::set<Address> step, entry;   // kind 1, kind 6
};

void KX_CDECL onEnter(void* user, int32_t typeId, void* address, int32_t kind,
                      EntryPointDescriptor* d) {
  const auto offset = static_cast<uint32_t>(static_cast<uint8_t*>(address) - d->dataArea);
  Seen& seen = *static_cast<Seen*>(user);
  (kind == KX_EVENT_STEP ? seen.step : seen.entry).insert({typeId, offset});
}

std::string describe(const std::set<Address>& addresses) {
  std::string text;
  for (const auto& [typeId, offset] : addresses)
    text += " (" + std::to_string(typeId) + ", " + std::to_string(offset) + ")";
  return text.empty() ? " none" : text;
}

// The kind-1 events of the cycles report exactly the records and the variables that the symbol
// file gives an operation; every kind-6 event (a gated operation whose gate stays closed has
// none) reports one of them too, or the program its data area.
TEST_F(CyclesWithHooks, DebugEventsReportTheRecordsAndTheOperationVariables) {
  const json ep = entry_point("CCodePublic");
  auto address = [](const json& typeId, const json& offset) {
    return Address{typeId.get<int32_t>(), offset.get<uint32_t>()};
  };
  std::set<Address> want;
  for (const json& r : ep.at("records")) want.insert(address(r.at("typeId"), r.at("offset")));
  for (const json& v : ep.at("variables"))
    if (v.contains("operation")) want.insert(address(v.at("operation"), v.at("offset")));

  Seen seen;
  volatile uint32_t hooksOn = 1;
  module->ep->globalDebugFlag = &hooksOn;
  kxdbg_set_handler(onEnter, nullptr, &seen);
  module->write<uint8_t>(12, 1);   // IntRampEnable
  module->write<uint8_t>(24, 1);   // RealRampEnable
  cycles(3);

  std::set<Address> missing, extra;
  for (const Address& a : want)
    if (!seen.step.count(a)) missing.insert(a);
  for (const Address& a : seen.step)
    if (!want.count(a)) extra.insert(a);
  EXPECT_TRUE(missing.empty() && extra.empty())
      << "in the symbol file, never reported:" << describe(missing)
      << "\nreported, not in the symbol file:" << describe(extra);

  want.insert({3, 0});
  for (const Address& a : seen.entry) EXPECT_TRUE(want.count(a)) << describe({a});
  EXPECT_TRUE(seen.entry.count({3, 0}));
}

// An output is written by every cycle; an input never is: a pattern stored into every program
// variable survives a cycle exactly in the inputs.
TEST_F(CyclesWithHooks, CyclesWriteExactlyTheOutputs) {
  const json variables = entry_point("CCodePublic").at("variables");
  const std::vector<uint8_t> pattern(8, 0xA5);
  auto value = [](const std::vector<uint8_t>& bytes, uint32_t offset, uint32_t size) {
    return std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + size);
  };
  auto size_of = [](const std::string& type) -> uint32_t {
    return type == "BOOL" ? 1 : type == "REAL" ? 4 : type == "TIME" ? 8 : 2;
  };
  cycles(1);
  for (const json& v : variables) {
    if (!v.at("program")) continue;
    DataRef ref{module->ep, v.at("offset")};
    ASSERT_EQ(0, module->setData(&ref, pattern.data(), size_of(v.at("type"))));
  }
  cycles(1);
  const std::vector<uint8_t> after = module->snapshot();
  int inputs = 0;
  for (const json& v : variables) {
    if (!v.at("program")) continue;
    const std::string name = v.at("name");
    const uint32_t size = size_of(v.at("type"));
    const bool kept = value(after, v.at("offset"), size) == value(pattern, 0, size);
    EXPECT_EQ(kept, v.at("direction") == "input") << name << " is " << v.at("direction");
    inputs += kept;
  }
  EXPECT_EQ(14, inputs);
}

}  // namespace
