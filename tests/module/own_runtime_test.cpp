// A host that defines the runtime's functions itself supplies its own runtime in place of ours:
// this executable exports recording versions of them, and the module must call these. It also
// shows exactly which calls the module makes into the runtime.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "loaded_module.h"
#include "abi/kx_debug.h"
#include "abi/kx_framework.h"

namespace {
struct InitCall {
  const uint8_t* table;
  uint8_t* dataArea;
  uint32_t flag;
  uint64_t initArg;
};
struct CopyCall {
  void* destination;
  const void* source;
  uint32_t size;
};
std::vector<InitCall> initCalls;
std::vector<CopyCall> copyCalls;
std::vector<std::string> calls;   // the online-change calls, in order, with their arguments
int32_t mapResult = 0;
uint32_t mapOffset = 0;
int retainCalls = 0;
std::string hex(const void* p) { return std::to_string(reinterpret_cast<uintptr_t>(p)); }
int enterCalls = 0;
int exitCalls = 0;
}  // namespace

extern "C" {
int32_t KX_CDECL KX_fr_init2(const uint8_t* table, uint8_t* dataArea, uint32_t flag, uint64_t initArg) {
  initCalls.push_back({table, dataArea, flag, initArg});
  calls.push_back("init2 " + hex(table) + " " + hex(dataArea) + " " + std::to_string(flag) + " " +
                  std::to_string(initArg));
  return 5;   // a non-zero result that the module must not pass on
}
void* KX_CDECL kx_memcpy(void* destination, const void* source, uint32_t size) {
  copyCalls.push_back({destination, source, size});
  if (size != 0) std::memcpy(destination, source, size);
  return destination;
}
int32_t KX_CDECL KX_fr_move(const uint8_t* table, const uint8_t* oldArea, uint8_t* newArea) {
  calls.push_back("move " + hex(table) + " " + hex(oldArea) + " " + hex(newArea));
  return 9;   // a failure the module does not look at
}
int32_t KX_CDECL KX_fr_mapAddress(const uint8_t* table, uint32_t oldOffset, uint32_t* newOffset) {
  calls.push_back("map " + hex(table) + " " + std::to_string(oldOffset) + " " + std::to_string(*newOffset));
  if (mapResult == 0) *newOffset = mapOffset;
  return mapResult;
}
int32_t KX_CDECL KX_fs_doesTargetVersionMatch(uint32_t selector, uint32_t target, uint32_t a, uint32_t b) {
  calls.push_back("version " + std::to_string(selector) + " " + std::to_string(target) + " " +
                  std::to_string(a) + " " + std::to_string(b));
  return 42;
}
uint32_t KX_CDECL KX_fr_QueryRetainedDataSize(uint32_t) { return ++retainCalls; }
uint32_t KX_CDECL KX_fr_GetRetainedData(uint32_t, const uint8_t*, uint8_t*) { return ++retainCalls; }
uint32_t KX_CDECL KX_fr_SetRetainedData(uint32_t, uint8_t*, const uint8_t*) { return ++retainCalls; }
int32_t KX_STDCALL KXoplck_EnterBreakpoint(int32_t, void*, int32_t, EntryPointDescriptor*) {
  ++enterCalls;
  return 0;
}
int32_t KX_STDCALL KXoplck_ExitBreakpoint(EntryPointDescriptor*) {
  ++exitCalls;
  return 0;
}
}

