// Randomised robustness: many thousands of calls of every export with hostile arguments,
// interleaved with cycles and random bytes in every variable, on our runtime. Nothing may crash
// or show undefined behaviour (run it under the sanitizer build), no call may write a byte outside
// the range a successful call names, and every status must be the documented one.
//
// The seed is printed; KX_FUZZ_SEED replays a run, KX_FUZZ_ITERATIONS sets its length.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "kxrt.h"
#include "loaded_module.h"

namespace {

constexpr uint32_t kSize = 896;

uint64_t env_or(const char* name, uint64_t fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? std::strtoull(v, nullptr, 0) : fallback;
}

class Fuzzer {
 public:
  explicit Fuzzer(uint64_t seed) : rng_(seed) {}

  uint32_t u32() { return static_cast<uint32_t>(rng_()); }
  bool chance(unsigned percent) { return rng_() % 100 < percent; }
  template <typename T>
  const T& pick(const std::vector<T>& values) { return values[rng_() % values.size()]; }

  // Offsets and sizes near the edges that matter, or anything at all.
  uint32_t edgy() {
    static const std::vector<uint32_t> edges = {
        0, 1, 2, 4, 8, 259, 260, 447, 720, 775, 776, 892, 893, 894, 895, 896, 897, 1024,
        0x7FFFFFFFu, 0x80000000u, 0x80000001u, 0xFFFFFF80u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    if (chance(60)) {
      const int64_t jitter = static_cast<int64_t>(rng_() % 5) - 2;
      return pick(edges) + static_cast<uint32_t>(jitter);
    }
    return chance(50) ? u32() % 1100 : u32();
  }

  void fill(uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(rng_());
  }

 private:
  std::mt19937_64 rng_;
};

class RobustnessTest : public ::testing::Test {
 protected:
  std::unique_ptr<LoadedModule> m;
  std::vector<uint8_t> model;   // what the data area must hold
  uint32_t globalSwitch = 0;
  uint64_t hookEvents = 0;

  void SetUp() override {
    m = std::make_unique<LoadedModule>(module_path());
    ASSERT_EQ(kxrt_register_entry_point(m->ep), 0) << kxrt_last_message();
    m->ep->globalDebugFlag = &globalSwitch;
    kxrt_clock_select(KXRT_CLOCK_SIMULATED);
    kxdbg_set_handler(
        [](void* user, int32_t, void*, int32_t, EntryPointDescriptor*) {
          ++static_cast<RobustnessTest*>(user)->hookEvents;
        },
        [](void* user, EntryPointDescriptor*) { ++static_cast<RobustnessTest*>(user)->hookEvents; },
        this);
    ASSERT_EQ(m->simpleMain(KX_MODE_INIT, 0), 0);
    model = m->snapshot();
  }
  void TearDown() override {
    kxdbg_set_handler(nullptr, nullptr, nullptr);
    m->ep->globalDebugFlag = nullptr;
    m->ep->localDebugFlag = 0;
    kxrt_unregister_all();
  }

  // The data area must be exactly the model: nothing was written outside what a call named.
  void expectModel(const char* what) {
    ASSERT_EQ(m->snapshot(), model) << "after " << what;
  }

  static int32_t expectedCopyStatus(const DataRef* ref, const void* buffer, uint32_t size) {
    if (ref == nullptr || ref->descriptor == nullptr || ref->offset >= kSize) return 33;
    if (size > kSize - ref->offset) return 34;
    if (buffer == nullptr && size != 0) return 33;
    return 0;
  }

  void copyOut(Fuzzer& f) {
    DataRef ref{f.chance(10) ? nullptr : m->ep, f.edgy()};
    const uint32_t size = f.edgy();
    std::vector<uint8_t> buffer(1040);
    f.fill(buffer.data(), buffer.size());
    const std::vector<uint8_t> before = buffer;
    const bool nullRef = f.chance(3), nullBuffer = f.chance(3);
    const DataRef* r = nullRef ? nullptr : &ref;
    void* dst = nullBuffer ? nullptr : buffer.data();
    const int32_t want = expectedCopyStatus(r, dst, size);
    ASSERT_EQ(m->getData(r, dst, size), want) << "get offset " << ref.offset << " size " << size;
    if (want == 0 && dst != nullptr) {
      ASSERT_EQ(0, std::memcmp(buffer.data(), model.data() + ref.offset, size));
      ASSERT_TRUE(std::equal(buffer.begin() + size, buffer.end(), before.begin() + size));
    } else {
      ASSERT_EQ(buffer, before);
    }
  }

