// Common ground of the runtime-library tests: a fixture that starts every test from a clean
// runtime (no registered entry points, simulated clock at 0, no handler, no error information),
// and a data area registered through an entry-point descriptor, as a host registers one.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kxrt.h"
#include "abi/descriptors.h"

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kxrt_unregister_all();
    ASSERT_EQ(kxrt_clock_select(KXRT_CLOCK_SIMULATED), 0);
    kxdbg_set_handler(nullptr, nullptr, nullptr);
    kxdbg_begin_cycle();
  }
  void TearDown() override {
    kxrt_unregister_all();
    kxdbg_set_handler(nullptr, nullptr, nullptr);
  }
};

// A data area of `size` bytes, all `fill`, owned by an entry-point descriptor.
class TestArea {
 public:
  explicit TestArea(uint32_t size, uint8_t fill = 0) : bytes(size, fill) {
    descriptor.size = sizeof(EntryPointDescriptor);
    descriptor.dataArea = bytes.data();
    descriptor.dataSize = size;
  }
  TestArea(const TestArea&) = delete;
  TestArea& operator=(const TestArea&) = delete;

  int32_t registerIt() { return kxrt_register_entry_point(&descriptor); }
  uint8_t* data() { return bytes.data(); }

  std::vector<uint8_t> bytes;
  EntryPointDescriptor descriptor{};
};

// The retained-data handle or any other table address as the 32-bit value the module passes.
inline uint32_t handleOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

inline std::string lastMessage() { return kxrt_last_message(); }