namespace {

class OwnRuntimeTest : public ::testing::Test {
 protected:
  static inline std::unique_ptr<LoadedModule> module;
  static void SetUpTestSuite() { module = std::make_unique<LoadedModule>(module_path()); }
  static void TearDownTestSuite() { module.reset(); }
  void SetUp() override {
    initCalls.clear();
    copyCalls.clear();
    calls.clear();
    mapResult = 0;
    mapOffset = 0;
    retainCalls = enterCalls = exitCalls = 0;
  }
  LoadedModule& m() { return *module; }
};

TEST_F(OwnRuntimeTest, StartModeZeroIsAColdStartAndOneAWarmStart) {
  EntryPointDescriptor* ep = m().ep;
  ep->initArg = 0x0123456789ABCDEFull;
  EXPECT_EQ(m().callInitFunc(ep, 0), 0);
  EXPECT_EQ(m().simpleMain(KX_MODE_INIT, 1), 0);
  for (uint32_t mode : {2u, 3u, 4u, 0x80000000u}) EXPECT_EQ(m().callInitFunc(ep, mode), 0);
  ep->initArg = 0;
  ASSERT_EQ(initCalls.size(), 2u);
  for (const InitCall& c : initCalls) {
    EXPECT_EQ(c.table, ep->codeDescriptor->initTable);
    EXPECT_EQ(c.dataArea, ep->dataArea);
    EXPECT_EQ(c.initArg, 0x0123456789ABCDEFull);
  }
  EXPECT_EQ(initCalls[0].flag, 1u);
  EXPECT_EQ(initCalls[1].flag, 0u);
}

TEST_F(OwnRuntimeTest, CopiesGoThroughTheRuntimesByteCopy) {
  uint8_t buffer[4] = {1, 2, 3, 4};
  DataRef ref{m().ep, 100};
  ASSERT_EQ(m().setData(&ref, buffer, 4), 0);
  ASSERT_EQ(m().getData(&ref, buffer, 2), 0);
  ASSERT_EQ(copyCalls.size(), 2u);
  EXPECT_EQ(copyCalls[0].destination, m().ep->dataArea + 100);
  EXPECT_EQ(copyCalls[0].source, buffer);
  EXPECT_EQ(copyCalls[0].size, 4u);
  EXPECT_EQ(copyCalls[1].destination, buffer);
  EXPECT_EQ(copyCalls[1].source, m().ep->dataArea + 100);
  EXPECT_EQ(copyCalls[1].size, 2u);
  // A refused copy does not reach the runtime at all.
  ref.offset = 895;
  EXPECT_EQ(m().getData(&ref, buffer, 2), 34);
  EXPECT_EQ(copyCalls.size(), 2u);
}

TEST_F(OwnRuntimeTest, RetainedDataExportsCallNothingInThisModule) {
  uint8_t buffer[8] = {};
  EXPECT_EQ(m().queryRetainedDataSize(m().ep), 0u);
  EXPECT_EQ(m().getRetainedData(m().ep, buffer), 0u);
  EXPECT_EQ(m().setRetainedData(m().ep, buffer), 0u);
  EXPECT_EQ(retainCalls, 0);
}

TEST_F(OwnRuntimeTest, HooksReachTheHostsOwnDebugLibrary) {
  m().ep->localDebugFlag = 1;
  ASSERT_EQ(m().simpleMain(KX_MODE_CYCLE, 0), 0);
  m().ep->localDebugFlag = 0;
  EXPECT_GT(enterCalls, 0);
  EXPECT_GT(exitCalls, 0);
}

// ---- online change ---------------------------------------------------------------------------

TEST_F(OwnRuntimeTest, ThisModuleRefusesOnlineChangeAndCallsNothing) {
  EntryPointDescriptor other{};
  other.layoutSignature = 0x4C5080A3u;
  for (EntryPointDescriptor* predecessor : {&other, m().ep, static_cast<EntryPointDescriptor*>(nullptr)}) {
    EXPECT_EQ(m().isReloadPossible(m().ep, predecessor, 0), 69);
    EXPECT_EQ(m().reInit(m().ep, predecessor, 0), 0);
  }
  DataRef ref{m().ep, 123};
  EXPECT_EQ(m().mapDataAddress(&ref, m().ep), 69);
  EXPECT_EQ(ref.descriptor, m().ep);
  EXPECT_EQ(ref.offset, 123u);
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(initCalls.empty());
}

TEST_F(OwnRuntimeTest, LoadCheckAsksTheRuntimeOnlyForSelectorOneWithATarget) {
  EXPECT_EQ(m().isLoadPossible(2, 5), 0);
  EXPECT_EQ(m().isLoadPossible(1, 0), 0);
  EXPECT_EQ(m().isLoadPossible(0, 0), 0);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(m().isLoadPossible(1, 7), 42);
  EXPECT_EQ(m().isLoadPossible(1, 0xFFFFFFFFu), 42);
  EXPECT_EQ(calls, (std::vector<std::string>{"version 1 7 1 1", "version 1 4294967295 1 1"}));
}

// A module with online-change support, built from synthetic descriptors: the decision logic holds
// for any values of the signature and the tables, not only for this module's.
struct Synthetic {
  uint8_t moveTable[4] = {4, 0, 0, 0};
  uint8_t reinitTable[4] = {4, 0, 0, 0};
  uint8_t currentArea[8] = {};
  uint8_t predecessorArea[8] = {};
  CodeDescriptor code{};
  EntryPointDescriptor current{};
  EntryPointDescriptor predecessor{};
  Synthetic(bool withMove, bool withReinit, uint32_t predecessorSignature, uint32_t layout) {
    code.moveTable = withMove ? moveTable : nullptr;
    code.reinitTable = withReinit ? reinitTable : nullptr;
    code.predecessorSignature = predecessorSignature;
    current.codeDescriptor = &code;
    current.dataArea = currentArea;
    current.dataSize = 8;
    current.initArg = 0x1122334455667788ull;
    predecessor.dataArea = predecessorArea;
    predecessor.dataSize = 8;
    predecessor.layoutSignature = layout;
  }
};

TEST_F(OwnRuntimeTest, ReloadDecisionComparesTheSignatures) {
  struct Case { bool move; bool reinit; uint32_t wanted; uint32_t layout; int32_t status; };
  const Case cases[] = {
      {true, true, 0x1234, 0x1234, 0},   {true, true, 0x1234, 0x1235, 67},
      {false, false, 0x1234, 0x1234, 0}, {true, true, 0, 0, 69},
      {true, false, 0, 0x1234, 69},      {false, true, 0x1234, 0, 67},
  };
  for (const Case& c : cases) {
    Synthetic s(c.move, c.reinit, c.wanted, c.layout);
    EXPECT_EQ(m().isReloadPossible(&s.current, &s.predecessor, 0xDEAD), c.status)
        << c.wanted << " vs " << c.layout;
  }
  EXPECT_TRUE(calls.empty());
  Synthetic s(true, true, 0x1234, 0x1234);
  EXPECT_EQ(m().isReloadPossible(&s.current, nullptr, 0), 67);
  EXPECT_EQ(m().isReloadPossible(nullptr, &s.predecessor, 0), 69);
}

TEST_F(OwnRuntimeTest, ReinitMovesFirstThenAppliesTheTableToTheCurrentArea) {
  Synthetic s(true, true, 0x1234, 0x1234);
  EXPECT_EQ(m().reInit(&s.current, &s.predecessor, 0), 0);   // the runtime's results are not used
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "move " + hex(s.moveTable) + " " + hex(s.predecessorArea) + " " + hex(s.currentArea),
                       "init2 " + hex(s.reinitTable) + " " + hex(s.currentArea) + " 1 " +
                           std::to_string(0x1122334455667788ull)}));
}

