// The host's symbol table against the module's own records: every name at the offset, size and
// type that the compiled data area gives it, and nothing else in the table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/data_area.h"
#include "softplc/core/symbols.h"

using softplc::ValueType;

namespace {

template <class T>
constexpr ValueType type_of();
template <>
constexpr ValueType type_of<KX_BOOL>() { return ValueType::Bool; }
template <>
constexpr ValueType type_of<KX_INT>() { return ValueType::Int; }
template <>
constexpr ValueType type_of<KX_UINT>() { return ValueType::Uint; }
template <>
constexpr ValueType type_of<KX_REAL>() { return ValueType::Real; }
template <>
constexpr ValueType type_of<KX_TIME>() { return ValueType::Time; }

struct Expected {
  std::string name;
  std::size_t offset;
  std::size_t size;
  ValueType type;
};

#define FIELD_TYPE(path) std::remove_cvref_t<decltype(std::declval<DataArea&>().path)>
#define VAR(path) Expected{#path, offsetof(DataArea, path), sizeof(FIELD_TYPE(path)), type_of<FIELD_TYPE(path)>()}
#define TIMER(path) VAR(path.IN), VAR(path.PT), VAR(path.Q), VAR(path.ET)
#define EDGE(path) VAR(path.CLK), VAR(path.Q), VAR(path.M)

const std::vector<Expected>& expected_variables() {
  static const std::vector<Expected> all = {
      VAR(LagIn), VAR(LagResetCmd), VAR(LagOut), VAR(IntRampEnable), VAR(IntRampReset), VAR(IntRampReached),
      VAR(IntRampOut), VAR(RealRampOut), VAR(RealRampEnable), VAR(RealRampReset), VAR(RealRampReached),
      VAR(ExtIn1), VAR(ExtIn6), VAR(ExtIn12), VAR(ExtOut2), VAR(ExtIn4), VAR(ExtOut3), VAR(ExtIn11),
      VAR(ExtIn5), VAR(ExtOut1), VAR(ExtOut5), VAR(ExtOut4), VAR(ExtIn2), VAR(ExtIn8), VAR(BlinkQ),

      VAR(LagFilter.In), VAR(LagFilter.Gain), VAR(LagFilter.T1), VAR(LagFilter.Reset), VAR(LagFilter.ENO),
      VAR(LagFilter.Out), VAR(LagFilter.QuotientENO), VAR(LagFilter.Quotient), VAR(LagFilter.InCopyENO),
      VAR(LagFilter.InCopy), VAR(LagFilter.DeltaSecENO), VAR(LagFilter.DeltaSec), VAR(LagFilter.T1SecENO),
      VAR(LagFilter.T1Sec), VAR(LagFilter.YCopyENO), VAR(LagFilter.YCopy), VAR(LagFilter.LastET),
      VAR(LagFilter.YSelENO), VAR(LagFilter.YSel), VAR(LagFilter.CopyENO), VAR(LagFilter.EtCopy),
      TIMER(LagFilter.Clock), VAR(LagFilter.GainedENO), VAR(LagFilter.Gained), VAR(LagFilter.WeightedENO),
      VAR(LagFilter.Weighted), VAR(LagFilter.DeltaENO), VAR(LagFilter.DeltaET), VAR(LagFilter.PrevY),
      VAR(LagFilter.NumeratorENO), VAR(LagFilter.Numerator), VAR(LagFilter.RatioENO), VAR(LagFilter.Ratio),
      VAR(LagFilter.Delta), VAR(LagFilter.Y), VAR(LagFilter.DenominatorENO), VAR(LagFilter.Denominator),
      VAR(LagFilter.OutSel),

      EDGE(LagResetEdge),

      VAR(IntRamp.Enable), VAR(IntRamp.Start), VAR(IntRamp.Target), VAR(IntRamp.Reset), VAR(IntRamp.Step),
      VAR(IntRamp.Period), VAR(IntRamp.ENO), VAR(IntRamp.Out), VAR(IntRamp.Reached), VAR(IntRamp.LastET),
      VAR(IntRamp.IntValue), VAR(IntRamp.PeriodSec), VAR(IntRamp.JumpSel), VAR(IntRamp.UpLimited),
      VAR(IntRamp.CopyENO), VAR(IntRamp.EtCopy), VAR(IntRamp.UpSel), VAR(IntRamp.DownSel),
      VAR(IntRamp.PeriodZero), VAR(IntRamp.NewValue), VAR(IntRamp.Increment), VAR(IntRamp.Value),
      VAR(IntRamp.UpActive), VAR(IntRamp.Rate), VAR(IntRamp.DeltaENO), VAR(IntRamp.DeltaET),
      VAR(IntRamp.StartGtTarget), TIMER(IntRamp.Clock), VAR(IntRamp.DeltaSec), VAR(IntRamp.StartReal),
      VAR(IntRamp.AbsStepReal), VAR(IntRamp.AtTarget), VAR(IntRamp.TargetReal), VAR(IntRamp.JumpActive),
      VAR(IntRamp.DownActive), VAR(IntRamp.DownCandidate), VAR(IntRamp.AbsStep), VAR(IntRamp.StartLtTarget),
      VAR(IntRamp.DownLimited), VAR(IntRamp.UpCandidate),

      VAR(RealRamp.Enable), VAR(RealRamp.Start), VAR(RealRamp.Target), VAR(RealRamp.Reset), VAR(RealRamp.Step),
      VAR(RealRamp.Period), VAR(RealRamp.ENO), VAR(RealRamp.Out), VAR(RealRamp.Reached), VAR(RealRamp.PeriodSec),
      VAR(RealRamp.JumpSel), VAR(RealRamp.UpLimited), VAR(RealRamp.CopyENO), VAR(RealRamp.EtCopy),
      VAR(RealRamp.UpSel), VAR(RealRamp.DownSel), VAR(RealRamp.PeriodZero), VAR(RealRamp.NewValue),
      VAR(RealRamp.Increment), VAR(RealRamp.UpActive), VAR(RealRamp.Rate), VAR(RealRamp.DeltaENO),
      VAR(RealRamp.DeltaET), TIMER(RealRamp.Clock), VAR(RealRamp.StartGtTarget), VAR(RealRamp.DeltaSec),
      VAR(RealRamp.AtTarget), VAR(RealRamp.JumpActive), VAR(RealRamp.DownActive), VAR(RealRamp.DownCandidate),
      VAR(RealRamp.AbsStep), VAR(RealRamp.StartLtTarget), VAR(RealRamp.LastET), VAR(RealRamp.DownLimited),
      VAR(RealRamp.UpCandidate),

      VAR(Ext1.In1), VAR(Ext1.In2), VAR(Ext1.In3), VAR(Ext1.In4), VAR(Ext1.In5), VAR(Ext1.In6), VAR(Ext1.In7),
      VAR(Ext1.In8), VAR(Ext1.In9), VAR(Ext1.In10), VAR(Ext1.In11), VAR(Ext1.In12), VAR(Ext1.In13),
      VAR(Ext1.ENO), VAR(Ext1.Out1), VAR(Ext1.Out2), VAR(Ext1.Out3), VAR(Ext1.Out4), VAR(Ext1.Out5),

      VAR(Blinker.OnTime), VAR(Blinker.OffTime), VAR(Blinker.ENO), VAR(Blinker.Q), VAR(Blinker.Toggle),
      TIMER(Blinker.OffTimer), VAR(Blinker.OffTimeConv), VAR(Blinker.OnTimeConv), VAR(Blinker.OffTimePT),
      TIMER(Blinker.OnTimer), VAR(Blinker.OnTimePT), VAR(Blinker.NotQ), VAR(Blinker.ToggleXor),
      EDGE(Blinker.QEdge),
  };
  return all;
}

struct ExpectedRecord {
  std::string name;
  std::size_t offset;
  std::size_t size;
  int32_t typeId;
};

#define RECORD(path, id) ExpectedRecord{#path, offsetof(DataArea, path), sizeof(FIELD_TYPE(path)), id}

TEST(SymbolTable, EveryVariableLiesWhereTheModuleHasIt) {
  for (const Expected& want : expected_variables()) {
    SCOPED_TRACE(want.name);
    auto found = softplc::find_symbol(want.name);
    ASSERT_TRUE(found.ok()) << found.error().message;
    const softplc::Symbol& symbol = **found;
    EXPECT_EQ(symbol.name, want.name);
    EXPECT_EQ(symbol.offset, want.offset);
    EXPECT_EQ(symbol.size(), want.size);
    EXPECT_EQ(symbol.type, want.type);
  }
}

TEST(SymbolTable, HoldsNoOtherVariables) {
  std::set<std::string> wanted;
  for (const Expected& want : expected_variables()) wanted.insert(want.name);
  EXPECT_EQ(softplc::symbols().size(), expected_variables().size());
  for (const softplc::Symbol& symbol : softplc::symbols()) EXPECT_TRUE(wanted.count(symbol.name)) << symbol.name;
}

TEST(SymbolTable, VariablesDoNotOverlapAndStayInsideTheDataArea) {
  std::vector<const softplc::Symbol*> sorted;
  for (const softplc::Symbol& symbol : softplc::symbols()) sorted.push_back(&symbol);
  std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->offset < b->offset; });
  for (std::size_t i = 0; i + 1 < sorted.size(); ++i) {
    EXPECT_LE(sorted[i]->offset + sorted[i]->size(), sorted[i + 1]->offset)
        << sorted[i]->name << " overlaps " << sorted[i + 1]->name;
  }
  ASSERT_FALSE(sorted.empty());
  EXPECT_LE(sorted.back()->offset + sorted.back()->size(), sizeof(DataArea));
}

