// The Modbus register map: which variable lies at which address of which Modbus table, how many
// bits or registers it takes and whether a client may write it. Made from the symbol file (the
// program's variables) or read from a user's CSV file and checked whole against it. Nothing here
// needs a Modbus library, so `softplc modbus-map` works in every build.
//
// Values in registers: INT as a signed and UINT as an unsigned 16-bit register; REAL in two
// registers, the high word of its IEEE-754 bits first (big-endian words, "ABCD"); TIME in four
// registers, the signed 64-bit tick count with its highest word first; a BOOL placed in a register
// is 0 or 1. In coils and discrete inputs a BOOL is one bit.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "softplc/symbols/symbol_table.h"
#include "softplc/util/result.h"
#include "softplc/util/values.h"

namespace softplc {

// In the order they are listed: coils (read/write bits), discrete inputs (read-only bits), holding
// registers (read/write), input registers (read-only).
enum class ModbusTable : uint8_t { Coil, DiscreteInput, HoldingRegister, InputRegister };
inline constexpr std::array kModbusTables{ModbusTable::Coil, ModbusTable::DiscreteInput, ModbusTable::HoldingRegister,
                                          ModbusTable::InputRegister};
std::string_view table_name(ModbusTable table);   // "coil", "holding_register", ...
constexpr bool is_bit_table(ModbusTable table) { return table == ModbusTable::Coil || table == ModbusTable::DiscreteInput; }
// Coils and holding registers: the tables that Modbus has write functions for.
constexpr bool client_writable(ModbusTable table) {
  return table == ModbusTable::Coil || table == ModbusTable::HoldingRegister;
}

enum class Access : uint8_t { Read, ReadWrite };

// The bits or registers a variable of `type` takes in `table`; 0 when it cannot lie there (only a
// BOOL goes into a bit table).
uint16_t modbus_count(ValueType type, ModbusTable table);

struct MapEntry {
  Variable variable;
  ModbusTable table = ModbusTable::Coil;
  uint16_t address = 0;   // 0-based
  uint16_t count = 1;
  Access access = Access::Read;

  uint32_t end() const { return uint32_t{address} + count; }   // one past the last address
  bool writable() const { return access == Access::ReadWrite; }
};

class RegisterMap {
 public:
  RegisterMap() = default;
  // Sorts the entries by table and address; they must not overlap (the parser checks that).
  explicit RegisterMap(std::vector<MapEntry> entries);

  const std::vector<MapEntry>& entries() const { return entries_; }
  // The entries of one table, by address.
  std::span<const MapEntry> table(ModbusTable table) const;
  // The entry that holds `address` of `table`, or null.
  const MapEntry* at(ModbusTable table, uint32_t address) const;
  // The entries that cover the addresses [address, address + count) of `table` one after the other,
  // with no address left out; nullopt when some address of the range belongs to no entry.
  std::optional<std::span<const MapEntry>> covering(ModbusTable table, uint32_t address, uint32_t count) const;

  // The same map for another module's names (after an online change): each entry takes the
  // variable of the same name and type there; entries whose variable is gone are left out.
  RegisterMap rebound(const Symbols& symbols) const;

 private:
  std::vector<MapEntry> entries_;
  std::array<std::size_t, kModbusTables.size() + 1> starts_{};   // where each table begins in entries_
};

// The default map: the program's variables in data-area order, each table counted from 0. A BOOL
// that the program only reads is a coil, one it writes a discrete input; INT, UINT, REAL and TIME
// inputs are holding registers, outputs input registers. Inputs are writable, outputs read-only.
RegisterMap default_register_map(const Symbols& symbols);

// A map in CSV (RFC 4180: a field may be in double quotes), `name,table,address,count,type,access`
// (the header line first; blank lines and lines starting with '#' are skipped), checked whole
// against the names of `symbols`: every mistake is reported with its line number in one message.
Result<RegisterMap> parse_register_map(std::string_view text, const Symbols& symbols, const std::string& fileName);
Result<RegisterMap> read_register_map(const std::filesystem::path& path, const Symbols& symbols);

// The map as CSV (RFC 4180), with the header; parse_register_map reads it back.
std::string register_map_csv(const RegisterMap& map);
// The map as a table for people, with a line on how values lie in registers.
std::string register_map_table(const RegisterMap& map, uint32_t ticksPerSecond);

// A value of the data area (little-endian bytes) as the bits or registers of its map entry, and
// back. Registers: see the top of this file. `from_modbus` refuses a BOOL register that is not 0
// or 1.
std::vector<uint16_t> to_modbus(const MapEntry& entry, std::span<const uint8_t> bytes);
Result<Encoded> from_modbus(const MapEntry& entry, std::span<const uint16_t> values);

}  // namespace softplc
