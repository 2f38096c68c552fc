// The listing (CCodePublic.st) and its map in the symbol file, against the text and against the
// debug events of real cycles of the built module: every kind-1 and kind-6 event and every
// ExitHook lands on a statement of the block that runs, in the instance that runs, in the
// listing's order, and every event the map promises comes. The cycles ramp both ramps up and down
// and reset them, reset the lag filter by an edge (its first call divides by zero on the gated
// path) and run the pulse generator through both phases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "kxrt.h"
#include "loaded_module.h"
#include "symbol_file.h"

namespace {

using nlohmann::json;

constexpr int kExit = 0;   // an ExitHook, among the kinds 1 and 6

struct Step {
  json node;
  std::size_t index;
  int32_t block() const { return node.at("block"); }
  int32_t typeId() const { return node.value("typeId", 0); }
  uint32_t offset() const { return node.value("offset", 0u); }
  uint32_t line() const { return node.at("line"); }
  bool has(int kind) const {
    const json& kinds = node.at("kinds");
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
  }
  bool unit_entry() const { return has(6) && !has(1) && typeId() == block(); }
};

std::vector<std::string> listing_lines(const std::string& file) {
  std::ifstream in(std::string(KX_BIN_DIR) + "/" + file, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The map against the text: each statement spans its lines and columns, names what its events
// report, and a block's entry and exit are its first and last lines.
TEST(Listing, TheMapDescribesTheText) {
  for (const char* module : {"CCodePublic", "CCodePublic_next"}) {
    SCOPED_TRACE(module);
    const json map = entry_point(module).at("listing");
    EXPECT_EQ(map.at("file"), std::string(module) + ".st");
    const std::vector<std::string> lines = listing_lines(map.at("file"));
    ASSERT_EQ(lines.size(), map.at("lines").get<std::size_t>());
    std::size_t bytes = 0;
    for (const std::string& line : lines) bytes += line.size() + 1;
    EXPECT_EQ(bytes, map.at("bytes").get<std::size_t>());
    const auto text = [&](const json& line) { return lines.at(line.get<std::size_t>() - 1); };

    for (const json& block : map.at("blocks")) {
      const std::string name = block.at("name");
      EXPECT_TRUE(text(block.at("line")) == "PROGRAM " + name || text(block.at("line")) == "FUNCTION_BLOCK " + name)
          << text(block.at("line"));
      EXPECT_EQ(text(block.at("endLine")).rfind("END_", 0), 0u) << name;
    }
    for (const json& step : map.at("steps")) {
      SCOPED_TRACE(step.dump());
      const std::string first = text(step.at("line"));
      const std::size_t column = step.at("column");
      ASSERT_GE(first.size(), column);
      EXPECT_NE(first[column - 1], ' ');
      EXPECT_EQ(first.find_first_not_of(' '), column - 1);
      EXPECT_EQ(text(step.at("endLine")).size(), step.at("endColumn").get<std::size_t>());
      std::string statement;
      for (std::size_t n = step.at("line"); n <= step.at("endLine"); ++n) statement += lines.at(n - 1) + "\n";
      if (step.contains("name")) {
        EXPECT_NE(statement.find(step.at("name").get<std::string>()), std::string::npos);
      }
      // An ExitHook lands on its statement, or for a block's own entry on the block's last line.
      if (!step.contains("exitLine")) continue;
      const json& block = *std::find_if(map.at("blocks").begin(), map.at("blocks").end(),
                                        [&](const json& b) { return b.at("typeId") == step.at("block"); });
      const bool unitEntry = step.at("kinds") == json{6} && step.at("typeId") == step.at("block");
      EXPECT_EQ(step.at("line"), unitEntry ? block.at("line") : step.at("line"));
      EXPECT_EQ(step.at("exitLine"), unitEntry ? block.at("endLine") : step.at("line"));
    }
  }
}

// ---- the cycles --------------------------------------------------------------------------------

struct Event {
  int kind;   // 1, 6 or kExit
  int32_t typeId;
  uint32_t offset;
};

// Records every event; at the entry of a ramp's body, while `reverse` is set, swaps its Start and
// Target (the program writes 0 and 100 just before), so that the ramp runs down.
struct Recorder {
  std::vector<Event> events;
  bool reverse = false;
};

void KX_CDECL onEnter(void* user, int32_t typeId, void* address, int32_t kind, EntryPointDescriptor* d) {
  auto& recorder = *static_cast<Recorder*>(user);
  const auto offset = static_cast<uint32_t>(static_cast<uint8_t*>(address) - d->dataArea);
  recorder.events.push_back({kind, typeId, offset});
  if (!recorder.reverse || kind != 6) return;
  if (typeId == 14 && offset == 260) {   // IntRamp: Start at 262, Target at 264
    const int16_t start = 100, target = 0;
    std::memcpy(d->dataArea + 262, &start, 2);
    std::memcpy(d->dataArea + 264, &target, 2);
  } else if (typeId == 24 && offset == 448) {   // RealRamp: Start at 452, Target at 456
    const float start = 100, target = 0;
    std::memcpy(d->dataArea + 452, &start, 4);
    std::memcpy(d->dataArea + 456, &target, 4);
  }
}

void KX_CDECL onExit(void* user, EntryPointDescriptor*) {
  static_cast<Recorder*>(user)->events.push_back({kExit, 0, 0});
}

// A body entered and not yet left (or an inline operation, `leaf`): its block, its instance, the
// events of its own statements.
struct Frame {
  int32_t block = 0;
  uint32_t instance = 0;
  const Step* leaf = nullptr;
  std::vector<std::pair<const Step*, int>> seen;
};

class ListingAgainstCycles : public ::testing::Test {
 protected:
  void SetUp() override {
    const json ep = entry_point("CCodePublic");
    const json& map = ep.at("listing");
    for (const json& step : map.at("steps")) steps.push_back({step, steps.size()});
    // Every instance of every block: the program runs at 0.
    std::map<int32_t, std::vector<uint32_t>> instances;
    for (const json& block : map.at("blocks")) {
      const int32_t id = block.at("typeId");
      if (id == ep.at("program").at("typeId")) instances[id].push_back(0);
      for (const json& record : ep.at("records"))
        if (record.at("typeId") == id) instances[id].push_back(record.at("offset"));
    }
    for (const Step& step : steps) {
      for (uint32_t instance : instances[step.block()]) {
        for (int kind : {1, 6})
          if (step.has(kind)) where[{step.typeId(), instance + step.offset(), kind}] = &step;
      }
    }
    module = std::make_unique<LoadedModule>(module_path());
    ASSERT_EQ(0, kxrt_register_entry_point(module->ep)) << kxrt_last_message();
    ASSERT_EQ(0, kxrt_clock_select(KXRT_CLOCK_SIMULATED));
    ASSERT_EQ(0, module->simpleMain(KX_MODE_INIT, 0));
  }
  void TearDown() override {
    kxdbg_set_handler(nullptr, nullptr, nullptr);
    module->ep->globalDebugFlag = nullptr;
    kxrt_unregister_all();
  }

  // The events of the cycles `from` to `to` (10 ms apart).
  void cycles(int from, int to) {
    for (int i = from; i < to; ++i) {
      ASSERT_EQ(0, kxrt_clock_set_ns(int64_t{i} * 10'000'000));
      kxdbg_begin_cycle();
      ASSERT_EQ(0, module->simpleMain(KX_MODE_CYCLE, 0));
    }
  }

  // The statements of a block with events, in the listing's order.
  std::vector<const Step*> body(int32_t block) const {
    std::vector<const Step*> result;
    for (const Step& step : steps)
      if (step.block() == block && !step.unit_entry() && (step.has(1) || step.has(6))) result.push_back(&step);
    return result;
  }

  // A body's events against its statements: each statement's kind-1 event, then its kind-6 event
  // and ExitHook (which a gated one may lack), in the listing's order, nothing else.
  void check_body(const Frame& frame) const {
    std::size_t at = 0;
    const auto next = [&](const Step* step, int kind) {
      if (at < frame.seen.size() && frame.seen[at] == std::make_pair(step, kind)) return ++at, true;
      return false;
    };
    for (const Step* step : body(frame.block)) {
      if (step->has(1)) {
        ASSERT_TRUE(next(step, 1)) << "line " << step->line() << " in the body at " << frame.instance;
      }
      if (!step->has(6)) continue;
      const bool entered = next(step, 6);
      if (entered) {
        ASSERT_TRUE(next(step, kExit)) << "line " << step->line();
      }
      ASSERT_TRUE(entered || step->node.value("gated", false)) << "line " << step->line() << " has no kind-6 event";
    }
    ASSERT_EQ(at, frame.seen.size()) << "an event of the body at " << frame.instance << " lands on no statement in order";
  }

  std::vector<Step> steps;
  std::map<std::tuple<int32_t, uint32_t, int>, const Step*> where;
  std::unique_ptr<LoadedModule> module;
};

TEST_F(ListingAgainstCycles, EveryEventLandsOnItsStatementInTheListingsOrder) {
  Recorder recorder;
  volatile uint32_t hooksOn = 1;
  module->ep->globalDebugFlag = &hooksOn;
  kxdbg_set_handler(onEnter, onExit, &recorder);
  module->write<uint8_t>(12, 1);   // IntRampEnable
  module->write<uint8_t>(24, 1);   // RealRampEnable
  // Up for 1.5 s (the pulse rises after about 1 s), reset for two cycles, up again, then down while
  // the lag filter gets its reset edge (and the pulse falls).
  std::vector<float> position;   // IntRamp.Value after each cycle
  std::vector<uint8_t> blinkQ;
  const auto run = [&](int from, int to) {
    for (int i = from; i < to; ++i) {
      cycles(i, i + 1);
      position.push_back(module->read<float>(344));
      blinkQ.push_back(module->read<uint8_t>(53));
    }
  };
  run(0, 150);
  module->write<uint8_t>(13, 1);   // IntRampReset
  module->write<uint8_t>(25, 1);   // RealRampReset
  run(150, 152);
  module->write<uint8_t>(13, 0);
  module->write<uint8_t>(25, 0);
  run(152, 200);
  recorder.reverse = true;
  module->write<uint8_t>(4, 1);    // LagResetCmd
  run(200, 260);
  kxdbg_set_handler(nullptr, nullptr, nullptr);

  // The cycles did what they were for: the INT ramp rose, was reset, rose (from Start with the time
  // of one cycle) and fell back to 0, and the pulse rose and fell.
  EXPECT_NEAR(position[149], 1.49, 0.001);
  EXPECT_EQ(position[151], 0.0f);
  EXPECT_NEAR(position[199], 0.48, 0.001);
  EXPECT_EQ(position.back(), 0.0f);
  const auto rise = std::find(blinkQ.begin(), blinkQ.end(), 1);
  ASSERT_NE(rise, blinkQ.end());
  EXPECT_NE(std::find(rise, blinkQ.end(), 0), blinkQ.end());

  std::vector<Frame> open;
  std::set<std::pair<const Step*, int>> seen;
  for (const Event& e : recorder.events) {
    if (e.kind == kExit) {
      ASSERT_FALSE(open.empty()) << "an ExitHook with no block open";
      const Frame closed = open.back();
      open.pop_back();
      if (closed.leaf != nullptr) {
        open.back().seen.emplace_back(closed.leaf, kExit);
        seen.insert({closed.leaf, kExit});
      } else {
        check_body(closed);
        if (testing::Test::HasFatalFailure()) return;
      }
      continue;
    }
    const auto found = where.find({e.typeId, e.offset, e.kind});
    ASSERT_TRUE(found != where.end()) << "kind " << e.kind << " type " << e.typeId << " at " << e.offset
                                  << " lands on no statement";
    const Step* step = found->second;
    seen.insert({step, e.kind});
    if (step->unit_entry()) {
      // A body opens: the program's outside any block; a block's right after its call.
      if (open.empty()) {
        ASSERT_EQ(step->block(), entry_point("CCodePublic").at("program").at("typeId"));
      } else {
        ASSERT_FALSE(open.back().seen.empty());
        const Step* call = open.back().seen.back().first;
        EXPECT_EQ(call->typeId(), step->block()) << "line " << call->line();
        EXPECT_EQ(open.back().instance + call->offset(), e.offset) << "line " << call->line();
      }
      open.push_back({step->block(), e.offset - step->offset(), nullptr, {}});
      continue;
    }
    ASSERT_FALSE(open.empty());
    Frame& frame = open.back();
    ASSERT_EQ(step->block(), frame.block) << "line " << step->line() << " is not in the block that runs";
    ASSERT_EQ(e.offset - step->offset(), frame.instance) << "line " << step->line() << " in another instance";
    frame.seen.emplace_back(step, e.kind);
    if (e.kind == 6) open.push_back({frame.block, frame.instance, step, {}});
  }
  EXPECT_TRUE(open.empty());
  // Every event the map promises came.
  for (const Step& step : steps) {
    for (int kind : {1, 6})
      if (step.has(kind)) {
        EXPECT_TRUE(seen.count({&step, kind})) << "line " << step.line() << " kind " << kind;
      }
  }
}

}  // namespace
