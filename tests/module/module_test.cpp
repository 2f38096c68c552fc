// The module through its exports, as a runtime drives it, with our runtime libraries.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "kxrt.h"
#include "loaded_module.h"

namespace {

// The 68 bytes of the initial-value table, as the module must carry them.
constexpr std::array<uint8_t, 68> kInitTable = {
    0x44, 0x00, 0x00, 0x00, 0x40, 0x33, 0x33, 0xCD, 0x42, 0x02, 0x1A, 0x00, 0x20, 0x01, 0x00,
    0x02, 0x02, 0x00, 0x20, 0x0C, 0x00, 0x02, 0x04, 0x00, 0x20, 0x05, 0x00, 0x02, 0x0C, 0x00,
    0x02, 0xD6, 0x00, 0x20, 0x0A, 0x00, 0x02, 0x02, 0x00, 0x40, 0xDE, 0x34, 0x12, 0x00, 0x02,
    0xBC, 0x00, 0x40, 0x00, 0x00, 0x20, 0x41, 0x40, 0xDE, 0x34, 0x12, 0x00, 0x04, 0x30, 0x01,
    0x00, 0x22, 0x02, 0x64, 0x00, 0x02, 0x71, 0x00};

struct Event {
  bool exit;
  int32_t typeId;
  int64_t offset;   // address relative to the data area
  int32_t kind;
  bool operator==(const Event&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Event& e) {
  if (e.exit) return os << "Exit";
  return os << "Enter(" << e.typeId << ", +" << e.offset << ", " << e.kind << ")";
}
Event Enter(int32_t typeId, int64_t offset, int32_t kind) { return {false, typeId, offset, kind}; }
const Event Exit{true, 0, 0, 0};

class ModuleTest : public ::testing::Test {
 protected:
  static inline std::unique_ptr<LoadedModule> module;
  static inline uint32_t globalSwitch = 0;

  std::vector<Event> events;
  std::function<void(const Event&)> onEvent;

  static void SetUpTestSuite() {
    module = std::make_unique<LoadedModule>(module_path());
    ASSERT_EQ(kxrt_register_entry_point(module->ep), 0) << kxrt_last_message();
  }
  static void TearDownTestSuite() {
    kxrt_unregister_all();
    module.reset();
  }

  void SetUp() override {
    LoadedModule& m = *module;
    m.ep->localDebugFlag = 0;
    globalSwitch = 0;
    m.ep->globalDebugFlag = &globalSwitch;
    kxrt_clock_select(KXRT_CLOCK_SIMULATED);
    kxdbg_set_handler(&ModuleTest::enterThunk, &ModuleTest::exitThunk, this);
    ASSERT_EQ(m.simpleMain(KX_MODE_INIT, 0), 0);   // cold start: a fresh data area per test
  }
  void TearDown() override { kxdbg_set_handler(nullptr, nullptr, nullptr); }

  static void KX_CDECL enterThunk(void* user, int32_t typeId, void* address, int32_t kind,
                                  EntryPointDescriptor* d) {
    auto* self = static_cast<ModuleTest*>(user);
    EXPECT_EQ(d, module->ep);
    Event e{false, typeId,
            static_cast<int64_t>(static_cast<uint8_t*>(address) - module->ep->dataArea), kind};
    self->events.push_back(e);
    if (self->onEvent) self->onEvent(e);
  }
  static void KX_CDECL exitThunk(void* user, EntryPointDescriptor* d) {
    auto* self = static_cast<ModuleTest*>(user);
    EXPECT_EQ(d, module->ep);
    self->events.push_back(Exit);
    if (self->onEvent) self->onEvent(Exit);
  }

