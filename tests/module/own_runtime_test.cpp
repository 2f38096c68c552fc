// A host that defines the runtime's functions itself supplies its own runtime in place of ours:
// this executable exports recording versions of them, and the module must call these. It also
// shows exactly which calls the module makes into the runtime.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "loaded_module.h"
#include "runtime/kx_debug.h"
#include "runtime/kx_framework.h"

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
int retainCalls = 0;
int enterCalls = 0;
int exitCalls = 0;
}  // namespace

extern "C" {
int32_t KX_CDECL KX_fr_init2(const uint8_t* table, uint8_t* dataArea, uint32_t flag, uint64_t initArg) {
  initCalls.push_back({table, dataArea, flag, initArg});
  return 5;   // a non-zero result that the module must not pass on
}
void* KX_CDECL kx_memcpy(void* destination, const void* source, uint32_t size) {
  copyCalls.push_back({destination, source, size});
  if (size != 0) std::memcpy(destination, source, size);
  return destination;
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
    retainCalls = enterCalls = exitCalls = 0;
  }
  LoadedModule& m() { return *module; }
};

TEST_F(OwnRuntimeTest, StartModeZeroIsAColdStartAndOneAWarmStart) {
  EntryPointDescriptor* ep = m().ep;
  ep->initArg = 0x0123456789ABCDEFull;
  EXPECT_EQ(m().CallInitFunc(ep, 0), 0);
  EXPECT_EQ(m().SimpleMain(KX_MODE_INIT, 1), 0);
  for (uint32_t mode : {2u, 3u, 4u, 0x80000000u}) EXPECT_EQ(m().CallInitFunc(ep, mode), 0);
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
  ASSERT_EQ(m().SimpleMain(KX_MODE_CYCLE, 0), 0);
  m().ep->localDebugFlag = 0;
  EXPECT_GT(enterCalls, 0);
  EXPECT_GT(exitCalls, 0);
}

}  // namespace
