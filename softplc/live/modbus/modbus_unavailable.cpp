// The Modbus server in a build without libmodbus (the Windows build): `--modbus` says so; the
// register map (`softplc modbus-map`) works all the same.
#include "softplc/live/modbus/modbus_channel.h"

namespace softplc {

Result<std::unique_ptr<LiveChannel>> make_modbus_channel(const ModbusOptions&, const Plc&, Exchange&, const RunStatus&) {
  return runtime_error("--modbus: this softplc was built without Modbus");
}

}  // namespace softplc