  void cycle() { ASSERT_EQ(module->simpleMain(KX_MODE_CYCLE, 0), 0); }
  LoadedModule& m() { return *module; }
};

TEST_F(ModuleTest, QueryExportsDescribeTheModule) {
  EXPECT_EQ(m().queryEPCount(), 1u);
  EXPECT_EQ(m().queryEP(1), nullptr);
  EXPECT_EQ(m().queryEP(2), nullptr);
  EXPECT_EQ(m().queryEP(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(m().queryTASKCount(), 0u);
  EXPECT_EQ(m().queryTASK(0), nullptr);
  EXPECT_EQ(m().queryTASK(7), nullptr);
  EXPECT_EQ(m().queryTimeFreq(), 1193182u);
  EXPECT_STREQ(m().queryCVersion(), "2010-07-28 15:10:27");
  EXPECT_EQ(m().queryCCRC(), 0u);
  EXPECT_EQ(m().queryCInfoCount(), 0u);
  EXPECT_EQ(m().queryCInfo(0), 0u);
  EXPECT_EQ(m().queryCInfo(3), 0u);
  const CfwVersion* v = m().queryCFWVersion();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->major, 3u);
  EXPECT_EQ(v->minor, 3u);
  EXPECT_STREQ(v->text, "CodeGeneratorFW Version 3.3");
}

TEST_F(ModuleTest, EntryPointDescriptorFieldsByOffset) {
  const auto* raw = reinterpret_cast<const uint8_t*>(m().queryEP(0));
  auto u32 = [&](int off) { uint32_t v; std::memcpy(&v, raw + off, 4); return v; };
  EXPECT_EQ(u32(0), 136u);
  EXPECT_STREQ(reinterpret_cast<const char*>(u32(4)), "KX_PI_Program_Control");
  EXPECT_EQ(u32(8), 0x0023EBDDu);
  EXPECT_NE(u32(12), 0u);   // cycle function
  EXPECT_EQ(u32(24), reinterpret_cast<uint32_t>(m().callInitFunc));
  EXPECT_NE(u32(40), 0u);
  EXPECT_EQ(u32(44), 896u);
  EXPECT_EQ(u32(56), 0x4C5080A3u);
  EXPECT_EQ(u32(88), 0u);
  EXPECT_EQ(u32(92), 0u);
  for (int off : {16, 20, 28, 32, 36, 52, 60, 64, 68, 72, 76, 80, 84, 104, 108, 112, 116, 120, 124,
                  128, 132})
    EXPECT_EQ(u32(off), 0u) << "reserved field at " << off;
  // The code descriptor lies directly in front of the entry-point descriptor.
  EXPECT_EQ(u32(48), reinterpret_cast<uint32_t>(raw) - 32);
  const auto* code = reinterpret_cast<const uint8_t*>(u32(48));
  auto c32 = [&](int off) { uint32_t v; std::memcpy(&v, code + off, 4); return v; };
  const auto* table = reinterpret_cast<const uint8_t*>(c32(0));
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(0, std::memcmp(table, kInitTable.data(), kInitTable.size()));
  EXPECT_EQ(c32(4), 0u);    // moveTable
  EXPECT_EQ(c32(8), 0u);    // reinitTable
  EXPECT_EQ(c32(12), 0u);   // predecessorSignature
  EXPECT_EQ(c32(16), 0u);
  EXPECT_EQ(c32(20), 0u);   // retainDescriptor
  EXPECT_NE(c32(24), 0u);   // tempFrame: an empty text until the first cycle, then the scratch block
  EXPECT_EQ(c32(28), 0u);
}

TEST_F(ModuleTest, InitialValuesBeforeAnyCycle) {
  // Dirty every byte first: a cold start must clear what the table passes over.
  std::vector<uint8_t> junk(896, 0xA5);
  DataRef all{m().ep, 0};
  ASSERT_EQ(m().setData(&all, junk.data(), 896), 0);
  ASSERT_EQ(m().simpleMain(KX_MODE_INIT, 0), 0);

  std::vector<uint8_t> expected(896, 0);
  auto put = [&](size_t off, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), expected.begin() + off);
  };
  put(0, {0x33, 0x33, 0xCD, 0x42});   // LagIn 102.6
  put(30, {1, 0});                    // ExtIn6
  put(34, {12, 0});                   // ExtIn4
  put(40, {5, 0});                    // ExtIn5
  put(268, {10, 0});                  // IntRamp.Step
  put(272, {0xDE, 0x34, 0x12, 0});    // IntRamp.Period low half: T#1s
  put(464, {0x00, 0x00, 0x20, 0x41});   // RealRamp.Step 10.0
  put(468, {0xDE, 0x34, 0x12, 0});    // RealRamp.Period low half
  put(776, {100, 0, 100, 0});         // Blinker.OnTime, OffTime
  EXPECT_EQ(m().snapshot(), expected);
  EXPECT_FLOAT_EQ(m().read<float>(0), 102.6f);
}

TEST_F(ModuleTest, WarmStartAppliesTheTableOnly) {
  m().write<uint8_t>(630, 0x5A);     // a byte the table passes over
  m().write<float>(0, 1.5f);         // a byte the table sets
  ASSERT_EQ(m().simpleMain(KX_MODE_INIT, 1), 0);
  EXPECT_EQ(m().read<uint8_t>(630), 0x5A);
  EXPECT_FLOAT_EQ(m().read<float>(0), 102.6f);
}

TEST_F(ModuleTest, StartModesAboveOneInitialiseNothing) {
  m().write<float>(0, 1.5f);
  for (uint32_t mode : {2u, 3u, 4u, 99u}) {
    EXPECT_EQ(m().simpleMain(KX_MODE_INIT, mode), 0);
    EXPECT_EQ(m().callInitFunc(m().ep, mode), 0);
  }
  EXPECT_FLOAT_EQ(m().read<float>(0), 1.5f);
}

TEST_F(ModuleTest, OtherModesRunNothing) {
  m().ep->localDebugFlag = 1;
  const auto before = m().snapshot();
  EXPECT_EQ(m().simpleMain(2, 0), 0);
  EXPECT_EQ(m().simpleMain(7, 0), 0);
  EXPECT_EQ(m().simpleMain(0xFFFFFFFFu, 0), 0);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(m().snapshot(), before);
}

TEST_F(ModuleTest, InitStatusOfAnEntryPointIsPassedThrough) {
  const KxInitFunction original = m().ep->initFunction;
  m().ep->initFunction = [](EntryPointDescriptor*, uint32_t) KX_STDCALL -> int32_t { return 7; };
  const int32_t status = m().simpleMain(KX_MODE_INIT, 0);
  m().ep->initFunction = original;
  EXPECT_EQ(status, 7);
}

TEST_F(ModuleTest, FirstCycleWritesTheExtBlockInputs) {
  m().write<int16_t>(28, -3);   // ExtIn1
  m().write<int16_t>(50, 4);    // ExtIn2
  m().write<uint8_t>(52, 1);    // ExtIn8
  m().write<int16_t>(38, 11);   // ExtIn11
  m().write<uint8_t>(32, 1);    // ExtIn12
  cycle();
  EXPECT_EQ(m().read<int16_t>(720), -3);   // In1
  EXPECT_EQ(m().read<int16_t>(722), 4);    // In2
  EXPECT_EQ(m().read<int16_t>(724), 111);  // In3
  EXPECT_EQ(m().read<int16_t>(726), 12);   // In4 from ExtIn4
  EXPECT_EQ(m().read<int16_t>(728), 5);    // In5 from ExtIn5
  EXPECT_EQ(m().read<int16_t>(730), 1);    // In6 from ExtIn6
  EXPECT_EQ(m().read<int16_t>(732), 10);   // In7
  EXPECT_EQ(m().read<uint8_t>(734), 1);    // In8
  EXPECT_EQ(m().read<uint8_t>(735), m().read<uint8_t>(53));   // In9 is BlinkQ of this cycle
  EXPECT_EQ(m().read<uint8_t>(736), 0);    // In10
  EXPECT_EQ(m().read<int16_t>(738), 11);   // In11
  EXPECT_EQ(m().read<uint8_t>(740), 1);    // In12
  EXPECT_EQ(m().read<int16_t>(744), 999);  // In13
  EXPECT_EQ(m().read<uint8_t>(748), 1);    // ENO
  // Instance bytes the program does not touch stay 0.
  for (uint32_t off : {737u, 741u, 742u, 743u, 746u, 747u, 749u, 752u, 753u, 755u, 759u, 762u, 775u})
    EXPECT_EQ(m().read<uint8_t>(off), 0) << off;
  // The program never writes its read-into variables.
  EXPECT_EQ(m().read<int16_t>(28), -3);
  EXPECT_EQ(m().read<int16_t>(34), 12);
}

TEST_F(ModuleTest, ExtBlockOutputsAreCopiedEveryCycle) {
  cycle();
  for (uint32_t off : {42u, 44u, 36u}) EXPECT_EQ(m().read<int16_t>(off), 0);
  EXPECT_EQ(m().read<uint8_t>(33), 0);
  EXPECT_EQ(m().read<uint8_t>(46), 0);

  m().write<int16_t>(750, 1234);   // Ext1.Out1
  m().write<uint8_t>(754, 1);      // Ext1.Out2
  m().write<int16_t>(756, -7);     // Ext1.Out3
  m().write<uint8_t>(758, 2);      // Ext1.Out4: copied as the byte it is
  m().write<int16_t>(760, 32767);  // Ext1.Out5
  m().write<int16_t>(42, 55);      // ExtOut1 written directly: replaced by the next cycle
  cycle();
  EXPECT_EQ(m().read<int16_t>(42), 1234);
  EXPECT_EQ(m().read<uint8_t>(33), 1);
  EXPECT_EQ(m().read<int16_t>(36), -7);
  EXPECT_EQ(m().read<uint8_t>(46), 2);
  EXPECT_EQ(m().read<int16_t>(44), 32767);
}

// The program's own frame and the Ext1 network, which close every cycle.
std::vector<Event> ProgramFrameTail() {
  return {Enter(28, 720, 1), Enter(28, 720, 6), Exit, Exit};
}

TEST_F(ModuleTest, LocalSwitchReportsTheCycle) {
  m().ep->localDebugFlag = 1;
  cycle();
  ASSERT_GE(events.size(), 5u);
  EXPECT_EQ(events.front(), Enter(3, 0, 6));
  const std::vector<Event> tail(events.end() - 4, events.end());
  EXPECT_EQ(tail, ProgramFrameTail());
  size_t enters6 = 0, exits = 0;
  for (const Event& e : events) {
    if (e.exit) ++exits;
    else if (e.kind == 6) ++enters6;
  }
  EXPECT_EQ(enters6, exits) << "every kind-6 event is closed by one ExitHook";
}

TEST_F(ModuleTest, GlobalSwitchReportsTheSameCycle) {
  m().ep->localDebugFlag = 1;
  cycle();
  const auto local = events;
  events.clear();
  m().ep->localDebugFlag = 0;
  globalSwitch = 1;
  cycle();
  EXPECT_EQ(events, local);
}

TEST_F(ModuleTest, NoHookCallWithBothSwitchesOff) {
  cycle();
  m().ep->globalDebugFlag = nullptr;   // a runtime that never stored its switch
  cycle();
  EXPECT_TRUE(events.empty());
}

TEST_F(ModuleTest, LocalSwitchDoesNotReadTheGlobalOne) {
  // A global switch pointer into a page that cannot be read: reading it would fault.
  const long page = sysconf(_SC_PAGESIZE);
  void* guard = mmap(nullptr, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(guard, MAP_FAILED);
  m().ep->globalDebugFlag = static_cast<uint32_t*>(guard);
  m().ep->localDebugFlag = 1;
  cycle();
  m().ep->globalDebugFlag = &globalSwitch;
  munmap(guard, page);
  EXPECT_EQ(events.front(), Enter(3, 0, 6));
}

TEST_F(ModuleTest, CallbackTurningTheGlobalSwitchOffSilencesTheRestOfTheCycle) {
  globalSwitch = 1;
  onEvent = [](const Event& e) {
    if (!e.exit && e.typeId == 28 && e.kind == 1) globalSwitch = 0;
  };
  cycle();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), Enter(28, 720, 1)) << "no event after the switch went off, not even the ExitHooks";
  EXPECT_EQ(events.front(), Enter(3, 0, 6));
}

