// The register map of a module, for the server and for `softplc modbus-map`; no Modbus library
// needed.
#include "softplc/live/modbus/modbus_channel.h"

namespace softplc {

Result<RegisterMap> modbus_map_for(const Plc& plc, const std::optional<std::filesystem::path>& mapFile) {
  const Symbols* symbols = plc.symbols();
  if (symbols == nullptr) {
    return runtime_error("the Modbus map names variables, but " + plc.symbols_note() +
                         "; give the module's symbol file with --symbols");
  }
  if (mapFile) return read_register_map(*mapFile, *symbols);
  RegisterMap map = default_register_map(*symbols);
  if (map.entries().empty()) return runtime_error("the module's program has no variables to map to Modbus");
  return map;
}

Status print_modbus_map(const Plc& plc, const std::optional<std::filesystem::path>& mapFile, bool csv,
                        std::ostream& out) {
  auto map = modbus_map_for(plc, mapFile);
  if (!map) return map.error();
  if (csv) {
    out << register_map_csv(*map);
  } else {
    out << "Modbus map of " << plc.module().name() << " ("
        << (mapFile ? "from " + mapFile->string() : "generated from " + plc.symbols()->file) << "): "
        << map->entries().size() << " variables\n"
        << register_map_table(*map, plc.ticks_per_second());
  }
  return ok_status();
}

}  // namespace softplc