  void copyIn(Fuzzer& f) {
    DataRef ref{f.chance(10) ? nullptr : m->ep, f.edgy()};
    const uint32_t size = f.edgy();
    std::vector<uint8_t> buffer(1040);
    f.fill(buffer.data(), buffer.size());
    const bool nullRef = f.chance(3), nullBuffer = f.chance(3);
    const DataRef* r = nullRef ? nullptr : &ref;
    const void* src = nullBuffer ? nullptr : buffer.data();
    const int32_t want = expectedCopyStatus(r, src, size);
    ASSERT_EQ(m->setData(r, src, size), want) << "set offset " << ref.offset << " size " << size;
    if (want == 0 && src != nullptr) std::memcpy(model.data() + ref.offset, buffer.data(), size);
    expectModel("setData");
  }

  void pointerAndOffset(Fuzzer& f) {
    DataRef ref{f.chance(10) ? nullptr : m->ep, f.edgy()};
    uint8_t* p = m->getDataPointer(&ref);
    if (ref.descriptor == nullptr || ref.offset >= kSize) {
      ASSERT_EQ(p, nullptr);
    } else {
      ASSERT_EQ(p, m->ep->dataArea + ref.offset);
    }
    const uint32_t address = f.chance(50) ? reinterpret_cast<uint32_t>(m->ep->dataArea) + f.edgy() : f.u32();
    ASSERT_EQ(m->getDataAddressOffset(address, m->ep),
              address - reinterpret_cast<uint32_t>(m->ep->dataArea));
  }

  void queries(Fuzzer& f) {
    const uint32_t i = f.chance(30) ? f.u32() % 4 : f.u32();
    ASSERT_EQ(m->queryEP(i), i == 0 ? m->ep : nullptr);
    ASSERT_EQ(m->queryTASK(i), nullptr);
    ASSERT_EQ(m->queryCInfo(i), 0u);
    ASSERT_EQ(m->queryEPCount(), 1u);
    uint8_t buffer[64];
    ASSERT_EQ(m->queryRetainedDataSize(f.chance(50) ? m->ep : nullptr), 0u);
    ASSERT_EQ(m->getRetainedData(m->ep, buffer), 0u);
    ASSERT_EQ(m->setRetainedData(m->ep, buffer), 0u);
    expectModel("queries");
  }

  void dispatch(Fuzzer& f) {
    static const std::vector<uint32_t> modes = {0, 0, 0, 1, 2, 3, 7, 0xFFFFFFFFu, 0x80000000u};
    const uint32_t mode = f.pick(modes);
    const uint32_t argument = f.chance(50) ? f.u32() % 6 : f.u32();
    if (mode == KX_MODE_CYCLE) {
      // The clock may jump anywhere, also backwards and to the ends of its range.
      static const std::vector<int64_t> jumps = {0, 10'000'000, 1, -10'000'000, INT64_MAX / 2,
                                                 INT64_MIN / 2};
      const int64_t now = kxrt_clock_now_ns();
      const int64_t jump = f.pick(jumps);
      if (f.chance(95)) kxrt_clock_set_ns(now + 10'000'000);
      else kxrt_clock_set_ns(jump > 0 && now > INT64_MAX - jump ? jump : now / 2 + jump);
    }
    ASSERT_EQ(m->simpleMain(mode, argument), 0);
    if (mode == KX_MODE_CYCLE || (mode == KX_MODE_INIT && argument <= 1)) model = m->snapshot();
    else expectModel("a mode that runs nothing");
  }