TEST_F(ModuleTest, CallbackTurningTheGlobalSwitchOnTakesEffectAtTheNextHook) {
  m().ep->localDebugFlag = 1;
  onEvent = [this](const Event& e) {
    if (!e.exit && e.typeId == 28 && e.kind == 1) m().ep->localDebugFlag = 0;
  };
  globalSwitch = 0;
  cycle();
  EXPECT_EQ(events.back(), Enter(28, 720, 1));
}

TEST_F(ModuleTest, ExtBlockEntrySeesEnoSetAndLastCycleInputs) {
  m().ep->localDebugFlag = 1;
  bool checked = false;
  onEvent = [&](const Event& e) {
    if (!e.exit && e.typeId == 28 && e.kind == 6) {
      EXPECT_EQ(m().read<uint8_t>(748), 1);     // ENO already TRUE
      EXPECT_EQ(m().read<int16_t>(724), 0);     // In3 not yet written in the first cycle
      EXPECT_EQ(m().read<int16_t>(744), 0);     // In13 likewise
      checked = true;
    }
  };
  cycle();
  EXPECT_TRUE(checked);
}

TEST_F(ModuleTest, TempFrameHoldsThisCyclesScratchBlock) {
  auto* code = m().ep->codeDescriptor;
  volatile uint8_t marker = 0;
  cycle();
  const auto first = reinterpret_cast<uintptr_t>(code->tempFrame);
  // The scratch block lies in the cycle's stack frame: below this frame, and not far below.
  const auto here = reinterpret_cast<uintptr_t>(&marker);
  EXPECT_LT(first, here);
  EXPECT_GT(first, here - 64 * 1024);
  // A cycle run from a deeper stack publishes a new address.
  auto deeper = [&]() {
    volatile uint8_t pad[4096];
    pad[0] = 1;
    cycle();
    (void)pad[0];
  };
  deeper();
  EXPECT_NE(reinterpret_cast<uintptr_t>(code->tempFrame), first);
}

