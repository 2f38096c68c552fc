// Move table (KX_fr_move, KX_fr_mapAddress) and retained-data description (KX_fr_*RetainedData):
// in-range tables do what they say, and every faulty one is refused before a byte moves.
#include <gmock/gmock.h>

#include <numeric>

#include "runtime_fixture.h"

using ::testing::HasSubstr;

namespace {

// A table of u32 values; the first, the length in bytes, is filled in (unless given).
std::vector<uint32_t> table(std::vector<uint32_t> records, std::optional<uint32_t> length = {}) {
  records.insert(records.begin(), length.value_or(4 + 4 * static_cast<uint32_t>(records.size())));
  return records;
}
const uint8_t* bytes(const std::vector<uint32_t>& t) { return reinterpret_cast<const uint8_t*>(t.data()); }

// 0, 1, 2, ... n-1 (mod 256)
std::vector<uint8_t> counting(size_t n, uint8_t from = 0) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), from);
  return v;
}

class MoveTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    std::iota(old_area.bytes.begin(), old_area.bytes.end(), uint8_t{0});
    ASSERT_EQ(old_area.registerIt(), 0);
    ASSERT_EQ(new_area.registerIt(), 0);
  }
  TestArea old_area{64};
  TestArea new_area{96, 0xEE};
};

TEST_F(MoveTest, MovesEachEntryAndLeavesTheRest) {
  // old 0..3 -> new 8..11, old 60..63 -> new 92..95, old 4..5 -> new 40..41, an empty entry
  const auto t = table({0, 8, 4, 60, 92, 4, 4, 40, 2, 30, 30, 0});
  ASSERT_EQ(KX_fr_move(bytes(t), old_area.data(), new_area.data()), 0) << lastMessage();
  std::vector<uint8_t> expected(96, 0xEE);
  for (uint8_t i = 0; i < 4; ++i) expected[8 + i] = i, expected[92 + i] = 60 + i;
  expected[40] = 4, expected[41] = 5;
  EXPECT_EQ(new_area.bytes, expected);
  EXPECT_EQ(old_area.bytes, counting(64));
}

TEST_F(MoveTest, EmptyTableMovesNothing) {
  const auto t = table({});
  EXPECT_EQ(KX_fr_move(bytes(t), old_area.data(), new_area.data()), 0);
  EXPECT_EQ(new_area.bytes, std::vector<uint8_t>(96, 0xEE));
}

struct BadMove {
  const char* name;
  std::vector<uint32_t> table;
  int32_t status;
  const char* message;
  friend void PrintTo(const BadMove& b, std::ostream* os) { *os << b.name; }
};

class MoveRefusal : public MoveTest, public ::testing::WithParamInterface<BadMove> {};

