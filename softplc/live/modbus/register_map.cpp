#include "softplc/live/modbus/register_map.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>

#include "softplc/util/files.h"
#include "softplc/util/text.h"

namespace softplc {

namespace {

constexpr std::string_view kHeader = "name,table,address,count,type,access";
constexpr std::size_t kMaxReported = 20;
// A map of every address of every table is some megabytes; a larger file is not read into memory.
constexpr uint64_t kMaxMapBytes = uint64_t{64} << 20;

std::optional<ModbusTable> table_named(std::string_view text) {
  for (ModbusTable table : kModbusTables)
    if (equal_ignoring_case(text, table_name(table))) return table;
  return std::nullopt;
}

std::optional<ValueType> type_named(std::string_view text) {
  for (ValueType type : {ValueType::Bool, ValueType::Int, ValueType::Uint, ValueType::Real, ValueType::Time})
    if (equal_ignoring_case(text, type_name(type))) return type;
  return std::nullopt;
}

std::optional<uint32_t> number(std::string_view text) { return whole_number<uint32_t>(text); }

std::string range_text(const MapEntry& entry) {
  std::string text = std::string(table_name(entry.table)) + " " + std::to_string(entry.address);
  if (entry.count > 1) text += ".." + std::to_string(entry.end() - 1);
  return text;
}

std::string with_article(ValueType type) { return (type == ValueType::Int ? "an " : "a ") + std::string(type_name(type)); }

// Where a type may lie, for the message that refuses another place.
std::string places_of(ValueType type) {
  if (type == ValueType::Bool) return "a BOOL goes in a coil, a discrete input or one register";
  return with_article(type) + " goes in " +
         (size_of(type) == 2 ? std::string("one register") : std::to_string(size_of(type) / 2) + " registers") +
         " (holding_register or input_register)";
}

struct Row {
  std::size_t line = 0;
  MapEntry entry;
};

// Checks one record; gives its entry, or adds its mistakes to `errors`.
std::optional<MapEntry> check_row(const std::vector<std::string>& record, const Symbols& symbols,
                                  std::vector<std::string>& errors) {
  // Blanks inside a field's quotes are not part of it either (some spreadsheets pad fields).
  std::vector<std::string_view> fields;
  for (const std::string& field : record) fields.push_back(trimmed(field));
  if (fields.size() != 6) {
    errors.push_back("expected the 6 fields " + std::string(kHeader) + ", found " + std::to_string(fields.size()));
    return std::nullopt;
  }
  const std::size_t before = errors.size();
  MapEntry entry;
  const auto variable = symbols.find(fields[0]);
  if (!variable) {
    errors.push_back(fields[0].empty() ? std::string("the name is empty") : variable.error().message);
  } else {
    entry.variable = **variable;
  }
  const auto table = table_named(fields[1]);
  if (!table) {
    errors.push_back("unknown table '" + shown(fields[1]) +
                     "' (coil, discrete_input, holding_register or input_register)");
  } else {
    entry.table = *table;
  }
  const auto address = number(fields[2]);
  if (!address || *address > 65535) {
    errors.push_back("address '" + shown(fields[2]) + "' is not a number from 0 to 65535");
  } else {
    entry.address = static_cast<uint16_t>(*address);
  }
  const auto count = number(fields[3]);
  if (!count) errors.push_back("count '" + shown(fields[3]) + "' is not a number");
  const auto type = type_named(fields[4]);
  if (!type) errors.push_back("unknown type '" + shown(fields[4]) + "' (BOOL, INT, UINT, REAL or TIME)");
  const std::string access = lower(fields[5]);
  if (access == "read_write") {
    entry.access = Access::ReadWrite;
  } else if (access != "read") {
    errors.push_back("unknown access '" + shown(fields[5]) + "' (read or read_write)");
  }
  if (errors.size() != before || !variable || !table || !count || !type) return std::nullopt;

  const Variable& v = entry.variable;
  if (*type != v.type) {
    errors.push_back(v.name + " is " + with_article(v.type) + ", not " + with_article(*type));
    return std::nullopt;
  }
  const uint16_t needed = modbus_count(v.type, entry.table);
  if (needed == 0) {
    errors.push_back(v.name + " cannot be a " + std::string(table_name(entry.table)) + ": " + places_of(v.type));
    return std::nullopt;
  }
  if (*count != needed) {
    errors.push_back(v.name + " (" + std::string(type_name(v.type)) + ") takes " + std::to_string(needed) + " " +
                     (is_bit_table(entry.table) ? "bit" : needed == 1 ? "register" : "registers") + ", not " +
                     std::to_string(*count));
    return std::nullopt;
  }
  entry.count = needed;
  if (entry.end() > 65536) {
    errors.push_back(v.name + " at " + std::to_string(entry.address) + " takes " + std::to_string(needed) +
                     " registers and runs past address 65535");
    return std::nullopt;
  }
  if (entry.writable() && !client_writable(entry.table)) {
    errors.push_back(std::string(table_name(entry.table)) + " is read-only for Modbus clients: the access of " +
                     v.name + " must be read");
    return std::nullopt;
  }
  return entry;
}

}  // namespace

std::string_view table_name(ModbusTable table) {
  switch (table) {
    case ModbusTable::Coil: return "coil";
    case ModbusTable::DiscreteInput: return "discrete_input";
    case ModbusTable::HoldingRegister: return "holding_register";
    case ModbusTable::InputRegister: return "input_register";
  }
  return "?";
}

uint16_t modbus_count(ValueType type, ModbusTable table) {
  if (is_bit_table(table)) return type == ValueType::Bool ? 1 : 0;
  return type == ValueType::Bool ? 1 : static_cast<uint16_t>(size_of(type) / 2);
}

RegisterMap::RegisterMap(std::vector<MapEntry> entries) : entries_(std::move(entries)) {
  std::sort(entries_.begin(), entries_.end(), [](const MapEntry& a, const MapEntry& b) {
    return a.table != b.table ? a.table < b.table : a.address < b.address;
  });
  std::size_t i = 0;
  for (std::size_t t = 0; t < kModbusTables.size(); ++t) {
    starts_[t] = i;
    while (i < entries_.size() && entries_[i].table == kModbusTables[t]) ++i;
  }
  starts_.back() = entries_.size();
}

std::span<const MapEntry> RegisterMap::table(ModbusTable table) const {
  const auto t = static_cast<std::size_t>(table);
  return std::span<const MapEntry>(entries_).subspan(starts_[t], starts_[t + 1] - starts_[t]);
}

const MapEntry* RegisterMap::at(ModbusTable which, uint32_t address) const {
  const auto entries = table(which);
  auto next = std::upper_bound(entries.begin(), entries.end(), address,
                               [](uint32_t a, const MapEntry& entry) { return a < entry.address; });
  if (next == entries.begin()) return nullptr;
  const MapEntry& entry = *std::prev(next);
  return address < entry.end() ? &entry : nullptr;
}

std::optional<std::span<const MapEntry>> RegisterMap::covering(ModbusTable which, uint32_t address,
                                                               uint32_t count) const {
  const MapEntry* first = at(which, address);
  if (first == nullptr) return std::nullopt;
  const auto entries = table(which);
  const std::size_t begin = static_cast<std::size_t>(first - entries.data());
  std::size_t end = begin;
  uint32_t next = address;
  const uint32_t stop = address + count;
  while (next < stop) {
    if (end == entries.size() || entries[end].address > next) return std::nullopt;   // a gap
    next = entries[end].end();
    ++end;
  }
  return entries.subspan(begin, end - begin);
}

RegisterMap RegisterMap::rebound(const Symbols& symbols) const {
  std::vector<MapEntry> kept;
  for (const MapEntry& entry : entries_) {
    auto found = symbols.find(entry.variable.name);
    if (!found || (*found)->type != entry.variable.type) continue;
    MapEntry copy = entry;
    copy.variable = **found;
    kept.push_back(std::move(copy));
  }
  return RegisterMap(std::move(kept));
}

RegisterMap default_register_map(const Symbols& symbols) {
  std::array<uint32_t, kModbusTables.size()> next{};
  std::vector<MapEntry> entries;
  for (const Variable* variable : symbols.program_variables()) {
    const bool input = variable->direction == Direction::Input;
    MapEntry entry;
    entry.variable = *variable;
    if (variable->type == ValueType::Bool) {
      entry.table = input ? ModbusTable::Coil : ModbusTable::DiscreteInput;
    } else {
      entry.table = input ? ModbusTable::HoldingRegister : ModbusTable::InputRegister;
    }
    entry.count = modbus_count(variable->type, entry.table);
    entry.access = input ? Access::ReadWrite : Access::Read;
    uint32_t& address = next[static_cast<std::size_t>(entry.table)];
    if (address + entry.count > 65536) continue;   // no program has that many variables; never split one
    entry.address = static_cast<uint16_t>(address);
    address += entry.count;
    entries.push_back(std::move(entry));
  }
  return RegisterMap(std::move(entries));
}

Result<RegisterMap> parse_register_map(std::string_view text, const Symbols& symbols, const std::string& fileName) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);   // a byte-order mark from a spreadsheet
  struct Mistake {
    std::size_t line;   // 0: the file as a whole
    std::string message;
  };
  std::vector<Mistake> mistakes;
  std::vector<Row> rows;
  bool header = false;
  const CsvText csv = read_csv(text);
  for (const CsvRecord& record : csv.records) {
    if (!header) {
      header = true;
      std::string normalised;
      for (const std::string& field : record.fields) normalised += (normalised.empty() ? "" : ",") + lower(field);
      if (normalised != kHeader) {
        mistakes.push_back({record.line, "the first line must be the header " + std::string(kHeader)});
        break;
      }
      continue;
    }
    std::vector<std::string> found;
    auto entry = check_row(record.fields, symbols, found);
    for (std::string& message : found) mistakes.push_back({record.line, std::move(message)});
    if (entry) rows.push_back({record.line, std::move(*entry)});
  }
  if (csv.faultLine != 0) mistakes.push_back({csv.faultLine, csv.fault});
  if (!header) mistakes.push_back({0, "empty; the first line must be the header " + std::string(kHeader)});
  if (header && mistakes.empty() && rows.empty()) mistakes.push_back({0, "the map has no entries"});

  // Duplicates: the same variable twice (by the symbol file's name, whatever the case it was given in).
  std::map<std::string, std::size_t> seen;
  for (const Row& row : rows) {
    auto [it, inserted] = seen.emplace(row.entry.variable.name, row.line);
    if (!inserted) {
      mistakes.push_back({row.line, row.entry.variable.name + " is already mapped on line " + std::to_string(it->second)});
    }
  }
  // Overlaps, within each table: each row against the row before it that reaches furthest.
  std::vector<const Row*> byAddress;
  for (const Row& row : rows) byAddress.push_back(&row);
  std::sort(byAddress.begin(), byAddress.end(), [](const Row* a, const Row* b) {
    if (a->entry.table != b->entry.table) return a->entry.table < b->entry.table;
    return a->entry.address != b->entry.address ? a->entry.address < b->entry.address : a->line < b->line;
  });
  const Row* reach = nullptr;
  for (const Row* row : byAddress) {
    if (reach != nullptr && reach->entry.table == row->entry.table && row->entry.address < reach->entry.end()) {
      const Row& first = reach->line < row->line ? *reach : *row;
      const Row& second = reach->line < row->line ? *row : *reach;
      mistakes.push_back({second.line, second.entry.variable.name + " (" + range_text(second.entry) + ") overlaps " +
                                           first.entry.variable.name + " (" + range_text(first.entry) + ") on line " +
                                           std::to_string(first.line)});
    }
    if (reach == nullptr || reach->entry.table != row->entry.table || row->entry.end() > reach->entry.end()) reach = row;
  }

  if (!mistakes.empty()) {
    std::stable_sort(mistakes.begin(), mistakes.end(), [](const Mistake& a, const Mistake& b) { return a.line < b.line; });
    std::string message = "Modbus map " + fileName + ": " + plural(mistakes.size(), "mistake", "mistakes");
    for (std::size_t i = 0; i < mistakes.size() && i < kMaxReported; ++i) {
      message += "\n  " + fileName + (mistakes[i].line != 0 ? ":" + std::to_string(mistakes[i].line) : "") + ": " +
                 mistakes[i].message;
    }
    if (mistakes.size() > kMaxReported) {
      message += "\n  ... and " + std::to_string(mistakes.size() - kMaxReported) + " more";
    }
    return runtime_error(message);
  }
  std::vector<MapEntry> entries;
  for (Row& row : rows) entries.push_back(std::move(row.entry));
  return RegisterMap(std::move(entries));
}

