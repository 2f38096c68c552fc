#include "softplc/live/modbus/modbus_channel.h"

namespace softplc {

Result<std::unique_ptr<LiveChannel>> make_modbus_channel(const ModbusOptions&, const Plc&, Exchange&, const RunStatus&) {
  return runtime_error("--modbus: this softplc was built without Modbus");
}

Status print_modbus_map(const Plc&, const std::optional<std::filesystem::path>&, bool, std::ostream&) {
  return runtime_error("modbus-map: this softplc was built without Modbus");
}

}  // namespace softplc
