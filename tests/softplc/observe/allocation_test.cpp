// Cycles allocate nothing: a thousand cycles of a plain, a traced and an event-printing run, driven
// by the engine with the observers that `softplc run` wires, and counted by this executable's own
// malloc (which every allocation of the process, operator new included, goes through). Start-up
// and the first cycles may allocate (buffers, the stream's first write); cycles 100 to 1100 may not.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "softplc/engine/engine.h"
#include "softplc/observe/error_tally.h"
#include "softplc/observe/event_printer.h"
#include "softplc/observe/statistics.h"
#include "softplc/observe/trace_observer.h"
#include "softplc/util/values.h"

// glibc's own allocator, under the names it keeps for callers that replace malloc.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {
std::atomic<uint64_t> gAllocations{0};
}

extern "C" {
void* malloc(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(pointer, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) { return memalign(alignment, size); }
int posix_memalign(void** pointer, std::size_t alignment, std::size_t size) {
  *pointer = memalign(alignment, size);
  return *pointer != nullptr ? 0 : ENOMEM;
}
void free(void* pointer) { __libc_free(pointer); }
}

namespace softplc {
namespace {

// Takes every character and keeps none.
class Discard : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

struct Wiring {
  const char* name;
  bool trace;
  bool events;
  bool stats;
  friend void PrintTo(const Wiring& wiring, std::ostream* out) { *out << wiring.name; }
};

class Allocations : public testing::TestWithParam<Wiring> {};

TEST_P(Allocations, NoneInAThousandCycles) {
  const Wiring wiring = GetParam();
  auto plc = load_plc(KX_MODULE_FILE, SymbolSource{});
  ASSERT_TRUE(plc) << plc.error().message;
  Engine engine(std::move(plc).value(), EngineOptions{});
  ASSERT_TRUE(engine.plc().initialise(0));
  const Symbols& symbols = *engine.plc().symbols();
  for (const char* name : {"IntRampEnable", "RealRampEnable"}) {
    const Variable* variable = *symbols.find(name);
    ASSERT_TRUE(engine.plc().write(*variable, std::vector<uint8_t>{1}));
  }
  std::vector<const HeldVariable*> columns;
  std::vector<std::string> names;
  for (const Variable* variable : symbols.program_variables()) {
    columns.push_back(&engine.hold(*variable));
    names.push_back(variable->name);
  }

  Discard discard;
  std::ostream out(&discard);
  ErrorTally errors;
  engine.observe(errors);
  std::optional<EventPrinter> printer;
  if (wiring.events) engine.observe(printer.emplace(out, engine));
  std::optional<TraceWriter> writer;
  std::optional<TraceObserver> trace;
  if (wiring.trace) {
    auto created = TraceWriter::create("/dev/null", names);
    ASSERT_TRUE(created) << created.error().message;
    engine.observe(trace.emplace(writer.emplace(std::move(created).value()), columns));
  }
  std::optional<StatsObserver> stats;
  if (wiring.stats) engine.observe(stats.emplace(out, engine.options().period_ns(), false, std::nullopt));

  ASSERT_TRUE(engine.start());
  ASSERT_TRUE(engine.run(RunLimit{100, false}));
  const uint64_t before = gAllocations.load();
  const Status ran = engine.run(RunLimit{1100, false});
  const uint64_t during = gAllocations.load() - before;
  ASSERT_TRUE(ran);
  EXPECT_EQ(engine.cycles(), 1100u);
  EXPECT_EQ(during, 0u) << wiring.name;
  if (trace) {
    trace->close();
    EXPECT_FALSE(trace->failure());
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, Allocations,
                         testing::Values(Wiring{"plain", false, false, false}, Wiring{"traced", true, false, true},
                                         Wiring{"printing events", false, true, false}),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

// The counter sees what it should: a run that allocates in a cycle is caught.
TEST(AllocationCounter, CountsOperatorNew) {
  const uint64_t before = gAllocations.load();
  auto made = std::make_unique<std::string>(100, 'x');
  EXPECT_GE(gAllocations.load() - before, 2u);
}

}  // namespace
}  // namespace softplc