// ---- data access ----------------------------------------------------------------------------

TEST_F(ModuleTest, DataPointerChecksTheReference) {
  DataRef unbound{nullptr, 0};
  EXPECT_EQ(m().getDataPointer(&unbound), nullptr);
  EXPECT_EQ(m().getDataPointer(nullptr), nullptr);
  DataRef last{m().ep, 895}, past{m().ep, 896}, huge{m().ep, 0xFFFFFFFFu};
  EXPECT_EQ(m().getDataPointer(&last), m().ep->dataArea + 895);
  EXPECT_EQ(m().getDataPointer(&past), nullptr);
  EXPECT_EQ(m().getDataPointer(&huge), nullptr);
}

struct CopyCase {
  bool bound;
  uint32_t offset;
  uint32_t size;
  int32_t status;
};

TEST_F(ModuleTest, CopiesCheckBeforeTheyMoveAByte) {
  const CopyCase cases[] = {
      {false, 0, 1, 33},           {true, 895, 1, 0},         {true, 895, 2, 34},
      {true, 896, 0, 33},          {true, 896, 1, 33},        {true, 0xFFFFFFFFu, 1, 33},
      {true, 0, 896, 0},           {true, 0, 897, 34},        {true, 1, 0xFFFFFFFFu, 34},
      {true, 260, 0, 0},           {true, 0x80000000u, 4, 33}, {true, 0, 0, 0},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "offset " << c.offset << " size " << c.size);
    DataRef ref{c.bound ? m().ep : nullptr, c.offset};
    std::vector<uint8_t> buffer(1024, 0xEE);
    const auto before = m().snapshot();
    // get: on refusal the destination is untouched; set: on refusal the data area is untouched.
    EXPECT_EQ(m().getData(&ref, buffer.data(), c.size), c.status);
    if (c.status != 0) {
      EXPECT_EQ(buffer, std::vector<uint8_t>(1024, 0xEE));
    }
    EXPECT_EQ(m().setData(&ref, buffer.data(), c.size), c.status);
    if (c.status != 0) {
      EXPECT_EQ(m().snapshot(), before);
    }
  }
}