TEST(SymbolTable, ProgramVariablesAreCompleteAndInOffsetOrder) {
  const std::vector<std::string> want = {
      "LagIn",   "LagResetCmd", "LagOut",  "IntRampEnable", "IntRampReset", "IntRampReached", "IntRampOut",
      "RealRampOut", "RealRampEnable", "RealRampReset", "RealRampReached", "ExtIn1", "ExtIn6", "ExtIn12",
      "ExtOut2", "ExtIn4", "ExtOut3", "ExtIn11", "ExtIn5", "ExtOut1", "ExtOut5", "ExtOut4", "ExtIn2",
      "ExtIn8",  "BlinkQ"};
  std::vector<std::string> got;
  for (const softplc::Symbol* symbol : softplc::program_variables()) got.push_back(symbol->name);
  EXPECT_EQ(got, want);
}

TEST(SymbolTable, RecordsLieWhereTheModuleHasThem) {
  const std::vector<ExpectedRecord> want = {
      RECORD(LagFilter, 4),       RECORD(LagFilter.Clock, 10),   RECORD(LagResetEdge, 13),
      RECORD(IntRamp, 14),        RECORD(IntRamp.Clock, 10),     RECORD(RealRamp, 24),
      RECORD(RealRamp.Clock, 10), RECORD(Ext1, 28),              RECORD(Blinker, 29),
      RECORD(Blinker.OffTimer, 10), RECORD(Blinker.OnTimer, 32), RECORD(Blinker.QEdge, 13),
  };
  ASSERT_EQ(softplc::records().size(), want.size());
  for (const ExpectedRecord& record : want) {
    SCOPED_TRACE(record.name);
    auto it = std::find_if(softplc::records().begin(), softplc::records().end(),
                           [&](const softplc::Record& r) { return r.name == record.name; });
    ASSERT_NE(it, softplc::records().end());
    EXPECT_EQ(it->offset, record.offset);
    EXPECT_EQ(it->size, record.size);
    EXPECT_EQ(it->typeId, record.typeId);
  }
}

