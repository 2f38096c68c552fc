#include "softplc/core/symbols.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace softplc {

namespace {

// Type identifiers of the records that the table builds from their standard layouts.
constexpr int32_t kTypeProgram = 3;
constexpr int32_t kTypeTon = 10;
constexpr int32_t kTypeRTrig = 13;
constexpr int32_t kTypeTof = 32;

constexpr BlockType kBlockTypes[] = {
    {3, "Program_Control"}, {4, "Lag_PT1"},        {5, "DIV_REAL"},       {6, "MOVE_REAL"},
    {7, "TIME_TO_REAL"},    {8, "SEL_REAL"},       {9, "SUB_TIME"},       {10, "TON"},
    {11, "MUL_REAL"},       {12, "ADD_REAL"},      {13, "R_TRIG"},        {14, "Ramp_Int"},
    {15, "REAL_TO_INT"},    {16, "LIMIT_REAL"},    {17, "EQ_REAL"},       {18, "AND_BOOL"},
    {19, "GT_INT"},         {20, "INT_TO_REAL"},   {21, "SUB_REAL"},      {22, "ABS_INT"},
    {23, "LT_INT"},         {24, "Ramp_Real"},     {25, "GT_REAL"},       {26, "ABS_REAL"},
    {27, "LT_REAL"},        {28, "Ext_Block"},     {29, "Blink_Pulse"},   {30, "UINT_TO_TIME"},
    {31, "DIV_TIME_BY_INT"}, {32, "TOF"},          {33, "NOT"},           {34, "XOR"},
};

// A field of a block instance: a variable of an elementary type, or an embedded timer or edge
// detector whose fields come from the standard record layouts.
enum class FieldKind : uint8_t { Scalar, Ton, Tof, RTrig };

struct Field {
  const char* name;
  uint32_t offset;   // inside the instance
  FieldKind kind;
  ValueType type;
};

constexpr Field scalar(const char* name, uint32_t offset, ValueType type) {
  return {name, offset, FieldKind::Scalar, type};
}
constexpr Field record(const char* name, uint32_t offset, FieldKind kind) {
  return {name, offset, kind, ValueType::Bool};
}

constexpr ValueType BOOL = ValueType::Bool;
constexpr ValueType INT = ValueType::Int;
constexpr ValueType UINT = ValueType::Uint;
constexpr ValueType REAL = ValueType::Real;
constexpr ValueType TIME = ValueType::Time;

constexpr Field kProgramVariables[] = {
    scalar("LagIn", 0, REAL),           scalar("LagResetCmd", 4, BOOL),
    scalar("LagOut", 8, REAL),          scalar("IntRampEnable", 12, BOOL),
    scalar("IntRampReset", 13, BOOL),   scalar("IntRampReached", 14, BOOL),
    scalar("IntRampOut", 16, INT),      scalar("RealRampOut", 20, REAL),
    scalar("RealRampEnable", 24, BOOL), scalar("RealRampReset", 25, BOOL),
    scalar("RealRampReached", 26, BOOL), scalar("ExtIn1", 28, INT),
    scalar("ExtIn6", 30, INT),          scalar("ExtIn12", 32, BOOL),
    scalar("ExtOut2", 33, BOOL),        scalar("ExtIn4", 34, INT),
    scalar("ExtOut3", 36, INT),         scalar("ExtIn11", 38, INT),
    scalar("ExtIn5", 40, INT),          scalar("ExtOut1", 42, INT),
    scalar("ExtOut5", 44, INT),         scalar("ExtOut4", 46, BOOL),
    scalar("ExtIn2", 50, INT),          scalar("ExtIn8", 52, BOOL),
    scalar("BlinkQ", 53, BOOL),
};

constexpr Field kLagPt1[] = {
    scalar("In", 0, REAL),              scalar("Gain", 4, REAL),
    scalar("T1", 8, TIME),              scalar("Reset", 16, BOOL),
    scalar("ENO", 17, BOOL),            scalar("Out", 20, REAL),
    scalar("QuotientENO", 24, BOOL),    scalar("Quotient", 28, REAL),
    scalar("InCopyENO", 32, BOOL),      scalar("InCopy", 36, REAL),
    scalar("DeltaSecENO", 40, BOOL),    scalar("DeltaSec", 44, REAL),
    scalar("T1SecENO", 48, BOOL),       scalar("T1Sec", 52, REAL),
    scalar("YCopyENO", 56, BOOL),       scalar("YCopy", 60, REAL),
    scalar("LastET", 64, TIME),         scalar("YSelENO", 72, BOOL),
    scalar("YSel", 76, REAL),           scalar("CopyENO", 80, BOOL),
    scalar("EtCopy", 84, TIME),         record("Clock", 92, FieldKind::Ton),
    scalar("GainedENO", 128, BOOL),     scalar("Gained", 132, REAL),
    scalar("WeightedENO", 136, BOOL),   scalar("Weighted", 140, REAL),
    scalar("DeltaENO", 144, BOOL),      scalar("DeltaET", 148, TIME),
    scalar("PrevY", 156, REAL),         scalar("NumeratorENO", 160, BOOL),
    scalar("Numerator", 164, REAL),     scalar("RatioENO", 168, BOOL),
    scalar("Ratio", 172, REAL),         scalar("Delta", 176, TIME),
    scalar("Y", 184, REAL),             scalar("DenominatorENO", 188, BOOL),
    scalar("Denominator", 192, REAL),   scalar("OutSel", 196, REAL),
};

constexpr Field kRampInt[] = {
    scalar("Enable", 0, BOOL),          scalar("Start", 2, INT),
    scalar("Target", 4, INT),           scalar("Reset", 6, BOOL),
    scalar("Step", 8, INT),             scalar("Period", 12, TIME),
    scalar("ENO", 20, BOOL),            scalar("Out", 22, INT),
    scalar("Reached", 24, BOOL),        scalar("LastET", 28, TIME),
    scalar("IntValue", 36, INT),        scalar("PeriodSec", 40, REAL),
    scalar("JumpSel", 44, REAL),        scalar("UpLimited", 48, REAL),
    scalar("CopyENO", 52, BOOL),        scalar("EtCopy", 56, TIME),
    scalar("UpSel", 64, REAL),          scalar("DownSel", 68, REAL),
    scalar("PeriodZero", 72, BOOL),     scalar("NewValue", 76, REAL),
    scalar("Increment", 80, REAL),      scalar("Value", 84, REAL),
    scalar("UpActive", 88, BOOL),       scalar("Rate", 92, REAL),
    scalar("DeltaENO", 96, BOOL),       scalar("DeltaET", 100, TIME),
    scalar("StartGtTarget", 108, BOOL), record("Clock", 112, FieldKind::Ton),
    scalar("DeltaSec", 148, REAL),      scalar("StartReal", 152, REAL),
    scalar("AbsStepReal", 156, REAL),   scalar("AtTarget", 160, BOOL),
    scalar("TargetReal", 164, REAL),    scalar("JumpActive", 168, BOOL),
    scalar("DownActive", 169, BOOL),    scalar("DownCandidate", 172, REAL),
    scalar("AbsStep", 176, INT),        scalar("StartLtTarget", 178, BOOL),
    scalar("DownLimited", 180, REAL),   scalar("UpCandidate", 184, REAL),
};

constexpr Field kRampReal[] = {
    scalar("Enable", 0, BOOL),          scalar("Start", 4, REAL),
    scalar("Target", 8, REAL),          scalar("Reset", 12, BOOL),
    scalar("Step", 16, REAL),           scalar("Period", 20, TIME),
    scalar("ENO", 28, BOOL),            scalar("Out", 32, REAL),
    scalar("Reached", 36, BOOL),        scalar("PeriodSec", 40, REAL),
    scalar("JumpSel", 44, REAL),        scalar("UpLimited", 48, REAL),
    scalar("CopyENO", 52, BOOL),        scalar("EtCopy", 56, TIME),
    scalar("UpSel", 64, REAL),          scalar("DownSel", 68, REAL),
    scalar("PeriodZero", 72, BOOL),     scalar("NewValue", 76, REAL),
    scalar("Increment", 80, REAL),      scalar("UpActive", 84, BOOL),
    scalar("Rate", 88, REAL),           scalar("DeltaENO", 92, BOOL),
    scalar("DeltaET", 96, TIME),        record("Clock", 104, FieldKind::Ton),
    scalar("StartGtTarget", 140, BOOL), scalar("DeltaSec", 144, REAL),
    scalar("AtTarget", 148, BOOL),      scalar("JumpActive", 149, BOOL),
    scalar("DownActive", 150, BOOL),    scalar("DownCandidate", 152, REAL),
    scalar("AbsStep", 156, REAL),       scalar("StartLtTarget", 160, BOOL),
    scalar("LastET", 164, TIME),        scalar("DownLimited", 172, REAL),
    scalar("UpCandidate", 176, REAL),
};

constexpr Field kExtBlock[] = {
    scalar("In1", 0, INT),   scalar("In2", 2, INT),    scalar("In3", 4, INT),
    scalar("In4", 6, INT),   scalar("In5", 8, INT),    scalar("In6", 10, INT),
    scalar("In7", 12, INT),  scalar("In8", 14, BOOL),  scalar("In9", 15, BOOL),
    scalar("In10", 16, BOOL), scalar("In11", 18, INT), scalar("In12", 20, BOOL),
    scalar("In13", 24, INT), scalar("ENO", 28, BOOL),  scalar("Out1", 30, INT),
    scalar("Out2", 34, BOOL), scalar("Out3", 36, INT), scalar("Out4", 38, BOOL),
    scalar("Out5", 40, INT),
};

constexpr Field kBlinkPulse[] = {
    scalar("OnTime", 0, UINT),             scalar("OffTime", 2, UINT),
    scalar("ENO", 4, BOOL),                scalar("Q", 5, BOOL),
    scalar("Toggle", 6, BOOL),             record("OffTimer", 8, FieldKind::Ton),
    scalar("OffTimeConv", 44, TIME),       scalar("OnTimeConv", 52, TIME),
    scalar("OffTimePT", 60, TIME),         record("OnTimer", 68, FieldKind::Tof),
    scalar("OnTimePT", 104, TIME),         scalar("NotQ", 112, BOOL),
    scalar("ToggleXor", 113, BOOL),        record("QEdge", 114, FieldKind::RTrig),
};

// The fields of the standard records; the timer's 12 state bytes belong to the runtime and have
// no name.
constexpr Field kTimerFields[] = {
    scalar("IN", 0, BOOL), scalar("PT", 4, TIME), scalar("Q", 12, BOOL), scalar("ET", 16, TIME)};
constexpr uint32_t kTimerSize = 36;
constexpr Field kRTrigFields[] = {scalar("CLK", 0, BOOL), scalar("Q", 1, BOOL), scalar("M", 2, BOOL)};
constexpr uint32_t kRTrigSize = 3;

struct Instance {
  const char* name;
  uint32_t offset;
  uint32_t size;
  int32_t typeId;
  std::span<const Field> fields;
};

const Instance kInstances[] = {
    {"LagFilter", 56, 200, 4, kLagPt1},
    {"LagResetEdge", 256, kRTrigSize, kTypeRTrig, kRTrigFields},
    {"IntRamp", 260, 188, 14, kRampInt},
    {"RealRamp", 448, 180, 24, kRampReal},
    {"Ext1", 720, 56, 28, kExtBlock},
    {"Blinker", 776, 117, 29, kBlinkPulse},
};

struct Tables {
  std::vector<Symbol> symbols;
  std::vector<Record> records;
};

void add_fields(Tables& tables, const std::string& prefix, uint32_t base, std::span<const Field> fields) {
  for (const Field& field : fields) {
    const std::string name = prefix + field.name;
    const uint32_t offset = base + field.offset;
    switch (field.kind) {
      case FieldKind::Scalar:
        tables.symbols.push_back({name, offset, field.type, false});
        break;
      case FieldKind::Ton:
      case FieldKind::Tof:
        tables.records.push_back({name, offset, kTimerSize, field.kind == FieldKind::Ton ? kTypeTon : kTypeTof});
        add_fields(tables, name + ".", offset, kTimerFields);
        break;
      case FieldKind::RTrig:
        tables.records.push_back({name, offset, kRTrigSize, kTypeRTrig});
        add_fields(tables, name + ".", offset, kRTrigFields);
        break;
    }
  }
}

Tables build_tables() {
  Tables tables;
  for (const Field& field : kProgramVariables) {
    tables.symbols.push_back({field.name, field.offset, field.type, true});
  }
  for (const Instance& instance : kInstances) {
    tables.records.push_back({instance.name, instance.offset, instance.size, instance.typeId});
    add_fields(tables, std::string(instance.name) + ".", instance.offset, instance.fields);
  }
  std::stable_sort(tables.symbols.begin(), tables.symbols.end(),
                   [](const Symbol& a, const Symbol& b) { return a.offset < b.offset; });
  std::stable_sort(tables.records.begin(), tables.records.end(),
                   [](const Record& a, const Record& b) { return a.offset < b.offset; });
  return tables;
}

const Tables& tables() {
  static const Tables instance = build_tables();
  return instance;
}

char fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

// How far `query` is from `name`: the edit distance to the whole name, or, for a query without an
// instance prefix, one more than the distance to the name's last part ("Out1" for "Ext1.Out1").
std::size_t closeness(std::string_view query, std::string_view name) {
  std::size_t best = edit_distance(query, name);
  if (query.find('.') == std::string_view::npos) {
    const auto dot = name.rfind('.');
    if (dot != std::string_view::npos) best = std::min(best, edit_distance(query, name.substr(dot + 1)) + 1);
  }
  return best;
}

}  // namespace