TEST_F(OwnRuntimeTest, ReinitCallsOnlyWhatTheModuleCarries) {
  {
    Synthetic s(false, true, 0x1234, 0x1234);
    EXPECT_EQ(m().reInit(&s.current, &s.predecessor, 0), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].rfind("init2 ", 0), 0u);
  }
  calls.clear();
  {
    Synthetic s(true, false, 0x1234, 0x1234);
    EXPECT_EQ(m().reInit(&s.current, &s.predecessor, 0), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].rfind("move ", 0), 0u);
  }
  calls.clear();
  {
    Synthetic s(true, true, 0x1234, 0x9999);
    EXPECT_EQ(m().reInit(&s.current, &s.predecessor, 0), 67);
    Synthetic none(true, true, 0, 0x9999);
    EXPECT_EQ(m().reInit(&none.current, &none.predecessor, 0), 0);
    EXPECT_EQ(m().reInit(&s.current, nullptr, 0), 67);
    EXPECT_TRUE(calls.empty());
  }
}

TEST_F(OwnRuntimeTest, MappingRewritesTheReferenceOnlyOnSuccess) {
  Synthetic s(true, true, 0x1234, 0x1234);
  EntryPointDescriptor old{};
  DataRef ref{&old, 260};
  mapResult = 3;
  EXPECT_EQ(m().mapDataAddress(&ref, &s.current), 65);
  EXPECT_EQ(ref.descriptor, &old);
  EXPECT_EQ(ref.offset, 260u);
  EXPECT_EQ(calls, (std::vector<std::string>{"map " + hex(s.moveTable) + " 260 0"}));

  calls.clear();
  mapResult = 0;
  mapOffset = 300;
  EXPECT_EQ(m().mapDataAddress(&ref, &s.current), 0);
  EXPECT_EQ(ref.descriptor, &s.current);
  EXPECT_EQ(ref.offset, 300u);

  // No reference to rewrite: a failure, and the runtime is not asked.
  calls.clear();
  EXPECT_EQ(m().mapDataAddress(nullptr, &s.current), 65);
  EXPECT_TRUE(calls.empty());
  Synthetic without(false, true, 0x1234, 0x1234);
  EXPECT_EQ(m().mapDataAddress(&ref, &without.current), 69);
  EXPECT_EQ(m().mapDataAddress(&ref, nullptr), 69);
  EXPECT_TRUE(calls.empty());
}

}  // namespace
