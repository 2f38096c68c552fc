// KX_fr_init2: the module's own initial-value table, cold and warm start, and tables that must be
// refused without a byte written.
#include <gmock/gmock.h>

#include <cstring>

#include "runtime_fixture.h"

using ::testing::HasSubstr;

namespace {

// The module's 68-byte initial-value table, byte for byte.
const uint8_t kModuleTable[68] = {
    0x44, 0x00, 0x00, 0x00, 0x40, 0x33, 0x33, 0xCD, 0x42, 0x02, 0x1A, 0x00, 0x20, 0x01,
    0x00, 0x02, 0x02, 0x00, 0x20, 0x0C, 0x00, 0x02, 0x04, 0x00, 0x20, 0x05, 0x00, 0x02,
    0x0C, 0x00, 0x02, 0xD6, 0x00, 0x20, 0x0A, 0x00, 0x02, 0x02, 0x00, 0x40, 0xDE, 0x34,
    0x12, 0x00, 0x02, 0xBC, 0x00, 0x40, 0x00, 0x00, 0x20, 0x41, 0x40, 0xDE, 0x34, 0x12,
    0x00, 0x04, 0x30, 0x01, 0x00, 0x22, 0x02, 0x64, 0x00, 0x02, 0x71, 0x00,
};

constexpr uint32_t kAreaSize = 896;

template <class T>
void put(std::vector<uint8_t>& bytes, size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// The data area right after the module's table was applied to an area of `fill` bytes: the ten
// initial values, and `fill` everywhere else.
std::vector<uint8_t> moduleValuesOver(uint8_t fill) {
  std::vector<uint8_t> expected(kAreaSize, fill);
  put<float>(expected, 0, 102.6f);         // LagIn
  put<int16_t>(expected, 30, 1);           // ExtIn6
  put<int16_t>(expected, 34, 12);          // ExtIn4
  put<int16_t>(expected, 40, 5);           // ExtIn5
  put<int16_t>(expected, 268, 10);         // IntRamp.Step
  put<uint32_t>(expected, 272, 1193182);   // low half of IntRamp.Period
  put<float>(expected, 464, 10.0f);        // RealRamp.Step
  put<uint32_t>(expected, 468, 1193182);   // low half of RealRamp.Period
  put<uint16_t>(expected, 776, 100);       // Blinker.OnTime
  put<uint16_t>(expected, 778, 100);       // Blinker.OffTime
  return expected;
}

class InitTableTest : public RuntimeTest {};

TEST_F(InitTableTest, ColdStartGivesTheModulesInitialValuesAndZeroElsewhere) {
  TestArea area(kAreaSize, 0xA5);
  ASSERT_EQ(area.registerIt(), 0) << lastMessage();
  ASSERT_EQ(KX_fr_init2(kModuleTable, area.data(), KXRT_INIT_COLD, 0), 0) << lastMessage();
  EXPECT_EQ(area.bytes, moduleValuesOver(0x00));
}

TEST_F(InitTableTest, WarmStartLeavesTheBytesItPassesOver) {
  TestArea area(kAreaSize, 0xA5);
  ASSERT_EQ(area.registerIt(), 0);
  ASSERT_EQ(KX_fr_init2(kModuleTable, area.data(), KXRT_INIT_WARM, 0), 0) << lastMessage();
  EXPECT_EQ(area.bytes, moduleValuesOver(0xA5));
}

TEST_F(InitTableTest, InitArgumentIsIgnored) {
  TestArea area(kAreaSize);
  ASSERT_EQ(area.registerIt(), 0);
  ASSERT_EQ(KX_fr_init2(kModuleTable, area.data(), KXRT_INIT_COLD, 0xFFFFFFFFFFFFFFFFull), 0);
  EXPECT_EQ(area.bytes, moduleValuesOver(0x00));
}

TEST_F(InitTableTest, RepeatedStoreAndSkipToExactlyTheEnd) {
  TestArea area(8, 0xEE);
  ASSERT_EQ(area.registerIt(), 0);
  // 2 bytes three times from 0, skip 1 (to 7), skip 1 more with the 24-bit form: exactly the end.
  const uint8_t table[] = {0x0F, 0, 0, 0, 0x22, 0x03, 0x34, 0x12, 0x02, 0x01, 0x00, 0x04, 0x01, 0x00, 0x00};
  ASSERT_EQ(KX_fr_init2(table, area.data(), KXRT_INIT_WARM, 0), 0) << lastMessage();
  EXPECT_EQ(area.bytes, (std::vector<uint8_t>{0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0xEE, 0xEE}));
}

TEST_F(InitTableTest, EmptyTableOnColdStartOnlyClears) {
  TestArea area(16, 0x77);
  ASSERT_EQ(area.registerIt(), 0);
  const uint8_t table[] = {0x04, 0, 0, 0};
  ASSERT_EQ(KX_fr_init2(table, area.data(), KXRT_INIT_COLD, 0), 0);
  EXPECT_EQ(area.bytes, std::vector<uint8_t>(16, 0));
}

// Flag 1 right after values were moved in is the re-initialisation of an online change, which
// keeps them; otherwise it is a cold start, which clears. The table has only standard codes.
TEST_F(InitTableTest, FlagOneKeepsMovedValuesOnlyInAnOnlineChange) {
  enum class Between { Nothing, Latch, OtherRegisters, OtherUnregisters, OwnReregisters };
  struct Case {
    const char* what;
    bool declared;     // kxrt_online_change_begin on the new area
    bool moved;        // KX_fr_move from the old area (0x77) into the new one (0xEE) before
    Between between;   // what comes between the move and the init
    uint8_t rest;      // what the new area holds outside the table's store afterwards
  };
  const Case cases[] = {
      {"declared and moved", true, true, Between::Nothing, 0x77},
      {"declared, a latch between", true, true, Between::Latch, 0x77},
      {"declared, nothing moved", true, false, Between::Nothing, 0xEE},
      {"moved just before", false, true, Between::Nothing, 0x77},
      {"moved, then a cycle: cold start", false, true, Between::Latch, 0x00},
      {"nothing moved or declared: cold start", false, false, Between::Nothing, 0x00},
      // The host registers a module's other entry points, or lets go of the old module's.
      {"moved, another entry point registered between", false, true, Between::OtherRegisters, 0x77},
      {"moved, the old entry point unregistered between", false, true, Between::OtherUnregisters, 0x77},
      {"moved, the area's own entry point registered anew: cold start", false, true, Between::OwnReregisters, 0x00},
  };
  const uint8_t reinit[] = {0x0A, 0, 0, 0, 0x02, 0x02, 0x00, 0x20, 0x34, 0x12};   // skip 2, store 2
  const uint32_t move[] = {16, 0, 0, 8};
  for (const Case& c : cases) {
    TestArea old_area(8, 0x77), area(8, 0xEE), other(8);
    ASSERT_EQ(old_area.registerIt(), 0);
    ASSERT_EQ(area.registerIt(), 0);
    if (c.declared) {
      ASSERT_EQ(kxrt_online_change_begin(&area.descriptor), 0);
    }
    if (c.moved) {
      ASSERT_EQ(KX_fr_move(reinterpret_cast<const uint8_t*>(move), old_area.data(), area.data()), 0);
    }
    switch (c.between) {
      case Between::Nothing: break;
      case Between::Latch: kxrt_clock_latch(); break;
      case Between::OtherRegisters: ASSERT_EQ(other.registerIt(), 0); break;
      case Between::OtherUnregisters: ASSERT_EQ(kxrt_unregister_entry_point(&old_area.descriptor), 0); break;
      case Between::OwnReregisters:
        ASSERT_EQ(kxrt_unregister_entry_point(&area.descriptor), 0);
        ASSERT_EQ(area.registerIt(), 0);
        break;
    }
    ASSERT_EQ(KX_fr_init2(reinit, area.data(), KXRT_INIT_COLD, 0), 0) << lastMessage();
    const uint8_t r = c.rest;
    EXPECT_EQ(area.bytes, (std::vector<uint8_t>{r, r, 0x34, 0x12, r, r, r, r})) << c.what;
    kxrt_unregister_all();
  }
}

// A seen move makes only the next init a re-initialisation; a declaration lasts until its end or
// the successor's unregistration.
TEST_F(InitTableTest, OnlineChangeEndsWithTheReinitialisationOrTheDeclaration) {
  const uint8_t empty[] = {0x04, 0, 0, 0};
  const uint32_t move[] = {16, 0, 0, 8};
  TestArea old_area(8, 0x77), area(8, 0xEE);
  ASSERT_EQ(old_area.registerIt(), 0);
  ASSERT_EQ(area.registerIt(), 0);
  auto coldStartClears = [&] {
    area.bytes.assign(8, 0xEE);
    EXPECT_EQ(KX_fr_init2(empty, area.data(), KXRT_INIT_COLD, 0), 0);
    return area.bytes == std::vector<uint8_t>(8, 0);
  };

  ASSERT_EQ(KX_fr_move(reinterpret_cast<const uint8_t*>(move), old_area.data(), area.data()), 0);
  EXPECT_FALSE(coldStartClears());
  EXPECT_TRUE(coldStartClears());

  ASSERT_EQ(kxrt_online_change_begin(&area.descriptor), 0);
  EXPECT_FALSE(coldStartClears());
  EXPECT_FALSE(coldStartClears());
  ASSERT_EQ(kxrt_online_change_end(&area.descriptor), 0);
  EXPECT_TRUE(coldStartClears());

  ASSERT_EQ(kxrt_online_change_begin(&area.descriptor), 0);
  ASSERT_EQ(kxrt_unregister_entry_point(&area.descriptor), 0);
  ASSERT_EQ(area.registerIt(), 0);
  EXPECT_TRUE(coldStartClears());

  TestArea stranger(8);
  EXPECT_EQ(kxrt_online_change_begin(&stranger.descriptor), KXRT_E_UNREGISTERED);
  EXPECT_EQ(kxrt_online_change_end(nullptr), KXRT_E_NULL);
}

struct BadTable {
  const char* name;
  std::vector<uint8_t> table;
  const char* message;   // a part of the message that the refusal must carry
  friend void PrintTo(const BadTable& b, std::ostream* os) { *os << b.name; }
};

class InitTableRefusal : public RuntimeTest, public ::testing::WithParamInterface<BadTable> {};

// Each table starts with something valid where it can, so that a refusal that comes too late
// (after applying the good part) is seen as bytes written.
TEST_P(InitTableRefusal, WritesNothingOnColdOrWarmStart) {
  const BadTable& bad = GetParam();
  for (uint32_t flag : {KXRT_INIT_COLD, KXRT_INIT_WARM}) {
    TestArea area(kAreaSize, 0x5A);
    ASSERT_EQ(area.registerIt(), 0);
    EXPECT_NE(KX_fr_init2(bad.table.data(), area.data(), flag, 0), 0);
    EXPECT_THAT(lastMessage(), HasSubstr(bad.message));
    EXPECT_EQ(area.bytes, std::vector<uint8_t>(kAreaSize, 0x5A)) << "flag " << flag;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, InitTableRefusal,
    ::testing::Values(
        BadTable{"UnknownCode", {0x0A, 0, 0, 0, 0x20, 0x11, 0x22, 0x30, 0x00, 0x00}, "unknown code 0x30"},
        BadTable{"RetiredCodeOne", {0x08, 0, 0, 0, 0x20, 0x11, 0x22, 0x01}, "unknown code 0x01"},
        BadTable{"UnknownCodeZero", {0x08, 0, 0, 0, 0x20, 0x11, 0x22, 0x00}, "unknown code 0x00"},
        BadTable{"StoreFourCutOff", {0x0A, 0, 0, 0, 0x20, 0x11, 0x22, 0x40, 0x01, 0x02}, "cut off"},
        BadTable{"StoreTwoCutOff", {0x09, 0, 0, 0, 0x20, 0x11, 0x22, 0x20, 0x01}, "cut off"},
        BadTable{"RepeatWithoutValue", {0x0A, 0, 0, 0, 0x20, 0x11, 0x22, 0x22, 0x02, 0x01}, "cut off"},
        BadTable{"RepeatWithoutCount", {0x08, 0, 0, 0, 0x20, 0x11, 0x22, 0x22}, "cut off"},
        BadTable{"Skip24CutOff", {0x0A, 0, 0, 0, 0x20, 0x11, 0x22, 0x04, 0x01, 0x00}, "cut off"},
        BadTable{"Skip16CutOff", {0x09, 0, 0, 0, 0x20, 0x11, 0x22, 0x02, 0x01}, "cut off"},
        // 896 = 0x380: from cursor 2, a skip of 895 passes the end
        BadTable{"SkipPastTheEnd", {0x0A, 0, 0, 0, 0x20, 0x11, 0x22, 0x02, 0x7F, 0x03}, "past the data area's end"},
        BadTable{"Skip24PastTheEnd", {0x0B, 0, 0, 0, 0x20, 0x11, 0x22, 0x04, 0x00, 0x00, 0x01}, "past the data area's end"},
        // skip to 896 exactly (allowed), then a store there
        BadTable{"StoreAtTheEnd", {0x0A, 0, 0, 0, 0x02, 0x80, 0x03, 0x20, 0x01, 0x00}, "past the data area's end"},
        // skip to 894, then a 4-byte store
        BadTable{"StoreFourOverTheEnd", {0x0C, 0, 0, 0, 0x02, 0x7E, 0x03, 0x40, 1, 2, 3, 4}, "past the data area's end"},
        // skip to 892, then 2 bytes three times (6 bytes, 2 past)
        BadTable{"RepeatOverTheEnd", {0x0B, 0, 0, 0, 0x02, 0x7C, 0x03, 0x22, 0x03, 0x01, 0x02}, "past the data area's end"},
        BadTable{"LengthZero", {0x00, 0, 0, 0, 0x20, 0x11, 0x22}, "table length 0"},
        BadTable{"LengthThree", {0x03, 0, 0, 0, 0x20, 0x11, 0x22}, "table length 3"},
        // 4 + 5 x 896 = 4484 is the most a table for 896 bytes may claim
        BadTable{"LengthImplausible", {0x85, 0x11, 0, 0, 0x20, 0x11, 0x22}, "table length 4485"},
        BadTable{"LengthHuge", {0xFF, 0xFF, 0xFF, 0xFF, 0x20, 0x11, 0x22}, "table length 4294967295"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InitTableTest, ModuleTableDoesNotFitASmallerArea) {
  // The table's cursor ends at 893: a registered area of 892 bytes is too small for it.
  TestArea area(892, 0x5A);
  ASSERT_EQ(area.registerIt(), 0);
  EXPECT_EQ(KX_fr_init2(kModuleTable, area.data(), KXRT_INIT_COLD, 0), KXRT_E_RANGE);
  EXPECT_THAT(lastMessage(), HasSubstr("table byte 65"));
  EXPECT_EQ(area.bytes, std::vector<uint8_t>(892, 0x5A));
}

TEST_F(InitTableTest, UnregisteredAreaIsRefused) {
  TestArea area(kAreaSize, 0x5A);
  EXPECT_EQ(KX_fr_init2(kModuleTable, area.data(), KXRT_INIT_COLD, 0), KXRT_E_UNREGISTERED);
  EXPECT_THAT(lastMessage(), HasSubstr("not registered"));
  EXPECT_EQ(area.bytes, std::vector<uint8_t>(kAreaSize, 0x5A));

  // Nor is a pointer into a registered area taken for that area.
  ASSERT_EQ(area.registerIt(), 0);
  EXPECT_EQ(KX_fr_init2(kModuleTable, area.data() + 4, KXRT_INIT_COLD, 0), KXRT_E_UNREGISTERED);
  ASSERT_EQ(kxrt_unregister_entry_point(&area.descriptor), 0);
  EXPECT_EQ(KX_fr_init2(kModuleTable, area.data(), KXRT_INIT_COLD, 0), KXRT_E_UNREGISTERED);
  EXPECT_EQ(area.bytes, std::vector<uint8_t>(kAreaSize, 0x5A));
}

TEST_F(InitTableTest, NullTableNullAreaAndUnknownFlagAreRefused) {
  TestArea area(kAreaSize, 0x5A);
  ASSERT_EQ(area.registerIt(), 0);
  EXPECT_EQ(KX_fr_init2(nullptr, area.data(), KXRT_INIT_COLD, 0), KXRT_E_NULL);
  EXPECT_EQ(KX_fr_init2(kModuleTable, nullptr, KXRT_INIT_COLD, 0), KXRT_E_UNREGISTERED);
  EXPECT_EQ(KX_fr_init2(kModuleTable, area.data(), 2, 0), KXRT_E_ARGUMENT);
  EXPECT_THAT(lastMessage(), HasSubstr("flag 2"));
  EXPECT_EQ(area.bytes, std::vector<uint8_t>(kAreaSize, 0x5A));
}

TEST_F(InitTableTest, RegistrationRules) {
  TestArea a(64), b(64);
  EntryPointDescriptor none{};
  EXPECT_EQ(kxrt_register_entry_point(nullptr), KXRT_E_NULL);
  EXPECT_EQ(kxrt_register_entry_point(&none), KXRT_E_NULL);
  none.dataArea = a.data();
  EXPECT_EQ(kxrt_register_entry_point(&none), KXRT_E_ARGUMENT);   // size 0
  ASSERT_EQ(a.registerIt(), 0);

  // A second entry point on the very same area is fine; one on part of it is not.
  EntryPointDescriptor same = a.descriptor, part = a.descriptor;
  EXPECT_EQ(kxrt_register_entry_point(&same), 0);
  part.dataArea = a.data() + 8;
  part.dataSize = 8;
  EXPECT_EQ(kxrt_register_entry_point(&part), KXRT_E_CONFLICT);
  EXPECT_THAT(lastMessage(), HasSubstr("overlaps"));

  // Registering a descriptor again replaces its area.
  ASSERT_EQ(b.registerIt(), 0);
  b.descriptor.dataSize = 32;
  ASSERT_EQ(b.registerIt(), 0);
  const uint8_t fill40[] = {0x0A, 0, 0, 0, 0x02, 40, 0, 0x20, 1, 2};   // store at 40
  EXPECT_EQ(KX_fr_init2(fill40, b.data(), KXRT_INIT_WARM, 0), KXRT_E_RANGE);

  EXPECT_EQ(kxrt_unregister_entry_point(&part), KXRT_E_UNREGISTERED);
}

}  // namespace