TEST(SymbolTable, NamesMatchInAnyCase) {
  const std::pair<const char*, const char*> cases[] = {
      {"lagin", "LagIn"}, {"EXTIN4", "ExtIn4"}, {"ext1.in1", "Ext1.In1"},
      {"intramp.clock.et", "IntRamp.Clock.ET"}, {"BLINKER.OFFTIMER.Q", "Blinker.OffTimer.Q"},
  };
  for (const auto& [query, name] : cases) {
    auto found = softplc::find_symbol(query);
    ASSERT_TRUE(found.ok()) << query;
    EXPECT_EQ((*found)->name, name);
  }
}

TEST(SymbolTable, UnknownNamesSuggestTheClosestOnes) {
  struct Case {
    const char* query;
    const char* suggested;   // must appear in the message ("" = no suggestion expected)
  };
  const Case cases[] = {
      {"LagInn", "LagIn"},
      {"IntRampEnabel", "IntRampEnable"},
      {"Out1", "Ext1.Out1"},
      {"Blinker.OfTime", "Blinker.OffTime"},
      {"Kettle", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    auto found = softplc::find_symbol(c.query);
    ASSERT_FALSE(found.ok());
    EXPECT_EQ(found.error().kind, softplc::ErrorKind::usage);
    const std::string& message = found.error().message;
    EXPECT_NE(message.find(std::string("unknown variable '") + c.query + "'"), std::string::npos) << message;
    if (*c.suggested != '\0') {
      EXPECT_NE(message.find("did you mean"), std::string::npos) << message;
      EXPECT_NE(message.find(c.suggested), std::string::npos) << message;
    } else {
      EXPECT_EQ(message.find("did you mean"), std::string::npos) << message;
    }
  }
  // An instance is not a variable; the message says so.
  auto instance = softplc::find_symbol("intramp");
  ASSERT_FALSE(instance.ok());
  EXPECT_NE(instance.error().message.find("block instance"), std::string::npos);
}

TEST(SymbolTable, EventAddressesNameTheirInstanceOrVariable) {
  struct Case {
    int32_t typeId;
    uint32_t offset;
    const char* name;
  };
  const Case cases[] = {
      {3, 0, ""},                       // the program reports the data area, not LagIn
      {4, 56, "LagFilter"},
      {13, 256, "LagResetEdge"},
      {14, 260, "IntRamp"},
      {10, 372, "IntRamp.Clock"},       // the TON at the instance's offset 112
      {5, 80, "LagFilter.QuotientENO"}, // a gated operation reports its ENO variable
      {28, 720, "Ext1"},
      {32, 844, "Blinker.OnTimer"},
      {13, 890, "Blinker.QEdge"},
      {6, 259, ""},                     // the unused byte after the edge detector
  };
  for (const Case& c : cases) {
    EXPECT_EQ(softplc::name_for_event(c.typeId, c.offset), c.name) << c.typeId << " @" << c.offset;
  }
}

TEST(SymbolTable, TypeIdentifiersHaveTheirBlockNames) {
  EXPECT_EQ(softplc::block_name(3), "Program_Control");
  EXPECT_EQ(softplc::block_name(4), "Lag_PT1");
  EXPECT_EQ(softplc::block_name(10), "TON");
  EXPECT_EQ(softplc::block_name(13), "R_TRIG");
  EXPECT_EQ(softplc::block_name(14), "Ramp_Int");
  EXPECT_EQ(softplc::block_name(24), "Ramp_Real");
  EXPECT_EQ(softplc::block_name(28), "Ext_Block");
  EXPECT_EQ(softplc::block_name(29), "Blink_Pulse");
  EXPECT_EQ(softplc::block_name(32), "TOF");
  EXPECT_EQ(softplc::block_name(34), "XOR");
  for (int32_t id = 3; id <= 34; ++id) EXPECT_FALSE(softplc::block_name(id).empty()) << id;
  EXPECT_TRUE(softplc::block_name(2).empty());
  EXPECT_TRUE(softplc::block_name(35).empty());
}

}  // namespace