// The first entry of each table is good: a refusal must come before it is applied.
TEST_P(MoveRefusal, MovesNothingAndMapsNothing) {
  const BadMove& bad = GetParam();
  EXPECT_EQ(KX_fr_move(bytes(bad.table), old_area.data(), new_area.data()), bad.status);
  EXPECT_THAT(lastMessage(), HasSubstr(bad.message));
  EXPECT_EQ(new_area.bytes, std::vector<uint8_t>(96, 0xEE));
  if (bad.status == KXRT_E_MALFORMED) {
    uint32_t mapped = 12345;
    EXPECT_EQ(KX_fr_mapAddress(bytes(bad.table), 0, &mapped), KXRT_E_MALFORMED);
    EXPECT_EQ(mapped, 12345u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faulty, MoveRefusal,
    ::testing::Values(
        BadMove{"OldRangePastEnd", table({0, 0, 4, 62, 0, 4}), KXRT_E_RANGE, "entry 1"},
        BadMove{"OldOffsetAtEnd", table({0, 0, 4, 64, 0, 1}), KXRT_E_RANGE, "entry 1"},
        BadMove{"NewRangePastEnd", table({0, 0, 4, 0, 93, 4}), KXRT_E_RANGE, "entry 1"},
        BadMove{"HugeSize", table({0, 0, 4, 0, 0, 0xFFFFFFFF}), KXRT_E_RANGE, "entry 1"},
        BadMove{"WrapsTheOffsets", table({0, 0, 4, 0xFFFFFFF0, 0, 0x20}), KXRT_E_MALFORMED, "wraps"},
        BadMove{"LengthNotWholeEntries", table({0, 0, 4, 1}), KXRT_E_MALFORMED, "table length 20"},
        BadMove{"LengthBelowFour", table({0, 0, 4}, 3), KXRT_E_MALFORMED, "table length 3"},
        BadMove{"LengthImplausible", table({0, 0, 4}, 4 + 12 * 65537), KXRT_E_MALFORMED, "table length"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MoveTest, AreasMustBeRegistered) {
  const auto t = table({0, 0, 4});
  TestArea stranger(96, 0xEE);
  EXPECT_EQ(KX_fr_move(bytes(t), stranger.data(), new_area.data()), KXRT_E_UNREGISTERED);
  EXPECT_THAT(lastMessage(), HasSubstr("old data area"));
  EXPECT_EQ(KX_fr_move(bytes(t), old_area.data(), stranger.data()), KXRT_E_UNREGISTERED);
  EXPECT_THAT(lastMessage(), HasSubstr("new data area"));
  EXPECT_EQ(KX_fr_move(nullptr, old_area.data(), new_area.data()), KXRT_E_NULL);
  EXPECT_EQ(stranger.bytes, std::vector<uint8_t>(96, 0xEE));
  EXPECT_EQ(new_area.bytes, std::vector<uint8_t>(96, 0xEE));
}

TEST_F(MoveTest, WithinOneAreaEveryEntryReadsTheOldValues) {
  // Swap bytes 0..3 with 4..7 and shift 8..15 up by 2: in place, in the old area itself.
  const auto t = table({0, 4, 4, 4, 0, 4, 8, 10, 8});
  ASSERT_EQ(KX_fr_move(bytes(t), old_area.data(), old_area.data()), 0) << lastMessage();
  const std::vector<uint8_t> head(old_area.bytes.begin(), old_area.bytes.begin() + 20);
  EXPECT_EQ(head, (std::vector<uint8_t>{4, 5, 6, 7, 0, 1, 2, 3, 8, 9, 8, 9, 10, 11, 12, 13, 14, 15, 18, 19}));
}

TEST_F(MoveTest, MapsAnOffsetToTheSamePlaceInTheNewRange) {
  const auto t = table({0, 8, 4, 4, 40, 2, 6, 50, 0, 20, 90, 6});
  struct Row { uint32_t old_offset; bool found; uint32_t new_offset; };
  const Row rows[] = {
      {0, true, 8}, {3, true, 11}, {4, true, 40}, {5, true, 41},
      {6, false, 0},                     // only the empty entry starts there
      {19, false, 0}, {20, true, 90}, {25, true, 95}, {26, false, 0}, {0xFFFFFFFF, false, 0},
  };
  for (const Row& r : rows) {
    uint32_t mapped = 777;
    const int32_t status = KX_fr_mapAddress(bytes(t), r.old_offset, &mapped);
    EXPECT_EQ(status == 0, r.found) << r.old_offset;
    EXPECT_EQ(mapped, r.found ? r.new_offset : 777u) << r.old_offset;
    if (!r.found) {
      EXPECT_THAT(lastMessage(), HasSubstr("no entry holds old offset"));
    }
  }
  EXPECT_EQ(KX_fr_mapAddress(bytes(t), 0, nullptr), KXRT_E_NULL);
  uint32_t mapped = 777;
  EXPECT_EQ(KX_fr_mapAddress(nullptr, 0, &mapped), KXRT_E_NULL);
  EXPECT_EQ(mapped, 777u);
}

class RetainTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    std::iota(area.bytes.begin(), area.bytes.end(), uint8_t{100});
    ASSERT_EQ(area.registerIt(), 0);
  }
  TestArea area{32};
};

TEST_F(RetainTest, GathersAndScattersTheEntriesInOrder) {
  // bytes 10..12, then 2..3, then nothing, then 31
  const auto d = table({10, 3, 2, 2, 5, 0, 31, 1});
  EXPECT_EQ(KX_fr_QueryRetainedDataSize(handleOf(d.data())), 6u);

  std::vector<uint8_t> buffer(6, 0);
  ASSERT_EQ(KX_fr_GetRetainedData(handleOf(d.data()), area.data(), buffer.data()), 0u) << lastMessage();
  EXPECT_EQ(buffer, (std::vector<uint8_t>{110, 111, 112, 102, 103, 131}));

  const std::vector<uint8_t> saved = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(KX_fr_SetRetainedData(handleOf(d.data()), area.data(), saved.data()), 0u);
  std::vector<uint8_t> expected = counting(32, 100);
  expected[10] = 1, expected[11] = 2, expected[12] = 3, expected[2] = 4, expected[3] = 5, expected[31] = 6;
  EXPECT_EQ(area.bytes, expected);
}

TEST_F(RetainTest, NothingRetained) {
  const auto d = table({});
  EXPECT_EQ(KX_fr_QueryRetainedDataSize(handleOf(d.data())), 0u);
  EXPECT_EQ(KX_fr_GetRetainedData(handleOf(d.data()), area.data(), nullptr), 0u);
  EXPECT_EQ(KX_fr_SetRetainedData(handleOf(d.data()), area.data(), nullptr), 0u);
  EXPECT_EQ(KX_fr_QueryRetainedDataSize(0), 0u);
}

TEST_F(RetainTest, FaultyDescriptionsAndAreasAreRefusedWithNothingCopied) {
  const auto outside = table({0, 4, 30, 3});        // 30..32 runs past the 32-byte area
  const auto wraps = table({0, 4, 0xFFFFFFFF, 2});
  const auto ragged = table({0, 4, 8});
  const auto huge_sum = table({0, 0x80000000, 0, 0x80000000});
  const auto good = table({0, 4});
  TestArea stranger(32);

  struct Row { const char* name; uint32_t handle; uint8_t* data_area; int32_t status; };
  const Row rows[] = {
      {"outside", handleOf(outside.data()), area.data(), KXRT_E_RANGE},
      {"wraps", handleOf(wraps.data()), area.data(), KXRT_E_RANGE},
      {"ragged", handleOf(ragged.data()), area.data(), KXRT_E_MALFORMED},
      {"huge sum", handleOf(huge_sum.data()), area.data(), KXRT_E_MALFORMED},
      {"handle 0", 0, area.data(), KXRT_E_NULL},
      {"unregistered", handleOf(good.data()), stranger.data(), KXRT_E_UNREGISTERED},
  };
  for (const Row& r : rows) {
    std::vector<uint8_t> buffer(8, 0x55);
    EXPECT_EQ(KX_fr_GetRetainedData(r.handle, r.data_area, buffer.data()), uint32_t(r.status)) << r.name;
    EXPECT_EQ(buffer, std::vector<uint8_t>(8, 0x55)) << r.name;
    EXPECT_EQ(KX_fr_SetRetainedData(r.handle, r.data_area, buffer.data()), uint32_t(r.status)) << r.name;
    EXPECT_EQ(area.bytes, counting(32, 100)) << r.name;
    EXPECT_EQ(stranger.bytes, std::vector<uint8_t>(32, 0)) << r.name;
  }
  EXPECT_EQ(KX_fr_QueryRetainedDataSize(handleOf(ragged.data())), 0u);
  EXPECT_EQ(KX_fr_QueryRetainedDataSize(handleOf(huge_sum.data())), 0u);
  EXPECT_EQ(KX_fr_GetRetainedData(handleOf(good.data()), area.data(), nullptr), uint32_t{KXRT_E_NULL});
}

}  // namespace