  // Random bytes in every variable: the program must take anything written between cycles.
  void scramble(Fuzzer& f) {
    std::vector<uint8_t> bytes(kSize);
    f.fill(bytes.data(), bytes.size());
    if (f.chance(50)) {
      // Mostly plausible REALs with the odd NaN, infinity or denormal, so that blocks also run
      // their ordinary paths with strange inputs.
      static const std::vector<float> reals = {0.0f, -0.0f, 1.0f, 100.0f, 1e-39f, -1e-45f,
                                               3.4e38f, -3.4e38f, __builtin_nanf(""),
                                               __builtin_inff(), -__builtin_inff(), 102.6f};
      for (uint32_t off = 0; off + 4 <= kSize; off += 4) {
        if (f.chance(50)) {
          const float v = f.pick(reals);
          std::memcpy(bytes.data() + off, &v, 4);
        }
      }
    }
    DataRef all{m->ep, 0};
    ASSERT_EQ(m->setData(&all, bytes.data(), kSize), 0);
    model = bytes;
  }

  // The module's online-change tables are trusted data of its image: a runtime cannot know their
  // true extent. So a table here never claims more bytes than lie behind it, but within them
  // anything goes: the right length for its records or a plausible wrong one (below 4, cut into a
  // record, a record more or less), odd record counts, offsets and sizes at the edges.
  template <size_t N>
  static void putU32(std::array<uint8_t, N>& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4 && at + i < N; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  template <size_t N>
  uint32_t honestLength(Fuzzer& f, uint32_t exact) {
    uint32_t length = exact;
    switch (f.u32() % 4) {
      case 0: length = f.u32() % (N + 1); break;                    // anything that fits
      case 1: length = exact >= 16 ? exact - 12 : exact; break;     // a record fewer
      case 2: length = std::min<uint32_t>(N, exact + 1 + f.u32() % 12); break;   // cut into one more
      default: break;
    }
    return length;
  }
  template <size_t N>
  void moveTable(Fuzzer& f, std::array<uint8_t, N>& bytes) {
    f.fill(bytes.data(), N);
    const uint32_t records = f.u32() % ((N - 4) / 12 + 1);
    for (uint32_t r = 0; r < records; ++r) {
      for (uint32_t field = 0; field < 3; ++field) putU32(bytes, 4 + 12 * r + 4 * field, f.edgy());
    }
    putU32(bytes, 0, honestLength<N>(f, 4 + 12 * records));
  }
  template <size_t N>
  void reinitTable(Fuzzer& f, std::array<uint8_t, N>& bytes) {
    static const std::vector<uint8_t> codes = {0x02, 0x04, 0x20, 0x22, 0x40, 0x01, 0x00, 0xFF};
    f.fill(bytes.data(), N);
    for (size_t i = 4; i < N; ++i) {
      if (f.chance(40)) bytes[i] = f.pick(codes);
    }
    putU32(bytes, 0, honestLength<N>(f, N));
  }

  void onlineChange(Fuzzer& f) {
    static const std::vector<uint32_t> signatures = {0, 0x4C5080A3u, 0x4C5080DFu, 1, 0xFFFFFFFFu};
    std::array<uint8_t, 64> moveBytes{}, reinitBytes{};
    moveTable(f, moveBytes);
    reinitTable(f, reinitBytes);
    std::array<uint8_t, 32> currentArea{}, predecessorArea{};
    CodeDescriptor code{};
    code.moveTable = f.chance(60) ? moveBytes.data() : nullptr;
    code.reinitTable = f.chance(60) ? reinitBytes.data() : nullptr;
    code.predecessorSignature = f.chance(70) ? f.pick(signatures) : f.u32();
    EntryPointDescriptor current{}, predecessor{};
    current.codeDescriptor = &code;
    current.dataArea = currentArea.data();
    current.dataSize = f.chance(50) ? 32 : f.edgy();
    predecessor.layoutSignature = f.chance(70) ? f.pick(signatures) : f.u32();
    predecessor.dataArea = f.chance(30) ? m->ep->dataArea : predecessorArea.data();
    EntryPointDescriptor* cur = f.chance(5) ? nullptr : &current;
    EntryPointDescriptor* pre = f.chance(5) ? nullptr : &predecessor;
    // The synthetic areas, registered with the runtime at their true size or not at all: when
    // they are, the runtime moves into and initialises the 32-byte area, and reads the tables
    // all the way through. The module's own area is only ever a source.
    EntryPointDescriptor currentReg{}, predecessorReg{};
    currentReg.dataArea = currentArea.data();
    currentReg.dataSize = 32;
    predecessorReg.dataArea = predecessorArea.data();
    predecessorReg.dataSize = 32;
    const bool registered = f.chance(50);
    if (registered) {
      ASSERT_EQ(kxrt_register_entry_point(&currentReg), 0) << kxrt_last_message();
      ASSERT_EQ(kxrt_register_entry_point(&predecessorReg), 0) << kxrt_last_message();
    }
    const bool declared = registered && f.chance(30);
    if (declared) {
      ASSERT_EQ(kxrt_online_change_begin(&currentReg), 0);
    }

    const bool supported = cur != nullptr && code.predecessorSignature != 0;
    const bool matches = pre != nullptr && predecessor.layoutSignature == code.predecessorSignature;
    ASSERT_EQ(m->isReloadPossible(cur, pre, f.u32()), !supported ? 69 : matches ? 0 : 67);
    // The module does not look at the runtime's results.
    ASSERT_EQ(m->reInit(cur, pre, f.u32()), !supported || matches ? 0 : 67);
    if (declared) {
      ASSERT_EQ(kxrt_online_change_end(&currentReg), 0);
    }
    if (registered) {
      ASSERT_EQ(kxrt_unregister_entry_point(&currentReg), 0);
      ASSERT_EQ(kxrt_unregister_entry_point(&predecessorReg), 0);
    }

    DataRef ref{f.chance(50) ? m->ep : nullptr, f.edgy()};
    const DataRef before = ref;
    const int32_t status = m->mapDataAddress(f.chance(5) ? nullptr : &ref, cur);
    if (cur == nullptr || code.moveTable == nullptr) {
      ASSERT_EQ(status, 69);
    } else {
      ASSERT_TRUE(status == 0 || status == 65) << status;
    }
    if (status == 0) {
      ASSERT_EQ(ref.descriptor, cur);
    } else {
      ASSERT_EQ(ref.descriptor, before.descriptor);
      ASSERT_EQ(ref.offset, before.offset);
    }
    const uint32_t selector = f.chance(50) ? f.u32() % 3 : f.u32();
    const uint32_t target = f.chance(50) ? f.u32() % 3 : f.u32();
    const int32_t load = m->isLoadPossible(selector, target);
    if (selector != 1 || target == 0) {
      ASSERT_EQ(load, 0);
    }
    expectModel("online-change exports");
  }

  void hooks(Fuzzer& f) {
    m->ep->localDebugFlag = f.chance(70) ? 0 : f.u32();
    globalSwitch = f.chance(70) ? 0 : f.u32();
    m->ep->globalDebugFlag = f.chance(10) ? nullptr : &globalSwitch;
  }
};

TEST_F(RobustnessTest, EveryExportTakesHostileArguments) {
  const uint64_t seed = env_or("KX_FUZZ_SEED", 20261207);
  const uint64_t iterations = env_or("KX_FUZZ_ITERATIONS", 30000);
  std::printf("robustness: seed %llu, %llu iterations (replay with KX_FUZZ_SEED=%llu)\n",
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(iterations),
              static_cast<unsigned long long>(seed));
  RecordProperty("seed", std::to_string(seed));
  Fuzzer f(seed);
  for (uint64_t i = 0; i < iterations; ++i) {
    SCOPED_TRACE(::testing::Message() << "iteration " << i << ", seed " << seed);
    switch (f.u32() % 9) {
      case 0: copyOut(f); break;
      case 1: copyIn(f); break;
      case 2: pointerAndOffset(f); break;
      case 3: queries(f); break;
      case 4: dispatch(f); break;
      case 5: dispatch(f); break;
      case 6: if (f.chance(20)) scramble(f); else dispatch(f); break;
      case 7: onlineChange(f); break;
      case 8: hooks(f); break;
    }
    if (HasFatalFailure()) return;
  }
  std::printf("robustness: %llu hook events\n", static_cast<unsigned long long>(hookEvents));
}

}  // namespace