TEST_F(ModuleTest, CopiesMoveExactlyTheNamedBytes) {
  const uint8_t in[3] = {1, 2, 3};
  DataRef ref{m().ep, 893};
  ASSERT_EQ(m().setData(&ref, in, 3), 0);
  uint8_t out[5] = {9, 9, 9, 9, 9};
  ref.offset = 892;
  ASSERT_EQ(m().getData(&ref, out, 4), 0);
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(out[2], 2);
  EXPECT_EQ(out[3], 3);
  EXPECT_EQ(out[4], 9);
}

TEST_F(ModuleTest, NullPointersAreRefusedNotDereferenced) {
  uint8_t byte = 0;
  EXPECT_EQ(m().getData(nullptr, &byte, 1), 33);
  EXPECT_EQ(m().setData(nullptr, &byte, 1), 33);
  DataRef ref{m().ep, 10};
  const auto before = m().snapshot();
  EXPECT_EQ(m().getData(&ref, nullptr, 4), 33);
  EXPECT_EQ(m().setData(&ref, nullptr, 4), 33);
  EXPECT_EQ(m().getData(&ref, nullptr, 0), 0);
  EXPECT_EQ(m().setData(&ref, nullptr, 0), 0);
  EXPECT_EQ(m().snapshot(), before);
}

TEST_F(ModuleTest, AddressOffsetIsTheWrappedDifference) {
  const auto base = reinterpret_cast<uint32_t>(m().ep->dataArea);
  EXPECT_EQ(m().getDataAddressOffset(base + 260, m().ep), 260u);
  EXPECT_EQ(m().getDataAddressOffset(base, m().ep), 0u);
  EXPECT_EQ(m().getDataAddressOffset(base - 1, m().ep), 0xFFFFFFFFu);
  EXPECT_EQ(m().getDataAddressOffset(base - 16, m().ep), 0xFFFFFFF0u);
  EXPECT_EQ(m().getDataAddressOffset(base + 5000, m().ep), 5000u);
  EXPECT_EQ(m().getDataAddressOffset(base + 4, nullptr), 0xFFFFFFFFu);
}

TEST_F(ModuleTest, NothingIsRetained) {
  uint8_t buffer[16] = {};
  EXPECT_EQ(m().queryRetainedDataSize(m().ep), 0u);
  EXPECT_EQ(m().getRetainedData(m().ep, buffer), 0u);
  EXPECT_EQ(m().setRetainedData(m().ep, buffer), 0u);
  EXPECT_EQ(m().queryRetainedDataSize(nullptr), 0u);
}

}  // namespace
