// The host's names: the module's symbol file as softplc reads it, lookups by name in any case with
// suggestions, variables by offset, the places of debug events, and damaged symbol files refused
// with their reason. (That the file equals the compiled layout is tested where it is generated.)
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "abi/descriptors.h"
#include "softplc/symbols/names.h"
#include "softplc/symbols/place.h"
#include "softplc/symbols/source_map.h"
#include "module_symbols.h"
#include "softplc/symbols/symbol_file.h"
#include "softplc/symbols/variable_spec.h"
#include "softplc/util/files.h"

namespace softplc {
namespace {

TEST(Symbols, TheModulesFileDescribesItsProgram) {
  const Symbols& s = module_symbols();
  EXPECT_EQ(s.module, "CCodePublic");
  EXPECT_EQ(s.entryPoint, "KX_PI_Program_Control");
  EXPECT_EQ(s.dataSize, 896u);
  EXPECT_EQ(s.layoutSignature, 0x4C5080A3u);
  EXPECT_EQ(s.variables.size(), 191u);
  const std::vector<std::pair<std::string, Direction>> want = {
      {"LagIn", Direction::Input},          {"LagResetCmd", Direction::Input},     {"LagOut", Direction::Output},
      {"IntRampEnable", Direction::Input},  {"IntRampReset", Direction::Input},    {"IntRampReached", Direction::Output},
      {"IntRampOut", Direction::Output},    {"RealRampOut", Direction::Output},    {"RealRampEnable", Direction::Input},
      {"RealRampReset", Direction::Input},  {"RealRampReached", Direction::Output}, {"ExtIn1", Direction::Input},
      {"ExtIn6", Direction::Input},         {"ExtIn12", Direction::Input},         {"ExtOut2", Direction::Output},
      {"ExtIn4", Direction::Input},         {"ExtOut3", Direction::Output},        {"ExtIn11", Direction::Input},
      {"ExtIn5", Direction::Input},         {"ExtOut1", Direction::Output},        {"ExtOut5", Direction::Output},
      {"ExtOut4", Direction::Output},       {"ExtIn2", Direction::Input},          {"ExtIn8", Direction::Input},
      {"BlinkQ", Direction::Output}};
  std::vector<std::pair<std::string, Direction>> got;
  for (const Variable* variable : s.program_variables()) got.emplace_back(variable->name, variable->direction);
  EXPECT_EQ(got, want);
}

TEST(Symbols, NamesMatchInAnyCaseAndUnknownOnesGetSuggestions) {
  const Symbols& s = module_symbols();
  const std::pair<const char*, const char*> known[] = {
      {"lagin", "LagIn"}, {"EXTIN4", "ExtIn4"}, {"ext1.in1", "Ext1.In1"},
      {"intramp.clock.et", "IntRamp.Clock.ET"}, {"BLINKER.OFFTIMER.Q", "Blinker.OffTimer.Q"},
  };
  for (const auto& [query, name] : known) {
    auto found = s.find(query);
    ASSERT_TRUE(found.ok()) << query;
    EXPECT_EQ((*found)->name, name);
  }
  const std::pair<const char*, const char*> unknown[] = {
      {"LagInn", "did you mean LagIn"},
      {"IntRampEnabel", "IntRampEnable"},
      {"Out1", "Ext1.Out1"},
      {"Blinker.OfTime", "Blinker.OffTime"},
      {"Kettle", "('softplc vars' lists the known names)"},
      {"intramp", "'IntRamp' is a block instance, not a variable; name one of its fields, e.g. IntRamp.Enable"},
  };
  for (const auto& [query, part] : unknown) {
    auto found = s.find(query);
    ASSERT_FALSE(found.ok()) << query;
    EXPECT_EQ(found.error().kind, ErrorKind::usage);
    EXPECT_NE(found.error().message.find(part), std::string::npos) << found.error().message;
  }
}

TEST(Names, IdentifiersJoinedByDots) {
  const std::pair<std::string, const char*> cases[] = {
      {"LagIn", ""}, {"IntRamp.Clock.ET", ""}, {"_x", ""}, {"KX_PI_Program_Control", ""}, {"a__b_", ""},
      {std::string(255, 'a'), ""},
      {"", "it is empty"}, {std::string(256, 'a'), "it is longer than 255 characters"},
      {"1a", "a part starts with a digit"}, {"Ext1.2", "a part starts with a digit"},
      {"A..B", "it has an empty part"}, {".A", "it has an empty part"}, {"A.", "it has an empty part"},
      {"a b", "it holds the character ' '"}, {"a\nb", "it holds the character '\\n'"},
      {"@16:INT", "it holds the character '@'"}, {"Temp\xC3\xA9", "it holds the character '\\xc3'"},
  };
  for (const auto& [name, fault] : cases) EXPECT_EQ(name_fault(name).substr(0, std::strlen(fault)), fault) << name;
}

// The distance is exact up to the limit and limit + 1 beyond it, whatever the lengths.
TEST(Names, EditDistanceStopsAtItsLimit) {
  const struct {
    std::string a, b;
    std::size_t limit, distance;
  } cases[] = {
      {"kitten", "sitting", 3, 3}, {"kitten", "sitting", 2, 3}, {"LagIn", "lagin", 0, 0}, {"", "abc", 5, 3},
      {"IntRampEnabel", "IntRampEnable", 4, 2}, {"abcdef", "fedcba", 2, 3}, {std::string(1000000, 'Q'), "Q", 5, 6},
      {std::string(300, 'Q') + "x", std::string(300, 'Q') + "y", 1, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(edit_distance(c.a, c.b, c.limit), c.distance) << c.a.substr(0, 20) << " " << c.b;
}

TEST(Symbols, VariablesByOffsetNeedNoSymbolFile) {
  const struct {
    const char* text;
    uint32_t offset;
    ValueType type;
    const char* error;   // "" when it is accepted
  } cases[] = {
      {"@16:INT", 16, ValueType::Int, ""},       {"284:bool", 284, ValueType::Bool, ""},
      {"@0:REAL", 0, ValueType::Real, ""},       {"@16", 0, ValueType::Int, "OFFSET:TYPE"},
      {"@x:INT", 0, ValueType::Int, "OFFSET:TYPE"}, {"@16:WORD", 0, ValueType::Int, "unknown type 'WORD'"},
      {"LagIn", 0, ValueType::Int, "module M has no symbol file, so 'LagIn' cannot be found by name"},
  };
  for (const auto& c : cases) {
    auto found = find_variable(c.text, nullptr, "module M has no symbol file");
    if (*c.error == '\0') {
      ASSERT_TRUE(found.ok()) << c.text << ": " << found.error().message;
      EXPECT_EQ(found->offset, c.offset);
      EXPECT_EQ(found->type, c.type);
    } else {
      ASSERT_FALSE(found.ok()) << c.text;
      EXPECT_NE(found.error().message.find(c.error), std::string::npos) << found.error().message;
    }
  }
}

TEST(Symbols, EventAddressesNameTheirInstanceOrVariable) {
  std::vector<uint8_t> area(896);
  EntryPointDescriptor descriptor{};
  descriptor.dataArea = area.data();
  descriptor.dataSize = static_cast<uint32_t>(area.size());
  const PlaceResolver places(&module_symbols());
  const struct {
    int32_t typeId;
    uint32_t offset;
    const char* text;
  } cases[] = {
      {3, 0, "3 Program_Control at offset 0"},   // the program reports the data area, not LagIn
      {4, 56, "4 Lag_PT1 at LagFilter (56)"},
      {13, 256, "13 R_TRIG at LagResetEdge (256)"},
      {14, 260, "14 Ramp_Int at IntRamp (260)"},
      {10, 372, "10 TON at IntRamp.Clock (372)"},
      {5, 80, "5 DIV_REAL at LagFilter.QuotientENO (80)"},   // a gated operation reports its ENO
      {32, 844, "32 TOF at Blinker.OnTimer (844)"},
      {13, 890, "13 R_TRIG at Blinker.QEdge (890)"},
      {6, 259, "6 MOVE_REAL at offset 259"},   // the unused byte after the edge detector
      {99, 260, "99 ? at IntRamp.Enable (260)"},
  };
  for (const auto& c : cases) EXPECT_EQ(places.resolve(c.typeId, area.data() + c.offset, &descriptor).text(), c.text);
  EXPECT_EQ(places.resolve(3, area.data() + 896, &descriptor).offset, std::nullopt);
  EXPECT_EQ(PlaceResolver(nullptr).resolve(14, area.data() + 260, &descriptor).text(), "14 ? at offset 260");
}

TEST(SymbolFile, DamagedFilesAreRefusedWithTheirReason) {
  const std::string head = R"({"format": "softplc-symbols", "version": 1, "module": "M", "ticksPerSecond": 1000,
      "typeIds": [{"id": 3, "name": "P", "kind": "program"}], "entryPoints": [{"name": "E", "dataSize": 8,
      "layoutSignature": 1, "program": {"name": "P", "typeId": 3}, "records": [], "variables": [)";
  const std::string tail = "]}]}";
  const auto with = [&](const std::string& variables) { return head + variables + tail; };
  const struct {
    std::string text;
    const char* reason;   // "" when the file is good
  } cases[] = {
      {with(R"({"name": "A", "offset": 4, "type": "REAL", "program": true, "direction": "input"})"), ""},
      {"", "not valid JSON"},
      {"[1, 2]", "not a symbol file"},
      {R"({"format": "softplc-symbols", "version": 2})", "format version 2"},
      {with(R"({"name": "A", "offset": 6, "type": "REAL", "program": true, "direction": "input"})"),
       "A (offset 6, 4 bytes) lies outside the data area of 8 bytes"},
      {with(R"({"name": "A", "offset": 4294967295, "type": "TIME", "program": true, "direction": "input"})"),
       "lies outside the data area"},
      {with(R"({"name": "A", "offset": 0, "type": "WORD", "program": true, "direction": "input"})"),
       "unknown type \"WORD\""},
      {with(R"({"name": "A", "offset": -1, "type": "BOOL", "program": true, "direction": "input"})"), "\"offset\""},
      {with(R"({"name": "A", "offset": 0, "type": "BOOL", "program": 1, "direction": "input"})"), "\"program\""},
      {with(R"({"name": "A", "offset": 0, "type": "BOOL", "program": true, "direction": "up"})"), "direction \"up\""},
      {with(R"({"name": "", "offset": 0, "type": "BOOL", "program": true, "direction": "input"})"), "\"name\""},
      {with(R"({"name": "a b", "offset": 0, "type": "BOOL", "program": true, "direction": "input"})"),
       "is not a variable name"},
      {with(R"({"name": "A", "offset": 0, "type": "BOOL", "program": true, "direction": "input"},
               {"name": "a", "offset": 1, "type": "BOOL", "program": true, "direction": "input"})"),
       "the name \"a\" is given twice"},
      {with(R"({"offset": 0, "type": "BOOL", "program": true, "direction": "input"})"), "has no \"name\""},
  };
  for (const auto& c : cases) {
    auto parsed = parse_symbol_file(c.text, "x.symbols.json");
    if (*c.reason == '\0') {
      EXPECT_TRUE(parsed.ok()) << parsed.error().message;
      continue;
    }
    ASSERT_FALSE(parsed.ok()) << c.text;
    EXPECT_EQ(parsed.error().message.rfind("symbol file x.symbols.json is not valid", 0), 0u) << parsed.error().message;
    EXPECT_NE(parsed.error().message.find(c.reason), std::string::npos) << parsed.error().message;
  }
}

// The built module's listing: the map read with the file's text, an event found on its statement in
// its instance (a block's call in the program, its entry on its first line), none elsewhere.
TEST(Listing, EventsLandOnTheirStatements) {
  const Symbols& s = module_symbols();
  ASSERT_TRUE(s.listing.has_value());
  ASSERT_TRUE(s.listing->has_text()) << s.listing->note;
  EXPECT_EQ(s.listing->file, "CCodePublic.st");
  EXPECT_EQ(s.listing->line(5), "PROGRAM Program_Control");
  EXPECT_EQ(s.listing->statement_at(50),
            "IntRamp(Enable := IntRampEnable, Start := 0, Target := 100, Reset := IntRampReset, Step := 1, "
            "Period := T#1s);");
  const SourceMap map(&s);
  const struct {
    int32_t typeId;
    uint32_t offset;
    int32_t kind;
    uint32_t line;   // 0: none
    const char* block;
    const char* instance;
  } cases[] = {
      {3, 0, 6, 5, "Program_Control", ""},          {14, 260, 1, 49, "Program_Control", ""},
      {14, 260, 6, 143, "Ramp_Int", "IntRamp"},     {20, 412, 1, 192, "Ramp_Int", "IntRamp"},
      {5, 80, 6, 132, "Lag_PT1", "LagFilter"},      {28, 720, 6, 62, "Program_Control", ""},
      {32, 844, 1, 326, "Blink_Pulse", "Blinker"},  {3, 0, 1, 0, "", ""},
      {20, 413, 1, 0, "", ""},                      {14, 448, 6, 0, "", ""},
  };
  for (const auto& c : cases) {
    const SourceLocation* found = map.find(c.typeId, c.offset, c.kind);
    SCOPED_TRACE(std::to_string(c.typeId) + " at " + std::to_string(c.offset));
    if (c.line == 0) {
      EXPECT_EQ(found, nullptr);
      continue;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->line(), c.line);
    EXPECT_EQ(found->block->name, c.block);
    EXPECT_EQ(found->instance, c.instance);
  }
  EXPECT_EQ(map.find(14, 260, 6)->exit_line(), 224u);
}

TEST(Listing, DamagedMapsAreRefusedAndAStaleTextIsLeftOut) {
  const std::string head = R"({"format": "softplc-symbols", "version": 1, "module": "M", "ticksPerSecond": 1000,
      "typeIds": [{"id": 3, "name": "P", "kind": "program"}, {"id": 7, "name": "OP", "kind": "operation"}],
      "entryPoints": [{"name": "E", "dataSize": 8, "layoutSignature": 1, "program": {"name": "P", "typeId": 3},
      "records": [], "variables": [], "listing": {"file": "m.st", "lines": 9, "bytes": 90,
      "blocks": [{"name": "P", "typeId": 3, "line": 2, "endLine": 8}], "steps": [
      {"line": 2, "column": 1, "endLine": 2, "endColumn": 9, "block": 3, "typeId": 3, "offset": 0, "kinds": [6], "exitLine": 8},)";
  const auto with = [&](const std::string& step) { return head + step + "]}}]}"; };
  const struct {
    std::string text;
    const char* reason;   // "" when the file is good
  } cases[] = {
      {with(R"({"line": 4, "column": 5, "endLine": 5, "endColumn": 9, "block": 3, "typeId": 7, "offset": 4, "kinds": [1, 6], "exitLine": 4})"), ""},
      {with(R"({"line": 4, "column": 5, "endLine": 4, "endColumn": 9, "block": 3, "kinds": []})"), ""},
      {with(R"({"line": 10, "column": 5, "endLine": 10, "endColumn": 9, "block": 3, "kinds": []})"), "\"line\" must be"},
      {with(R"({"line": 2, "column": 5, "endLine": 2, "endColumn": 9, "block": 3, "kinds": []})"), "inside the statement before it"},
      {with(R"({"line": 9, "column": 5, "endLine": 9, "endColumn": 9, "block": 3, "kinds": []})"), "lies outside P (lines 2 to 8)"},
      {with(R"({"line": 4, "column": 5, "endLine": 4, "endColumn": 9, "block": 5, "kinds": []})"), "not in \"blocks\""},
      {with(R"({"line": 4, "column": 5, "endLine": 4, "endColumn": 9, "block": 3, "kinds": [2]})"), "\"kinds\" holds 2"},
      {with(R"({"line": 4, "column": 5, "endLine": 4, "endColumn": 9, "block": 3, "typeId": 3, "offset": 0, "kinds": [6], "exitLine": 4})"),
       "its kind-6 event at offset 0 is another statement's too"},
      {with(R"({"line": 4, "column": 5, "endLine": 4, "endColumn": 9, "block": 3, "typeId": 7, "offset": 8, "kinds": [1]})"),
       "offset 8 lies outside the data area"},
      {with(R"({"line": 4, "column": 5, "endLine": 4, "endColumn": 9, "block": 3, "typeId": 7, "offset": 4, "kinds": [6]})"),
       "has no \"exitLine\""},
      {[&] {
         std::string text = with(R"({"line": 4, "column": 5, "endLine": 4, "endColumn": 9, "block": 3, "kinds": []})");
         return text.replace(text.find("m.st"), 4, "../m.st");
       }(),
       "must be a file name beside the symbol file"},
  };
  for (const auto& c : cases) {
    auto parsed = parse_symbol_file(c.text, "x.symbols.json");
    if (*c.reason == '\0') {
      ASSERT_TRUE(parsed.ok()) << parsed.error().message;
      EXPECT_EQ(parsed->entryPoints.at(0)->listing->steps.size(), 2u);
      continue;
    }
    ASSERT_FALSE(parsed.ok()) << c.text;
    EXPECT_NE(parsed.error().message.find("entryPoints[0].listing: "), std::string::npos) << parsed.error().message;
    EXPECT_NE(parsed.error().message.find(c.reason), std::string::npos) << parsed.error().message;
  }

  // A text that is not the one the map describes is left out, with the reason; the map serves.
  Listing listing = module_symbols().listing.value();
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "softplc_listing_test";
  std::filesystem::create_directories(folder);
  ASSERT_TRUE(write_file(folder / listing.file, "PROGRAM P\nEND_PROGRAM\n").ok());
  read_listing_text(listing, folder);
  EXPECT_FALSE(listing.has_text());
  EXPECT_NE(listing.note.find("does not match the symbol file (2 lines, 22 bytes; the symbol file's: 358 lines,"),
            std::string::npos)
      << listing.note;
  std::filesystem::remove_all(folder);
  read_listing_text(listing, folder);
  EXPECT_NE(listing.note.find("cannot read the listing"), std::string::npos) << listing.note;
}

}  // namespace
}  // namespace softplc
