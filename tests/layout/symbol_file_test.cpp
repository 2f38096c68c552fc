// The symbol files against the compiled layout: every variable a file names is the member of that
// name path in the data area's structs, at the offset and of the type the compiler gives it, and
// every record lies where the compiler puts it.
#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/data_area.h"
#include "symbol_file.h"

namespace {

using nlohmann::json;

// A member of one of the structs, as the compiler lays it out: a variable with its type, or a
// record with its own members.
struct Member;
using Members = std::map<std::string, Member>;
struct Member {
  std::size_t offset;
  std::size_t size;
  std::string type;                  // a variable's: BOOL, INT, UINT, REAL or TIME
  const Members* fields = nullptr;   // a record's
};

template <class T>
std::string type_name() {
  if constexpr (std::is_same_v<T, KX_BOOL>) return "BOOL";
  if constexpr (std::is_same_v<T, KX_INT>) return "INT";
  if constexpr (std::is_same_v<T, KX_UINT>) return "UINT";
  if constexpr (std::is_same_v<T, KX_REAL>) return "REAL";
  if constexpr (std::is_same_v<T, KX_TIME>) return "TIME";
  return "?";
}

// The named members of each struct, enumerated by the layout's rows; offset, size and type are
// the compiler's.
template <class S>
const Members& members();

#define MEMBER(name) offsetof(KxRecord, name), sizeof(KxRecord::name)
#define ROW_VAR(offset, type, name, direction) \
  m.emplace(#name, Member{MEMBER(name), type_name<decltype(KxRecord::name)>()});
#define ROW_FIELD(offset, type, name, op) \
  m.emplace(#name, Member{MEMBER(name), type_name<decltype(KxRecord::name)>()});
#define ROW_BLOCK(offset, record, name) \
  m.emplace(#name, Member{MEMBER(name), "", &members<record>()});
#define ROW_TIMER(offset, kind, name) \
  m.emplace(#name, Member{MEMBER(name), "", &members<TimerRecord>()});
#define ROW_EDGE(offset, name) m.emplace(#name, Member{MEMBER(name), "", &members<RTrigRecord>()});
#define ROW_PAD(offset, size)
#define ROW_SPARE(offset, size)
#define MEMBERS(record, size, list)                 \
  template <>                                       \
  const Members& members<record>() {                \
    static const Members all = [] {                 \
      using KxRecord = record;                      \
      Members m;                                    \
      KX_LAYOUT_ROWS(list, ROW_)                    \
      return m;                                     \
    }();                                            \
    return all;                                     \
  }
#define BLOCK_MEMBERS(record, type, size, list) MEMBERS(record, size, list)
KX_LAYOUT_EMBEDDED(MEMBERS)
KX_LAYOUT_BLOCKS(BLOCK_MEMBERS)

// The member that a dotted name ("IntRamp.Clock.ET") names, with its data-area offset; null if
// there is none.
const Member* resolve(const std::string& name, std::size_t& offset) {
  const Members* scope = &members<DataArea>();
  const Member* member = nullptr;
  offset = 0;
  std::istringstream parts(name);
  for (std::string part; std::getline(parts, part, '.');) {
    if (scope == nullptr) return nullptr;
    const auto it = scope->find(part);
    if (it == scope->end()) return nullptr;
    member = &it->second;
    offset += member->offset;
    scope = member->fields;
  }
  return member;
}

TEST(SymbolFile, EveryVariableIsTheMemberOfItsNameAtItsOffset) {
  const json variables = entry_point("CCodePublic").at("variables");
  std::set<std::string> names;
  std::size_t program = 0, end = 0;
  for (const json& v : variables) {
    const std::string name = v.at("name");
    SCOPED_TRACE(name);
    std::size_t offset = 0;
    const Member* member = resolve(name, offset);
    ASSERT_NE(member, nullptr) << "no such member";
    ASSERT_EQ(member->fields, nullptr) << "a record, not a variable";
    EXPECT_EQ(v.at("offset"), offset);
    EXPECT_EQ(v.at("type"), member->type);
    const bool own = name.find('.') == std::string::npos;
    EXPECT_EQ(v.at("program"), own);
    if (own) {
      ++program;
      EXPECT_TRUE(v.at("direction") == "input" || v.at("direction") == "output");
    } else {
      EXPECT_EQ(v.at("direction"), "internal");
    }
    EXPECT_TRUE(names.insert(name).second) << "listed twice";
    EXPECT_GE(offset, end) << "out of offset order, or overlapping the variable before";
    end = offset + member->size;
  }
  EXPECT_LE(end, sizeof(DataArea));
  EXPECT_EQ(191u, variables.size());   // no padding, no timer state
  EXPECT_EQ(25u, program);
}

#define RECORD(path, typeId)                                                               \
  json {                                                                                   \
    {"name", #path}, {"offset", offsetof(DataArea, path)},                                 \
        {"size", sizeof(std::declval<DataArea&>().path)}, {"typeId", typeId}               \
  }

TEST(SymbolFile, RecordsAreTheInstancesAndTheirEmbeddedRecordsInOffsetOrder) {
  const json want = json::array({
      RECORD(LagFilter, 4),        RECORD(LagFilter.Clock, 10),   RECORD(LagResetEdge, 13),
      RECORD(IntRamp, 14),         RECORD(IntRamp.Clock, 10),     RECORD(RealRamp, 24),
      RECORD(RealRamp.Clock, 10),  RECORD(Ext1, 28),              RECORD(Blinker, 29),
      RECORD(Blinker.OffTimer, 10), RECORD(Blinker.OnTimer, 32),  RECORD(Blinker.QEdge, 13),
  });
  EXPECT_EQ(entry_point("CCodePublic").at("records"), want);
}

TEST(SymbolFile, TypeIdentifiersWithTheirNamesAndKinds) {
  const char* const names[] = {
      "Program_Control", "Lag_PT1",     "DIV_REAL",     "MOVE_REAL",       "TIME_TO_REAL",
      "SEL_REAL",        "SUB_TIME",    "TON",          "MUL_REAL",        "ADD_REAL",
      "R_TRIG",          "Ramp_Int",    "REAL_TO_INT",  "LIMIT_REAL",      "EQ_REAL",
      "AND_BOOL",        "GT_INT",      "INT_TO_REAL",  "SUB_REAL",        "ABS_INT",
      "LT_INT",          "Ramp_Real",   "GT_REAL",      "ABS_REAL",        "LT_REAL",
      "Ext_Block",       "Blink_Pulse", "UINT_TO_TIME", "DIV_TIME_BY_INT", "TOF",
      "NOT",             "XOR"};
  const std::set<int> blocks = {4, 10, 13, 14, 24, 28, 29, 32};
  json want = json::array();
  for (int id = 3; id <= 34; ++id) {
    const char* kind = id == 3 ? "program" : blocks.count(id) ? "function_block" : "operation";
    want.push_back({{"id", id}, {"name", names[id - 3]}, {"kind", kind}});
  }
  EXPECT_EQ(symbol_file("CCodePublic").at("typeIds"), want);
}

// The module and its online-change variant: their identities, and the one layout they share.
TEST(SymbolFile, IdentityOfEachModule) {
  struct Case {
    const char* module;
    const char* codeVersion;
    uint32_t layoutSignature;
  };
  const Case cases[] = {
      {"CCodePublic", "2010-07-28 15:10:27", 0x4C5080A3u},
      {"CCodePublic_next", "2010-07-28 15:11:27", 0x4C5080DFu},
  };
  const json base = entry_point("CCodePublic");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.module);
    const json file = symbol_file(c.module);
    EXPECT_EQ(file.at("format"), "softplc-symbols");
    EXPECT_EQ(file.at("version"), 1);
    EXPECT_EQ(file.at("module"), c.module);
    EXPECT_EQ(file.at("codeVersion"), c.codeVersion);
    EXPECT_EQ(file.at("ticksPerSecond"), 1193182);
    ASSERT_EQ(file.at("entryPoints").size(), 1u);
    const json& ep = file.at("entryPoints").at(0);
    EXPECT_EQ(ep.at("name"), "KX_PI_Program_Control");
    EXPECT_EQ(ep.at("dataSize"), sizeof(DataArea));
    EXPECT_TRUE(ep.at("layoutSignature").is_number_unsigned());
    EXPECT_EQ(ep.at("layoutSignature"), c.layoutSignature);
    EXPECT_EQ(ep.at("program"), (json{{"name", "Program_Control"}, {"typeId", 3}}));
    EXPECT_EQ(ep.at("records"), base.at("records"));
    EXPECT_EQ(ep.at("variables"), base.at("variables"));
  }
}

}  // namespace