std::span<const Symbol> symbols() { return tables().symbols; }

std::vector<const Symbol*> program_variables() {
  std::vector<const Symbol*> result;
  for (const Symbol& symbol : symbols())
    if (symbol.program) result.push_back(&symbol);
  return result;
}

std::span<const Record> records() { return tables().records; }

std::span<const BlockType> block_types() { return kBlockTypes; }

std::string_view block_name(int32_t typeId) {
  for (const BlockType& type : kBlockTypes)
    if (type.typeId == typeId) return type.name;
  return {};
}

std::size_t edit_distance(std::string_view a, std::string_view b) {
  // Levenshtein distance, one row at a time.
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const std::size_t substitute = diagonal + (fold(a[i - 1]) == fold(b[j - 1]) ? 0 : 1);
      row[j] = std::min({above + 1, row[j - 1] + 1, substitute});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::vector<std::string> closest_names(std::string_view name, std::size_t limit) {
  // A misspelling is at most a third of the name away (and at least one edit is allowed).
  const std::size_t threshold = std::max<std::size_t>(1, name.size() / 3);
  std::vector<std::pair<std::size_t, const Symbol*>> scored;
  for (const Symbol& symbol : symbols()) {
    const std::size_t score = closeness(name, symbol.name);
    if (score <= threshold) scored.emplace_back(score, &symbol);
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> result;
  for (const auto& [score, symbol] : scored) {
    if (result.size() == limit) break;
    result.push_back(symbol->name);
  }
  return result;
}

Result<const Symbol*> find_symbol(std::string_view name) {
  for (const Symbol& symbol : symbols())
    if (equal_ignoring_case(symbol.name, name)) return &symbol;

  std::string message = "unknown variable '" + std::string(name) + "'";
  for (const Record& record : records()) {
    if (!equal_ignoring_case(record.name, name)) continue;
    std::string example;
    for (const Symbol& symbol : symbols()) {
      if (symbol.offset == record.offset && symbol.name.size() > record.name.size()) {
        example = symbol.name;
        break;
      }
    }
    return usage_error("'" + record.name + "' is a block instance, not a variable; name one of its fields" +
                       (example.empty() ? std::string() : ", e.g. " + example));
  }
  const std::vector<std::string> suggestions = closest_names(name);
  if (suggestions.empty()) {
    message += " ('softplc vars' lists the known names)";
  } else {
    message += "; did you mean ";
    for (std::size_t i = 0; i < suggestions.size(); ++i) {
      if (i > 0) message += i + 1 == suggestions.size() ? " or " : ", ";
      message += suggestions[i];
    }
    message += "?";
  }
  return usage_error(message);
}

std::string name_for_event(int32_t typeId, uint32_t offset) {
  // The program's events carry the data area's base, which is not the variable at offset 0.
  if (typeId == kTypeProgram) return {};
  for (const Record& record : records())
    if (record.offset == offset && record.typeId == typeId) return record.name;
  for (const Symbol& symbol : symbols())
    if (symbol.offset == offset) return symbol.name;
  return {};
}

}  // namespace softplc
