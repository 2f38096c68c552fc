// The listing of the program (CCodePublic.st) and its map in the symbol file.
//
// The text: a comment naming the module, then each unit of app/listing.h in its order: its first
// line (PROGRAM or FUNCTION_BLOCK and its name), its comment, its declarations and its statements,
// then END_PROGRAM or END_FUNCTION_BLOCK. The declarations follow the layout's rows: a function
// block's fields ahead of ENO are its VAR_INPUT, the outputs the unit names its VAR_OUTPUT, the
// rest (ENO aside, which every block has) its VAR; the program's variables go to VAR_INPUT or
// VAR_OUTPUT by their direction, its instances and records to VAR. Initial values are those that
// the initial-value table stores: a program variable's after its type, an instance's fields as the
// instance's initialisation (IntRamp : Ramp_Int := (Step := 10, Period := T#1s)).
//
// The map: for each unit its lines; for each statement its place in the text, its unit and, when
// it has debug events, the type identifier and the address (an offset in the unit's record) that
// they report, their kinds and the line of the ExitHook; a unit whose body reports its own entry
// has one more step for that, on its first line, whose ExitHook lies on its last.
#include "listing.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <set>
#include <stdexcept>
#include <vector>

#include "app/data_area.h"
#include "app/listing.h"
#include "app/program.h"

namespace {

using Json = nlohmann::ordered_json;

const char* type_name(int32_t typeId) {
  switch (typeId) {
#define KX_LISTING_TYPE_NAME(id, constant, name, kind) \
  case id:                                             \
    return name;
    KX_LAYOUT_TYPE_IDS(KX_LISTING_TYPE_NAME)
#undef KX_LISTING_TYPE_NAME
  }
  return "";
}

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("listing: " + what); }

// ---- the layout's rows -------------------------------------------------------------------------

enum class RowKind { Var, Field, Record };

struct Row {
  RowKind kind;
  std::string name;
  std::string type;        // BOOL ... TIME, TON, TOF, R_TRIG or a block's name
  uint32_t offset;         // in the record
  uint32_t size;
  bool input = false;      // a program variable's direction
  int32_t operation = 0;   // the operation that reports a field
  int32_t recordType = 0;  // a record's type identifier
};

template <class R>
std::vector<Row> rows_of();

template <class R>
constexpr int32_t kBlockType = 0;
#define KX_LISTING_BLOCK_TYPE(record, type, size, list) \
  template <>                                           \
  constexpr int32_t kBlockType<record> = KX_TYPE_##type;
KX_LAYOUT_BLOCKS(KX_LISTING_BLOCK_TYPE)
#undef KX_LISTING_BLOCK_TYPE