Result<RegisterMap> read_register_map(const std::filesystem::path& path, const Symbols& symbols) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return runtime_error("Modbus map " + path.string() + " is a directory");
  auto bytes = read_file_bytes(path, kMaxMapBytes);
  if (!bytes) return runtime_error("cannot read the Modbus map " + path.string() + ": " + bytes.error().message);
  return parse_register_map(std::string(bytes->begin(), bytes->end()), symbols, path.string());
}

std::string register_map_csv(const RegisterMap& map) {
  std::string out = std::string(kHeader) + "\n";
  for (const MapEntry& entry : map.entries()) {
    out += csv_field(entry.variable.name) + "," + std::string(table_name(entry.table)) + "," + std::to_string(entry.address) + "," +
           std::to_string(entry.count) + "," + std::string(type_name(entry.variable.type)) + "," +
           (entry.writable() ? "read_write" : "read") + "\n";
  }
  return out;
}

std::string register_map_table(const RegisterMap& map, uint32_t ticksPerSecond) {
  std::ostringstream out;
  out << "table             address  count  type  access      name\n";
  for (const MapEntry& entry : map.entries()) {
    std::string table(table_name(entry.table));
    std::string address = std::to_string(entry.address);
    std::string count = std::to_string(entry.count);
    std::string type(type_name(entry.variable.type));
    std::string access = entry.writable() ? "read_write" : "read";
    out << table << std::string(18 - table.size(), ' ') << std::string(7 - address.size(), ' ') << address
        << std::string(7 - count.size(), ' ') << count << "  " << type << std::string(6 - type.size(), ' ') << access
        << std::string(12 - access.size(), ' ') << entry.variable.name << "\n";
  }
  out << "Addresses count from 0. INT (signed) and UINT: one register. REAL: two registers, the high word first\n"
         "(ABCD). TIME: four registers, the signed 64-bit tick count ("
      << ticksPerSecond << " ticks per second), the highest word\n"
         "first. BOOL: one bit, or 0/1 in a register.\n";
  return out.str();
}

std::vector<uint16_t> to_modbus(const MapEntry& entry, std::span<const uint8_t> bytes) {
  if (entry.variable.type == ValueType::Bool) return {static_cast<uint16_t>(bytes[0] != 0 ? 1 : 0)};
  // The little-endian value, then its 16-bit words from the highest down.
  uint64_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) value = (value << 8) | bytes[i];
  std::vector<uint16_t> words(bytes.size() / 2);
  for (std::size_t i = 0; i < words.size(); ++i) words[words.size() - 1 - i] = static_cast<uint16_t>(value >> (16 * i));
  return words;
}

Result<Encoded> from_modbus(const MapEntry& entry, std::span<const uint16_t> values) {
  Encoded encoded;
  encoded.size = size_of(entry.variable.type);
  if (entry.variable.type == ValueType::Bool) {
    if (values[0] > 1) return usage_error(entry.variable.name + " is a BOOL: 0 or 1, not " + std::to_string(values[0]));
    encoded.bytes[0] = static_cast<uint8_t>(values[0]);
    return encoded;
  }
  uint64_t value = 0;
  for (uint16_t word : values) value = (value << 16) | word;
  for (uint32_t i = 0; i < encoded.size; ++i) encoded.bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return encoded;
}

}  // namespace softplc