#define KX_AT(name) static_cast<uint32_t>(offsetof(KxRecord, name)), static_cast<uint32_t>(sizeof(KxRecord::name))
#define KX_ROW_VAR(offset, type, name, direction) \
  rows.push_back({RowKind::Var, #name, #type, KX_AT(name), KX_DIRECTION_##direction == KX_DIRECTION_INPUT});
#define KX_ROW_FIELD(offset, type, name, op) \
  rows.push_back({RowKind::Field, #name, #type, KX_AT(name), false, KX_FIELD_OP_##op});
#define KX_ROW_BLOCK(offset, record, name) \
  rows.push_back({RowKind::Record, #name, type_name(kBlockType<record>), KX_AT(name), false, 0, kBlockType<record>});
#define KX_ROW_TIMER(offset, kind, name) \
  rows.push_back({RowKind::Record, #name, #kind, KX_AT(name), false, 0, KX_TYPE_##kind});
#define KX_ROW_EDGE(offset, name) \
  rows.push_back({RowKind::Record, #name, "R_TRIG", KX_AT(name), false, 0, KX_TYPE_R_TRIG});
#define KX_ROW_PAD(offset, size)
#define KX_ROW_SPARE(offset, size)
#define KX_ROWS_OF(record, type, size, list) \
  template <>                                \
  std::vector<Row> rows_of<record>() {       \
    using KxRecord = record;                 \
    std::vector<Row> rows;                   \
    KX_LAYOUT_ROWS(list, KX_ROW_)            \
    return rows;                             \
  }
KX_LAYOUT_BLOCKS(KX_ROWS_OF)
#undef KX_ROWS_OF

// ---- the units ---------------------------------------------------------------------------------

enum class Shape { Op, Gated, Bracketed, Call, Copy, Note };

struct Statement {
  Shape shape;
  int32_t typeId = 0;     // what its events report
  uint32_t offset = 0;    // in the unit's record
  std::string name;       // the field or record they report
  std::string text;
};

struct Unit {
  std::string name;
  int32_t typeId;
  bool program;
  std::vector<Row> rows;
  std::vector<std::string> outputs;
  std::string comment;
  std::vector<Statement> statements;
};

std::vector<std::string> split_names(const std::string& text) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(", ", start);
    if (end == std::string::npos) end = text.size();
    names.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return names;
}

#define KX_STATEMENT(shape, type, field, text) \
  unit.statements.push_back({Shape::shape, KX_TYPE_##type, static_cast<uint32_t>(offsetof(KxRecord, field)), #field, text});
#define KX_LISTING_OP(op, field, text) KX_STATEMENT(Op, op, field, text)
#define KX_LISTING_GATED(op, eno, text) KX_STATEMENT(Gated, op, eno, text)
#define KX_LISTING_BRACKETED(type, record, text) KX_STATEMENT(Bracketed, type, record, text)
#define KX_LISTING_CALL(type, instance, text) KX_STATEMENT(Call, type, instance, text)
#define KX_LISTING_COPY(text) unit.statements.push_back({Shape::Copy, 0, 0, "", text});
#define KX_LISTING_NOTE(text) unit.statements.push_back({Shape::Note, 0, 0, "", text});
#define KX_LISTING_UNIT(record, type, list, outputs, comment)                                              \
  units.push_back([] {                                                                                     \
    using KxRecord = record;                                                                               \
    (void)sizeof(KxRecord);                                                                                \
    Unit unit{type_name(KX_TYPE_##type), KX_TYPE_##type, kx_type_kind(KX_TYPE_##type) == KX_KIND_PROGRAM, \
              rows_of<record>(), split_names(outputs), comment, {}};                                       \
    list(KX_LISTING_OP, KX_LISTING_GATED, KX_LISTING_BRACKETED, KX_LISTING_CALL, KX_LISTING_COPY,          \
         KX_LISTING_NOTE)                                                                                  \
    return unit;                                                                                           \
  }());

std::vector<Unit> units() {
  std::vector<Unit> units;
  KX_LISTING_UNITS(KX_LISTING_UNIT)
  return units;
}

// ---- initial values ----------------------------------------------------------------------------

// The data area as the initial-value table leaves it after a load: the table's stores on zeros.
std::vector<uint8_t> initial_data_area() {
  std::vector<uint8_t> area(sizeof(DataArea), 0);
  const uint8_t* table = kx_initTable;
  uint32_t length = 0;
  std::memcpy(&length, table, 4);
  if (length != KX_INIT_TABLE_SIZE) fail("the initial-value table's length is not its size");
  std::size_t at = 4, cursor = 0;
  const auto store = [&](const uint8_t* bytes, std::size_t count) {
    if (cursor + count > area.size()) fail("the initial-value table stores past the data area");
    std::memcpy(area.data() + cursor, bytes, count);
    cursor += count;
  };
  while (at < length) {
    const uint8_t code = table[at];
    switch (code) {
      case 0x02: cursor += table[at + 1] | table[at + 2] << 8; at += 3; break;
      case 0x04: cursor += table[at + 1] | table[at + 2] << 8 | table[at + 3] << 16; at += 4; break;
      case 0x20: store(table + at + 1, 2); at += 3; break;
      case 0x22:
        for (int i = 0; i < table[at + 1]; ++i) store(table + at + 2, 2);
        at += 4;
        break;
      case 0x40: store(table + at + 1, 4); at += 5; break;
      default: fail("the initial-value table has code " + std::to_string(code) + ", which this generator does not read");
    }
  }
  return area;
}

template <class T>
T read(const std::vector<uint8_t>& area, uint32_t offset) {
  T value;
  std::memcpy(&value, area.data() + offset, sizeof value);
  return value;
}

// A TIME literal: T#1s, T#36500d, T#1ms500us (to the nearest nanosecond).
std::string time_literal(int64_t ticks) {
  const uint64_t magnitude = ticks < 0 ? 0 - static_cast<uint64_t>(ticks) : static_cast<uint64_t>(ticks);
  uint64_t seconds = magnitude / KX_TICKS_PER_SECOND;
  uint64_t ns = ((magnitude % KX_TICKS_PER_SECOND) * 1000000000u + KX_TICKS_PER_SECOND / 2) / KX_TICKS_PER_SECOND;
  if (ns == 1000000000u) {
    ++seconds;
    ns = 0;
  }
  std::string text = ticks < 0 ? "T#-" : "T#";
  const auto part = [&](uint64_t& rest, uint64_t size, const char* unit) {
    if (rest < size) return;
    text += std::to_string(rest / size) + unit;
    rest %= size;
  };
  part(seconds, 86400, "d");
  part(seconds, 3600, "h");
  part(seconds, 60, "m");
  part(seconds, 1, "s");
  part(ns, 1000000, "ms");
  part(ns, 1000, "us");
  part(ns, 1, "ns");
  return magnitude == 0 ? text + "0s" : text;
}

// The initial value of a variable of `type` at `offset`, or "" when it is zero.
std::string initial_value(const std::vector<uint8_t>& area, const std::string& type, uint32_t offset) {
  if (type == "BOOL") return area[offset] != 0 ? "TRUE" : "";
  if (type == "INT") return read<int16_t>(area, offset) != 0 ? std::to_string(read<int16_t>(area, offset)) : "";
  if (type == "UINT") return read<uint16_t>(area, offset) != 0 ? std::to_string(read<uint16_t>(area, offset)) : "";
  if (type == "TIME") return read<int64_t>(area, offset) != 0 ? time_literal(read<int64_t>(area, offset)) : "";
  const float value = read<float>(area, offset);
  if (read<uint32_t>(area, offset) == 0) return "";
  char text[32];
  std::string literal(text, std::to_chars(text, text + sizeof text, value).ptr);
  if (literal.find_first_of(".en") == std::string::npos) literal += ".0";
  return literal;
}

// ---- the text ----------------------------------------------------------------------------------

constexpr const char* kIndent = "    ";

struct Text {
  std::vector<std::string> lines;
  uint32_t add(const std::string& line) {
    lines.push_back(line);
    return static_cast<uint32_t>(lines.size());
  }
};

// One section of declarations, names aligned.
void declare(Text& text, const char* section, const std::vector<std::pair<std::string, std::string>>& entries) {
  if (entries.empty()) return;
  std::size_t width = 0;
  for (const auto& entry : entries) width = std::max(width, entry.first.size());
  text.add(section);
  for (const auto& [name, rest] : entries) text.add(kIndent + name + std::string(width - name.size(), ' ') + " : " + rest + ";");
  text.add("END_VAR");
}

// The fields of a block type, as the layout gives them.
std::vector<Row> fields_of(int32_t typeId) {
#define KX_LISTING_FIELDS_OF(record, type, size, list) \
  if (typeId == KX_TYPE_##type) return rows_of<record>();
  KX_LAYOUT_BLOCKS(KX_LISTING_FIELDS_OF)
#undef KX_LISTING_FIELDS_OF
  return {};
}

// The declarations of a unit. The program's carry the initial values of the data area `area`,
// marking in `covered` the bytes they give; a function block's have none of their own (the program
// gives its instances theirs).
void declare_unit(Text& text, const Unit& unit, const std::vector<uint8_t>& area, std::vector<bool>& covered) {
  using Entries = std::vector<std::pair<std::string, std::string>>;
  Entries inputs, outputs, locals;
  // "TYPE" or "TYPE := value" for a variable of the layout at data-area offset `at`.
  const auto typed = [&](const Row& row, uint32_t at) {
    const std::string value = unit.program ? initial_value(area, row.type, at) : "";
    if (!value.empty()) std::fill(covered.begin() + at, covered.begin() + at + row.size, true);
    return value.empty() ? row.type : row.type + " := " + value;
  };
  bool behindEno = false;
  for (const Row& row : unit.rows) {
    if (row.kind == RowKind::Var) {
      (row.input ? inputs : outputs).emplace_back(row.name, typed(row, row.offset));
    } else if (row.kind == RowKind::Record) {
      // An instance's fields that have initial values: its initialisation.
      std::string init;
      for (const Row& field : unit.program ? fields_of(row.recordType) : std::vector<Row>{}) {
        if (field.kind != RowKind::Field) continue;
        const std::string value = typed(field, row.offset + field.offset);
        if (value != field.type) init += (init.empty() ? "" : ", ") + field.name + value.substr(field.type.size());
      }
      locals.emplace_back(row.name, init.empty() ? row.type : row.type + " := (" + init + ")");
    } else if (row.name == "ENO") {
      behindEno = true;
    } else if (!behindEno) {
      inputs.emplace_back(row.name, typed(row, 0));
    } else if (std::find(unit.outputs.begin(), unit.outputs.end(), row.name) != unit.outputs.end()) {
      outputs.emplace_back(row.name, typed(row, 0));
    } else {
      locals.emplace_back(row.name, typed(row, 0));
    }
  }
  for (const std::string& output : unit.outputs) {
    if (std::none_of(outputs.begin(), outputs.end(), [&](const auto& entry) { return entry.first == output; }))
      fail(unit.name + ": output " + output + " is not a field behind ENO");
  }
  declare(text, "VAR_INPUT", inputs);
  declare(text, "VAR_OUTPUT", outputs);
  declare(text, "VAR", locals);
}

// ---- the checks of a statement -----------------------------------------------------------------

const Row* row_named(const Unit& unit, const std::string& name) {
  for (const Row& row : unit.rows)
    if (row.name == name) return &row;
  return nullptr;
}

bool starts_with(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// Every name in a statement is a variable or instance of its unit, a keyword or a standard
// function, or a formal parameter of a call (a name behind "(" or "," and before ":=" or "=>"); a
// name behind a dot is a field and a T# literal is no name.
void check_names(const Unit& unit, const Statement& statement) {
  static const std::set<std::string> known = {
      "TRUE", "FALSE", "AND", "OR", "XOR", "NOT", "IF", "THEN", "END_IF", "ABS", "ADD", "SUB", "MUL", "DIV",
      "MOVE", "SEL", "LIMIT", "EQ", "LT", "GT", "INT_TO_REAL", "REAL_TO_INT", "TIME_TO_REAL", "UINT_TO_TIME"};
  const std::string& text = statement.text;
  const auto is_name_char = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  for (std::size_t i = 0; i < text.size();) {
    if (!std::isalpha(static_cast<unsigned char>(text[i])) && text[i] != '_') {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && is_name_char(text[end])) ++end;
    const std::string name = text.substr(i, end - i);
    if (name == "T" && end < text.size() && text[end] == '#') {   // a TIME literal
      while (end < text.size() && (is_name_char(text[end]) || text[end] == '#' || text[end] == '.')) ++end;
      i = end;
      continue;
    }
    std::size_t before = i, after = end;
    while (before > 0 && text[before - 1] == ' ') --before;
    while (after < text.size() && text[after] == ' ') ++after;
    const bool field = before > 0 && text[before - 1] == '.';
    const bool formal = before > 0 && (text[before - 1] == '(' || text[before - 1] == ',' || text[before - 1] == '\n') &&
                        (text.compare(after, 2, ":=") == 0 || text.compare(after, 2, "=>") == 0);
    if (!field && !formal && !known.count(name) && row_named(unit, name) == nullptr)
      fail(unit.name + ": \"" + text + "\" names " + name + ", which is not a variable of " + unit.name);
    i = end;
  }
}

// The statement reports what the layout says: an operation the field's, a call the record's type;
// and its text names what it reports where a reader looks for it.
void check_statement(const Unit& unit, const Statement& statement) {
  if (statement.shape == Shape::Note) return;
  check_names(unit, statement);
  if (statement.shape == Shape::Copy) return;
  const Row* row = row_named(unit, statement.name);
  const std::string where = unit.name + "." + statement.name;
  if (row == nullptr) fail(where + " is not in the layout");
  switch (statement.shape) {
    case Shape::Op:
    case Shape::Gated:
      if (row->kind != RowKind::Field || row->operation != statement.typeId) {
        fail(where + ": the layout gives it the operation " + std::string(type_name(row->operation)) + ", the listing " +
             type_name(statement.typeId));
      }
      if (statement.shape == Shape::Op && !starts_with(statement.text, statement.name + " :="))
        fail(where + ": the statement does not assign it: " + statement.text);
      if (statement.shape == Shape::Gated && statement.text.find("ENO => " + statement.name + ")") == std::string::npos)
        fail(where + ": the statement does not take its ENO into it: " + statement.text);
      break;
    case Shape::Bracketed:
    case Shape::Call:
      if (row->kind != RowKind::Record || row->recordType != statement.typeId)
        fail(where + ": the layout gives it the type " + row->type + ", the listing " + type_name(statement.typeId));
      if (!starts_with(statement.text, statement.name + "("))
        fail(where + ": the statement does not call it: " + statement.text);
      break;
    default: break;
  }
}

// ---- the map -----------------------------------------------------------------------------------

// Where a text stands in the listing.
struct Span {
  uint32_t line = 0;
  uint32_t endLine = 0;
  uint32_t endColumn = 0;   // of its last character
};

// Adds `text`, each of its lines ("\n" between them) after `indent`.
Span add_lines(Text& text, const std::string& lines, const std::string& indent) {
  Span span;
  std::size_t from = 0;
  while (from <= lines.size()) {
    const std::size_t end = std::min(lines.find('\n', from), lines.size());
    const std::string piece = indent + lines.substr(from, end - from);
    span.endLine = text.add(piece);
    if (span.line == 0) span.line = span.endLine;
    span.endColumn = static_cast<uint32_t>(piece.size());
    from = end + 1;
  }
  return span;
}

Json step_json(const Span& span, uint32_t column, int32_t block) {
  return {{"line", span.line}, {"column", column}, {"endLine", span.endLine}, {"endColumn", span.endColumn},
          {"block", block}};
}

// The map's step of a statement at `span`.
Json statement_step(const Statement& statement, const Span& span, int32_t block) {
  Json step = step_json(span, static_cast<uint32_t>(std::strlen(kIndent) + 1), block);
  if (statement.shape == Shape::Copy) {
    step["kinds"] = Json::array();
    return step;
  }
  step["typeId"] = statement.typeId;
  step["offset"] = statement.offset;
  step["name"] = statement.name;
  step["kinds"] = statement.shape == Shape::Call ? Json{1} : Json{1, 6};
  if (statement.shape == Shape::Gated) step["gated"] = true;
  if (statement.shape != Shape::Call) step["exitLine"] = span.line;
  return step;
}

// Adds a unit to the text and its steps to `steps`; gives its entry in the map's blocks. `entry`:
// its body reports its own entry and exit.
Json add_unit(Text& text, Json& steps, const Unit& unit, bool entry, const std::vector<uint8_t>& area,
              std::vector<bool>& covered) {
  text.add("");
  const Span first = add_lines(text, std::string(unit.program ? "PROGRAM " : "FUNCTION_BLOCK ") + unit.name, "");
  const std::size_t entryStep = steps.size();
  if (entry) {
    Json step = step_json(first, 1, unit.typeId);
    step["typeId"] = unit.typeId;
    step["offset"] = 0;
    step["kinds"] = {6};
    steps.push_back(std::move(step));
  }
  if (!unit.comment.empty()) add_lines(text, unit.comment, "");
  declare_unit(text, unit, area, covered);

  std::set<std::pair<int32_t, uint32_t>> reported;
  for (const Statement& statement : unit.statements) {
    check_statement(unit, statement);
    const Span span = add_lines(text, statement.text, kIndent);
    if (statement.shape == Shape::Note) continue;
    if (statement.shape != Shape::Copy && !reported.insert({statement.typeId, statement.offset}).second)
      fail(unit.name + "." + statement.name + " is reported by two statements");
    steps.push_back(statement_step(statement, span, unit.typeId));
  }
  const uint32_t lastLine = text.add(unit.program ? "END_PROGRAM" : "END_FUNCTION_BLOCK");
  if (entry) steps[entryStep]["exitLine"] = lastLine;
  return {{"name", unit.name}, {"typeId", unit.typeId}, {"line", first.line}, {"endLine", lastLine}};
}

}  // namespace

GeneratedListing make_listing(const std::string& module, const std::string& fileName) {
  const std::vector<Unit> all = units();
  const std::vector<uint8_t> area = initial_data_area();
  std::vector<bool> covered(area.size(), false);

  // Blocks that the calling code brackets report no entry of their own.
  std::set<int32_t> bracketed;
  for (const Unit& unit : all)
    for (const Statement& statement : unit.statements)
      if (statement.shape == Shape::Bracketed) bracketed.insert(statement.typeId);

  Text text;
  add_lines(text,
            "(* " + module + ": the program " + type_name(KX_TYPE_PROGRAM_CONTROL) +
                " and its function blocks, one statement per step\n"
                "   in the order the module runs them. A call with EN FALSE does not run: its result keeps its\n"
                "   value and its ENO is FALSE. The module's symbol file maps its debug events to these lines. *)",
            "");
  Json blocks = Json::array();
  Json steps = Json::array();
  for (const Unit& unit : all) blocks.push_back(add_unit(text, steps, unit, !bracketed.count(unit.typeId), area, covered));
  for (std::size_t i = 0; i < area.size(); ++i) {
    if (area[i] != 0 && !covered[i]) fail("the initial-value table stores byte " + std::to_string(i) + ", which no declaration gives");
  }

  GeneratedListing listing;
  for (const std::string& line : text.lines) listing.text += line + "\n";
  listing.map["file"] = fileName;
  listing.map["lines"] = text.lines.size();
  listing.map["bytes"] = listing.text.size();
  listing.map["blocks"] = std::move(blocks);
  listing.map["steps"] = std::move(steps);
  return listing;
}
